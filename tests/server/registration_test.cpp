// Registration of corvane.dll through the system's regsvr32: the registry
// content, re-registration, removal and module paths out of the ordinary.
// Every test leaves the server registered from the build folder.
#include <gtest/gtest.h>

#include <algorithm>

#include "server_test_support.h"

namespace {

using namespace server_test;

constexpr wchar_t kClsid[] = L"{8E2DC57B-E2E2-4FBB-924A-F195CBD136F6}";
constexpr wchar_t kAppId[] = L"{1F29CAC4-6174-44F7-9395-BC167397D7A8}";
constexpr wchar_t kLibId[] = L"{A57C7E54-C2F2-443F-A3F7-96B5B5AE84D2}";

// Runs "regsvr32 /s [/u] path" and returns its exit code (~0 when it cannot
// start or runs past a minute).
DWORD RunRegsvr32(const std::wstring& dll, bool unregister = false)
{
    std::wstring cmd = std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" + dll + L"\"";
    return testing_support::RunCommand(cmd, 60000);
}

// The number of subkeys of an HKCR key, or -1 when it does not exist.
long Subkeys(const std::wstring& path)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    DWORD count = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return static_cast<long>(count);
}
bool KeyExists(const std::wstring& path) { return Subkeys(path) >= 0; }

// A string value of an HKCR key (null name: the default value).
std::wstring ReadString(const std::wstring& path, const wchar_t* name = nullptr)
{
    wchar_t data[1024];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return type == REG_SZ ? std::wstring(data) : L"<not a string>";
}

const std::wstring kClsidKey = std::wstring(L"CLSID\\") + kClsid;
const std::wstring kLibKey = std::wstring(L"TypeLib\\") + kLibId;

class Registration : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0u, RunRegsvr32(ServerPath())); }
    void TearDown() override
    {
        EXPECT_EQ(0u, RunRegsvr32(ServerPath()));
        for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
            DeleteFileW((*it + L"\\corvane.dll").c_str());
            RemoveDirectoryW(it->c_str());
        }
    }
    // A copy of the server in a new folder below the temporary folder; with
    // longPath, in subfolders until the module's path is MAX_PATH long or more.
    std::wstring CopyInto(const std::wstring& name, bool longPath = false)
    {
        wchar_t temp[MAX_PATH];
        std::wstring path = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + name;
        for (bool more = true; more;) {
            CreateDirectoryW(path.c_str(), nullptr);
            created_.push_back(path);
            more = longPath && path.size() + 12 < MAX_PATH;
            if (more) path += L"\\" + std::wstring(std::min<size_t>(60, MAX_PATH - path.size()), L'd');
        }
        path += L"\\corvane.dll";
        EXPECT_TRUE(CopyFileW(ServerPath().c_str(), path.c_str(), FALSE));
        return path;
    }

    std::vector<std::wstring> created_;
};

// Whether the other registry view holds the class (the other bitness's set,
// on 64-bit Windows): then the keys both views share stay on removal.
bool OtherSetRegistered()
{
#ifdef _WIN64
    const REGSAM other = KEY_WOW64_32KEY;
#else
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) return false;
    const REGSAM other = KEY_WOW64_64KEY;
