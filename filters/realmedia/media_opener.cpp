#include "media_opener.h"

#include "ram_file.h"
#include "surestream.h"

#include <tuple>
#include <utility>
#include <vector>

namespace vellumo::realmedia {

namespace {

constexpr int kMaxReferenceDepth = 4;
// Files one resolution may open, whatever the reference files list.
constexpr int kMaxReferenceOpens = 16;
constexpr int32_t kRamProbeBytes = 64 * 1024 + 1;

// A source shared with a multi-rate view that was tried first.
class SharedSource final : public ByteSource {
public:
    explicit SharedSource(std::shared_ptr<ByteSource> inner) : inner_(std::move(inner)) {}
    int64_t Length() override { return inner_->Length(); }
    int32_t ReadAt(int64_t offset, uint8_t* buffer, int32_t size) override { return inner_->ReadAt(offset, buffer, size); }
    std::wstring Path() const override { return inner_->Path(); }

private:
    std::shared_ptr<ByteSource> inner_;
};

// The best decodable encoding of a multi-rate file (highest bitrate, then
// sample rate, then channels); null when the file is not multi-rate or no
// encoding can be decoded.
std::unique_ptr<RmDemuxer> OpenBestEncoding(std::shared_ptr<ByteSource> source)
{
    MultiRateLayout layout;
    if (!source || !ReadMultiRateLayout(*source, layout)) return nullptr;
    std::unique_ptr<RmDemuxer> best;
    auto rank = [](const RmDemuxer& d) {
        const auto& a = d.Streams()[static_cast<size_t>(d.AudioStream())].audio;
        return std::make_tuple(a.bitRate, a.sampleRate, a.channels);
    };
    for (auto& encoding : layout.encodings) {
        auto view = SingleRateView(source, layout, std::move(encoding));
        if (!view) continue;
        auto demuxer = std::make_unique<RmDemuxer>();
        if (!demuxer->Open(std::move(view)) || demuxer->AudioStream() < 0) continue;
        if (!best || rank(*demuxer) > rank(*best)) best = std::move(demuxer);
    }
    return best;
}

// What following the entries of reference files has cost so far: the files
// opened, each read once however many names lead to it.
class Resolution {
public:
    explicit Resolution(const FileOpener& opener) : opener_(opener) {}

    // The file an entry names; null when it cannot be opened, when the
    // resolution has used up its opens or when the file was opened before.
    std::unique_ptr<ByteSource> OpenEntry(const std::wstring& path)
    {
        if (opensLeft_ <= 0) return nullptr;
        --opensLeft_;
        std::unique_ptr<ByteSource> file = opener_ ? opener_(path) : nullptr;
        std::pair<uint64_t, uint64_t> id;
        if (!file || !file->FileId(id.first, id.second)) return file;
        for (const auto& seen : seen_) {
            if (seen == id) return nullptr;
        }
        seen_.push_back(id);
        return file;
    }
    bool Exhausted() const { return opensLeft_ <= 0; }

private:
    const FileOpener& opener_;
    int opensLeft_ = kMaxReferenceOpens;
    std::vector<std::pair<uint64_t, uint64_t>> seen_;
};

std::unique_ptr<RmDemuxer> Open(std::unique_ptr<ByteSource> source, Resolution& resolution, int depth)
{
    if (!source) return nullptr;
    std::vector<uint8_t> head = ReadHead(*source, kRamProbeBytes);
    if (HasRealMediaSignature(head)) {
        std::shared_ptr<ByteSource> shared(std::move(source));
        if (auto multiRate = OpenBestEncoding(shared)) return multiRate;
        auto demuxer = std::make_unique<RmDemuxer>();
        if (!demuxer->Open(std::make_unique<SharedSource>(shared))) return nullptr;
        return demuxer;
    }
    if (depth >= kMaxReferenceDepth || !LooksLikeRamFile(head)) return nullptr;
    for (const auto& entry : LocalRamEntries(head, FolderOf(source->Path()))) {
        if (resolution.Exhausted()) break;
        if (auto demuxer = Open(resolution.OpenEntry(entry), resolution, depth + 1)) return demuxer;
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<RmDemuxer> OpenRealMedia(std::unique_ptr<ByteSource> source, const FileOpener& opener)
{
    Resolution resolution(opener);
    return Open(std::move(source), resolution, 0);
}

}  // namespace vellumo::realmedia
