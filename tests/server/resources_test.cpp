// The resources of corvane.dll besides the type library and the scripts:
// toolbox image, string table and version block.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "server_test_support.h"

namespace {

using server_test::ServerPath;

class Resources : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExW(ServerPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(nullptr, module_);
    }
    void TearDown() override
    {
        if (module_) FreeLibrary(module_);
    }
    HMODULE module_ = nullptr;
};

TEST_F(Resources, ToolboxBitmapIsSixteenColoursSixteenSquare)
{
    HRSRC res = FindResourceW(module_, MAKEINTRESOURCEW(105), MAKEINTRESOURCEW(2));  // RT_BITMAP
    ASSERT_NE(nullptr, res);
    const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module_, res)));
    ASSERT_NE(nullptr, header);
    EXPECT_EQ(16, header->biWidth);
    EXPECT_EQ(16, header->biHeight);
    EXPECT_EQ(4, header->biBitCount);
}

TEST_F(Resources, StringTableNamesTheProject)
{
    wchar_t text[64] = {};
    ASSERT_GT(LoadStringW(module_, 100, text, 64), 0);
    EXPECT_STREQ(L"corvane", text);
}

TEST_F(Resources, VersionBlock)
{
    const std::wstring path = ServerPath();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionLS);

    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &len));
    ASSERT_GE(len, sizeof *translation);
    EXPECT_EQ(0x0804, translation->language);
    EXPECT_EQ(1200, translation->codePage);

    const struct {
        const wchar_t* name;
        const wchar_t* value;
    } strings[] = {
        {L"FileVersion", L"1.0.0.1"},
        {L"ProductVersion", L"1.0.0.1"},
        {L"InternalName", L"corvane.dll"},
        {L"OriginalFilename", L"corvane.dll"},
    };
    for (const auto& s : strings) {
        wchar_t* value = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\080404b0\\") + s.name;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &len)) << len;
        EXPECT_STREQ(s.value, value);
    }
}

}  // namespace
