// Late-bound calls through IDispatch, which reads the registered type
// library: names and dispatch identifiers, and the parameters. (Paths, lengths
// and methods by name: the README's VBScript, run by installer_readme_vbscript.)
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "server_test_support.h"
#include "test_platform.h"

namespace {

using namespace server_test;

class LateBound : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(apartment_.Result());
        disp_ = NewControl<IDispatch>();
        ASSERT_TRUE(disp_);
    }
    HRESULT Invoke(DISPID id, WORD flags, VARIANT* result, VARIANT* arg = nullptr)
    {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params = {arg, flags == DISPATCH_PROPERTYPUT ? &named : nullptr, arg ? 1u : 0u,
                             flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
        if (result) VariantInit(result);
        return disp_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
    }

    testing_support::ComApartment apartment_;
    ComPtr<IDispatch> disp_;
};

TEST_F(LateBound, NamesMapToTheirDispatchIdentifiers)
{
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(S_OK, LoadRegTypeLib(LIBID_corvaneLib, 1, 0, 0, lib.Put()));
    ComPtr<ITypeInfo> events;
    ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(DIID__IAtlHalvexEvents, events.Put()));

    const std::pair<const wchar_t*, DISPID> members[] = {
        {L"Convert", 2},         {L"SaveFile", 3},           {L"Play", 4},
        {L"Stop", 6},            {L"LoadFile", 11},          {L"TotalLength", 12},
        {L"CurrentLength", 13},  {L"Format", 14},            {L"MP3_Frequency", 15},
        {L"MP3_Channels", 16},   {L"MP3_Bitrate", 17},       {L"MP3_VBR", 18},
        {L"MP3_VBR_MinBitrate", 19}, {L"MP3_VBR_MaxBitrate", 20}, {L"WAV_Frequency", 21},
        {L"WAV_Channels", 22},   {L"WAV_Bits", 23},
        // Events, as a host that connects handlers by name reads them.
        {L"onStopped", 1},       {L"onFinished", 2},         {L"onError", 3},
    };
    for (const auto& m : members) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(m.first)};
        MEMBERID id = DISPID_UNKNOWN;
        const bool event = std::wstring(m.first).rfind(L"on", 0) == 0;
        EXPECT_EQ(S_OK, event ? events->GetIDsOfNames(names, 1, &id)
                              : disp_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
        EXPECT_EQ(m.second, id) << m.first;
    }

    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, disp_->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, disp_->GetIDsOfNames(IID_IOleObject, unknown, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Invoke(99, DISPATCH_METHOD, nullptr));
    UINT count = 0;
    EXPECT_EQ(S_OK, disp_->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(DISP_E_BADINDEX, disp_->GetTypeInfo(1, LOCALE_USER_DEFAULT, info.Put()));
}

TEST_F(LateBound, ParametersStartAtTheirDefaultsAndKeepWhatIsWrittenUnchecked)
{
    const struct {
        DISPID id;
        VARTYPE type;
        LONG initial;
        LONG written;  // out of the tables: stored as it is
    } params[] = {
        {14, VT_I2, 1, 7},  {15, VT_I2, 0, 2},  {16, VT_I2, 0, 3}, {17, VT_I2, 8, 13}, {18, VT_I4, 0, -5},
        {19, VT_I2, 3, 0},  {20, VT_I2, 9, 12}, {21, VT_I2, 0, 1}, {22, VT_I2, 2, -2}, {23, VT_I2, 1, 0},
    };
    for (const auto& p : params) {
        SCOPED_TRACE(p.id);
        VARIANT v;
        ASSERT_EQ(S_OK, Invoke(p.id, DISPATCH_PROPERTYGET, &v));
        EXPECT_EQ(p.type, v.vt);
        EXPECT_EQ(p.initial, p.type == VT_I2 ? v.iVal : v.lVal);
        // Written as another integer type: the automation layer converts.
        VARIANT value;
        value.vt = VT_I4;
        value.lVal = p.written;
        ASSERT_EQ(S_OK, Invoke(p.id, DISPATCH_PROPERTYPUT, nullptr, &value));
        ASSERT_EQ(S_OK, Invoke(p.id, DISPATCH_PROPERTYGET, &v));
        EXPECT_EQ(p.written, p.type == VT_I2 ? v.iVal : v.lVal);
    }
}

}  // namespace