#endif
    HKEY key;
    const std::wstring path = std::wstring(L"Software\\Classes\\CLSID\\") + kClsid + L"\\InprocServer32";
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | other, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// With registered false: none of the keys is left, but for the shared ones
// while the other set is registered.
void ExpectClassEntries(const std::wstring& module, bool registered = true)
{
    const std::wstring folder = module.substr(0, module.find_last_of(L'\\') + 1);
    const struct {
        std::wstring key;
        const wchar_t* value;
        std::wstring expected;
    } entries[] = {
        {std::wstring(L"AppID\\") + kAppId, nullptr, L"corvane"},
        {L"AppID\\corvane.DLL", L"AppID", kAppId},
        {L"corvane.AtlHalvex.1", nullptr, L"AtlHalvex Class"},
        {L"corvane.AtlHalvex.1\\CLSID", nullptr, kClsid},
        {L"corvane.AtlHalvex", nullptr, L"AtlHalvex Class"},
        {L"corvane.AtlHalvex\\CLSID", nullptr, kClsid},
        {L"corvane.AtlHalvex\\CurVer", nullptr, L"corvane.AtlHalvex.1"},
        {kClsidKey, nullptr, L"AtlHalvex Class"},
        {kClsidKey, L"AppID", kAppId},
        {kClsidKey + L"\\ProgID", nullptr, L"corvane.AtlHalvex.1"},
        {kClsidKey + L"\\VersionIndependentProgID", nullptr, L"corvane.AtlHalvex"},
        {kClsidKey + L"\\Programmable", nullptr, L""},
        {kClsidKey + L"\\InprocServer32", nullptr, module},
        {kClsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {kClsidKey + L"\\Control", nullptr, L""},
        {kClsidKey + L"\\ToolboxBitmap32", nullptr, module + L", 105"},
        {kClsidKey + L"\\MiscStatus", nullptr, L"0"},
        {kClsidKey + L"\\MiscStatus\\1", nullptr, L"131473"},
        {kClsidKey + L"\\TypeLib", nullptr, kLibId},
        {kClsidKey + L"\\Version", nullptr, L"1.0"},
        {kLibKey + (sizeof(void*) == 8 ? L"\\1.0\\0\\win64" : L"\\1.0\\0\\win32"), nullptr, module},
        {L"Interface\\{7FD7540F-CA29-4300-B0FB-1B925F946B27}\\TypeLib", nullptr, kLibId},
        {L"Interface\\{D819D4BB-E84A-4857-AA94-B89F45E076ED}\\TypeLib", nullptr, kLibId},
    };
    const bool shared = !registered && OtherSetRegistered();
    for (const auto& e : entries) {
        if (shared && e.key.rfind(kClsidKey, 0) != 0 && e.key.rfind(kLibKey, 0) != 0) {
            EXPECT_TRUE(KeyExists(e.key)) << e.key << " is the other set's too";
            continue;
        }
        // Keys without values are only checked to exist.
        const std::wstring actual = !registered || e.expected.empty() ? (KeyExists(e.key) ? L"" : L"<no key>")
                                                                       : ReadString(e.key, e.value);
        EXPECT_EQ(registered ? e.expected : L"<no key>", actual) << e.key << " " << (e.value ? e.value : L"");
    }
    if (!registered) return;
    // The type library's folder is its help directory.
    std::wstring helpDir = ReadString(kLibKey + L"\\1.0\\HELPDIR");
    if (!helpDir.empty() && helpDir.back() != L'\\') helpDir += L'\\';
    EXPECT_EQ(folder, helpDir);
}

TEST_F(Registration, WritesTheScriptsEntriesTheTypeLibraryAndTheToolboxBitmap)
{
    ExpectClassEntries(ServerPath());
    // The toolbox bitmap the registry names is in the module: 16 x 16, 16 colours.
    HMODULE module = LoadLibraryExW(ServerPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(105), MAKEINTRESOURCEW(2));  // RT_BITMAP
    ASSERT_NE(nullptr, res);
    const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, res)));
    EXPECT_EQ(16, header->biWidth);
    EXPECT_EQ(16, header->biHeight);
    EXPECT_EQ(4, header->biBitCount);
    FreeLibrary(module);
}

TEST_F(Registration, RegisteringAgainClearsStaleEntriesUnderTheClassKey)
{
    for (const wchar_t* stale : {L"\\Stale\\Deeper", L"\\Control\\Junk", L""})
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetKeyValueW(HKEY_CLASSES_ROOT, (kClsidKey + stale).c_str(), L"Leftover", REG_SZ, L"x", 4));
    ASSERT_EQ(0u, RunRegsvr32(ServerPath()));
    EXPECT_FALSE(KeyExists(kClsidKey + L"\\Control\\Junk"));
    EXPECT_EQ(L"<missing>", ReadString(kClsidKey, L"Leftover"));
    EXPECT_EQ(9, Subkeys(kClsidKey));
    ExpectClassEntries(ServerPath());
}

TEST_F(Registration, ModulePathWithASingleQuoteAndNonAsciiCharactersIsWrittenIntact)
{
    const std::wstring copy = CopyInto(L"vellumo o'quote \u00FC\u97F3");
    ASSERT_EQ(0u, RunRegsvr32(copy));
    ExpectClassEntries(copy);
    // COM loads the server from that folder.
    ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
    EXPECT_TRUE(NewControl<IAtlHalvex>());
    EXPECT_NE(nullptr, GetModuleHandleW(copy.c_str()));
    CoFreeUnusedLibrariesEx(0, 0);
    CoUninitialize();
    EXPECT_EQ(0u, RunRegsvr32(copy, true));
    ExpectClassEntries(copy, false);
}

// Removal stops at the first step that fails, here the type library's.
TEST_F(Registration, RemovalStopsWhereTheTypeLibraryCannotBeUnregistered)
{
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CLASSES_ROOT, kLibKey.c_str()));
    EXPECT_NE(0u, RunRegsvr32(ServerPath(), true));
    EXPECT_FALSE(KeyExists(kClsidKey));
    EXPECT_EQ(kAppId, ReadString(L"AppID\\corvane.DLL", L"AppID"));
}

TEST_F(Registration, ModulePathOfMaxPathCharactersFailsWithInsufficientBuffer)
{
    const std::wstring copy = CopyInto(L"vellumo-long", true);
    ASSERT_GE(copy.size(), static_cast<size_t>(MAX_PATH));
    HMODULE module = LoadLibraryW(copy.c_str());
    if (!module) GTEST_SKIP() << "the system cannot load a library from a path this long";
    for (const char* name : {"DllRegisterServer", "DllUnregisterServer"}) {
        auto run = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        ASSERT_NE(nullptr, run) << name;
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), run()) << name;
    }
    FreeLibrary(module);
    // Nothing was written or removed: the registration from the build folder stands.
    EXPECT_EQ(ServerPath(), ReadString(kClsidKey + L"\\InprocServer32"));
}

}  // namespace
