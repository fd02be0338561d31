#include "module.h"

#include <new>

#include "class_factory.h"
#include "control.h"
#include "control_window.h"
#include "registration.h"
#include "resource.h"

namespace corvane::server {
namespace {

HRESULT UpdateAtlHalvexRegistry(bool registering)
{
    wchar_t oleMisc[16];
    wsprintfW(oleMisc, L"%d", static_cast<int>(AtlHalvexControl::MiscStatus));
    // The class key is the registry view's own; the ProgIDs are shared by
    // both views and go only with the last set that holds the class.
    if (registering || !ClassInOtherView(CLSID_AtlHalvex)) {
        const HRESULT hr = RunRegistrationScript(IDR_ATLHALVEX_PROGID, registering, nullptr);
        if (FAILED(hr)) return hr;
    }
    return RunRegistrationScript(IDR_ATLHALVEX, registering, oleMisc);
}

HRESULT CreateAtlHalvexClassObject(REFIID iid, void** out)
{
    auto* factory = new (std::nothrow) ClassFactory(&AtlHalvexControl::CreateInstance);
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

const wchar_t* NoDescription()
{
    return L"";
}

const GUID* NoCategories()
{
    return nullptr;
}

void NoObjectMain(bool)
{
}

// The object map: the server's creatable classes.
ObjectMapEntry g_objectMap[] = {
    {&CLSID_AtlHalvex, &UpdateAtlHalvexRegistry, &CreateAtlHalvexClassObject, &AtlHalvexControl::CreateInstance,
     nullptr, &NoDescription, &NoCategories, &NoObjectMain},
};

}  // namespace

Module& Module::Instance()
{
    static Module module;
    return module;
}

ObjectMapEntry* Module::begin()
{
    return g_objectMap;
}

ObjectMapEntry* Module::end()
{
    return g_objectMap + sizeof g_objectMap / sizeof g_objectMap[0];
}

ObjectMapEntry* Module::Find(REFCLSID clsid)
{
    for (ObjectMapEntry& entry : *this) {
        if (IsEqualCLSID(*entry.clsid, clsid)) return &entry;
    }
    return nullptr;
}

void Module::Start(HINSTANCE instance)
{
    instance_ = instance;
    for (ObjectMapEntry& entry : *this) entry.objectMain(true);
}

void Module::Stop()
{
    for (ObjectMapEntry& entry : *this) {
        entry.objectMain(false);
        if (entry.classObject) {
            IUnknown* classObject = entry.classObject;
            entry.classObject = nullptr;
            classObject->Release();
        }
    }
    UnregisterControlWindowClass();
    instance_ = nullptr;
}

}  // namespace corvane::server
