#include "media_content.h"

namespace vellumo::filters {

namespace {

// Member names in the interface's order; the dispatch identifier of each is
// its position plus one.
using Getter = HRESULT (STDMETHODCALLTYPE IAMMediaContent::*)(BSTR*);
struct Member {
    const wchar_t* name;
    Getter get;
};
const Member kMembers[] = {
    {L"AuthorName", &IAMMediaContent::get_AuthorName},
    {L"Title", &IAMMediaContent::get_Title},
    {L"Rating", &IAMMediaContent::get_Rating},
    {L"Description", &IAMMediaContent::get_Description},
    {L"Copyright", &IAMMediaContent::get_Copyright},
    {L"BaseURL", &IAMMediaContent::get_BaseURL},
    {L"LogoURL", &IAMMediaContent::get_LogoURL},
    {L"LogoIconURL", &IAMMediaContent::get_LogoIconURL},
    {L"WatermarkURL", &IAMMediaContent::get_WatermarkURL},
    {L"MoreInfoURL", &IAMMediaContent::get_MoreInfoURL},
    {L"MoreInfoBannerImage", &IAMMediaContent::get_MoreInfoBannerImage},
    {L"MoreInfoBannerURL", &IAMMediaContent::get_MoreInfoBannerURL},
    {L"MoreInfoText", &IAMMediaContent::get_MoreInfoText},
};
constexpr DISPID kMemberCount = static_cast<DISPID>(sizeof(kMembers) / sizeof(kMembers[0]));

}  // namespace

void MediaContentFace::SetTags(MediaTags tags)
{
    std::lock_guard<std::mutex> hold(lock_);
    tags_ = std::move(tags);
}

HRESULT MediaContentFace::Answer(std::wstring MediaTags::*field, BSTR* out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    std::lock_guard<std::mutex> hold(lock_);
    const std::wstring& text = tags_.*field;
    if (text.empty()) return VFW_E_NOT_FOUND;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT MediaContentFace::NotKept(BSTR* out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    return E_NOTIMPL;
}

HRESULT MediaContentFace::GetTypeInfoCount(UINT* count)
{
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT MediaContentFace::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (!info) return E_POINTER;
    *info = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT MediaContentFace::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (DISPID m = 0; m < kMemberCount; ++m) {
        if (names[0] && _wcsicmp(names[0], kMembers[m].name) == 0) ids[0] = m + 1;
    }
    // The members take no arguments: any argument name is unknown too.
    return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
}

HRESULT MediaContentFace::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO*, UINT*)
{
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (id < 1 || id > kMemberCount) return DISP_E_MEMBERNOTFOUND;
    if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
    if (params && params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
    BSTR text = nullptr;
    const HRESULT hr = (this->*kMembers[id - 1].get)(&text);
    if (FAILED(hr)) return hr;
    if (result) {
        VariantInit(result);
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = text;
    } else {
        SysFreeString(text);
    }
    return S_OK;
}

}  // namespace vellumo::filters
