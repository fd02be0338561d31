// IAMMediaContent for the splitter: the platform's interface for what a
// source says about its content, so that any DirectShow application (and
// the pack's own encoder and WAV writer) can read the file's title, author,
// copyright and comment. Identity and references go to the owning filter.
// The other members (ratings, URLs, banners) have nothing behind them in a
// RealMedia file and answer E_NOTIMPL.
#pragma once

#include <mutex>

#include "base/media_tags.h"

namespace vellumo::filters {

class MediaContentFace final : public IAMMediaContent {
public:
    explicit MediaContentFace(IUnknown* owner) : owner_(owner) {}

    // The tags of the file now open (empty when none is).
    void SetTags(MediaTags tags);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return owner_->QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

    // IDispatch: late-bound callers read the members by name (no type library).
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) override;

    // Absent fields answer VFW_E_NOT_FOUND.
    HRESULT STDMETHODCALLTYPE get_AuthorName(BSTR* out) override { return Answer(&MediaTags::author, out); }
    HRESULT STDMETHODCALLTYPE get_Title(BSTR* out) override { return Answer(&MediaTags::title, out); }
    HRESULT STDMETHODCALLTYPE get_Rating(BSTR* out) override { return NotKept(out); }
    HRESULT STDMETHODCALLTYPE get_Description(BSTR* out) override { return Answer(&MediaTags::description, out); }
    HRESULT STDMETHODCALLTYPE get_Copyright(BSTR* out) override { return Answer(&MediaTags::copyright, out); }
    HRESULT STDMETHODCALLTYPE get_BaseURL(BSTR* out) override { return NotKept(out); }
    HRESULT STDMETHODCALLTYPE get_LogoURL(BSTR* out) override { return NotKept(out); }
    HRESULT STDMETHODCALLTYPE get_LogoIconURL(BSTR* out) override { return NotKept(out); }
    HRESULT STDMETHODCALLTYPE get_WatermarkURL(BSTR* out) override { return NotKept(out); }
    HRESULT STDMETHODCALLTYPE get_MoreInfoURL(BSTR* out) override { return NotKept(out); }
    HRESULT STDMETHODCALLTYPE get_MoreInfoBannerImage(BSTR* out) override { return NotKept(out); }
    HRESULT STDMETHODCALLTYPE get_MoreInfoBannerURL(BSTR* out) override { return NotKept(out); }
    HRESULT STDMETHODCALLTYPE get_MoreInfoText(BSTR* out) override { return NotKept(out); }

private:
    HRESULT Answer(std::wstring MediaTags::*field, BSTR* out);
    static HRESULT NotKept(BSTR* out);

    IUnknown* const owner_;
    std::mutex lock_;
    MediaTags tags_;
};

}  // namespace vellumo::filters
