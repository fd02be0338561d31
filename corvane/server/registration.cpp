#include "registration.h"

#include "com_ptr.h"

#include "module.h"
#include "registrar.h"

namespace corvane::server {
namespace {

constexpr wchar_t AppIdText[] = L"{1F29CAC4-6174-44F7-9395-BC167397D7A8}";

std::wstring DoubleQuotes(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        out += c;
        if (c == L'\'') out += L'\'';
    }
    return out;
}

// Deletes TypeLib\{LIBID}\<version>\<locale>\win32 (or win64), and the
// locale key once nothing is left under it.
HRESULT UnregisterOwnTypeLibEntry(const TLIBATTR& identity)
{
    if (identity.syskind != SYS_WIN32 && identity.syskind != SYS_WIN64) return TYPE_E_REGISTRYACCESS;
    wchar_t guid[40];
    StringFromGUID2(identity.guid, guid, 40);
    wchar_t locale[96];
    wsprintfW(locale, L"TypeLib\\%s\\%x.%x\\%lx", guid, identity.wMajorVerNum, identity.wMinorVerNum,
              static_cast<unsigned long>(identity.lcid));
    const std::wstring entry = std::wstring(locale) + (identity.syskind == SYS_WIN64 ? L"\\win64" : L"\\win32");
    if (RegDeleteKeyW(HKEY_CLASSES_ROOT, entry.c_str()) != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
    RegDeleteKeyW(HKEY_CLASSES_ROOT, locale);  // fails while the other entry is there
    return S_OK;
}

}  // namespace

bool ClassInOtherView(REFCLSID clsid)
{
#ifdef _WIN64
    const REGSAM otherView = KEY_WOW64_32KEY;
#else
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) return false;
    const REGSAM otherView = KEY_WOW64_64KEY;
#endif
    wchar_t guid[40];
    StringFromGUID2(clsid, guid, 40);
    const std::wstring path = std::wstring(L"Software\\Classes\\CLSID\\") + guid + L"\\InprocServer32";
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | otherView, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool ServerInOtherView()
{
    for (const ObjectMapEntry& entry : Module::Instance())
        if (ClassInOtherView(*entry.clsid)) return true;
    return false;
}

HRESULT ModulePath(std::wstring& path)
{
    wchar_t buffer[MAX_PATH];
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetModuleFileNameW(Module::Instance().Handle(), buffer, MAX_PATH);
    if (n == 0) {
        const DWORD err = GetLastError();
        return err ? HRESULT_FROM_WIN32(err) : E_FAIL;
    }
    if (n >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(buffer, n);
    return S_OK;
}

HRESULT RunRegistrationScript(UINT resourceId, bool registering, const wchar_t* oleMisc)
{
    std::wstring path;
    HRESULT hr = ModulePath(path);
    if (FAILED(hr)) return hr;
    Registrar registrar;
    registrar.AddReplacement(L"MODULE", DoubleQuotes(path));
    registrar.AddReplacement(L"APPID", AppIdText);
    if (oleMisc) registrar.AddReplacement(L"OLEMISC", oleMisc);
    return registrar.RunResource(Module::Instance().Handle(), resourceId, registering);
}

HRESULT LoadServerTypeLib(ITypeLib** typeLib, std::wstring* loadedFrom)
{
    *typeLib = nullptr;
    std::wstring path;
    HRESULT hr = ModulePath(path);
    if (FAILED(hr)) return hr;
    hr = LoadTypeLib(path.c_str(), typeLib);
    if (FAILED(hr)) {
        // The same path with the extension replaced by ".tlb".
        std::wstring tlb = path;
        const size_t slash = tlb.find_last_of(L"\\/:");
        const size_t dot = tlb.find_last_of(L'.');
        if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) tlb.erase(dot);
        tlb += L".tlb";
        const HRESULT hrTlb = LoadTypeLib(tlb.c_str(), typeLib);
        if (FAILED(hrTlb)) return hr;
        path = tlb;
    }
    if (loadedFrom) *loadedFrom = path;
    return S_OK;
}

HRESULT RegisterServerTypeLib()
{
    ComPtr<ITypeLib> typeLib;
    std::wstring path;
    HRESULT hr = LoadServerTypeLib(typeLib.Put(), &path);
    if (FAILED(hr)) return hr;
    // The help directory is the folder that holds the library file.
    std::wstring helpDir;
    const size_t cut = path.find_last_of(L"\\/:");
    if (cut != std::wstring::npos) helpDir = path.substr(0, cut + 1);
    return RegisterTypeLib(typeLib.Get(), &path[0], helpDir.empty() ? nullptr : &helpDir[0]);
}

HRESULT UnregisterServerTypeLib(bool otherSetRemains)
{
    ComPtr<ITypeLib> typeLib;
    HRESULT hr = LoadServerTypeLib(typeLib.Put(), nullptr);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = typeLib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const TLIBATTR identity = *attr;
    typeLib->ReleaseTLibAttr(attr);
    if (otherSetRemains) return UnregisterOwnTypeLibEntry(identity);
    return UnRegisterTypeLib(identity.guid, identity.wMajorVerNum, identity.wMinorVerNum, identity.lcid,
                             identity.syskind);
}

}  // namespace corvane::server
