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

HRESULT RegisterServerTypeLib();
HRESULT UnregisterServerTypeLib();

}  // namespace corvane::server
