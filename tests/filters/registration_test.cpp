// Registration of the pack against the real registry: stand-ins only where
// the platform lacks the behaviour; unregistration restores what was there.
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
    wchar_t name[256];
    BYTE data[2048];
    DWORD nameLen = 256, type = 0, size = sizeof data;
    for (DWORD i = 0; RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data, &size) == ERROR_SUCCESS; ++i) {
        out += std::wstring(name) + L"=" + std::to_wstring(type) + L":" + std::wstring(data, data + size) + L"\n";
        nameLen = 256, size = sizeof data;
    }
    for (DWORD i = 0; nameLen = 256, RegEnumKeyExW(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) == 0; ++i)
        Dump(root, path + L"\\" + name, out);
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

// A REG_SZ value under HKCR (empty when absent).
std::wstring Value(const std::wstring& key, const wchar_t* value = nullptr)
{
    wchar_t data[MAX_PATH * 2] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, data, &size);
    return data;
}
std::wstring ServerOf(REFCLSID clsid) { return Value(L"CLSID\\" + GuidText(clsid) + L"\\InprocServer32"); }

class PackRegistration : public ::testing::Test {
protected:
    using EntryPoint = HRESULT(STDAPICALLTYPE*)();
    void SetUp() override { ASSERT_TRUE(registerServer_ && unregisterServer_); }
    void TearDown() override { if (unregisterServer_) unregisterServer_(); }
    bool IsPack(REFCLSID clsid)
    {
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(testing_support::FilterPackModule(), path, MAX_PATH);
        return lstrcmpiW(path, ServerOf(clsid).c_str()) == 0;
    }
    testing_support::ComApartment com_;
    EntryPoint registerServer_ = testing_support::PackExport<EntryPoint>("DllRegisterServer");
    EntryPoint unregisterServer_ = testing_support::PackExport<EntryPoint>("DllUnregisterServer");
};

TEST_F(PackRegistration, RegistersThePackAndRemovesExactlyWhatItAdded)
{
    const std::wstring before = Snapshot();
    ASSERT_EQ(S_OK, registerServer_());
    for (const CLSID& c : testing_support::PackFilterClasses()) {
        EXPECT_TRUE(IsPack(c));
        EXPECT_EQ(L"Both", Value(L"CLSID\\" + GuidText(c) + L"\\InprocServer32", L"ThreadingModel"));
        const GUID& category = c == corvane::CLSID_Mp3Encoder ? CLSID_AudioCompressorCategory : CLSID_LegacyAmFilterCategory;
        const std::wstring instance = L"CLSID\\" + GuidText(category) + L"\\Instance\\" + GuidText(c);
        EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CLASSES_ROOT, instance.c_str(), L"FilterData", RRF_RT_REG_BINARY,
                                              nullptr, nullptr, nullptr));
    }
    // Created from the registry alone, with their control interfaces; the
    // stand-ins replace the platform's filters only where they fall short.
    for (const auto& [clsid, iid] : {std::pair{corvane::CLSID_Mp3Encoder, IID_IAudioEncoderProperties},
                                     std::pair{corvane::CLSID_WavDest, IID_IWavDestControl},
                                     std::pair{CLSID_FileWriter, IID_IFileSinkFilter2}}) {
        ComPtr<IUnknown> object;
        EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.PutVoid()));
    }
    const bool wine = testing_support::IsWine();
    EXPECT_EQ(wine, IsPack(CLSID_FileWriter));
    EXPECT_EQ(wine, IsPack(CLSID_ACMWrapper));

    // Registering again changes nothing.
    const std::wstring registered = Snapshot();
    ASSERT_EQ(S_OK, registerServer_());
    EXPECT_EQ(registered, Snapshot());
    ASSERT_EQ(S_OK, unregisterServer_());
    EXPECT_EQ(before, Snapshot());
    ComPtr<IFileSinkFilter2> sink2;
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
    const wchar_t other[] = L"C:\\Program Files\\Other\\wavdest.ax";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str(), nullptr, REG_SZ,
                                             other, sizeof(other)));
    const std::wstring withOther = Snapshot();
    ASSERT_EQ(S_OK, registerServer_());
    EXPECT_TRUE(IsPack(corvane::CLSID_WavDest));
    ASSERT_EQ(S_OK, unregisterServer_());
    EXPECT_EQ(withOther, Snapshot());
    EXPECT_EQ(other, ServerOf(corvane::CLSID_WavDest));
    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    EXPECT_EQ(before, Snapshot());
}

}  // namespace
}  // namespace filter_tests
