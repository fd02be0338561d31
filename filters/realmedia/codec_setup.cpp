#include "codec_setup.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace vellumo::realmedia {

namespace {

struct CodecTag {
    uint32_t fourcc;
    AVCodecID id;
};

// First entry of a codec id is its preferred tag.
constexpr CodecTag kTags[] = {
    {MakeFourcc('c', 'o', 'o', 'k'), AV_CODEC_ID_COOK},
    {MakeFourcc('s', 'i', 'p', 'r'), AV_CODEC_ID_SIPR},
    {MakeFourcc('a', 't', 'r', 'c'), AV_CODEC_ID_ATRAC3},
    {MakeFourcc('l', 'p', 'c', 'J'), AV_CODEC_ID_RA_144},
    {MakeFourcc('2', '8', '_', '8'), AV_CODEC_ID_RA_288},
    {MakeFourcc('r', 'a', 'a', 'c'), AV_CODEC_ID_AAC},
    {MakeFourcc('r', 'a', 'c', 'p'), AV_CODEC_ID_AAC},
    {MakeFourcc('d', 'n', 'e', 't'), AV_CODEC_ID_AC3},
    {MakeFourcc('L', 'S', 'D', ':'), AV_CODEC_ID_RALF},
};

// WAVEFORMATEX, little-endian: format tag, channels, samples per second,
// average bytes per second, block align, bits per sample, cbSize.
constexpr size_t kWaveFormatSize = 18;

uint8_t* PutLe(uint8_t* at, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i, value >>= 8) *at++ = static_cast<uint8_t>(value);
    return at;
}

uint32_t GetLe(const uint8_t* at, int bytes)
{
    uint32_t value = 0;
    for (int i = bytes; i-- > 0;) value = value << 8 | at[i];
    return value;
}

}  // namespace

int CodecIdForFourcc(uint32_t fourcc)
{
    for (const auto& t : kTags) {
        if (t.fourcc == fourcc) return t.id;
    }
    return AV_CODEC_ID_NONE;
}

uint32_t FourccForCodecId(int codecId)
{
    for (const auto& t : kTags) {
        if (t.id == codecId) return t.fourcc;
    }
    return 0;
}

bool IsDecodableFourcc(uint32_t fourcc)
{
    return CodecIdForFourcc(fourcc) != AV_CODEC_ID_NONE;
}

std::vector<uint8_t> WaveFormatBlock(const AudioCodecSetup& setup)
{
    if (setup.extradata.size() > 0xffff - kWaveFormatSize) return {};
    std::vector<uint8_t> block(kWaveFormatSize);
    uint8_t* at = block.data();
    at = PutLe(at, 0, 2);  // WAVE_FORMAT_UNKNOWN
    at = PutLe(at, static_cast<uint32_t>(setup.channels), 2);
    at = PutLe(at, static_cast<uint32_t>(setup.sampleRate), 4);
    at = PutLe(at, static_cast<uint32_t>(setup.bitRate / 8), 4);
    at = PutLe(at, static_cast<uint32_t>(setup.blockAlign), 2);
    at = PutLe(at, 0, 2);  // bits per sample
    PutLe(at, static_cast<uint32_t>(setup.extradata.size()), 2);
    block.insert(block.end(), setup.extradata.begin(), setup.extradata.end());
    return block;
}

bool ParseWaveFormatBlock(const uint8_t* block, size_t size, uint32_t fourcc, AudioCodecSetup& setup)
{
    if (!block || size < kWaveFormatSize) return false;
    const uint32_t extra = GetLe(block + 16, 2);
    if (size - kWaveFormatSize < extra) return false;
    setup.fourcc = fourcc;
    setup.sampleRate = static_cast<int>(GetLe(block + 4, 4));
    setup.channels = static_cast<int>(GetLe(block + 2, 2));
    setup.blockAlign = static_cast<int>(GetLe(block + 12, 2));
    setup.bitRate = static_cast<int64_t>(GetLe(block + 8, 4)) * 8;
    setup.extradata.assign(block + kWaveFormatSize, block + kWaveFormatSize + extra);
    return true;
}

}  // namespace vellumo::realmedia
