// The type library embedded in corvane.dll, read back with ITypeLib and
// ITypeInfo in a process whose ANSI code page is 936 (the library stores
// its Chinese help strings in that code page).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server_test_support.h"
#include "test_platform.h"

namespace {

using namespace server_test;
using testing_support::ComApartment;

class TypeLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(936u, GetACP()) << "run this program with LC_ALL=zh_CN.UTF-8";
        ASSERT_HRESULT_SUCCEEDED(apartment_.Result());
        ASSERT_EQ(S_OK, LoadTypeLibEx(ServerPath().c_str(), REGKIND_NONE, lib_.Put()));
    }

    ComApartment apartment_;
    ComPtr<ITypeLib> lib_;
};

struct Doc {
    std::wstring name;
    std::wstring help;
    std::wstring helpFile;
};

Doc DocOf(ITypeLib* lib, INT index)
{
    BSTR name = nullptr, help = nullptr, file = nullptr;
    Doc doc;
    if (SUCCEEDED(lib->GetDocumentation(index, &name, &help, nullptr, &file))) {
        doc = Doc{name ? name : L"", help ? help : L"", file ? file : L""};
    }
    SysFreeString(name);
    SysFreeString(help);
    SysFreeString(file);
    return doc;
}

Doc DocOf(ITypeInfo* info, MEMBERID id)
{
    BSTR name = nullptr, help = nullptr;
    Doc doc;
    if (SUCCEEDED(info->GetDocumentation(id, &name, &help, nullptr, nullptr))) {
        doc = Doc{name ? name : L"", help ? help : L"", L""};
    }
    SysFreeString(name);
    SysFreeString(help);
    return doc;
}

std::vector<std::wstring> NamesOf(ITypeInfo* info, MEMBERID id)
{
    BSTR names[8] = {};
    UINT count = 0;
    std::vector<std::wstring> out;
    if (SUCCEEDED(info->GetNames(id, names, 8, &count))) {
        for (UINT i = 0; i < count; ++i) {
            out.emplace_back(names[i]);
            SysFreeString(names[i]);
        }
    }
    return out;
}

TEST_F(TypeLibrary, LibraryIdentityAndHelpString)
{
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, lib_->GetLibAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(LIBID_corvaneLib, attr->guid));
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(0u, attr->lcid);
#ifdef _WIN64
    EXPECT_EQ(SYS_WIN64, attr->syskind);
#else
    EXPECT_EQ(SYS_WIN32, attr->syskind);
#endif
    lib_->ReleaseTLibAttr(attr);

    const Doc doc = DocOf(lib_.Get(), -1);
    EXPECT_EQ(L"corvaneLib", doc.name);
    EXPECT_EQ(L"corvane 1.0 \u7C7B\u578B\u5E93", doc.help);  // corvane 1.0 类型库
    EXPECT_EQ(L"", doc.helpFile);

    // IDispatch comes from the imported stdole2.
    ComPtr<ITypeInfo> events;
    ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(IID_IAtlHalvex, events.Put()));
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> dual;
    ASSERT_EQ(S_OK, events->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
    ASSERT_EQ(S_OK, events->GetRefTypeInfo(ref, dual.Put()));
    ASSERT_EQ(S_OK, dual->GetRefTypeOfImplType(0, &ref));
    ComPtr<ITypeInfo> base;
    ASSERT_EQ(S_OK, dual->GetRefTypeInfo(ref, base.Put()));
    ComPtr<ITypeLib> stdole;
    UINT index = 0;
    ASSERT_EQ(S_OK, base->GetContainingTypeLib(stdole.Put(), &index));
    EXPECT_EQ(L"stdole", DocOf(stdole.Get(), -1).name);
}

TEST_F(TypeLibrary, HoldsThreeTypesInOrder)
{
    ASSERT_EQ(3u, lib_->GetTypeInfoCount());
    const TYPEKIND kinds[] = {TKIND_DISPATCH, TKIND_COCLASS, TKIND_DISPATCH};
    const GUID* guids[] = {&DIID__IAtlHalvexEvents, &CLSID_AtlHalvex, &IID_IAtlHalvex};
    const wchar_t* names[] = {L"_IAtlHalvexEvents", L"AtlHalvex", L"IAtlHalvex"};
    const wchar_t* helps[] = {L"_IAtlHalvex\u4E8B\u4EF6\u63A5\u53E3", L"AtlHalvex Class",
                              L"IAtlHalvex \u63A5\u53E3"};
    // A dispinterface is dispatchable by nature; the dispatch side of the dual
    // interface carries its dual and nonextensible flags (oleautomation is on
    // its interface side, checked below).
    const WORD flags[] = {TYPEFLAG_FDISPATCHABLE, TYPEFLAG_FCANCREATE,
                          TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE};
    for (UINT i = 0; i < 3; ++i) {
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(S_OK, lib_->GetTypeInfo(i, info.Put()));
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_EQ(kinds[i], attr->typekind) << i;
        EXPECT_TRUE(IsEqualGUID(*guids[i], attr->guid)) << i;
        EXPECT_EQ(flags[i], attr->wTypeFlags) << i;
        info->ReleaseTypeAttr(attr);
        const Doc doc = DocOf(lib_.Get(), static_cast<INT>(i));
        EXPECT_EQ(names[i], doc.name);
        EXPECT_EQ(helps[i], doc.help);
    }
}

