// MP3 encoder: 16-bit PCM in (1 to 8 channels; more than two are downmixed
// to stereo), MPEG audio layer 3 out, LAME behind
// IAudioEncoderProperties. Output samples carry the stream time of the audio
// consumed and, as media time, their byte offsets within the MP3 stream; at
// the end of the stream the rewritten first frame (Xing/Info tag) is sent
// again at the media time of its first place so that the writer puts it
// there. The source's tags (found upstream when streaming starts) go before
// the MP3 frames as an ID3v2 tag and after them as an ID3v1 tag. A stream
// long enough to gain is encoded on every core (mp3::ParallelEncoder).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/media_tags.h"
#include "base/sample_worker.h"
#include "base/transform_filter.h"
#include "encoder/parallel_encoder.h"
#include "filter_interfaces.h"

struct lame_global_struct;
struct SwrContext;

namespace vellumo::filters {

class Mp3EncoderFilter final : public TransformFilter, public IAudioEncoderProperties {
public:
    Mp3EncoderFilter();
    ~Mp3EncoderFilter() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return BaseFilter::QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return BaseFilter::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return BaseFilter::Release(); }

    // IAudioEncoderProperties
    HRESULT STDMETHODCALLTYPE get_PESOutputEnabled(DWORD* enabled) override;
    HRESULT STDMETHODCALLTYPE set_PESOutputEnabled(DWORD enabled) override;
    HRESULT STDMETHODCALLTYPE get_Bitrate(DWORD* kbps) override;
    HRESULT STDMETHODCALLTYPE set_Bitrate(DWORD kbps) override;
    HRESULT STDMETHODCALLTYPE get_Variable(DWORD* vbr) override;
    HRESULT STDMETHODCALLTYPE set_Variable(DWORD vbr) override;
    HRESULT STDMETHODCALLTYPE get_VariableMin(DWORD* kbps) override;
    HRESULT STDMETHODCALLTYPE set_VariableMin(DWORD kbps) override;
    HRESULT STDMETHODCALLTYPE get_VariableMax(DWORD* kbps) override;
    HRESULT STDMETHODCALLTYPE set_VariableMax(DWORD kbps) override;
    HRESULT STDMETHODCALLTYPE get_Quality(DWORD* quality) override;
    HRESULT STDMETHODCALLTYPE set_Quality(DWORD quality) override;
    HRESULT STDMETHODCALLTYPE get_VariableQ(DWORD* quality) override;
    HRESULT STDMETHODCALLTYPE set_VariableQ(DWORD quality) override;
    HRESULT STDMETHODCALLTYPE get_SourceSampleRate(DWORD* hz) override;
    HRESULT STDMETHODCALLTYPE get_SourceChannels(DWORD* channels) override;
    HRESULT STDMETHODCALLTYPE get_SampleRate(DWORD* hz) override;
    HRESULT STDMETHODCALLTYPE set_SampleRate(DWORD hz) override;
    HRESULT STDMETHODCALLTYPE get_ChannelMode(DWORD* mode) override;
    HRESULT STDMETHODCALLTYPE set_ChannelMode(DWORD mode) override;
    HRESULT STDMETHODCALLTYPE get_CRCFlag(DWORD* crc) override;
    HRESULT STDMETHODCALLTYPE set_CRCFlag(DWORD crc) override;
    HRESULT STDMETHODCALLTYPE get_CopyrightFlag(DWORD* flag) override;
    HRESULT STDMETHODCALLTYPE set_CopyrightFlag(DWORD flag) override;
    HRESULT STDMETHODCALLTYPE get_OriginalFlag(DWORD* flag) override;
    HRESULT STDMETHODCALLTYPE set_OriginalFlag(DWORD flag) override;

    // Channel modes as the converter passes them (LAME's numbering).
    enum ChannelMode : DWORD { kStereo = 0, kJointStereo = 1, kDualChannel = 2, kMono = 3 };

private:
    struct Settings {
        DWORD bitrate = 128;
        DWORD variable = 0;
        DWORD variableMin = 32;
        DWORD variableMax = 320;
        DWORD quality = 3;        // LAME's algorithm quality, 0 best .. 9 fastest
        DWORD variableQ = 4;      // LAME's VBR quality, 0 best .. 9 smallest
        DWORD sampleRate = 0;     // 0: the source's rate (or the nearest MP3 rate)
        DWORD channelMode = ~0u;  // unset: mono for mono sources, joint stereo otherwise
        DWORD crc = 0;
        DWORD copyright = 0;
        DWORD original = 1;
        DWORD pes = 0;
    };

    HRESULT QueryFilterInterface(REFIID iid, void** out) override;
    HRESULT CheckInputType(const AM_MEDIA_TYPE& mt) override;
    HRESULT GetOutputType(int index, MediaType& out) override;
    void OutputBufferRequirements(ALLOCATOR_PROPERTIES& props) override;
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;
    HRESULT Process(IMediaSample* sample) override;
    HRESULT Drain() override;
    void Discard() override;
    void Interrupt() override;
    // On the worker thread: one PCM sample, and the end of the stream.
    HRESULT Encode(IMediaSample* sample);
    HRESULT Finish();

    template <class F>
    HRESULT Change(F&& apply);
    DWORD EffectiveChannelMode(WORD sourceChannels) const { return EffectiveChannelMode(settings_, sourceChannels); }
    static DWORD EffectiveChannelMode(const Settings& settings, WORD sourceChannels);
    // A LAME context configured from the settings for the connected input,
    // with the Xing/Info frame when tagFrame.
    static lame_global_struct* OpenLame(const Settings& settings, WORD inChannels, DWORD inRate,
                                        const MediaTags* tags, bool tagFrame);
    // The stream's encoder for the settings and the connected input.
    HRESULT OpenEncoder();
    HRESULT DeliverEncoded(const uint8_t* data, size_t size);
    // Bytes that belong at one place of the file (tags, the rewritten first frame).
    HRESULT DeliverPlaced(const uint8_t* data, size_t size, uint64_t offset);

    Settings settings_;           // filter lock
    // Streaming state (the worker thread while it runs, else the streaming lock).
    std::unique_ptr<mp3::ParallelEncoder> encoder_;
    std::mutex encoderLock_;      // replacing encoder_, against Interrupt's cancel
    WORD inChannels_ = 0;
    WORD lameChannels_ = 0;
    DWORD inRate_ = 0;
    std::vector<uint8_t> mp3_;
    std::vector<int16_t> stereo_;
    SwrContext* downmix_ = nullptr;   // more than two input channels
    std::vector<int16_t> downmixed_;
    uint64_t bytesOut_ = 0;       // MP3 bytes delivered so far
    int64_t framesIn_ = 0;        // PCM frames consumed
    REFERENCE_TIME timeBase_ = 0;
    bool haveTime_ = false;
    REFERENCE_TIME lastStop_ = 0;
    MediaTags tags_;
    std::vector<uint8_t> id3v2_;  // before the MP3 stream, sent with its first bytes
    uint64_t streamStart_ = 0;    // where the MP3 stream starts in the file
    bool id3v2Sent_ = false;
    // Encodes on its own thread (last: it goes first).
    SampleWorker worker_{4, [this](IMediaSample* s) { return CheckStream(Encode(s)); },
                         [this] { return CheckStream(Finish()); }};
};

}  // namespace vellumo::filters
