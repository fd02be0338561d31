// What a RealAudio decoder needs to know about a stream: the codec's tag, the
// source format and the codec's setup data, and how that travels in a
// DirectShow media type's WAVEFORMATEX format block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vellumo::realmedia {

constexpr uint32_t MakeFourcc(char a, char b, char c, char d)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

struct AudioCodecSetup {
    uint32_t fourcc = 0;  // 'cook', 'sipr', 'atrc', 'lpcJ', '28_8', 'raac', 'racp', 'dnet', 'LSD:'
    int sampleRate = 0;
    int channels = 0;
    int blockAlign = 0;
    int64_t bitRate = 0;  // bits per second, 0 when unknown
    std::vector<uint8_t> extradata;
};

// libavcodec's codec id (an AVCodecID) for a RealAudio tag, 0 when the tag is
// not one of ours.
int CodecIdForFourcc(uint32_t fourcc);
// The RealAudio tag for a libavcodec codec id, 0 when there is none.
uint32_t FourccForCodecId(int codecId);
// True when the pack can decode audio with this tag.
bool IsDecodableFourcc(uint32_t fourcc);

// The format block of the compressed audio media type: a WAVEFORMATEX (rate,
// channels, block align, average bytes per second) followed by the setup
// data, cbSize bytes of it. Empty when the setup data is too large.
std::vector<uint8_t> WaveFormatBlock(const AudioCodecSetup& setup);
// Reads a format block written by WaveFormatBlock. False when the block is
// too short for its header or for the setup data its header announces.
bool ParseWaveFormatBlock(const uint8_t* block, size_t size, uint32_t fourcc, AudioCodecSetup& setup);

}  // namespace vellumo::realmedia