TEST_F(TypeLibrary, CoclassNamesItsDefaultAndSourceInterfaces)
{
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(CLSID_AtlHalvex, coclass.Put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attr));
    ASSERT_EQ(2, attr->cImplTypes);
    coclass->ReleaseTypeAttr(attr);
    const GUID* guids[] = {&IID_IAtlHalvex, &DIID__IAtlHalvexEvents};
    const INT implFlags[] = {IMPLTYPEFLAG_FDEFAULT, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE};
    for (UINT i = 0; i < 2; ++i) {
        INT f = -1;
        ASSERT_EQ(S_OK, coclass->GetImplTypeFlags(i, &f));
        EXPECT_EQ(implFlags[i], f);
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> itf;
        ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(i, &ref));
        ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(ref, itf.Put()));
        TYPEATTR* a = nullptr;
        ASSERT_EQ(S_OK, itf->GetTypeAttr(&a));
        EXPECT_TRUE(IsEqualGUID(*guids[i], a->guid));
        itf->ReleaseTypeAttr(a);
    }
}

struct Expected {
    const wchar_t* name;
    MEMBERID id;
    INVOKEKIND kind;
    std::vector<std::wstring> names;  // member name, then parameter names (reads and methods)
    VARTYPE value;                    // type of the result or the written value; VT_EMPTY for none
};

