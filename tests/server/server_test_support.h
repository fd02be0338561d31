// Helpers shared by the corvane.dll tests: paths, regsvr32, registry reads,
// a message pump with a deadline and a recording event sink.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "com_ptr.h"
#include "corvane_idl.h"

namespace server_test {

using corvane::ComPtr;

constexpr wchar_t kClsid[] = L"{8E2DC57B-E2E2-4FBB-924A-F195CBD136F6}";
constexpr wchar_t kAppId[] = L"{1F29CAC4-6174-44F7-9395-BC167397D7A8}";
constexpr wchar_t kLibId[] = L"{A57C7E54-C2F2-443F-A3F7-96B5B5AE84D2}";
constexpr wchar_t kIid[] = L"{7FD7540F-CA29-4300-B0FB-1B925F946B27}";
constexpr wchar_t kEventsIid[] = L"{D819D4BB-E84A-4857-AA94-B89F45E076ED}";

// Folder of the running test program, with a trailing backslash.
inline std::wstring BinDir()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

inline std::wstring ServerPath()
{
    return BinDir() + L"corvane.dll";
}

// Runs "regsvr32 /s [/u] path" and returns its exit code (or ~0 on failure
// to start or after a minute).
inline DWORD RunRegsvr32(const std::wstring& dll, bool unregister = false)
{
    std::wstring cmd = L"regsvr32.exe /s ";
    if (unregister) cmd += L"/u ";
    cmd += L"\"" + dll + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0u;
    DWORD code = ~0u;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

inline bool KeyExists(const std::wstring& path, HKEY root = HKEY_CLASSES_ROOT)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// The string value (null name = default value); "<missing>" when absent.
inline std::wstring ReadString(const std::wstring& path, const wchar_t* name = nullptr)
{
    wchar_t data[1024];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS)
        return L"<missing>";
    if (type != REG_SZ) return L"<not a string>";
    return std::wstring(data);
}

inline std::vector<std::wstring> SubkeysOf(const std::wstring& path)
{
    std::vector<std::wstring> names;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD len = 256;
        if (RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, len);
    }
    RegCloseKey(key);
    return names;
}

inline std::vector<std::wstring> ValueNamesOf(const std::wstring& path)
{
    std::vector<std::wstring> names;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD len = 256;
        if (RegEnumValueW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, len);
    }
    RegCloseKey(key);
    return names;
}

// Pumps messages until done() or the deadline (milliseconds).
template <class Done>
bool PumpUntil(Done done, DWORD timeoutMs)
{
    const DWORD deadline = GetTickCount() + timeoutMs;
    while (!done()) {
        if (static_cast<LONG>(deadline - GetTickCount()) <= 0) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

// One event received by a RecordingSink.
struct EventRecord {
    int sink;
    DISPID id;
    LONG code;
};

// An event sink for _IAtlHalvexEvents that appends what it receives to a
// shared log. answersEvents = false makes a sink without the event interface;
// failing = true makes Invoke return an error.
class RecordingSink final : public IDispatch {
public:
    RecordingSink(int id, std::vector<EventRecord>* log, bool answersEvents = true, bool failing = false)
        : id_(id), log_(log), answersEvents_(answersEvents), failing_(failing) {}
    virtual ~RecordingSink() = default;

    ULONG Refs() const { return refs_; }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || (answersEvents_ && (IsEqualIID(iid, IID_IDispatch) ||
                                                                 IsEqualIID(iid, DIID__IAtlHalvexEvents)))) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the test's stack
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override
    {
        LONG code = -1;
        if (params && params->cArgs == 1 && params->rgvarg[0].vt == VT_I4) code = params->rgvarg[0].lVal;
        if (flags == DISPATCH_METHOD) log_->push_back(EventRecord{id_, id, code});
        return failing_ ? E_FAIL : S_OK;
    }

private:
    ULONG refs_ = 1;
    int id_;
    std::vector<EventRecord>* log_;
    bool answersEvents_;
    bool failing_;
};

}  // namespace server_test
