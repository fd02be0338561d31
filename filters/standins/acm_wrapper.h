// ACM wrapper stand-in: converts PCM to PCM (rate, channels, sample size) in
// the format chosen through IAMStreamConfig on its output pin, resampling
// with libswresample. Until a format is chosen it offers the input's format.
#pragma once

#include <cstdint>
#include <vector>

#include "base/transform_filter.h"

struct SwrContext;

namespace vellumo::filters {

class AcmWrapperFilter final : public TransformFilter {
public:
    AcmWrapperFilter();
    ~AcmWrapperFilter() override;

private:
    class StreamConfig;
    friend class StreamConfig;

    HRESULT CheckInputType(const AM_MEDIA_TYPE& mt) override;
    HRESULT GetOutputType(int index, MediaType& out) override;
    HRESULT CheckOutputType(const AM_MEDIA_TYPE& mt) override;
    void OutputBufferRequirements(ALLOCATOR_PROPERTIES& props) override;
    HRESULT QueryOutputPinInterface(REFIID iid, void** out) override;
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;
    HRESULT Process(IMediaSample* sample) override;
    HRESULT Drain() override;
    void Discard() override;

    // The type offered on the output: the chosen format, else the input's as plain PCM.
    HRESULT CurrentOutputType(MediaType& out);
    HRESULT OpenResampler();
    HRESULT DeliverConverted(int frames);
    // Same format in and out: the sample goes on as it came, stamped as a
    // converted one would be.
    HRESULT PassOn(IMediaSample* sample);
    // The output time of the next frame; false while no input time was seen.
    bool Anchor(IMediaSample* sample, int64_t pending);

    std::unique_ptr<StreamConfig> config_;
    MediaType chosen_;                 // empty until IAMStreamConfig::SetFormat
    SwrContext* swr_ = nullptr;
    bool passThrough_ = false;
    WAVEFORMATEX in_{};
    WAVEFORMATEX out_{};
    std::vector<uint8_t> buffer_;
    bool haveTime_ = false;
    REFERENCE_TIME timeBase_ = 0;      // stream time of the first output frame since timeBase_ was set
    int64_t framesOut_ = 0;
};

}  // namespace vellumo::filters
