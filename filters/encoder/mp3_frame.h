// MPEG audio layer III frames as bytes: what a header says, where a frame's
// main data lies (main_data_begin, part2_3_length), the frame's CRC-16, and
// the CRC-16 of the LAME tag. Plain C++ over byte spans, no platform headers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellumo::filters::mp3 {

struct FrameHeader {
    bool lsf = false;          // MPEG-2 or 2.5: one granule a frame
    int kbps = 0;
    int rate = 0;
    int channels = 0;
    bool padding = false;
    bool crc = false;          // protected: a CRC-16 follows the header
    size_t size = 0;           // the whole frame
    size_t sideInfo = 0;       // side information bytes (after header and CRC)
    size_t DataStart() const { return 4 + (crc ? 2 : 0) + sideInfo; }
    size_t DataSize() const { return size - DataStart(); }
    int Samples() const { return lsf ? 576 : 1152; }
    // The largest main_data_begin the field can hold.
    unsigned MaxBackstep() const { return lsf ? 255u : 511u; }
};

// A layer III header with a known bitrate (not free format) and rate.
bool ParseHeader(const uint8_t* p, size_t n, FrameHeader& h);

// The side information of a whole frame.
unsigned MainDataBegin(const uint8_t* frame, const FrameHeader& h);
void SetMainDataBegin(uint8_t* frame, const FrameHeader& h, unsigned value);
// Bytes of main data (the granules' part2_3_length bits, rounded up).
size_t MainDataBytes(const uint8_t* frame, const FrameHeader& h);

// The frame's CRC-16 (header bytes 2 and 3 and the side information).
uint16_t FrameCrc(const uint8_t* frame, const FrameHeader& h);
// Writes it when the frame is protected.
void WriteFrameCrc(uint8_t* frame, const FrameHeader& h);

// CRC-16 as the LAME tag uses it (the reflected 0x8005 polynomial, from 0).
uint16_t TagCrc(const uint8_t* p, size_t n, uint16_t crc = 0);

}  // namespace vellumo::filters::mp3
