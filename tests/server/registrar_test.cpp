// The registration script processor on its own, under a private key of
// HKEY_CURRENT_USER: the script syntax, replacements and the removal rules.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "registrar.h"

namespace {

using corvane::server::Registrar;

const wchar_t kRoot[] = L"Software\\VellumoRegistrarTest";

std::wstring Path(const std::wstring& sub) { return std::wstring(kRoot) + (sub.empty() ? L"" : L"\\" + sub); }

bool Exists(const std::wstring& sub)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Path(sub).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::wstring Read(const std::wstring& sub, const wchar_t* name = nullptr)
{
    wchar_t data[512];
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, Path(sub).c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return data;
}

// A key of someone else's, with a value.
void Plant(const std::wstring& sub)
{
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, Path(sub).c_str(), L"Planted", REG_SZ, L"x", 4));
}

class RegistrarScript : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kRoot); Plant(L""); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kRoot); RegDeleteKeyW(HKEY_CURRENT_USER, kRoot); }
};

// Braces may share a line with their key: the processor reads words
// separated by any white space.
const wchar_t kScript[] = LR"(HKCU { NoRemove Software { NoRemove VellumoRegistrarTest {
    'Plain Key' = s 'value with ''quotes''' { val Named = s '%MODULE%'  val Number = d '42'  Child = s 'child' }
    '{' = s 'quoted: a name'
    ForceRemove Forced = s 'forced' { Inner }
    TypeLib = s 'reserved name'
    Interface { Ours = s 'x' }
    Other
    {
        Ours
    }
    NoRemove Kept { val Mine = s '100%%' }
} } })";

TEST_F(RegistrarScript, RegistersKeysValuesAndReplacementsAndForceRemoveClearsStaleSubkeys)
{
    Registrar registrar;
    registrar.AddReplacement(L"MODULE", L"C:\\it''s here\\corvane.dll");
    Plant(L"Forced\\Stale\\Deeper");
    Plant(L"Plain Key\\Foreign");
    ASSERT_EQ(S_OK, registrar.Register(kScript));
    EXPECT_EQ(L"value with 'quotes'", Read(L"Plain Key"));
    EXPECT_EQ(L"C:\\it's here\\corvane.dll", Read(L"Plain Key", L"Named"));
    DWORD number = 0, size = sizeof number;
    EXPECT_EQ(ERROR_SUCCESS,
              RegGetValueW(HKEY_CURRENT_USER, Path(L"Plain Key").c_str(), L"Number", RRF_RT_REG_DWORD, nullptr, &number, &size));
    EXPECT_EQ(42u, number);
    EXPECT_EQ(L"child", Read(L"Plain Key\\Child"));
    EXPECT_EQ(L"quoted: a name", Read(L"{"));
    EXPECT_EQ(L"forced", Read(L"Forced"));
    EXPECT_TRUE(Exists(L"Forced\\Inner"));
    EXPECT_FALSE(Exists(L"Forced\\Stale"));
    EXPECT_TRUE(Exists(L"Plain Key\\Foreign"));  // not marked: left as it is
    EXPECT_EQ(L"100%", Read(L"Kept", L"Mine"));
}

TEST_F(RegistrarScript, RemovalRules)
{
    Registrar registrar;
    registrar.AddReplacement(L"MODULE", L"m");
    ASSERT_EQ(S_OK, registrar.Register(kScript));
    Plant(L"Plain Key\\Foreign");     // ordinary key with a foreign subkey: deleted with it
    Plant(L"Interface\\Foreign");     // reserved name with a foreign subkey: stays
    Plant(L"Kept\\Foreign");          // NoRemove: stays
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, Path(L"Kept").c_str(), L"Theirs", REG_SZ, L"t", 4));

    ASSERT_EQ(S_OK, registrar.Unregister(kScript));
    EXPECT_FALSE(Exists(L"Plain Key"));
    EXPECT_FALSE(Exists(L"Forced"));
    EXPECT_FALSE(Exists(L"{"));
    EXPECT_FALSE(Exists(L"TypeLib"));  // reserved, but nothing foreign left under it
    EXPECT_TRUE(Exists(L"Interface\\Foreign"));
    EXPECT_FALSE(Exists(L"Interface\\Ours"));
    EXPECT_FALSE(Exists(L"Other"));
    EXPECT_TRUE(Exists(L"Kept\\Foreign"));
    EXPECT_EQ(L"<missing>", Read(L"Kept", L"Mine"));
    EXPECT_EQ(L"t", Read(L"Kept", L"Theirs"));
    EXPECT_TRUE(Exists(L""));

    // Nothing left to remove is not an error.
    EXPECT_EQ(S_OK, registrar.Unregister(kScript));
}

TEST_F(RegistrarScript, RefusesMalformedScripts)
{
    Registrar registrar;
    registrar.AddReplacement(L"MODULE", L"m");
    const wchar_t* bad[] = {
        L"HKCR { Key = s 'unterminated }",
        L"HKXX { Key }",
        L"HKCU { Key = q 'x' }",
        L"HKCU { Key { val = s 'x' }",
        L"HKCU { val Top = s 'x' }",
        L"HKCU { Key = s '%UNKNOWN%' }",
        L"HKCU { Key = s '%MODULE' }",
        // Scripts that end inside an entry, and a key named by a bare brace or
        // equals sign, followed by a script that would be sound on its own.
        L"HKCU { NoRemove",
        L"HKCU { Key { val",
        L"HKCU { = HKCU { Software }",
        L"HKCU { { HKCU { Software }",
    };
    for (const wchar_t* script : bad) EXPECT_EQ(E_INVALIDARG, registrar.Register(script)) << script;
    EXPECT_EQ(S_OK, registrar.Register(L""));
}

}  // namespace
