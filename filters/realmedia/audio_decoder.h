// AudioDecoder: one RealAudio stream decoded with libavcodec into 16-bit
// interleaved PCM at the source's rate and channel count.
#pragma once

#include "ac3_reframer.h"
#include "codec_setup.h"

#include <cstdint>
#include <functional>
#include <vector>

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace vellumo::realmedia {

// Receives decoded sound: frames sample frames, interleaved 16-bit. False
// stops the decoding of the packet at hand (nobody takes the sound).
using PcmSink = std::function<bool(const int16_t* samples, size_t frames)>;

// Highest sample rate a stream may declare.
constexpr int kMaxSampleRate = 384000;

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

    // Decodes one packet and hands its sound to sink, piece by piece. A
    // packet the codec cannot decode is concealed with silence as long as the
    // last good one, but no longer than its bytes last at the stream's
    // declared bitrate (nothing when none has been decoded yet). Returns the
    // number of sample frames handed on.
    size_t Decode(const uint8_t* data, size_t size, const PcmSink& sink);
    // Flushes what the codec still holds at the end of the stream.
    size_t Drain(const PcmSink& sink);
    // Forgets buffered state, after a seek.
    void Reset();

    // Packets the codec refused since Open.
    int DamagedPackets() const { return damaged_; }

private:
    size_t DecodePacket(const uint8_t* data, size_t size, const PcmSink& sink);
    // RealAudio's AC3 ('dnet') is cut into frames again by Ac3Reframer.
    size_t DecodeAc3Frames(bool final, const PcmSink& sink);
    size_t ReceiveFrames(const PcmSink& sink, bool& failed);
    // Converts into pcm_.
    size_t Convert(const AVFrame* frame);
    // The silence that stands for a refused packet of this many bytes.
    size_t ConcealedFrames(size_t bytes) const;
    // Hands on silence in pieces of a bounded size.
    size_t Silence(size_t frames, const PcmSink& sink);
    // The packet in a buffer with the codec's padding, kept from packet to packet.
    bool FillPacket(const uint8_t* data, size_t size);

    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVBufferRef* packetBuffer_ = nullptr;
    SwrContext* resampler_ = nullptr;
    int swrInRate_ = 0, swrInChannels_ = 0, swrInFormat_ = -1;
    int rate_ = 0;
    int channels_ = 0;
    int64_t bitRate_ = 0;     // declared, bits per second; 0 when unknown
    size_t lastFrames_ = 0;   // frames of the last packet decoded
    size_t lastBytes_ = 0;    // and its size
    bool reframeAc3_ = false;
    Ac3Reframer reframer_;
    size_t lastAc3Bytes_ = 0;
    std::vector<int16_t> pcm_;      // one converted frame
    std::vector<int16_t> silence_;  // zeros for concealment
    bool stopped_ = false;          // the sink refused: the packet at hand is dropped
    int damaged_ = 0;
};

}  // namespace vellumo::realmedia
