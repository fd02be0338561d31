#include "type_info.h"

#include "corvane_idl.h"

namespace corvane::server {

ITypeInfo* TypeInfoHolder::Peek(LCID lcid)
{
    if (!info_) {
        ComPtr<ITypeLib> lib;
        if (FAILED(LoadRegTypeLib(LIBID_corvaneLib, 1, 0, lcid, lib.Put()))) return nullptr;
        if (FAILED(lib->GetTypeInfoOfGuid(guid_, info_.Put()))) return nullptr;
    }
    return info_.Get();
}

HRESULT TypeInfoHolder::Get(LCID lcid, ITypeInfo** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!info_) {
        ComPtr<ITypeLib> lib;
        HRESULT hr = LoadRegTypeLib(LIBID_corvaneLib, 1, 0, lcid, lib.Put());
        if (FAILED(hr)) return hr;
        hr = lib->GetTypeInfoOfGuid(guid_, info_.Put());
        if (FAILED(hr)) return hr;
    }
    *out = info_.Get();
    (*out)->AddRef();
    return S_OK;
}

}  // namespace corvane::server
