#include "file_tags.h"

namespace vellumo::realmedia {

namespace {

// The chunk headers before CONT are looked for in this much of the file.
constexpr int32_t kHeadBytes = 64 * 1024;
// Four fields of at most 65535 bytes each behind 16-bit lengths, after the
// chunk's own 10 bytes: nothing of a CONT chunk past this is ever read.
constexpr uint32_t kMaxContentBytes = 10 + 4 * (2 + 65535);

}  // namespace

RawTags ReadFileTags(ByteSource& source)
{
    RawTags tags;
    const std::vector<uint8_t> head = ReadHead(source, kHeadBytes);
    if (ParseRealAudioTags(head.data(), head.size(), tags)) return tags;
    ChunkPlace place;
    if (!FindContentChunk(head.data(), head.size(), place)) return {};
    std::vector<uint8_t> chunk(place.size < kMaxContentBytes ? place.size : kMaxContentBytes);
    size_t got = 0;
    while (got < chunk.size()) {
        const int32_t n = source.ReadAt(static_cast<int64_t>(place.offset + got), chunk.data() + got,
                                        static_cast<int32_t>(chunk.size() - got));
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    if (!ParseContentChunk(chunk.data(), got, tags)) return {};
    return tags;
}

}  // namespace vellumo::realmedia
