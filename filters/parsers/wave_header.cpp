#include "wave_header.h"

#include <algorithm>
#include <cstring>

namespace vellumo::wave {

namespace {

constexpr uint64_t kMaxChunk = 0xFFFFFFFFull;
constexpr size_t kWaveFormatExBytes = 18;  // WAVEFORMATEX up to and with cbSize
constexpr uint16_t kPcm = 1;

void Put32(std::vector<uint8_t>& v, uint64_t x)
{
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void Put64(std::vector<uint8_t>& v, uint64_t x)
{
    Put32(v, x & 0xFFFFFFFFu);
    Put32(v, x >> 32);
}
void PutTag(std::vector<uint8_t>& v, const char* tag) { v.insert(v.end(), tag, tag + 4); }

uint64_t FormatChunkBytes(const std::vector<uint8_t>& body) { return 8 + body.size() + (body.size() & 1); }

void PutFormatAndDataHeader(std::vector<uint8_t>& h, const std::vector<uint8_t>& formatBody, uint64_t dataField)
{
    PutTag(h, "fmt ");
    Put32(h, formatBody.size());
    h.insert(h.end(), formatBody.begin(), formatBody.end());
    if (formatBody.size() & 1) h.push_back(0);
    PutTag(h, "data");
    Put32(h, dataField);
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void PutText(std::vector<uint8_t>& chunk, const char* id, const std::string& text)
{
    if (text.empty()) return;
    PutTag(chunk, id);
    Put32(chunk, text.size() + 1);
    chunk.insert(chunk.end(), text.begin(), text.end());
    chunk.push_back(0);
    if (chunk.size() & 1) chunk.push_back(0);
}

}  // namespace

std::vector<uint8_t> FormatChunkBody(const uint8_t* format, size_t size)
{
    if (!format || size < kWaveFormatExBytes) return {};
    const size_t extra = Le16(format + 16);
    if (kWaveFormatExBytes + extra > size) return {};
    const size_t bytes = Le16(format) == kPcm ? 16 : kWaveFormatExBytes + extra;
    return std::vector<uint8_t>(format, format + bytes);
}

std::vector<uint8_t> RiffHeader(const std::vector<uint8_t>& formatBody, uint64_t dataBytes, uint64_t trailerBytes)
{
    const uint64_t formatChunk = 8 + formatBody.size() + (formatBody.size() & 1);
    const uint64_t fixed = 4 + formatChunk + 8;  // "WAVE", the format chunk, the data chunk's header
    const uint64_t around = std::min(kMaxChunk, fixed + 1 + std::min(trailerBytes, kMaxChunk));  // 1: a pad byte
    const uint64_t data = std::min(dataBytes, kMaxChunk - around);
    const uint64_t riff = std::min(kMaxChunk, fixed + data + (data & 1) + trailerBytes);

    std::vector<uint8_t> h;
    PutTag(h, "RIFF");
    Put32(h, riff);
    PutTag(h, "WAVE");
    PutFormatAndDataHeader(h, formatBody, data);
    return h;
}

uint64_t RiffSize(const std::vector<uint8_t>& formatBody, uint64_t dataBytes, uint64_t trailerBytes)
{
    return 4 + FormatChunkBytes(formatBody) + 8 + dataBytes + (dataBytes & 1) + trailerBytes;
}

std::vector<uint8_t> Rf64Header(const std::vector<uint8_t>& formatBody, uint64_t dataBytes, uint64_t trailerBytes)
{
    constexpr uint64_t kDs64Bytes = 8 + 28;
    const uint16_t blockAlign = formatBody.size() >= 14 ? Le16(formatBody.data() + 12) : 0;
    std::vector<uint8_t> h;
    PutTag(h, "RF64");
    Put32(h, kMaxChunk);
    PutTag(h, "WAVE");
    PutTag(h, "ds64");
    Put32(h, 28);
    Put64(h, kDs64Bytes + RiffSize(formatBody, dataBytes, trailerBytes));
    Put64(h, dataBytes);
    Put64(h, blockAlign ? dataBytes / blockAlign : 0);
    Put32(h, 0);  // no table of other chunk sizes
    PutFormatAndDataHeader(h, formatBody, kMaxChunk);
    return h;
}

std::vector<uint8_t> InfoChunk(const InfoTexts& texts)
{
    std::vector<uint8_t> body{'I', 'N', 'F', 'O'};
    PutText(body, "INAM", texts.title);
    PutText(body, "IART", texts.artist);
    PutText(body, "ICOP", texts.copyright);
    PutText(body, "ICMT", texts.comment);
    if (body.size() == 4) return {};
    std::vector<uint8_t> chunk{'L', 'I', 'S', 'T'};
    Put32(chunk, body.size());
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

}  // namespace vellumo::wave
