// AudioDecoder: one RealAudio stream decoded with libavcodec into 16-bit
// interleaved PCM at the source's rate and channel count.
#pragma once

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
    // RealAudio's AC3 ('dnet') stores AC3 with the bytes of each 16-bit word
    // swapped. Some files lose bytes in the middle, after which every packet
    // boundary misses the frames (and the demuxer may stop swapping); the
    // frames are found again by their sync words, in either byte order.
    // final: the stream has ended, so the last frame need not be followed by
    // another one.
    bool NextAc3Frame(bool final);
    size_t DecodeAc3Frames(bool final, std::vector<int16_t>& out);
    size_t Ac3FrameBytes(size_t at, bool swapped) const;
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
    std::vector<uint8_t> swapped_;  // the file's byte-swapped AC3 stream, not yet framed
    std::vector<uint8_t> ac3Frame_;
    uint8_t carry_ = 0;          // first byte of a word split between packets
    bool hasCarry_ = false;
    size_t skipped_ = 0;         // bytes passed over while looking for a frame
    size_t lastAc3Bytes_ = 0;
    int damaged_ = 0;
};

}  // namespace vellumo::realmedia
