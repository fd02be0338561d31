// The server module: its instance handle, the lock count that keeps it
// loaded, its critical section and its object map.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace corvane::server {

// A critical section owned for the life of the module.
class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&cs_); }
    ~CriticalSection() { DeleteCriticalSection(&cs_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter() { EnterCriticalSection(&cs_); }
    void Leave() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~CriticalSectionLock() { cs_.Leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& cs_;
};

// One creatable class of the server.
struct ObjectMapEntry {
    const CLSID* clsid;
    // Runs the class's registration script (register = false removes it).
    HRESULT (*updateRegistry)(bool registering);
    // Creates the class object and asks it for the interface.
    HRESULT (*createClassObject)(REFIID iid, void** out);
    // Creates an instance, aggregated when outer is given.
    HRESULT (*createInstance)(IUnknown* outer, REFIID iid, void** out);
    // The class object, made on the first request and kept until unload.
    IUnknown* classObject;
    const wchar_t* (*description)();
    // Component categories implemented (none: a null list).
    const GUID* (*categories)();
    // Called when the module starts (true) and stops (false).
    void (*objectMain)(bool starting);
};

class Module {
public:
    static Module& Instance();

    void Start(HINSTANCE instance);
    void Stop();
    bool Started() const { return instance_ != nullptr; }
    HINSTANCE Handle() const { return instance_; }

    // Each live object and each LockServer(TRUE) holds one count.
    LONG Lock() { return InterlockedIncrement(&lockCount_); }
    LONG Unlock() { return InterlockedDecrement(&lockCount_); }
    LONG LockCount() const { return lockCount_; }

    CriticalSection& Guard() { return guard_; }

    ObjectMapEntry* begin();
    ObjectMapEntry* end();
    ObjectMapEntry* Find(REFCLSID clsid);

private:
    Module() = default;
    HINSTANCE instance_ = nullptr;
    volatile LONG lockCount_ = 0;
    CriticalSection guard_;
};

// Holds one module lock for the life of an object.
class ModuleLock {
public:
    ModuleLock() { Module::Instance().Lock(); }
    ~ModuleLock() { Module::Instance().Unlock(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
};

}  // namespace corvane::server
