// AudioDecoder: one RealAudio stream decoded with libavcodec into 16-bit
// interleaved PCM at the source's rate and channel count.
#pragma once

#include "ac3_reframer.h"
#include "codec_setup.h"

#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace vellumo::realmedia {

class AudioDecoder {
public:
    AudioDecoder();
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // False when the codec is not one of ours or refuses the setup.
    bool Open(const AudioCodecSetup& setup);

    // The output format, fixed by Open: the source's rate and channels.
    int SampleRate() const { return rate_; }
    int Channels() const { return channels_; }

    // Decodes one packet and appends its samples (interleaved, 16-bit) to out.
    // A packet the codec cannot decode is concealed with silence as long as
    // the last good one (nothing when none has been decoded yet). Returns the
    // number of sample frames appended.
    size_t Decode(const uint8_t* data, size_t size, std::vector<int16_t>& out);
    // Flushes what the codec still holds at the end of the stream.
    size_t Drain(std::vector<int16_t>& out);
    // Forgets buffered state, after a seek.
    void Reset();

    // Packets the codec refused since Open.
    int DamagedPackets() const { return damaged_; }

private:
    size_t DecodePacket(const uint8_t* data, size_t size, std::vector<int16_t>& out);
    // RealAudio's AC3 ('dnet') is cut into frames again by Ac3Reframer.
    size_t DecodeAc3Frames(bool final, std::vector<int16_t>& out);
    size_t ReceiveFrames(std::vector<int16_t>& out, bool& failed);
    size_t Convert(const AVFrame* frame, std::vector<int16_t>& out);

    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwrContext* resampler_ = nullptr;
    int swrInRate_ = 0, swrInChannels_ = 0, swrInFormat_ = -1;
    int rate_ = 0;
    int channels_ = 0;
    size_t lastFrames_ = 0;
    bool reframeAc3_ = false;
    Ac3Reframer reframer_;
    std::vector<uint8_t> ac3Frame_;
    size_t lastAc3Bytes_ = 0;
    int damaged_ = 0;
};

}  // namespace vellumo::realmedia
