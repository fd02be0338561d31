// The pack DLL's module state (object count for DllCanUnloadNow) and the
// descriptors through which each filter makes itself known to the pack:
// its class factory entry and its registration.
#pragma once

#include "dshow_uuids.h"

#include <cstddef>
#include <new>
#include <vector>

namespace vellumo::filters {

// Live objects and server locks of the module.
void ModuleAddRef() noexcept;
void ModuleRelease() noexcept;
long ModuleRefCount() noexcept;
// The module handle of the pack DLL (set by DllMain; the exe's handle otherwise).
HMODULE ModuleHandle() noexcept;
void SetModuleHandle(HMODULE module) noexcept;

// Everything the pack needs to create and register one filter class.
struct FilterClass {
    const CLSID* clsid;
    const wchar_t* name;                         // friendly name (registry and filter mapper)
    HRESULT (*create)(REFIID iid, void** out);   // a new instance, no aggregation
    DWORD merit;
    const GUID* category;                        // filter category, e.g. CLSID_LegacyAmFilterCategory
    const REGFILTERPINS2* pins;                  // pin registration for the filter mapper
    ULONG pinCount;
    // True for a stand-in under a platform class identifier, registered only
    // where StandInWanted (registration.h) says so; false for the pack's own.
    bool standIn;
};

// All filter classes of the module. Each filter's source file adds its own
// descriptor with a static FilterClassEntry.
const std::vector<const FilterClass*>& FilterClasses();
const FilterClass* FindFilterClass(REFCLSID clsid);

struct FilterClassEntry {
    explicit FilterClassEntry(const FilterClass& cls);
};

// create() for a filter class T with a default constructor; objects start with
// one reference, which this drops after the QueryInterface.
template <class T>
HRESULT CreateInstance(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    T* object = new (std::nothrow) T();
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

// A file signature: the platform's File Source (Async) gives a file whose
// first bytes match one of the checks ("offset,length,mask,bytes" in hex, an
// empty mask for all bits) the stream subtype below, and so the filters
// registered for that subtype are the only ones other programs offer it to.
struct MediaSignature {
    const GUID* subtype;  // of MEDIATYPE_Stream
    const wchar_t* const* checks;
    std::size_t checkCount;
};

// All signatures of the module; each adds itself with a static entry.
const std::vector<const MediaSignature*>& MediaSignatures();

struct MediaSignatureEntry {
    explicit MediaSignatureEntry(const MediaSignature& signature);
};

// An IClassFactory for one FilterClass (no aggregation).
HRESULT GetClassFactory(REFCLSID clsid, REFIID iid, void** out);

}  // namespace vellumo::filters
