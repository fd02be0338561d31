// The 64-bit and the 32-bit sets (corvane.dll and the filter pack) registered
// side by side, each in its own registry view. Removing either leaves the
// other working for a client of its bitness (views_client, which checks that
// the DLLs serve it from inside its own process); removing both leaves
// nothing of ours. The 32-bit set is the one in VELLUMO_X86_BINDIR.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "filter_pack.h"
#include "test_platform.h"

namespace {

constexpr wchar_t kClsid[] = L"{8E2DC57B-E2E2-4FBB-924A-F195CBD136F6}";

std::wstring GuidText(REFGUID g)
{
    wchar_t text[40];
    StringFromGUID2(g, text, 40);
    return text;
}

// The folder of a set, with its trailing backslash: this program's for 64, the 32-bit bin folder for 32.
std::wstring SetFolder(int bits)
{
    if (bits == 32) {
        std::wstring unix = L"Z:" + testing_support::Widen(VELLUMO_X86_BINDIR) + L"\\";
        for (wchar_t& c : unix) c = c == L'/' ? L'\\' : c;
        return unix;
    }
    wchar_t path[MAX_PATH];
    std::wstring exe(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return exe.substr(0, exe.find_last_of(L'\\') + 1);
}

using testing_support::RunCommand;

// regsvr32 of both DLLs of a set (the 64-bit regsvr32 hands a 32-bit DLL to the 32-bit one).
DWORD Regsvr(int bits, bool unregister)
{
    DWORD failed = 0;
    for (const wchar_t* dll : {L"corvane.dll", L"vellumo_filters.dll"})
        failed |= RunCommand(std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u \"" : L"\"") + SetFolder(bits) + dll + L"\"");
    return failed;
}

// A client of that bitness converting a real file.
DWORD RunClient(int bits)
{
    const std::wstring source = SetFolder(64) + L"..\\test-media\\realmedia\\sine1000_ac3.rm";
    wchar_t temp[MAX_PATH];
    const std::wstring target = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"views client " + std::to_wstring(bits) + L".wav";
    DeleteFileW(target.c_str());
    const DWORD rc = RunCommand(L"\"" + SetFolder(bits) + L"views_client.exe\" \"" + source + L"\" \"" + target + L"\"");
    DeleteFileW(target.c_str());
    return rc;
}

REGSAM View(int bits) { return bits == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }

bool KeyIn(int bits, const std::wstring& path)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | View(bits), &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// The server a view registers for a class (empty when none).
std::wstring ServerIn(int bits, const std::wstring& clsid)
{
    wchar_t data[MAX_PATH * 2] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\CLSID\\" + clsid + L"\\InprocServer32").c_str(), 0,
                      KEY_READ | View(bits), &key) != ERROR_SUCCESS)
        return {};
    RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return data;
}

// With ours true: the view holds the set's control and whole pack; false:
// nothing of either (another program's registrations under the stand-ins'
// class identifiers aside).
void ExpectSetIn(int bits, bool ours)
{
    const auto server = [&](const wchar_t* dll) { return ours ? SetFolder(bits) + dll : std::wstring(); };
    EXPECT_EQ(server(L"corvane.dll"), ServerIn(bits, kClsid)) << bits;
    for (const CLSID& c : testing_support::PackFilterClasses())
        EXPECT_EQ(server(L"vellumo_filters.dll"), ServerIn(bits, GuidText(c))) << bits;
    // Under Wine the stand-ins replace the platform's filters of that bitness, which come back after.
    for (const CLSID& c : testing_support::PackStandInClasses()) {
        const std::wstring standIn = ServerIn(bits, GuidText(c));
        EXPECT_EQ(ours && testing_support::IsWine(), standIn == SetFolder(bits) + L"vellumo_filters.dll") << bits;
        EXPECT_NE(L"", standIn) << bits;
    }
    // The type library for this bitness, and the interfaces it describes.
    const std::wstring lib = L"Software\\Classes\\TypeLib\\{A57C7E54-C2F2-443F-A3F7-96B5B5AE84D2}\\1.0\\0\\win";
    EXPECT_EQ(ours, KeyIn(bits, lib + (bits == 32 ? L"32" : L"64"))) << bits;
    if (ours) EXPECT_TRUE(KeyIn(bits, L"Software\\Classes\\Interface\\{7FD7540F-CA29-4300-B0FB-1B925F946B27}\\TypeLib"));
    if (!ours) EXPECT_FALSE(KeyIn(bits, L"Software\\Vellumo")) << bits;
}

void ExpectSharedKeys(bool present)
{
    for (const wchar_t* key : {L"corvane.AtlHalvex", L"corvane.AtlHalvex.1", L"AppID\\{1F29CAC4-6174-44F7-9395-BC167397D7A8}",
                               L"AppID\\corvane.DLL", L"TypeLib\\{A57C7E54-C2F2-443F-A3F7-96B5B5AE84D2}\\1.0\\FLAGS"})
        // Read as a process sees them: Wine takes KEY_WOW64_32KEY to Wow6432Node even for a shared key.
        EXPECT_EQ(present, KeyIn(64, std::wstring(L"Software\\Classes\\") + key)) << testing_support::Narrow(key);
}

class BothSets : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, Regsvr(64, false));
        ASSERT_EQ(0u, Regsvr(32, false));
        ExpectSetIn(32, true);
        ExpectSetIn(64, true);
    }
    // The prefix as the tests found it: the control registered from this
    // program's folder (and the 32-bit one where it was), the pack in neither view.
    void TearDown() override
    {
        Regsvr(32, true);
        Regsvr(64, true);
        EXPECT_EQ(0u, RunCommand(L"regsvr32.exe /s \"" + SetFolder(64) + L"corvane.dll\""));
        if (had32_) EXPECT_EQ(0u, RunCommand(L"regsvr32.exe /s \"" + SetFolder(32) + L"corvane.dll\""));
    }
    const bool had32_ = ServerIn(32, kClsid) == SetFolder(32) + L"corvane.dll";
};

TEST_F(BothSets, RemovingThe32BitSetLeavesThe64BitOneWorking)
{
    ASSERT_EQ(0u, Regsvr(32, true));
    ExpectSetIn(32, false);
    ExpectSetIn(64, true);
    ExpectSharedKeys(true);
    EXPECT_EQ(0u, RunClient(64));
}

TEST_F(BothSets, RemovingThe64BitSetLeavesThe32BitOneWorking)
{
    ASSERT_EQ(0u, Regsvr(64, true));
    ExpectSetIn(64, false);
    ExpectSetIn(32, true);
    ExpectSharedKeys(true);
    EXPECT_EQ(0u, RunClient(32));
}

TEST_F(BothSets, RemovingBothLeavesNothingOfOurs)
{
    ASSERT_EQ(0u, Regsvr(64, true));
    ASSERT_EQ(0u, Regsvr(32, true));
    for (int bits : {32, 64}) {
        ExpectSetIn(bits, false);
        for (const wchar_t* key : {L"CLSID\\{8E2DC57B-E2E2-4FBB-924A-F195CBD136F6}", L"TypeLib\\{A57C7E54-C2F2-443F-A3F7-96B5B5AE84D2}",
                                   L"Interface\\{7FD7540F-CA29-4300-B0FB-1B925F946B27}", L"Interface\\{D819D4BB-E84A-4857-AA94-B89F45E076ED}"})
            EXPECT_FALSE(KeyIn(bits, std::wstring(L"Software\\Classes\\") + key)) << bits << " " << testing_support::Narrow(key);
    }
    ExpectSharedKeys(false);
}

}  // namespace
