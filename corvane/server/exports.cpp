// The server's entry points: DllMain and the four exports.
#include <windows.h>
#include <objbase.h>

#include "module.h"
#include "registration.h"
#include "resource.h"

using corvane::server::CriticalSectionLock;
using corvane::server::Module;
using corvane::server::ObjectMapEntry;

namespace {

// COM is initialised on the loading thread for the life of the module; the
// matching CoUninitialize is made only for a successful CoInitialize on
// that same thread.
HRESULT g_comInit = E_FAIL;
DWORD g_comThread = 0;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        g_comInit = CoInitialize(nullptr);
        g_comThread = GetCurrentThreadId();
        Module::Instance().Start(instance);
        break;
    case DLL_PROCESS_DETACH:
        Module::Instance().Stop();
        if (SUCCEEDED(g_comInit) && GetCurrentThreadId() == g_comThread) CoUninitialize();
        g_comInit = E_FAIL;
        break;
    default:
        break;
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    Module& module = Module::Instance();
    if (!module.Started()) return E_UNEXPECTED;
    ObjectMapEntry* entry = module.Find(clsid);
    if (!entry) return CLASS_E_CLASSNOTAVAILABLE;
    {
        CriticalSectionLock lock(module.Guard());
        if (!entry->classObject) {
            HRESULT hr = entry->createClassObject(IID_IUnknown, reinterpret_cast<void**>(&entry->classObject));
            if (FAILED(hr)) return hr;
        }
    }
    return entry->classObject->QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return Module::Instance().LockCount() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    HRESULT hr = corvane::server::RunRegistrationScript(IDR_CORVANE_APPID, true, nullptr);
    if (FAILED(hr)) return hr;
    for (ObjectMapEntry& entry : Module::Instance()) {
        hr = entry.updateRegistry(true);
        if (FAILED(hr)) return hr;
        // Component categories: the classes implement none.
    }
    return corvane::server::RegisterServerTypeLib();
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    // The AppID and the type library's shared keys stay while the other
    // registry view still holds the server (the other bitness's set).
    const bool otherSetRemains = corvane::server::ServerInOtherView();
    HRESULT hr;
    for (ObjectMapEntry& entry : Module::Instance()) {
        hr = entry.updateRegistry(false);
        if (FAILED(hr)) return hr;
    }
    hr = corvane::server::UnregisterServerTypeLib(otherSetRemains);
    if (FAILED(hr)) return hr;
    return otherSetRemains ? S_OK : corvane::server::RunRegistrationScript(IDR_CORVANE_APPID, false, nullptr);
}
