// Registration of the pack's filter classes: the COM class keys
// (InprocServer32, ThreadingModel Both) and the filter mapper entry.
// A class key that exists before registration (a system filter replaced by a
// stand-in, or another vendor's filter under the same class identifier) is
// saved first and restored exactly on unregistration. A class is the pack's
// own while its InprocServer32 names the pack's DLL (the same full path,
// letter case aside). Unregistration never touches a registration that is not
// the pack's own: when another program has registered the class since, its
// registration (class key and filter mapper entry) stands and the saved copy,
// now stale, is dropped; when someone removed the pack's registration and no
// server is registered, the saved copy comes back. A step that fails is
// reported and leaves the saved copy for the next attempt.
#pragma once

#include <vector>

#include "module.h"

namespace vellumo::filters {

HRESULT RegisterFilterClasses(const std::vector<const FilterClass*>& classes, const wchar_t* modulePath);
HRESULT UnregisterFilterClasses(const std::vector<const FilterClass*>& classes, const wchar_t* modulePath);

// The signatures' keys under HKCR\Media Type\{MEDIATYPE_Stream}, with the
// platform's File Source (Async) as their source filter; removal deletes
// exactly those keys.
HRESULT RegisterMediaSignatures(const std::vector<const MediaSignature*>& signatures);
void UnregisterMediaSignatures(const std::vector<const MediaSignature*>& signatures);

// Whether a stand-in belongs under a platform class identifier: only where
// the platform has no such class registered, or where it is Wine (told by
// ntdll's wine_get_version export, as Wine documents), whose filters lack what
// the pack relies on. On Windows a registered class is always the platform's.
bool PlatformClassRegistered(REFCLSID clsid);
bool RunningUnderWine();
bool StandInWanted(REFCLSID clsid);

// True when HKCR\CLSID\{clsid}\InprocServer32 names modulePath (the same
// full path, letter case and the form of the path aside).
bool ClassRegisteredTo(REFCLSID clsid, const wchar_t* modulePath);

}  // namespace vellumo::filters
