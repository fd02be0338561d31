// WAV writer: audio in, a byte stream for the File Writer out (sample times =
// byte offsets). Wave output (mode 1) wraps the audio in a RIFF/WAVE file and
// rewrites the header with the sizes written so far at the end of the stream
// and whenever the graph leaves the running state (a graph pauses every
// filter before it stops any, downstream first, so the File Writer still
// takes the header then); while not running, each write is followed by the
// header, so a stopped or cancelled conversion leaves a whole file. Audio
// that a RIFF header cannot describe (past 4 GiB) is written as RF64 when the
// source's duration announces it; a run that passes the limit unannounced
// fails before it, with ERROR_FILE_TOO_LARGE. After a
// seek the audio goes on at the byte position of the new segment. Mode 0
// passes the (MP3) bytes through unchanged, placing each MP3 sample at the
// byte offset its media time gives. IWavDestControl::GetTime reports the
// stream time written so far in both modes.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "base/transform_filter.h"
#include "filter_interfaces.h"

namespace vellumo::filters {

class WavDestFilter final : public TransformFilter, public IWavDestControl, public IWavDestOutput {
public:
    WavDestFilter();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return BaseFilter::QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return BaseFilter::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return BaseFilter::Release(); }

    // IWavDestControl
    HRESULT STDMETHODCALLTYPE GetTime(LONGLONG* time) override;
    HRESULT STDMETHODCALLTYPE SetWaveOutput(LONG waveOutput) override;
    // IWavDestOutput
    HRESULT STDMETHODCALLTYPE GetOutputLength(ULONGLONG* bytes) override;
    HRESULT STDMETHODCALLTYPE SetRiffSizeLimit(ULONGLONG bytes) override;

    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;

private:
    HRESULT QueryFilterInterface(REFIID iid, void** out) override;
    HRESULT CheckInputType(const AM_MEDIA_TYPE& mt) override;
    HRESULT GetOutputType(int index, MediaType& out) override;
    HRESULT CheckOutputType(const AM_MEDIA_TYPE& mt) override;
    HRESULT StartStreaming() override;
    HRESULT Process(IMediaSample* sample) override;
    HRESULT Drain() override;
    void Discard() override;
    void OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // The header (RIFF, or RF64 for a run that needs it) for the current
    // input format and data size.
    std::vector<uint8_t> RiffHeader(uint64_t dataBytes) const;
    // Whether the source's duration says the audio will pass what a RIFF
    // header can describe.
    bool ExpectsMoreThanRiff(const std::vector<uint8_t>& formatBody);
    HRESULT DeliverAt(uint64_t offset, const void* data, size_t size);
    // The header with the sizes written so far (and the pad byte of odd
    // data); streaming lock held.
    HRESULT WriteHeaderNow();
    bool InputIsMp3() const;

    std::atomic<bool> wave_{true};
    std::atomic<LONGLONG> time_{0};
    // Streaming state (streaming lock).
    uint64_t headerBytes_ = 0;   // bytes before the audio in the file
    uint64_t dataBytes_ = 0;     // audio bytes written (the end of the furthest write)
    uint64_t writeAt_ = 0;       // where the next audio bytes go
    bool headerSent_ = false;
    bool headerEveryWrite_ = true;  // the graph is not running
    bool afterFlush_ = false;       // the next segment gives the write position
    DWORD bytesPerSecond_ = 0;
    bool mp3_ = false;
    std::vector<uint8_t> formatBody_;  // the "fmt " chunk's body (wave output)
    std::vector<uint8_t> info_;  // the source's tags, after the data (wave output)
    uint64_t trailerBytes_ = 0;  // bytes after the data chunk written so far
    bool rf64_ = false;          // this run is written as RF64
    std::atomic<uint64_t> outputLength_{0};  // the end of the furthest byte delivered
    std::atomic<uint64_t> riffLimit_{0xFFFFFFFFull};
};

}  // namespace vellumo::filters
