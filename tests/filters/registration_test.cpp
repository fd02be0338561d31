// Registration of the pack against the real registry: stand-ins only where
// the platform lacks the behaviour; unregistration restores what was there
// and leaves what another program registered since.
#include "filter_test_support.h"

#include "base/registration.h"

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
    void SetUp() override
    {
        ASSERT_TRUE(registerServer_ && unregisterServer_);
        // Every test that registers the pack in the prefix takes it away again;
        // one that did not is named here, and its leftover removed, rather than
        // read as this test's own registration.
        std::wstring leftover;
        for (const CLSID& c : testing_support::AllPackClasses())
            if (IsPack(c)) leftover += L" " + GuidText(c);
        HKEY vendor;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Vellumo", 0, KEY_READ, &vendor) == ERROR_SUCCESS) {
            RegCloseKey(vendor);
            leftover += L" HKLM\\Software\\Vellumo";
        }
        if (!leftover.empty()) {
            unregisterServer_();
            ADD_FAILURE() << "the pack was registered in the prefix before this test began (an earlier test left it):"
                          << testing::PrintToString(leftover);
        }
    }
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
    // A temporary path too long for a file name makes no difference to what is registered.
    wchar_t temp[MAX_PATH];
    GetEnvironmentVariableW(L"TMP", temp, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", (L"C:\\" + std::wstring(270, L't')).c_str());
    const HRESULT registered1 = registerServer_();
    SetEnvironmentVariableW(L"TMP", temp);
    ASSERT_EQ(S_OK, registered1);
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
    // Stand-ins go under a platform class only where the class is missing or the platform is Wine.
    const bool wine = testing_support::IsWine();
    EXPECT_EQ(wine, IsPack(CLSID_FileWriter));
    EXPECT_EQ(wine, IsPack(CLSID_ACMWrapper));
    EXPECT_TRUE(vellumo::filters::StandInWanted({0x3926b281, 0x0998, 0x4fef, {0xa9, 0x3b, 0xa3, 0x04, 0xa4, 0xb3, 0xfa, 0x38}}));

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

// What the platform's File Source gives a file, by its first bytes, and which
// of the pack's filters the filter mapper offers for a media type.
GUID SubtypeOfFile(const std::string& bytes)
{
    wchar_t path[MAX_PATH];
    GetTempPathW(MAX_PATH, path);
    lstrcatW(path, L"vellumo signature.bin");
    FILE* f = _wfopen(path, L"wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    ComPtr<IFileSourceFilter> source;
    AM_MEDIA_TYPE mt{};
    LPOLESTR name = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IFileSourceFilter, source.PutVoid())) &&
        SUCCEEDED(source->Load(path, nullptr)))
        source->GetCurFile(&name, &mt);
    CoTaskMemFree(name);
    vellumo::filters::FreeMediaTypeContents(mt);
    source = nullptr;
    DeleteFileW(path);
    return mt.subtype;
}
bool Offered(REFGUID major, REFGUID subtype, REFCLSID filter)
{
    ComPtr<IFilterMapper2> mapper;
    ComPtr<IEnumMoniker> found;
    const GUID types[2] = {major, subtype};
    if (FAILED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper.PutVoid())) ||
        FAILED(mapper->EnumMatchingFilters(found.Put(), 0, FALSE, MERIT_DO_NOT_USE + 1, TRUE, 1, types, nullptr, nullptr,
                                           FALSE, FALSE, 0, nullptr, nullptr, nullptr)))
        return false;
    for (ComPtr<IMoniker> moniker; found->Next(1, moniker.Put(), nullptr) == S_OK;) {
        ComPtr<IPropertyBag> bag;
        VARIANT clsid;
        VariantInit(&clsid);
        const bool match = SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid())) &&
                           SUCCEEDED(bag->Read(L"CLSID", &clsid, nullptr)) && GuidText(filter) == clsid.bstrVal;
        VariantClear(&clsid);
        if (match) return true;
    }
    return false;
}

