// A PCM source for filter tests, built on the pack's framework: a sine of
// the given frequency for the given number of frames, delivered from its own
// thread with stream times, then end of stream. It answers IMediaSeeking on
// the filter and on its output pin (duration = the sine's length) and counts
// SetPositions calls.
#pragma once

#include <atomic>
#include <thread>

#include "base/base_filter.h"
#include "base/pins.h"

namespace filter_tests {

struct SineFormat {
    DWORD rate = 44100;
    WORD channels = 2;
    WORD bits = 16;
    double frequency = 1000.0;
    double amplitude = 0.5;  // of full scale
    LONGLONG frames = 88200;
};

class SineSource final : public vellumo::filters::BaseFilter, public IMediaSeeking {
public:
    explicit SineSource(const SineFormat& format);
    ~SineSource() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return BaseFilter::QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return BaseFilter::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return BaseFilter::Release(); }

    int PinCount() override { return 1; }
    vellumo::filters::BasePin* PinAt(int index) override;

    // IMediaSeeking
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

    LONGLONG Duration() const { return format_.frames * 10000000LL / format_.rate; }
    long SetPositionsCalls() const { return setPositionsCalls_.load(); }

private:
    class Pin;
    HRESULT QueryFilterInterface(REFIID iid, void** out) override;
    HRESULT OnStartStreaming() override;
    HRESULT OnStop() override;
    void Stream();

    const SineFormat format_;
    std::unique_ptr<Pin> pin_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<long> setPositionsCalls_{0};
};

}  // namespace filter_tests
