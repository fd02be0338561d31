// IMediaSeeking of the RealMedia splitter, for one COM object (the filter or
// one of its output pins): identity and references go to that object, the
// answers come from the filter.
#pragma once

#include "dshow_uuids.h"

namespace vellumo::filters {

class RealSplitter;

class SplitterSeeking final : public IMediaSeeking {
public:
    SplitterSeeking(IUnknown* owner, RealSplitter& splitter) : owner_(owner), splitter_(splitter) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return owner_->QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* caps) override;
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* caps) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) override;
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                                const GUID* sourceFormat) override;
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                           DWORD stopFlags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double* rate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) override;

private:
    IUnknown* const owner_;
    RealSplitter& splitter_;
};

}  // namespace vellumo::filters