TEST_F(PackRegistration, OtherProgramsMeetThePackOnlyForRealMedia)
{
    ASSERT_EQ(S_OK, registerServer_());
    const GUID realMedia = {0x3926b280, 0x0998, 0x4fef, {0xa9, 0x3b, 0xa3, 0x04, 0xa4, 0xb3, 0xfa, 0x38}};
    const std::string tail(200, '\x11');
    for (const auto& [bytes, ours] : {std::pair{".RMF" + tail, true}, {std::string(".ra\xfd") + tail, true},
                                      {"RIFF\x40\x01\x02\x03WAVEfmt " + tail, false}, {" .RMF" + tail, false}, {tail, false}})
        EXPECT_EQ(ours, SubtypeOfFile(bytes) == realMedia) << testing::PrintToString(bytes.substr(0, 12));
    const GUID cook = {0x6b6f6f63, 0, 0x10, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};
    const GUID dnet = {0x74656e64, 0, 0x10, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};
    const GUID mp3 = {0x55, 0, 0x10, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};
    EXPECT_TRUE(Offered(MEDIATYPE_Stream, realMedia, corvane::CLSID_RealSplitter));
    EXPECT_FALSE(Offered(MEDIATYPE_Stream, MEDIASUBTYPE_WAVE, corvane::CLSID_RealSplitter));
    EXPECT_FALSE(Offered(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG1System, corvane::CLSID_RealSplitter));
    EXPECT_TRUE(Offered(MEDIATYPE_Audio, cook, corvane::CLSID_RealAudioDecoder));
    EXPECT_TRUE(Offered(MEDIATYPE_Audio, dnet, corvane::CLSID_RealAudioDecoder));
    EXPECT_FALSE(Offered(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, corvane::CLSID_RealAudioDecoder));
    EXPECT_FALSE(Offered(MEDIATYPE_Audio, mp3, corvane::CLSID_RealAudioDecoder));
    ASSERT_EQ(S_OK, unregisterServer_());
    EXPECT_NE(realMedia, SubtypeOfFile(".RMF" + tail)) << "the signature goes with the pack";
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

// A class another program registers after the pack took it over is left as
// it stands, and the copy of the one before is dropped; the pack puts a
// saved copy back only while the class is its own (its DLL named in any
// letter case) or nobody's.
TEST_F(PackRegistration, LeavesWhatAnotherProgramRegisteredSince)
{
    const std::wstring key = L"CLSID\\" + GuidText(corvane::CLSID_WavDest);
    const std::wstring instance =
        L"CLSID\\" + GuidText(CLSID_LegacyAmFilterCategory) + L"\\Instance\\" + GuidText(corvane::CLSID_WavDest);
    const auto keys = [&] {
        std::wstring out;
        for (const std::wstring* k : {&key, &instance}) Dump(HKEY_CLASSES_ROOT, *k, out);
        return out;
    };
    const auto setServer = [&](const std::wstring& server) {
        RegSetKeyValueW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str(), nullptr, REG_SZ, server.c_str(),
                        DWORD(server.size() * 2 + 2));
    };
    const auto registerOther = [&](const std::wstring& name) {  // the class and its filter mapper entry
        setServer(L"C:\\Program Files\\" + name + L"\\wavdest.ax");
        RegSetKeyValueW(HKEY_CLASSES_ROOT, instance.c_str(), L"FriendlyName", REG_SZ, name.c_str(),
                        DWORD(name.size() * 2 + 2));
        return keys();
    };
    const std::wstring before = Snapshot();
    registerOther(L"Old");
    ASSERT_EQ(S_OK, registerServer_());
    const std::wstring newer = registerOther(L"Newer");
    ASSERT_EQ(S_OK, unregisterServer_());
    EXPECT_EQ(newer, keys());
    std::wstring saved;
    Dump(HKEY_LOCAL_MACHINE, L"Software\\Vellumo", saved);
    EXPECT_EQ(L"", saved);

    // Registered over it (an upgrade), and over a newest one after that.
    ASSERT_EQ(S_OK, registerServer_());
    const std::wstring newest = registerOther(L"Newest");
    ASSERT_EQ(S_OK, registerServer_());
    wchar_t pack[MAX_PATH];
    GetModuleFileNameW(testing_support::FilterPackModule(), pack, MAX_PATH);
    setServer(CharUpperW(pack));
    ASSERT_EQ(S_OK, unregisterServer_());
    EXPECT_EQ(newest, keys());

    // The pack's registration removed by someone else: nobody's, the saved copy comes back.
    ASSERT_EQ(S_OK, registerServer_());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    ASSERT_EQ(S_OK, unregisterServer_());
    EXPECT_EQ(newest, keys());
    for (const std::wstring* k : {&key, &instance}) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, k->c_str());
        RegDeleteKeyW(HKEY_CLASSES_ROOT, k->c_str());
    }
    EXPECT_EQ(before, Snapshot());
}

}  // namespace
}  // namespace filter_tests
