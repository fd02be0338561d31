// Late-bound calls through IDispatch, which reads the registered type
// library: names and dispatch identifiers, and the parameters. (Paths, lengths
// and methods by name: the README's VBScript, run by installer_readme_vbscript.)
#include <gtest/gtest.h>

#include <utility>

#include "server_test_support.h"

namespace {

using namespace server_test;

class LateBound : public ControlTest<IDispatch> {
protected:
    HRESULT Invoke(DISPID id, WORD flags, VARIANT* result, VARIANT* arg = nullptr)
    {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params = {arg, flags == DISPATCH_PROPERTYPUT ? &named : nullptr, arg ? 1u : 0u,
                             flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
        if (result) VariantInit(result);
        return control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
    }
};

// Every name and identifier of the library: the type library test. Here the
// control's own IDispatch answers them from the registered library.
TEST_F(LateBound, NamesMapToTheirDispatchIdentifiers)
{
    for (const auto& m : {std::pair<const wchar_t*, DISPID>{L"Convert", 2}, {L"LoadFile", 11}, {L"WAV_Bits", 23}}) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(m.first)};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(S_OK, control_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
        EXPECT_EQ(m.second, id);
    }
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, control_->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, control_->GetIDsOfNames(IID_IOleObject, unknown, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Invoke(99, DISPATCH_METHOD, nullptr));
    UINT count = 0;
    EXPECT_EQ(S_OK, control_->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(DISP_E_BADINDEX, control_->GetTypeInfo(1, LOCALE_USER_DEFAULT, info.Put()));
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
