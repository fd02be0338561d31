#include "file_tags.h"

#include <algorithm>

namespace vellumo::realmedia {

namespace {

// The chunk headers before CONT are looked for in this much of the file.
constexpr int32_t kHeadBytes = 64 * 1024;
// Four fields of at most 65535 bytes each behind 16-bit lengths, after the
// chunk's own 10 bytes: nothing of a CONT chunk past this is ever read.
constexpr uint32_t kMaxContentBytes = 10 + 4 * (2 + 65535);

class HiddenChunkSource final : public ByteSource {
public:
    HiddenChunkSource(std::unique_ptr<ByteSource> inner, int64_t tagOffset)
        : inner_(std::move(inner)), tagOffset_(tagOffset) {}

    int64_t Length() override { return inner_->Length(); }
    std::wstring Path() const override { return inner_->Path(); }
    int32_t ReadAt(int64_t offset, uint8_t* buffer, int32_t size) override
    {
        const int32_t n = inner_->ReadAt(offset, buffer, size);
        static const char kName[4] = {'J', 'U', 'N', 'K'};
        for (int64_t i = std::max(offset, tagOffset_); n > 0 && i < std::min(offset + n, tagOffset_ + 4); ++i) {
            buffer[i - offset] = static_cast<uint8_t>(kName[i - tagOffset_]);
        }
        return n;
    }

private:
    std::unique_ptr<ByteSource> inner_;
    const int64_t tagOffset_;
};

}  // namespace

FileTags ReadFileTags(ByteSource& source)
{
    FileTags file;
    const std::vector<uint8_t> head = ReadHead(source, kHeadBytes);
    if (ParseRealAudioTags(head.data(), head.size(), file.tags)) return file;
    if (!FindContentChunk(head.data(), head.size(), file.content)) return file;
    file.hasContent = true;
    std::vector<uint8_t> chunk(std::min(file.content.size, kMaxContentBytes));
    size_t got = 0;
    while (got < chunk.size()) {
        const int32_t n = source.ReadAt(static_cast<int64_t>(file.content.offset + got), chunk.data() + got,
                                        static_cast<int32_t>(chunk.size() - got));
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    if (!ParseContentChunk(chunk.data(), got, file.tags)) file.tags = {};
    return file;
}

std::unique_ptr<ByteSource> HideChunk(std::unique_ptr<ByteSource> source, const ChunkPlace& place)
{
    return std::make_unique<HiddenChunkSource>(std::move(source), static_cast<int64_t>(place.offset));
}

}  // namespace vellumo::realmedia
