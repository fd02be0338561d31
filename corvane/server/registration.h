// Self-registration of the server: the registration scripts with their
// replacements, and the type library.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace corvane::server {

// Full path of the server's file. Paths of MAX_PATH characters or more fail
// with HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER).
HRESULT ModulePath(std::wstring& path);

// Runs a registration script resource with the replacements MODULE (the
// module path, single quotes doubled), APPID and, when given, OLEMISC.
HRESULT RunRegistrationScript(UINT resourceId, bool registering, const wchar_t* oleMisc);

// Loads the type library from the server's file, or failing that from the
// file of the same path with the extension ".tlb".
HRESULT LoadServerTypeLib(ITypeLib** typeLib, std::wstring* loadedFrom);

// Whether the class is registered in the other registry view (the 32-bit
// one for the 64-bit server, the 64-bit one for the 32-bit server on 64-bit
// Windows; 32-bit Windows has only one view). The keys both views share (the
// ProgIDs, the AppID and the type library's version key) stay while it is.
bool ClassInOtherView(REFCLSID clsid);
bool ServerInOtherView();

HRESULT RegisterServerTypeLib();
// With otherSetRemains, only this build's own entry (win32 or win64) goes:
// the system's UnRegisterTypeLib also deletes the interfaces' keys, which
// the other set still needs.
HRESULT UnregisterServerTypeLib(bool otherSetRemains);

}  // namespace corvane::server
