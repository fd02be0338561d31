#include "media_opener.h"

#include "ram_file.h"

namespace vellumo::realmedia {

namespace {

constexpr int kMaxReferenceDepth = 4;
constexpr int32_t kRamProbeBytes = 64 * 1024 + 1;

std::unique_ptr<RmDemuxer> Open(std::unique_ptr<ByteSource> source, const FileOpener& opener, int depth)
{
    if (!source) return nullptr;
    std::vector<uint8_t> head = ReadHead(*source, kRamProbeBytes);
    if (HasRealMediaSignature(head)) {
        auto demuxer = std::make_unique<RmDemuxer>();
        if (!demuxer->Open(std::move(source))) return nullptr;
        return demuxer;
    }
    if (depth >= kMaxReferenceDepth || !LooksLikeRamFile(head)) return nullptr;
    for (const auto& entry : LocalRamEntries(head, FolderOf(source->Path()))) {
        auto target = opener ? opener(entry) : std::unique_ptr<ByteSource>(FileByteSource::Open(entry));
        if (auto demuxer = Open(std::move(target), opener, depth + 1)) return demuxer;
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<RmDemuxer> OpenRealMedia(std::unique_ptr<ByteSource> source, const FileOpener& opener)
{
    return Open(std::move(source), opener, 0);
}

}  // namespace vellumo::realmedia
