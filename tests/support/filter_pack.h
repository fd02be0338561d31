// In-process registration of the filter pack for tests: loads
// vellumo_filters.dll from the test program's folder and registers the class
// objects of the chosen classes with CoRegisterClassObject, so that
// CoCreateInstance in this process creates the pack's filters without
// touching the registry. Revoked when the object goes away (the DLL stays
// loaded for the life of the process).
#pragma once

#include <objbase.h>
#include <uuids.h>

#include <initializer_list>
#include <vector>

#include "filter_ids.h"

namespace testing_support {

// The pack's own filters.
inline std::vector<CLSID> PackFilterClasses()
{
    return {corvane::CLSID_RealSplitter, corvane::CLSID_RealAudioDecoder, corvane::CLSID_Mp3Encoder,
            corvane::CLSID_WavDest};
}
// The platform stand-ins (registered under the system's class identifiers).
inline std::vector<CLSID> PackStandInClasses() { return {CLSID_ACMWrapper, CLSID_FileWriter}; }
inline std::vector<CLSID> AllPackClasses()
{
    std::vector<CLSID> all = PackFilterClasses();
    for (const CLSID& c : PackStandInClasses()) all.push_back(c);
    return all;
}

inline HMODULE FilterPackModule()
{
    static HMODULE module = LoadLibraryW(L"vellumo_filters.dll");
    return module;
}

class FilterPackRegistration {
public:
    explicit FilterPackRegistration(const std::vector<CLSID>& classes = AllPackClasses())
    {
        HMODULE module = FilterPackModule();
        if (!module) {
            hr_ = HRESULT_FROM_WIN32(GetLastError());
            return;
        }
        using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        auto get = reinterpret_cast<GetClassObjectFn>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        if (!get) {
            hr_ = E_NOINTERFACE;
            return;
        }
        for (const CLSID& clsid : classes) {
            IUnknown* factory = nullptr;
            HRESULT hr = get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
            if (FAILED(hr)) {
                if (hr != CLASS_E_CLASSNOTAVAILABLE) hr_ = hr;  // a class the pack does not (yet) carry
                continue;
            }
            DWORD cookie = 0;
            hr = CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
            factory->Release();
            if (FAILED(hr)) {
                hr_ = hr;
                continue;
            }
            cookies_.push_back(cookie);
        }
    }
    ~FilterPackRegistration()
    {
        for (DWORD cookie : cookies_) CoRevokeClassObject(cookie);
    }
    FilterPackRegistration(const FilterPackRegistration&) = delete;
    FilterPackRegistration& operator=(const FilterPackRegistration&) = delete;

    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_ = S_OK;
    std::vector<DWORD> cookies_;
};

}  // namespace testing_support
