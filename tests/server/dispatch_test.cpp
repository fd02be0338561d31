// Late-bound calls: every member of IAtlHalvex by name and by dispatch
// identifier, with the initial values of a new control.
#include <gtest/gtest.h>

#include "server_test_support.h"
#include "test_platform.h"

namespace {

using namespace server_test;
using testing_support::ComApartment;

class LateBound : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(apartment_.Result());
        ASSERT_HRESULT_SUCCEEDED(
            CoCreateInstance(CLSID_AtlHalvex, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, disp_.PutVoid()));
    }

    DISPID IdOf(const wchar_t* name)
    {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(S_OK, disp_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) << name;
        return id;
    }

    HRESULT Get(DISPID id, VARIANT* result, VARIANT* arg = nullptr)
    {
        DISPPARAMS params = {arg, nullptr, arg ? 1u : 0u, 0};
        VariantInit(result);
        return disp_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &params, result, nullptr,
                             nullptr);
    }

    HRESULT Put(DISPID id, VARIANT value)
    {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params = {&value, &named, 1, 1};
        return disp_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                             nullptr);
    }

    HRESULT Call(DISPID id)
    {
        DISPPARAMS params = {nullptr, nullptr, 0, 0};
        VARIANT result;
        VariantInit(&result);
        const HRESULT hr = disp_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                                         nullptr, nullptr);
        VariantClear(&result);
        return hr;
    }

    ComApartment apartment_;
    ComPtr<IDispatch> disp_;
};

struct Member {
    const wchar_t* name;
    DISPID id;
};

TEST_F(LateBound, NamesMapToTheirDispatchIdentifiers)
{
    const Member members[] = {
        {L"Convert", 2}, {L"SaveFile", 3}, {L"Play", 4}, {L"Stop", 6}, {L"LoadFile", 11},
        {L"TotalLength", 12}, {L"CurrentLength", 13}, {L"Format", 14}, {L"MP3_Frequency", 15},
        {L"MP3_Channels", 16}, {L"MP3_Bitrate", 17}, {L"MP3_VBR", 18}, {L"MP3_VBR_MinBitrate", 19},
        {L"MP3_VBR_MaxBitrate", 20}, {L"WAV_Frequency", 21}, {L"WAV_Channels", 22}, {L"WAV_Bits", 23},
    };
    for (const Member& m : members) EXPECT_EQ(m.id, IdOf(m.name)) << m.name;
}

TEST_F(LateBound, ParametersStartAtTheirInitialValuesAndKeepWhatIsWritten)
{
    struct Param {
        const wchar_t* name;
        VARTYPE type;
        LONG initial;
        LONG written;
    };
    const Param params[] = {
        {L"Format", VT_I2, 1, 0},          {L"MP3_Frequency", VT_I2, 0, 2},  {L"MP3_Channels", VT_I2, 0, 3},
        {L"MP3_Bitrate", VT_I2, 8, 13},    {L"MP3_VBR", VT_I4, 0, 1},        {L"MP3_VBR_MinBitrate", VT_I2, 3, 0},
        {L"MP3_VBR_MaxBitrate", VT_I2, 9, 12}, {L"WAV_Frequency", VT_I2, 0, 1}, {L"WAV_Channels", VT_I2, 2, 1},
        {L"WAV_Bits", VT_I2, 1, 0},
    };
    for (const Param& p : params) {
        const DISPID id = IdOf(p.name);
        VARIANT v;
        ASSERT_EQ(S_OK, Get(id, &v)) << p.name;
        EXPECT_EQ(p.type, v.vt) << p.name;
        EXPECT_EQ(p.initial, p.type == VT_I2 ? v.iVal : v.lVal) << p.name;

        // Written as a different integer type: the automation layer converts.
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_I4;
        value.lVal = p.written;
        ASSERT_EQ(S_OK, Put(id, value)) << p.name;
        ASSERT_EQ(S_OK, Get(id, &v)) << p.name;
        EXPECT_EQ(p.written, p.type == VT_I2 ? v.iVal : v.lVal) << p.name;
    }
}

TEST_F(LateBound, PathsLengthsAndMethods)
{
    VARIANT v;
    ASSERT_EQ(S_OK, Get(3, &v));
    EXPECT_EQ(VT_BSTR, v.vt);
    EXPECT_EQ(0u, SysStringLen(v.bstrVal));
    VariantClear(&v);

    VARIANT path;
    VariantInit(&path);
    path.vt = VT_BSTR;
    path.bstrVal = SysAllocString(L"C:\\out folder\\result.mp3");
    ASSERT_EQ(S_OK, Put(3, path));
    VariantClear(&path);
    ASSERT_EQ(S_OK, Get(3, &v));
    EXPECT_STREQ(L"C:\\out folder\\result.mp3", v.bstrVal);
    VariantClear(&v);

    for (DISPID id : {12, 13}) {
        ASSERT_EQ(S_OK, Get(id, &v));
        EXPECT_EQ(VT_I4, v.vt);
        EXPECT_EQ(0, v.lVal);
    }

    VARIANT file;
    VariantInit(&file);
    file.vt = VT_BSTR;
    file.bstrVal = SysAllocString(L"C:\\no such folder\\missing.rm");
    ASSERT_EQ(S_OK, Get(11, &v, &file));
    VariantClear(&file);
    EXPECT_EQ(VT_I4, v.vt);
    EXPECT_GE(v.lVal, 2);  // the reader is created; the RealMedia chain fails
    EXPECT_LE(v.lVal, 3);

    EXPECT_EQ(S_OK, Call(2));  // Convert
    EXPECT_EQ(S_OK, Call(4));  // Play
    EXPECT_EQ(S_OK, Call(6));  // Stop
}

TEST_F(LateBound, RefusesUnknownNamesAndInterfaces)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, disp_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, disp_->GetIDsOfNames(IID_IOleObject, names, 1, LOCALE_USER_DEFAULT, &id));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              disp_->Invoke(99, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    UINT count = 0;
    EXPECT_EQ(S_OK, disp_->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(DISP_E_BADINDEX, disp_->GetTypeInfo(1, LOCALE_USER_DEFAULT, info.Put()));
    ASSERT_EQ(S_OK, disp_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualIID(IID_IAtlHalvex, attr->guid));
    info->ReleaseTypeAttr(attr);
}

}  // namespace
