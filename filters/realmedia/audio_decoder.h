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
    // packet the codec cannot decode, or whose sound is mostly at full scale
    // (garbage the codec took), is damaged: concealed with silence as long as
    // the last good one, but no longer than its bytes last at the stream's
    // declared bitrate (nothing when none has been decoded yet); a decoded
    // one goes silent for its own length. Sound is handed on a window of
    // packets at a time: a window a quarter of whose packets are damaged (an
    // eighth, right after such a window) is garbage throughout, since the
    // codec takes about a third of garbage packets as plausible sound; it
    // goes silent and counts as damaged whole. Returns the frames handed on.
    size_t Decode(const uint8_t* data, size_t size, const PcmSink& sink);
    // Flushes what the codec still holds at the end of the stream.
    size_t Drain(const PcmSink& sink);
    // Forgets buffered state, after a seek.
    void Reset();

    // Packets found damaged since Open.
    int DamagedPackets() const { return damaged_; }
    // Sample frames since Open that could not be decoded (concealed, or
    // lost before anything was decoded) and that were decoded, as handed on.
    uint64_t DamagedFrames() const { return damagedFrames_; }
    uint64_t DecodedFrames() const { return decodedFrames_; }

private:
    size_t DecodePacket(const uint8_t* data, size_t size, const PcmSink& sink);
    // RealAudio's AC3 ('dnet') is cut into frames again by Ac3Reframer.
    size_t DecodeAc3Frames(bool final, const PcmSink& sink);
    // Takes the codec's frames into the window.
    size_t ReceiveFrames(bool& failed);
    // Converts into pcm_.
    size_t Convert(const AVFrame* frame);
    // The silence that stands for a refused packet of this many bytes.
    size_t ConcealedFrames(size_t bytes) const;
    // Holds damaged silence of this many frames for the window.
    void Silence(size_t frames, const PcmSink& sink);
    // Frames the bytes stand for at the declared bitrate (0 when unknown).
    uint64_t FramesOfBytes(size_t bytes) const;
    // Adds a packet to the window; settles it when it is full.
    void EndPacket(bool damaged, const PcmSink& sink);
    // Gives the window's verdict and hands its sound on in bounded pieces.
    size_t Settle(const PcmSink& sink);
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
    std::vector<int16_t> held_;     // the window's sound, not yet handed on
    uint64_t windowPackets_ = 0, windowDamaged_ = 0;
    uint64_t windowGood_ = 0, windowLost_ = 0;  // frames of the window
    bool lastGarbage_ = false;      // the verdict on the window before
    size_t handed_ = 0;             // frames handed on in the call at hand
    bool stopped_ = false;          // the sink refused: the packet at hand is dropped
    int damaged_ = 0;
    uint64_t damagedFrames_ = 0, decodedFrames_ = 0;
};

}  // namespace vellumo::realmedia
