// Registration of corvane.dll through the system's regsvr32: the registry
// content, re-registration, removal and a module path with a quote. Every
// test leaves the server registered from the build folder.
#include <gtest/gtest.h>

#include <algorithm>

#include "server_test_support.h"

namespace {

using namespace server_test;

const std::wstring kClsidKey = std::wstring(L"CLSID\\") + kClsid;

class Registration : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0u, RunRegsvr32(ServerPath())); }
    void TearDown() override { EXPECT_EQ(0u, RunRegsvr32(ServerPath())); }
};

std::wstring Folder(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

void ExpectClassEntries(const std::wstring& module)
{
    EXPECT_EQ(L"corvane", ReadString(std::wstring(L"AppID\\") + kAppId));
    EXPECT_EQ(kAppId, ReadString(L"AppID\\corvane.DLL", L"AppID"));

    EXPECT_EQ(L"AtlHalvex Class", ReadString(L"corvane.AtlHalvex.1"));
    EXPECT_EQ(kClsid, ReadString(L"corvane.AtlHalvex.1\\CLSID"));
    EXPECT_EQ(L"AtlHalvex Class", ReadString(L"corvane.AtlHalvex"));
    EXPECT_EQ(kClsid, ReadString(L"corvane.AtlHalvex\\CLSID"));
    EXPECT_EQ(L"corvane.AtlHalvex.1", ReadString(L"corvane.AtlHalvex\\CurVer"));

    EXPECT_EQ(L"AtlHalvex Class", ReadString(kClsidKey));
    EXPECT_EQ(kAppId, ReadString(kClsidKey, L"AppID"));
    EXPECT_EQ(L"corvane.AtlHalvex.1", ReadString(kClsidKey + L"\\ProgID"));
    EXPECT_EQ(L"corvane.AtlHalvex", ReadString(kClsidKey + L"\\VersionIndependentProgID"));
    EXPECT_TRUE(KeyExists(kClsidKey + L"\\Programmable"));
    EXPECT_EQ(module, ReadString(kClsidKey + L"\\InprocServer32"));
    EXPECT_EQ(L"Apartment", ReadString(kClsidKey + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_TRUE(KeyExists(kClsidKey + L"\\Control"));
    EXPECT_EQ(module + L", 105", ReadString(kClsidKey + L"\\ToolboxBitmap32"));
    EXPECT_EQ(L"0", ReadString(kClsidKey + L"\\MiscStatus"));
    EXPECT_EQ(L"131473", ReadString(kClsidKey + L"\\MiscStatus\\1"));
    EXPECT_EQ(kLibId, ReadString(kClsidKey + L"\\TypeLib"));
    EXPECT_EQ(L"1.0", ReadString(kClsidKey + L"\\Version"));

    // The type library, with the library file's folder as help directory.
    const std::wstring lib = std::wstring(L"TypeLib\\") + kLibId + L"\\1.0";
    EXPECT_TRUE(KeyExists(lib));
#ifdef _WIN64
    EXPECT_EQ(module, ReadString(lib + L"\\0\\win64"));
#else
    EXPECT_EQ(module, ReadString(lib + L"\\0\\win32"));
#endif
    std::wstring helpDir = ReadString(lib + L"\\HELPDIR");
    if (!helpDir.empty() && helpDir.back() != L'\\') helpDir += L'\\';
    EXPECT_EQ(Folder(module), helpDir);
    EXPECT_EQ(kLibId, ReadString(std::wstring(L"Interface\\") + kIid + L"\\TypeLib"));
    EXPECT_EQ(kLibId, ReadString(std::wstring(L"Interface\\") + kEventsIid + L"\\TypeLib"));
}

TEST_F(Registration, WritesEveryEntryOfTheScriptsAndTheTypeLibrary)
{
    ExpectClassEntries(ServerPath());
    // The class key holds exactly the script's subkeys and values.
    std::vector<std::wstring> subkeys = SubkeysOf(kClsidKey);
    std::sort(subkeys.begin(), subkeys.end());
    const std::vector<std::wstring> expected = {L"Control", L"InprocServer32", L"MiscStatus", L"ProgID",
                                                L"Programmable", L"ToolboxBitmap32", L"TypeLib", L"Version",
                                                L"VersionIndependentProgID"};
    EXPECT_EQ(expected, subkeys);
    std::vector<std::wstring> values = ValueNamesOf(kClsidKey);
    std::sort(values.begin(), values.end());
    EXPECT_EQ((std::vector<std::wstring>{L"", L"AppID"}), values);
}

TEST_F(Registration, RegisteringAgainClearsStaleEntriesUnderTheClassKey)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, (kClsidKey + L"\\Stale\\Deeper").c_str(), 0, nullptr,
                                             0, KEY_WRITE, nullptr, &key, nullptr));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, (kClsidKey + L"\\Control\\Junk").c_str(), 0, nullptr,
                                             0, KEY_WRITE, nullptr, &key, nullptr));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CLASSES_ROOT, kClsidKey.c_str(), L"Leftover", REG_SZ, L"x", 4));

    ASSERT_EQ(0u, RunRegsvr32(ServerPath()));
    ASSERT_EQ(0u, RunRegsvr32(ServerPath()));

    EXPECT_FALSE(KeyExists(kClsidKey + L"\\Stale"));
    EXPECT_FALSE(KeyExists(kClsidKey + L"\\Control\\Junk"));
    EXPECT_EQ(L"<missing>", ReadString(kClsidKey, L"Leftover"));
    EXPECT_EQ(9u, SubkeysOf(kClsidKey).size());
    ExpectClassEntries(ServerPath());
}

