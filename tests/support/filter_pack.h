// The filter pack (vellumo_filters.dll beside the test program) registered
// in this process only with CoRegisterClassObject, without the registry;
// revoked when the object goes away (the DLL stays loaded).
#pragma once

#include <objbase.h>
#include <uuids.h>

#include <vector>

#include "filter_ids.h"

namespace testing_support {

// The pack's own filters, and its stand-ins for the platform's filters
// (registered under the system's class identifiers).
inline std::vector<CLSID> PackFilterClasses()
{
    return {corvane::CLSID_RealSplitter, corvane::CLSID_RealAudioDecoder, corvane::CLSID_Mp3Encoder,
            corvane::CLSID_WavDest};
}
inline std::vector<CLSID> PackStandInClasses() { return {CLSID_ACMWrapper, CLSID_FileWriter}; }
inline std::vector<CLSID> AllPackClasses()
{
    std::vector<CLSID> all = PackFilterClasses(), standIns = PackStandInClasses();
    all.insert(all.end(), standIns.begin(), standIns.end());
    return all;
}

inline HMODULE FilterPackModule()
{
    static HMODULE module = LoadLibraryW(L"vellumo_filters.dll");
    return module;
}

// An export of the pack's DLL (null when it cannot be loaded).
template <class Fn>
Fn PackExport(const char* name)
{
    HMODULE module = FilterPackModule();
    return reinterpret_cast<Fn>(module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr);
}

class FilterPackRegistration {
public:
    explicit FilterPackRegistration(const std::vector<CLSID>& classes = AllPackClasses())
    {
        auto get = PackExport<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
        if (!get) {
            hr_ = FilterPackModule() ? E_NOINTERFACE : HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
            return;
        }
        for (const CLSID& clsid : classes) {
            IUnknown* factory = nullptr;
            DWORD cookie = 0;
            HRESULT hr = get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
            if (SUCCEEDED(hr)) {
                hr = CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
                factory->Release();
            }
            if (SUCCEEDED(hr)) cookies_.push_back(cookie);
            else if (hr != CLASS_E_CLASSNOTAVAILABLE) hr_ = hr;  // a class the pack does not carry is skipped
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
