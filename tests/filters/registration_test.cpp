// DllRegisterServer / DllUnregisterServer of the pack against the real
// registry: what gets registered, stand-ins only where the platform lacks
// the behaviour, and unregistration restoring exactly what was there.
#include <gtest/gtest.h>

#include <string>

#include "filter_interfaces.h"
#include "filter_test_support.h"

namespace filter_tests {
namespace {

std::wstring GuidText(REFGUID g)
{
    wchar_t text[40];
    StringFromGUID2(g, text, 40);
    return text;
}

// Every subkey and value under root\path, as text.
void Dump(HKEY root, const std::wstring& path, std::wstring& out)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    out += L"[" + path + L"]\n";
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLen = 256, type = 0, size = 0;
        BYTE data[2048];
        size = sizeof(data);
        if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        out += std::wstring(name) + L"=" + std::to_wstring(type) + L":";
        for (DWORD b = 0; b < size; ++b) out += std::to_wstring(data[b]) + L",";
        out += L"\n";
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLen = 256;
        if (RegEnumKeyExW(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        Dump(root, path + L"\\" + name, out);
    }
    RegCloseKey(key);
}

std::wstring Snapshot()
{
    std::wstring out;
    for (const CLSID& c : testing_support::AllPackClasses()) {
        Dump(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(c), out);
        for (const GUID* cat : {&CLSID_LegacyAmFilterCategory, &CLSID_AudioCompressorCategory})
            Dump(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(*cat) + L"\\Instance\\" + GuidText(c), out);
    }
    Dump(HKEY_LOCAL_MACHINE, L"Software\\Vellumo", out);
    return out;
}

std::wstring ServerOf(REFCLSID clsid, const wchar_t* value = nullptr)
{
    wchar_t data[MAX_PATH * 2] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    const std::wstring path = L"CLSID\\" + GuidText(clsid) + L"\\InprocServer32";
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), value, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"";
    return data;
}

using EntryPoint = HRESULT(STDAPICALLTYPE*)();

// Whether the pack DLL carries a class (the RealMedia filters join it separately).
bool PackCarries(REFCLSID clsid)
{
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(testing_support::FilterPackModule(), "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    return get && SUCCEEDED(get(clsid, IID_IClassFactory, factory.PutVoid()));
}

bool InMapper(REFCLSID clsid, REFGUID category)
{
    const std::wstring path = L"CLSID\\" + GuidText(category) + L"\\Instance\\" + GuidText(clsid);
    DWORD size = 0;
    return RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), L"FilterData", RRF_RT_REG_BINARY, nullptr, nullptr, &size) ==
           ERROR_SUCCESS;
}

class PackRegistration : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = testing_support::FilterPackModule();
        ASSERT_TRUE(module_);
        registerServer_ = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
        unregisterServer_ =
            reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
        ASSERT_TRUE(registerServer_ && unregisterServer_);
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(module_, path, MAX_PATH);
        dllPath_ = path;
    }
    void TearDown() override
    {
        if (unregisterServer_) unregisterServer_();
    }

    testing_support::ComApartment com_;
    HMODULE module_ = nullptr;
    EntryPoint registerServer_ = nullptr;
    EntryPoint unregisterServer_ = nullptr;
    std::wstring dllPath_;
};

TEST_F(PackRegistration, RegistersThePackAndRemovesExactlyWhatItAdded)
{
    const std::wstring before = Snapshot();
    ASSERT_EQ(S_OK, registerServer_());

    for (const CLSID& c : testing_support::PackFilterClasses()) {
        if (!PackCarries(c)) continue;
        EXPECT_EQ(0, lstrcmpiW(dllPath_.c_str(), ServerOf(c).c_str()));
        EXPECT_EQ(L"Both", ServerOf(c, L"ThreadingModel"));
        EXPECT_TRUE(InMapper(c, c == corvane::CLSID_Mp3Encoder ? CLSID_AudioCompressorCategory
                                                               : CLSID_LegacyAmFilterCategory));
    }
    // Created from the registry alone, with their control interfaces.
    ComPtr<IAudioEncoderProperties> encoder;
    EXPECT_EQ(S_OK, CoCreateInstance(corvane::CLSID_Mp3Encoder, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IAudioEncoderProperties, encoder.PutVoid()));
    ComPtr<IWavDestControl> wav;
    EXPECT_EQ(S_OK, CoCreateInstance(corvane::CLSID_WavDest, nullptr, CLSCTX_INPROC_SERVER, IID_IWavDestControl,
                                     wav.PutVoid()));

    // The stand-ins replace the platform's filters only where they fall short.
    const bool wine = testing_support::IsWine();
    EXPECT_EQ(wine, lstrcmpiW(dllPath_.c_str(), ServerOf(CLSID_FileWriter).c_str()) == 0);
    EXPECT_EQ(wine, lstrcmpiW(dllPath_.c_str(), ServerOf(CLSID_ACMWrapper).c_str()) == 0);
    ComPtr<IFileSinkFilter2> sink2;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IFileSinkFilter2,
                                     sink2.PutVoid()));
    sink2.Reset();

    // Registering again changes nothing.
    const std::wstring registered = Snapshot();
    ASSERT_EQ(S_OK, registerServer_());
    EXPECT_EQ(registered, Snapshot());

    ASSERT_EQ(S_OK, unregisterServer_());
    EXPECT_EQ(before, Snapshot());
    if (wine) {
        EXPECT_EQ(E_NOINTERFACE, CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_IFileSinkFilter2, sink2.PutVoid()))
            << "the platform's File Writer is back";
    }
}

TEST_F(PackRegistration, RestoresAnotherVendorsRegistration)
{
    const std::wstring key = L"CLSID\\" + GuidText(corvane::CLSID_WavDest);
    const std::wstring before = Snapshot();
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &k, nullptr));
    const wchar_t other[] = L"C:\\Program Files\\Other\\wavdest.ax";
    RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(other), sizeof(other));
    RegCloseKey(k);
    const std::wstring withOther = Snapshot();

    ASSERT_EQ(S_OK, registerServer_());
    EXPECT_EQ(0, lstrcmpiW(dllPath_.c_str(), ServerOf(corvane::CLSID_WavDest).c_str()));
    ASSERT_EQ(S_OK, unregisterServer_());
    EXPECT_EQ(withOther, Snapshot());
    EXPECT_EQ(other, ServerOf(corvane::CLSID_WavDest));

    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    EXPECT_EQ(before, Snapshot());
}

}  // namespace
}  // namespace filter_tests
