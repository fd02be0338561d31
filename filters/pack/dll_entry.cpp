// Entry points of vellumo_filters.dll: class objects for every filter class of
// the pack, self-registration and unload.
#include "dshow_uuids.h"

#include <string>

#include "base/module.h"
#include "base/registration.h"

using namespace vellumo::filters;

namespace {

std::wstring ModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(ModuleHandle(), &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// COM for the duration of a registration call (regsvr32 may not have it).
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT hr_;
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        SetModuleHandle(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out)
{
    return GetClassFactory(clsid, iid, out);
}

STDAPI DllCanUnloadNow()
{
    return ModuleRefCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    ComScope com;
    const std::wstring path = ModulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    const HRESULT hr = RegisterFilterClasses(FilterClasses(), path.c_str());
    return FAILED(hr) ? hr : RegisterMediaSignatures(MediaSignatures());
}

STDAPI DllUnregisterServer()
{
    ComScope com;
    const std::wstring path = ModulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    UnregisterMediaSignatures(MediaSignatures());
    return UnregisterFilterClasses(FilterClasses(), path.c_str());
}
