// The type library embedded in corvane.dll: its types, functions and vtable
// layout, and its Chinese help strings.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "server_test_support.h"

namespace {

using namespace server_test;
using testing_support::Narrow;

// The name of a type or member, or its help string.
std::string Doc(ITypeInfo* info, MEMBERID id, bool help = false)
{
    BSTR text = nullptr;
    info->GetDocumentation(id, help ? nullptr : &text, help ? &text : nullptr, nullptr, nullptr);
    std::string out = Narrow(text ? text : L"");
    SysFreeString(text);
    return help ? " \"" + out + "\"" : out;
}

std::string TypeText(const TYPEDESC& t)
{
    if (t.vt == VT_PTR) return TypeText(*t.lptdesc) + "*";
    for (const auto& n : {std::pair<VARTYPE, const char*>{VT_HRESULT, "HRESULT"}, {VT_BSTR, "BSTR"}, {VT_I2, "short"}, {VT_I4, "long"}})
        if (t.vt == n.first) return n.second;
    return "vt" + std::to_string(t.vt);
}

std::string Flags(unsigned value, std::initializer_list<std::pair<unsigned, const char*>> names)
{
    std::string text;
    for (const auto& n : names) {
        if (value & n.first) text += (text.empty() ? "" : ", ") + std::string(n.second);
        value &= ~n.first;
    }
    return value ? text + " other " + std::to_string(value) : text;
}

// A vtable offset in pointer-sized slots ("@7"; "@7+" when not a multiple of
// the pointer size).
std::string Slot(size_t offset) { return "@" + std::to_string(offset / sizeof(void*)) + (offset % sizeof(void*) ? "+" : ""); }

// One line per type, implemented interface and function, as an early-binding
// client (a C++ or VB6 compiler, an object browser) reads them, with their help
// strings. GetNames answers by DISPID, so a put shows the parameter names (and
// the help string) of its get.
void Describe(ITypeInfo* info, std::vector<std::string>& lines)
{
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    static const char* kinds[] = {"enum", "record", "module", "interface", "dispinterface", "coclass", "alias", "union"};
    lines.push_back(std::string(kinds[attr->typekind]) + " " + Doc(info, MEMBERID_NIL) + " [" +
                    Flags(attr->wTypeFlags, {{TYPEFLAG_FCANCREATE, "cancreate"}, {TYPEFLAG_FCONTROL, "control"},
                                             {TYPEFLAG_FDUAL, "dual"}, {TYPEFLAG_FNONEXTENSIBLE, "nonextensible"},
                                             {TYPEFLAG_FOLEAUTOMATION, "oleautomation"},
                                             {TYPEFLAG_FDISPATCHABLE, "dispatchable"}}) +
                    "] funcs " + std::to_string(attr->cFuncs) + " vars " + std::to_string(attr->cVars) + " vtable " +
                    Slot(attr->cbSizeVft) + Doc(info, MEMBERID_NIL, true));
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        HREFTYPE ref = 0;
        int flags = 0;
        ComPtr<ITypeInfo> base;
        info->GetImplTypeFlags(i, &flags);
        bool found = SUCCEEDED(info->GetRefTypeOfImplType(i, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, base.Put()));
        lines.push_back("implements [" + Flags(flags, {{IMPLTYPEFLAG_FDEFAULT, "default"}, {IMPLTYPEFLAG_FSOURCE, "source"}}) +
                        "] " + (found ? Doc(base.Get(), MEMBERID_NIL) : "(unresolved)"));
    }
    // The dual interface's dispatch half repeats its vtable half as IDispatch sees it.
    const bool functions = attr->typekind != TKIND_DISPATCH || !(attr->wTypeFlags & TYPEFLAG_FDUAL);
    for (UINT i = 0; functions && i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(S_OK, info->GetFuncDesc(i, &f));
        BSTR names[8] = {};
        UINT count = 0;
        info->GetNames(f->memid, names, 8, &count);
        std::string line = "[id " + std::to_string(f->memid) + "] " +
                           (f->invkind == INVOKE_PROPERTYGET ? "propget " : f->invkind == INVOKE_PROPERTYPUT ? "propput " : "") +
                           TypeText(f->elemdescFunc.tdesc) + " " + Narrow(count ? names[0] : L"") + "(";
        for (SHORT p = 0; p < f->cParams; ++p) {
            const ELEMDESC& e = f->lprgelemdescParam[p];
            line += (p ? ", [" : "[") +
                    Flags(e.paramdesc.wParamFlags, {{PARAMFLAG_FIN, "in"}, {PARAMFLAG_FOUT, "out"}, {PARAMFLAG_FRETVAL, "retval"}}) +
                    "] " + TypeText(e.tdesc) + (p + 1u < count ? " " + Narrow(names[p + 1]) : "");
        }
        line += ")";
        if (f->funckind == FUNC_PUREVIRTUAL)
            line += " " + Slot(f->oVft);
        else if (f->funckind != FUNC_DISPATCH)
            line += " funckind " + std::to_string(f->funckind);
        if (f->callconv != CC_STDCALL || f->cParamsOpt || f->wFuncFlags)
            line += " callconv " + std::to_string(f->callconv) + " optional " + std::to_string(f->cParamsOpt) +
                    " flags " + std::to_string(f->wFuncFlags);
        for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
        info->ReleaseFuncDesc(f);
        lines.push_back(line + Doc(info, f->memid, true));
    }
    info->ReleaseTypeAttr(attr);
}

