// Multi-rate ("SureStream") RealMedia files: one logical audio stream whose
// encodings each sit in a physical stream with its own DATA chunk. libavformat
// opens them but delivers no packets. The pack shows libavformat one encoding
// at a time as an ordinary single-rate file, spliced from the original bytes:
// the file's headers with that encoding's stream description, then its DATA
// chunk with each packet's header rewritten in the single-rate form.
#pragma once

#include "byte_source.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace vellumo::realmedia {

// One encoding of a multi-rate file, as found in its headers and DATA chunks.
struct RateEncoding {
    int stream = 0;                   // physical stream number
    std::vector<uint8_t> description;  // its MDPR chunk
    // 16 bytes a packet: a file of tiny packets has millions of them.
    struct Packet {
        int64_t payload = 0;  // offset of the packet's data in the file
        uint32_t timestamp = 0;  // ms
        uint16_t length = 0;
        bool keyframe = false;
    };
    // Grows by blocks, never copied along as it grows.
    std::deque<Packet> packets;
};

constexpr size_t kMaxMultiRatePackets = 4u << 20;

struct MultiRateLayout {
    std::vector<uint8_t> fileHeader;  // .RMF chunk
    std::vector<uint8_t> properties;  // PROP chunk
    std::vector<uint8_t> content;     // CONT chunk, may be empty
    std::vector<RateEncoding> encodings;
};

// Reads the chunk structure. False when the file is not a multi-rate
// RealMedia file (including a damaged one whose headers cannot be read).
// At most kMaxMultiRatePackets packets are listed, the first ones.
bool ReadMultiRateLayout(ByteSource& source, MultiRateLayout& layout);

// A single-rate file made of one encoding of a multi-rate file; the view
// keeps the encoding's packet list (pass it with std::move to spare a copy).
std::unique_ptr<ByteSource> SingleRateView(std::shared_ptr<ByteSource> source, const MultiRateLayout& layout,
                                           RateEncoding encoding);

}  // namespace vellumo::realmedia
