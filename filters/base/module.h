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
    // Platform stand-ins only: true when the platform's own filter under this
    // class identifier lacks what the pack relies on, so that the stand-in is
    // registered in its place. Null for the pack's own filters.
    bool (*platformLacksIt)();
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

// An IClassFactory for one FilterClass (no aggregation).
HRESULT GetClassFactory(REFCLSID clsid, REFIID iid, void** out);

}  // namespace vellumo::filters
