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

}  // namespace

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

HRESULT UnregisterServerTypeLib()
{
    ComPtr<ITypeLib> typeLib;
    HRESULT hr = LoadServerTypeLib(typeLib.Put(), nullptr);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = typeLib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const TLIBATTR identity = *attr;
    typeLib->ReleaseTLibAttr(attr);
    return UnRegisterTypeLib(identity.guid, identity.wMajorVerNum, identity.wMinorVerNum, identity.lcid,
                             identity.syskind);
}

}  // namespace corvane::server
