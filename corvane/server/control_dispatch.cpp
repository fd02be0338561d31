// AtlHalvexControl: automation and class information (IDispatch,
// ISupportErrorInfo, connection points, property pages, IProvideClassInfo2).
#include "control.h"

#include <new>

#include "halvex_dispids.h"

namespace corvane::server {

namespace {

// The member's name alone, in any case, as automation names go.
bool IsDamagedSeconds(LPOLESTR* names, UINT count)
{
    return count == 1 && names[0] && CompareStringOrdinal(names[0], -1, kDamagedSecondsName, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

// --- IDispatch -----------------------------------------------------------------

STDMETHODIMP AtlHalvexControl::GetTypeInfoCount(UINT* count)
{
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info)
{
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return dispatchInfo_.Get(lcid, info);
}

STDMETHODIMP AtlHalvexControl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids)
{
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids) return E_POINTER;
    if (IsDamagedSeconds(names, count)) {
        ids[0] = kDispDamagedSeconds;
        return S_OK;
    }
    ComPtr<ITypeInfo> info;
    HRESULT hr = dispatchInfo_.Get(lcid, info.Put());
    if (FAILED(hr)) return hr;
    return DispGetIDsOfNames(info.Get(), names, count, ids);
}

STDMETHODIMP AtlHalvexControl::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                      VARIANT* result, EXCEPINFO* exception, UINT* argError)
{
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (id == kDispDamagedSeconds) return InvokeDamagedSeconds(flags, params, result);
    ComPtr<ITypeInfo> info;
    HRESULT hr = dispatchInfo_.Get(lcid, info.Put());
    if (FAILED(hr)) return hr;
    // Sinks may release the control while a member runs: keep it alive.
    ComPtr<IUnknown> keep(outer_);
    return DispInvoke(static_cast<IAtlHalvex*>(this), info.Get(), id, flags, params, result, exception, argError);
}

HRESULT AtlHalvexControl::InvokeDamagedSeconds(WORD flags, DISPPARAMS* params, VARIANT* result)
{
    // A read-only property: got (as VB does, also as a method call), never put.
    if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
    if (params && (params->cArgs != 0 || params->cNamedArgs != 0)) return DISP_E_BADPARAMCOUNT;
    LONG seconds = 0;
    converter_.get_DamagedSeconds(&seconds);
    if (result) {
        VariantInit(result);
        result->vt = VT_I4;
        result->lVal = seconds;
    }
    return S_OK;
}

// --- ISupportErrorInfo, connection points, property pages ----------------------

STDMETHODIMP AtlHalvexControl::InterfaceSupportsErrorInfo(REFIID iid)
{
    return IsEqualIID(iid, IID_IAtlHalvex) ? S_OK : S_FALSE;
}

STDMETHODIMP AtlHalvexControl::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    if (!points) return E_POINTER;
    *points = new (std::nothrow) ConnectionPointEnum(&connectionPoint_, 0);
    return *points ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP AtlHalvexControl::FindConnectionPoint(REFIID iid, IConnectionPoint** point)
{
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(iid, DIID__IAtlHalvexEvents)) return CONNECT_E_NOCONNECTION;
    *point = &connectionPoint_;
    connectionPoint_.AddRef();
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::GetPages(CAUUID* pages)
{
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    return S_OK;
}

// --- IProvideClassInfo2 --------------------------------------------------------------

STDMETHODIMP AtlHalvexControl::GetClassInfo(ITypeInfo** info)
{
    if (!info) return E_POINTER;
    *info = nullptr;
    return classInfo_.Get(LOCALE_USER_DEFAULT, info);
}

STDMETHODIMP AtlHalvexControl::GetGUID(DWORD kind, GUID* guid)
{
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = DIID__IAtlHalvexEvents;
    return S_OK;
}

}  // namespace corvane::server