// Read in a process whose ANSI code page is 936, the code page the library
// stores its Chinese help strings in.
TEST(TypeLibrary, LayoutAndHelpStringsAsClientsReadThem)
{
    ASSERT_EQ(936u, GetACP()) << "run this program with LC_ALL=zh_CN.UTF-8";
    testing_support::ComApartment apartment;
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(S_OK, LoadTypeLibEx(ServerPath().c_str(), REGKIND_NONE, lib.Put()));
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, lib->GetLibAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(LIBID_corvaneLib, attr->guid));
    EXPECT_EQ(0u, attr->lcid);
    EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, attr->syskind);
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    lib->ReleaseTLibAttr(attr);
    BSTR name = nullptr, help = nullptr;
    ASSERT_EQ(S_OK, lib->GetDocumentation(-1, &name, &help, nullptr, nullptr));
    EXPECT_STREQ(L"corvaneLib", name);
    EXPECT_STREQ(L"corvane 1.0 \u7C7B\u578B\u5E93", help);  // corvane 1.0 类型库
    SysFreeString(name);
    SysFreeString(help);

    std::vector<std::string> actual;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> info, vtable;
        ASSERT_EQ(S_OK, lib->GetTypeInfo(i, info.Put()));
        Describe(info.Get(), actual);
        HREFTYPE ref = 0;  // the vtable half of a dual interface, which C++ clients compile against
        if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, vtable.Put())))
            Describe(vtable.Get(), actual);
    }
    const std::vector<std::string> expected = {
        "dispinterface IAtlHalvex [dual, nonextensible, dispatchable] funcs 35 vars 0 vtable @7 \"IAtlHalvex 接口\"",
        "implements [] IDispatch",
        "interface IAtlHalvex [dual, nonextensible, oleautomation, dispatchable] funcs 28 vars 0 vtable @35 \"IAtlHalvex 接口\"",
        "implements [] IDispatch",
        "[id 2] HRESULT Convert() @7 \"方法Convert\"",
        "[id 3] propget HRESULT SaveFile([out, retval] BSTR* pVal) @8 \"属性 SaveFile\"",
        "[id 3] propput HRESULT SaveFile([in] BSTR pVal) @9 \"属性 SaveFile\"",
        "[id 4] HRESULT Play() @10 \"方法Play\"",
        "[id 6] HRESULT Stop() @11 \"方法Stop\"",
        "[id 11] propget HRESULT LoadFile([in] BSTR FileName, [out, retval] long* pVal) @12 \"属性 LoadFile\"",
        "[id 12] propget HRESULT TotalLength([out, retval] long* pVal) @13 \"属性 TotalLength\"",
        "[id 13] propget HRESULT CurrentLength([out, retval] long* pVal) @14 \"属性 CurrentLength\"",
        "[id 14] propget HRESULT Format([out, retval] short* pVal) @15 \"属性 Format\"",
        "[id 14] propput HRESULT Format([in] short pVal) @16 \"属性 Format\"",
        "[id 15] propget HRESULT MP3_Frequency([out, retval] short* pVal) @17 \"属性 MP3_Frequency\"",
        "[id 15] propput HRESULT MP3_Frequency([in] short pVal) @18 \"属性 MP3_Frequency\"",
        "[id 16] propget HRESULT MP3_Channels([out, retval] short* pVal) @19 \"属性 MP3_Channels\"",
        "[id 16] propput HRESULT MP3_Channels([in] short pVal) @20 \"属性 MP3_Channels\"",
        "[id 17] propget HRESULT MP3_Bitrate([out, retval] short* pVal) @21 \"属性 MP3_Bitrate\"",
        "[id 17] propput HRESULT MP3_Bitrate([in] short pVal) @22 \"属性 MP3_Bitrate\"",
        "[id 18] propget HRESULT MP3_VBR([out, retval] long* pVal) @23 \"属性 MP3_VBR\"",
        "[id 18] propput HRESULT MP3_VBR([in] long pVal) @24 \"属性 MP3_VBR\"",
        "[id 19] propget HRESULT MP3_VBR_MinBitrate([out, retval] short* pVal) @25 \"属性 MP3_VBR_MinBitrate\"",
        "[id 19] propput HRESULT MP3_VBR_MinBitrate([in] short pVal) @26 \"属性 MP3_VBR_MinBitrate\"",
        "[id 20] propget HRESULT MP3_VBR_MaxBitrate([out, retval] short* pVal) @27 \"属性 MP3_VBR_MaxBitrate\"",
        "[id 20] propput HRESULT MP3_VBR_MaxBitrate([in] short pVal) @28 \"属性 MP3_VBR_MaxBitrate\"",
        "[id 21] propget HRESULT WAV_Frequency([out, retval] short* pVal) @29 \"属性 WAV_Frequency\"",
        "[id 21] propput HRESULT WAV_Frequency([in] short pVal) @30 \"属性 WAV_Frequency\"",
        "[id 22] propget HRESULT WAV_Channels([out, retval] short* pVal) @31 \"属性 WAV_Channels\"",
        "[id 22] propput HRESULT WAV_Channels([in] short pVal) @32 \"属性 WAV_Channels\"",
        "[id 23] propget HRESULT WAV_Bits([out, retval] short* pVal) @33 \"属性 WAV_Bits\"",
        "[id 23] propput HRESULT WAV_Bits([in] short pVal) @34 \"属性 WAV_Bits\"",
        "dispinterface _IAtlHalvexEvents [dispatchable] funcs 3 vars 0 vtable @7 \"_IAtlHalvex事件接口\"",
        "implements [] IDispatch",
        "[id 1] HRESULT onStopped() \"方法onStopped\"",
        "[id 2] HRESULT onFinished() \"方法onFinished\"",
        "[id 3] HRESULT onError([in] long errCode) \"方法onError\"",
        "coclass AtlHalvex [cancreate] funcs 0 vars 0 vtable @0 \"AtlHalvex Class\"",
        "implements [default] IAtlHalvex",
        "implements [default, source] _IAtlHalvexEvents",
    };
    EXPECT_EQ(expected, actual);
}

}  // namespace
