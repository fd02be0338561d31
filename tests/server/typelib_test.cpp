// The type library embedded in corvane.dll, read in a process whose ANSI code
// page is 936: the library stores its Chinese help strings in that code page,
// and they must come back as the same text.
#include <gtest/gtest.h>

#include "server_test_support.h"
#include "test_platform.h"

namespace {

using namespace server_test;

std::wstring HelpOf(ITypeInfo* info, MEMBERID id)
{
    BSTR help = nullptr;
    std::wstring text = SUCCEEDED(info->GetDocumentation(id, nullptr, &help, nullptr, nullptr)) && help ? help : L"";
    SysFreeString(help);
    return text;
}

TEST(TypeLibrary, HelpStringsReadBackInTheirCodePage)
{
    ASSERT_EQ(936u, GetACP()) << "run this program with LC_ALL=zh_CN.UTF-8";
    testing_support::ComApartment apartment;
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(S_OK, LoadTypeLibEx(ServerPath().c_str(), REGKIND_NONE, lib.Put()));
    BSTR help = nullptr;
    ASSERT_EQ(S_OK, lib->GetDocumentation(-1, nullptr, &help, nullptr, nullptr));
    EXPECT_STREQ(L"corvane 1.0 \u7C7B\u578B\u5E93", help);  // corvane 1.0 类型库
    SysFreeString(help);

    const struct {
        const IID* type;
        MEMBERID id;  // MEMBERID_NIL: the type itself
        const wchar_t* help;
    } cases[] = {
        {&IID_IAtlHalvex, MEMBERID_NIL, L"IAtlHalvex \u63A5\u53E3"},                // IAtlHalvex 接口
        {&DIID__IAtlHalvexEvents, MEMBERID_NIL, L"_IAtlHalvex\u4E8B\u4EF6\u63A5\u53E3"},  // _IAtlHalvex事件接口
        {&CLSID_AtlHalvex, MEMBERID_NIL, L"AtlHalvex Class"},
        {&IID_IAtlHalvex, 2, L"\u65B9\u6CD5Convert"},                              // 方法Convert
        {&IID_IAtlHalvex, 3, L"\u5C5E\u6027 SaveFile"},                            // 属性 SaveFile
        {&IID_IAtlHalvex, 23, L"\u5C5E\u6027 WAV_Bits"},
        {&DIID__IAtlHalvexEvents, 3, L"\u65B9\u6CD5onError"},
    };
    for (const auto& c : cases) {
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(*c.type, info.Put()));
        EXPECT_EQ(c.help, HelpOf(info.Get(), c.id)) << c.id;
    }
}

}  // namespace
