#include "mp3_frame.h"

#include <array>

namespace vellumo::filters::mp3 {

namespace {

const int kKbps[2][16] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
                          {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
const int kRates[3] = {44100, 48000, 32000};

// Big-endian bit access within the side information.
unsigned GetBits(const uint8_t* p, size_t bit, int count)
{
    unsigned v = 0;
    for (int i = 0; i < count; ++i, ++bit) v = (v << 1) | ((p[bit / 8] >> (7 - bit % 8)) & 1u);
    return v;
}

void PutBits(uint8_t* p, size_t bit, int count, unsigned v)
{
    for (int i = count - 1; i >= 0; --i, ++bit) {
        const uint8_t mask = static_cast<uint8_t>(0x80u >> (bit % 8));
        if ((v >> i) & 1u) p[bit / 8] |= mask;
        else p[bit / 8] &= static_cast<uint8_t>(~mask);
    }
}

uint16_t Crc8005(uint16_t crc, uint8_t byte)
{
    crc ^= static_cast<uint16_t>(byte << 8);
    for (int i = 0; i < 8; ++i) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x8005 : crc << 1);
    return crc;
}

}  // namespace

bool ParseHeader(const uint8_t* p, size_t n, FrameHeader& h)
{
    if (n < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const int version = (p[1] >> 3) & 3;  // 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
    const int layer = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4, rateIndex = (p[2] >> 2) & 3;
    if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return false;
    h.lsf = version != 3;
    h.kbps = kKbps[h.lsf][bitrateIndex];
    h.rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    h.padding = (p[2] >> 1) & 1;
    h.crc = !(p[1] & 1);
    h.channels = (p[3] >> 6) == 3 ? 1 : 2;
    h.size = static_cast<size_t>((h.lsf ? 72000 : 144000) * h.kbps / h.rate + (h.padding ? 1 : 0));
    h.sideInfo = h.lsf ? (h.channels == 1 ? 9 : 17) : (h.channels == 1 ? 17 : 32);
    return h.size >= h.DataStart();
}

unsigned MainDataBegin(const uint8_t* frame, const FrameHeader& h)
{
    return GetBits(frame + 4 + (h.crc ? 2 : 0), 0, h.lsf ? 8 : 9);
}

void SetMainDataBegin(uint8_t* frame, const FrameHeader& h, unsigned value)
{
    PutBits(frame + 4 + (h.crc ? 2 : 0), 0, h.lsf ? 8 : 9, value);
}

size_t MainDataBytes(const uint8_t* frame, const FrameHeader& h)
{
    const uint8_t* side = frame + 4 + (h.crc ? 2 : 0);
    // Past main_data_begin, the private bits and (MPEG-1) scfsi come the
    // granules, each channel's part starting with part2_3_length.
    const size_t first = h.lsf ? (h.channels == 1 ? 9 : 10) : (h.channels == 1 ? 18 : 20);
    const size_t each = h.lsf ? 63 : 59;
    const int granules = h.lsf ? 1 : 2;
    size_t bits = 0;
    for (int g = 0; g < granules * h.channels; ++g) bits += GetBits(side, first + g * each, 12);
    return (bits + 7) / 8;
}

uint16_t FrameCrc(const uint8_t* frame, const FrameHeader& h)
{
    uint16_t crc = 0xFFFF;
    crc = Crc8005(crc, frame[2]);
    crc = Crc8005(crc, frame[3]);
    for (size_t i = 0; i < h.sideInfo; ++i) crc = Crc8005(crc, frame[6 + i]);
    return crc;
}

void WriteFrameCrc(uint8_t* frame, const FrameHeader& h)
{
    if (!h.crc) return;
    const uint16_t crc = FrameCrc(frame, h);
    frame[4] = static_cast<uint8_t>(crc >> 8);
    frame[5] = static_cast<uint8_t>(crc);
}

uint16_t TagCrc(const uint8_t* p, size_t n, uint16_t crc)
{
    // It runs over every byte of the stream: a byte at a time, by table.
    static const std::array<uint16_t, 256> table = [] {
        std::array<uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            unsigned c = i;
            for (int b = 0; b < 8; ++b) c = c & 1 ? (c >> 1) ^ 0xA001u : c >> 1;
            t[i] = static_cast<uint16_t>(c);
        }
        return t;
    }();
    for (size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ table[(crc ^ p[i]) & 0xFF]);
    return crc;
}

}  // namespace vellumo::filters::mp3
