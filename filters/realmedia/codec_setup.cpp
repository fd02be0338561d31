#include "codec_setup.h"

#include <windows.h>
#include <mmreg.h>

#include <cstring>

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
    if (setup.extradata.size() > 0xffff - sizeof(WAVEFORMATEX)) return {};
    WAVEFORMATEX wf{};
    wf.wFormatTag = WAVE_FORMAT_UNKNOWN;
    wf.nChannels = static_cast<WORD>(setup.channels);
    wf.nSamplesPerSec = static_cast<DWORD>(setup.sampleRate);
    wf.nAvgBytesPerSec = static_cast<DWORD>(setup.bitRate / 8);
    wf.nBlockAlign = static_cast<WORD>(setup.blockAlign);
    wf.wBitsPerSample = 0;
    wf.cbSize = static_cast<WORD>(setup.extradata.size());
    std::vector<uint8_t> block(sizeof(WAVEFORMATEX) + setup.extradata.size());
    std::memcpy(block.data(), &wf, sizeof wf);
    if (!setup.extradata.empty()) {
        std::memcpy(block.data() + sizeof wf, setup.extradata.data(), setup.extradata.size());
    }
    return block;
}

bool ParseWaveFormatBlock(const uint8_t* block, size_t size, uint32_t fourcc, AudioCodecSetup& setup)
{
    if (!block || size < sizeof(WAVEFORMATEX)) return false;
    WAVEFORMATEX wf;
    std::memcpy(&wf, block, sizeof wf);
    if (size - sizeof wf < wf.cbSize) return false;
    setup.fourcc = fourcc;
    setup.sampleRate = static_cast<int>(wf.nSamplesPerSec);
    setup.channels = wf.nChannels;
    setup.blockAlign = wf.nBlockAlign;
    setup.bitRate = static_cast<int64_t>(wf.nAvgBytesPerSec) * 8;
    setup.extradata.assign(block + sizeof wf, block + sizeof wf + wf.cbSize);
    return true;
}

}  // namespace vellumo::realmedia
