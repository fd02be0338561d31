#include "halvex_dispatch.h"

#include <oleauto.h>

namespace vellumo {

namespace {

// A VARIANT that is cleared when it goes.
class Variant {
public:
    Variant() { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* Get() { return &value_; }
    HRESULT SetString(const std::wstring& text)
    {
        VariantClear(&value_);
        V_VT(&value_) = VT_BSTR;
        V_BSTR(&value_) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return V_BSTR(&value_) ? S_OK : E_OUTOFMEMORY;
    }

private:
    VARIANT value_;
};

}  // namespace

HRESULT HalvexDispatch::Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) const
{
    if (!dispatch_) return E_POINTER;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params ? params : &none, result, nullptr,
                             nullptr);
}

HRESULT HalvexDispatch::Put(DISPID id, VARIANT* value) const
{
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {value, &named, 1, 1};
    return Invoke(id, DISPATCH_PROPERTYPUT, &params, nullptr);
}

HRESULT HalvexDispatch::InvokeForLong(DISPID id, WORD flags, DISPPARAMS* params, LONG* value) const
{
    Variant result;
    HRESULT hr = Invoke(id, flags, params, result.Get());
    if (FAILED(hr)) return hr;
    hr = VariantChangeType(result.Get(), result.Get(), 0, VT_I4);
    if (FAILED(hr)) return hr;
    *value = V_I4(result.Get());
    return S_OK;
}

HRESULT HalvexDispatch::GetLong(DISPID id, LONG* value) const
{
    return InvokeForLong(id, DISPATCH_PROPERTYGET, nullptr, value);
}

HRESULT HalvexDispatch::PutShort(DISPID id, SHORT value) const
{
    Variant v;
    V_VT(v.Get()) = VT_I2;
    V_I2(v.Get()) = value;
    return Put(id, v.Get());
}

HRESULT HalvexDispatch::PutLong(DISPID id, LONG value) const
{
    Variant v;
    V_VT(v.Get()) = VT_I4;
    V_I4(v.Get()) = value;
    return Put(id, v.Get());
}

HRESULT HalvexDispatch::PutString(DISPID id, const std::wstring& value) const
{
    Variant v;
    const HRESULT hr = v.SetString(value);
    if (FAILED(hr)) return hr;
    return Put(id, v.Get());
}

HRESULT HalvexDispatch::GetString(DISPID id, std::wstring* value) const
{
    Variant result;
    HRESULT hr = Invoke(id, DISPATCH_PROPERTYGET, nullptr, result.Get());
    if (FAILED(hr)) return hr;
    hr = VariantChangeType(result.Get(), result.Get(), 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    BSTR text = V_BSTR(result.Get());
    value->assign(text ? text : L"", text ? SysStringLen(text) : 0);
    return S_OK;
}

HRESULT HalvexDispatch::GetLongWithString(DISPID id, const std::wstring& argument, LONG* value) const
{
    Variant arg;
    const HRESULT hr = arg.SetString(argument);
    if (FAILED(hr)) return hr;
    DISPPARAMS params = {arg.Get(), nullptr, 1, 0};
    return InvokeForLong(id, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &params, value);
}

HRESULT HalvexDispatch::Call(DISPID id) const
{
    return Invoke(id, DISPATCH_METHOD, nullptr, nullptr);
}

}  // namespace vellumo
