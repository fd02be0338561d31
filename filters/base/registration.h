// Registration of the pack's filter classes: the COM class keys
// (InprocServer32, ThreadingModel Both) and the filter mapper entry.
// A class key that exists before registration (a system filter replaced by a
// stand-in, or another vendor's filter under the same class identifier) is
// saved first and restored exactly on unregistration; unregistration never
// touches a registration that is not the pack's own.
#pragma once

#include <vector>

#include "module.h"

namespace vellumo::filters {

HRESULT RegisterFilterClasses(const std::vector<const FilterClass*>& classes, const wchar_t* modulePath);
HRESULT UnregisterFilterClasses(const std::vector<const FilterClass*>& classes, const wchar_t* modulePath);

// True when HKCR\CLSID\{clsid}\InprocServer32 names modulePath.
bool ClassRegisteredTo(REFCLSID clsid, const wchar_t* modulePath);

}  // namespace vellumo::filters