TEST_F(TypeLibrary, DualInterfaceMembers)
{
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(IID_IAtlHalvex, dispatch.Put()));
    HREFTYPE ref = 0;
    ASSERT_EQ(S_OK, dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
    ComPtr<ITypeInfo> vtable;
    ASSERT_EQ(S_OK, dispatch->GetRefTypeInfo(ref, vtable.Put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, vtable->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
    EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE,
              attr->wTypeFlags);
    EXPECT_EQ(28, attr->cFuncs);
    EXPECT_EQ(35u * sizeof(void*), attr->cbSizeVft);
    vtable->ReleaseTypeAttr(attr);

    const INVOKEKIND G = INVOKE_PROPERTYGET, P = INVOKE_PROPERTYPUT, M = INVOKE_FUNC;
    const Expected members[] = {
        {L"Convert", 2, M, {L"Convert"}, VT_EMPTY},
        {L"SaveFile", 3, G, {L"SaveFile", L"pVal"}, VT_BSTR},
        {L"SaveFile", 3, P, {L"SaveFile"}, VT_BSTR},
        {L"Play", 4, M, {L"Play"}, VT_EMPTY},
        {L"Stop", 6, M, {L"Stop"}, VT_EMPTY},
        {L"LoadFile", 11, G, {L"LoadFile", L"FileName", L"pVal"}, VT_I4},
        {L"TotalLength", 12, G, {L"TotalLength", L"pVal"}, VT_I4},
        {L"CurrentLength", 13, G, {L"CurrentLength", L"pVal"}, VT_I4},
        {L"Format", 14, G, {L"Format", L"pVal"}, VT_I2},
        {L"Format", 14, P, {L"Format"}, VT_I2},
        {L"MP3_Frequency", 15, G, {L"MP3_Frequency", L"pVal"}, VT_I2},
        {L"MP3_Frequency", 15, P, {L"MP3_Frequency"}, VT_I2},
        {L"MP3_Channels", 16, G, {L"MP3_Channels", L"pVal"}, VT_I2},
        {L"MP3_Channels", 16, P, {L"MP3_Channels"}, VT_I2},
        {L"MP3_Bitrate", 17, G, {L"MP3_Bitrate", L"pVal"}, VT_I2},
        {L"MP3_Bitrate", 17, P, {L"MP3_Bitrate"}, VT_I2},
        {L"MP3_VBR", 18, G, {L"MP3_VBR", L"pVal"}, VT_I4},
        {L"MP3_VBR", 18, P, {L"MP3_VBR"}, VT_I4},
        {L"MP3_VBR_MinBitrate", 19, G, {L"MP3_VBR_MinBitrate", L"pVal"}, VT_I2},
        {L"MP3_VBR_MinBitrate", 19, P, {L"MP3_VBR_MinBitrate"}, VT_I2},
        {L"MP3_VBR_MaxBitrate", 20, G, {L"MP3_VBR_MaxBitrate", L"pVal"}, VT_I2},
        {L"MP3_VBR_MaxBitrate", 20, P, {L"MP3_VBR_MaxBitrate"}, VT_I2},
        {L"WAV_Frequency", 21, G, {L"WAV_Frequency", L"pVal"}, VT_I2},
        {L"WAV_Frequency", 21, P, {L"WAV_Frequency"}, VT_I2},
        {L"WAV_Channels", 22, G, {L"WAV_Channels", L"pVal"}, VT_I2},
        {L"WAV_Channels", 22, P, {L"WAV_Channels"}, VT_I2},
        {L"WAV_Bits", 23, G, {L"WAV_Bits", L"pVal"}, VT_I2},
        {L"WAV_Bits", 23, P, {L"WAV_Bits"}, VT_I2},
    };
    for (UINT i = 0; i < 28; ++i) {
        const Expected& e = members[i];
        FUNCDESC* f = nullptr;
        ASSERT_EQ(S_OK, vtable->GetFuncDesc(i, &f));
        EXPECT_EQ(e.id, f->memid) << i;
        EXPECT_EQ(e.kind, f->invkind) << i;
        EXPECT_EQ(FUNC_PUREVIRTUAL, f->funckind) << i;
        EXPECT_EQ(CC_STDCALL, f->callconv) << i;
        EXPECT_EQ(VT_HRESULT, f->elemdescFunc.tdesc.vt) << i;
        EXPECT_EQ(0, f->wFuncFlags) << i;
        EXPECT_EQ(static_cast<short>((7 + i) * sizeof(void*)), f->oVft) << i;
        if (e.value != VT_EMPTY) {
            ASSERT_GE(f->cParams, 1) << i;
            const TYPEDESC& last = f->lprgelemdescParam[f->cParams - 1].tdesc;
            const VARTYPE vt = e.kind == G ? (last.vt == VT_PTR ? last.lptdesc->vt : VT_EMPTY) : last.vt;
            EXPECT_EQ(e.value, vt) << i;
        }
        EXPECT_EQ(e.kind == P ? 1 : static_cast<int>(e.names.size()) - 1, f->cParams) << i;
        vtable->ReleaseFuncDesc(f);
        if (e.kind != P) EXPECT_EQ(e.names, NamesOf(vtable.Get(), e.id)) << i;

        const std::wstring help = e.kind == M ? std::wstring(L"\u65B9\u6CD5") + e.name  // 方法Convert
                                              : std::wstring(L"\u5C5E\u6027 ") + e.name;  // 属性 SaveFile
        EXPECT_EQ(help, DocOf(vtable.Get(), e.id).help) << i;
        EXPECT_EQ(e.name, DocOf(vtable.Get(), e.id).name) << i;
    }
}

// Parameter names as a late-bound client sees them.
TEST_F(TypeLibrary, ParameterNames)
{
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(IID_IAtlHalvex, dispatch.Put()));
    // The dispatch view hides the result parameter.
    EXPECT_EQ((std::vector<std::wstring>{L"LoadFile", L"FileName"}), NamesOf(dispatch.Get(), 11));
    EXPECT_EQ((std::vector<std::wstring>{L"Format"}), NamesOf(dispatch.Get(), 14));
    EXPECT_EQ((std::vector<std::wstring>{L"Convert"}), NamesOf(dispatch.Get(), 2));

    ComPtr<ITypeInfo> events;
    ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(DIID__IAtlHalvexEvents, events.Put()));
    EXPECT_EQ((std::vector<std::wstring>{L"onError", L"errCode"}), NamesOf(events.Get(), 3));
    EXPECT_EQ((std::vector<std::wstring>{L"onStopped"}), NamesOf(events.Get(), 1));

}

TEST_F(TypeLibrary, EventInterfaceMembers)
{
    ComPtr<ITypeInfo> events;
    ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(DIID__IAtlHalvexEvents, events.Put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, events->GetTypeAttr(&attr));
    EXPECT_EQ(3, attr->cFuncs);
    EXPECT_EQ(0, attr->cVars);
    events->ReleaseTypeAttr(attr);
    const wchar_t* names[] = {L"onStopped", L"onFinished", L"onError"};
    for (UINT i = 0; i < 3; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(S_OK, events->GetFuncDesc(i, &f));
        EXPECT_EQ(static_cast<MEMBERID>(i + 1), f->memid);
        EXPECT_EQ(INVOKE_FUNC, f->invkind);
        EXPECT_EQ(FUNC_DISPATCH, f->funckind);
        EXPECT_EQ(0, f->wFuncFlags);
        EXPECT_EQ(i == 2 ? 1 : 0, f->cParams);
        if (i == 2) EXPECT_EQ(VT_I4, f->lprgelemdescParam[0].tdesc.vt);
        events->ReleaseFuncDesc(f);
        const Doc doc = DocOf(events.Get(), static_cast<MEMBERID>(i + 1));
        EXPECT_EQ(names[i], doc.name);
        EXPECT_EQ(std::wstring(L"\u65B9\u6CD5") + names[i], doc.help);
    }
}

}  // namespace