TEST_F(Registration, UnregisteringRemovesExactlyTheScriptsKeys)
{
    // A foreign subkey under one of our ProgID keys goes with it.
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, L"corvane.AtlHalvex\\Foreign", 0, nullptr, 0,
                                             KEY_WRITE, nullptr, &key, nullptr));
    RegCloseKey(key);

    ASSERT_EQ(0u, RunRegsvr32(ServerPath(), true));

    for (const std::wstring& gone :
         {std::wstring(L"AppID\\") + kAppId, std::wstring(L"AppID\\corvane.DLL"), std::wstring(L"corvane.AtlHalvex.1"),
          std::wstring(L"corvane.AtlHalvex"), kClsidKey, std::wstring(L"TypeLib\\") + kLibId,
          std::wstring(L"Interface\\") + kIid, std::wstring(L"Interface\\") + kEventsIid}) {
        EXPECT_FALSE(KeyExists(gone)) << std::string(gone.begin(), gone.end());
    }
    EXPECT_TRUE(KeyExists(L"AppID"));
    EXPECT_TRUE(KeyExists(L"CLSID"));
    EXPECT_TRUE(KeyExists(L"TypeLib"));
    EXPECT_TRUE(KeyExists(L"Interface"));

    CLSID clsid;
    EXPECT_HRESULT_FAILED(CLSIDFromProgID(L"corvane.AtlHalvex", &clsid));
}

TEST_F(Registration, ModulePathWithASingleQuoteAndNonAsciiCharactersIsWrittenIntact)
{
    wchar_t temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
    const std::wstring folder = std::wstring(temp) + L"vellumo o'quote \u00FC\u97F3\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring copy = folder + L"corvane.dll";
    ASSERT_TRUE(CopyFileW(ServerPath().c_str(), copy.c_str(), FALSE));

    ASSERT_EQ(0u, RunRegsvr32(copy));
    ExpectClassEntries(copy);

    // COM loads the server from that folder.
    ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
    {
        ComPtr<IAtlHalvex> control;
        EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_AtlHalvex, nullptr, CLSCTX_INPROC_SERVER, IID_IAtlHalvex,
                                          control.PutVoid()));
        EXPECT_NE(nullptr, GetModuleHandleW(copy.c_str()));
    }
    CoFreeUnusedLibrariesEx(0, 0);
    CoUninitialize();

    EXPECT_EQ(0u, RunRegsvr32(copy, true));
    EXPECT_FALSE(KeyExists(kClsidKey));
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(Registration, ModulePathOfMaxPathCharactersFailsWithInsufficientBuffer)
{
    wchar_t temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
    std::wstring folder = std::wstring(temp) + L"vellumo-long";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::vector<std::wstring> created = {folder};
    while (folder.size() + 1 + 11 < MAX_PATH) {
        folder += L"\\" + std::wstring(std::min<size_t>(60, MAX_PATH - folder.size()), L'd');
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        created.push_back(folder);
    }
    const std::wstring copy = folder + L"\\corvane.dll";
    ASSERT_GE(copy.size(), static_cast<size_t>(MAX_PATH));
    ASSERT_TRUE(CopyFileW(ServerPath().c_str(), copy.c_str(), FALSE));

    HMODULE module = LoadLibraryW(copy.c_str());
    if (!module) {
        DeleteFileW(copy.c_str());
        for (auto it = created.rbegin(); it != created.rend(); ++it) RemoveDirectoryW(it->c_str());
        GTEST_SKIP() << "the system cannot load a library from a path this long";
    }
    using Export = HRESULT(STDAPICALLTYPE*)();
    auto reg = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    auto unreg = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
    ASSERT_NE(nullptr, reg);
    ASSERT_NE(nullptr, unreg);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), reg());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), unreg());
    FreeLibrary(module);
    // Nothing was written or removed: the registration from the build folder stands.
    EXPECT_EQ(ServerPath(), ReadString(kClsidKey + L"\\InprocServer32"));

    DeleteFileW(copy.c_str());
    for (auto it = created.rbegin(); it != created.rend(); ++it) RemoveDirectoryW(it->c_str());
}

}  // namespace
