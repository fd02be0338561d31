#include "surestream.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace vellumo::realmedia {

namespace {

constexpr uint32_t kMaxHeaderChunk = 1 << 20;
constexpr int kMaxChunks = 4096;
constexpr int64_t kScanBlock = 64 * 1024;

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Be32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}
void PutBe16(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    v[at] = static_cast<uint8_t>(x >> 8);
    v[at + 1] = static_cast<uint8_t>(x);
}
void PutBe32(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    for (int i = 0; i < 4; ++i) v[at + static_cast<size_t>(i)] = static_cast<uint8_t>(x >> (24 - 8 * i));
}
void AppendBe16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(static_cast<uint8_t>(x >> 8));
    v.push_back(static_cast<uint8_t>(x));
}
void AppendBe32(std::vector<uint8_t>& v, uint32_t x)
{
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (24 - 8 * i)));
}

bool ReadExactly(ByteSource& source, int64_t offset, uint8_t* buffer, int32_t size)
{
    int32_t done = 0;
    while (done < size) {
        int32_t n = source.ReadAt(offset + done, buffer + done, size - done);
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// The parts of an MDPR chunk the pack looks at.
struct StreamDescription {
    uint16_t stream = 0;
    std::string mime;
    size_t nameAt = 0;      // offset of the name length byte
    size_t typeDataAt = 0;  // offset of the type-specific length
};

bool Describe(const std::vector<uint8_t>& mdpr, StreamDescription& d)
{
    // header (10), stream (2), 7 x 32-bit fields (28), name, mime, type data
    if (mdpr.size() < 10 + 30 + 1) return false;
    d.stream = Be16(&mdpr[10]);
    size_t at = 10 + 30;
    d.nameAt = at;
    at += 1 + mdpr[at];
    if (at >= mdpr.size()) return false;
    size_t mimeLength = mdpr[at];
    if (at + 1 + mimeLength + 4 > mdpr.size()) return false;
    d.mime.assign(reinterpret_cast<const char*>(&mdpr[at + 1]), mimeLength);
    at += 1 + mimeLength;
    d.typeDataAt = at;
    return Be32(&mdpr[at]) <= mdpr.size() - at - 4;  // no sum that a 32-bit size_t could wrap
}

// Collects the packets of every DATA chunk by stream number.
bool ScanData(ByteSource& source, int64_t chunk, uint32_t size, std::map<int, std::deque<RateEncoding::Packet>>& out,
              size_t& total)
{
    const int64_t end = chunk + size;
    int64_t at = chunk + 18;
    // Packet headers are read from blocks of the chunk, not one read each.
    std::vector<uint8_t> block;
    int64_t blockAt = at;
    while (at + 12 <= end && total < kMaxMultiRatePackets) {
        const int64_t want = 13 <= end - at ? 13 : 12;
        if (at < blockAt || at + want > blockAt + static_cast<int64_t>(block.size())) {
            const int64_t n = std::min<int64_t>(kScanBlock, end - at);
            block.resize(static_cast<size_t>(n));
            if (!ReadExactly(source, at, block.data(), static_cast<int32_t>(n))) return false;
            blockAt = at;
        }
        const uint8_t* h = block.data() + (at - blockAt);
        const uint16_t version = Be16(h);
        const uint16_t length = Be16(h + 2);
        const size_t headerSize = version == 0 ? 12 : version == 1 ? 13 : 0;
        if (headerSize == 0 || length < headerSize || at + length > end) break;  // damaged: keep what came before
        RateEncoding::Packet p;
        p.payload = at + static_cast<int64_t>(headerSize);
        p.length = static_cast<uint16_t>(length - headerSize);
        p.timestamp = Be32(h + 6);
        // Version 0 carries a keyframe flag; version 1 an ASM rule, whose even
        // numbers are the keyframe rules of an audio stream.
        p.keyframe = version == 0 ? (h[11] & 2) != 0 : (Be16(h + 10) % 2) == 0;
        out[Be16(h + 4)].push_back(p);
        ++total;
        at += length;
    }
    return true;
}

// The view of one encoding: the headers in memory, then each packet as a
// single-rate packet header made on the fly and its payload read from the
// source. Finding a packet by offset looks up every 64th packet's place.
class SplicedSource final : public ByteSource {
public:
    SplicedSource(std::shared_ptr<ByteSource> source, std::wstring path, std::vector<uint8_t> head,
                  std::deque<RateEncoding::Packet> packets)
        : source_(std::move(source)), path_(std::move(path)), head_(std::move(head)), packets_(std::move(packets))
    {
        length_ = static_cast<int64_t>(head_.size());
        groupStarts_.reserve(packets_.size() / kGroup + 1);
        for (size_t k = 0; k < packets_.size(); ++k) {
            if (k % kGroup == 0) groupStarts_.push_back(length_);
            length_ += kPacketHeader + packets_[k].length;
        }
    }

    int64_t Length() override { return length_; }
    std::wstring Path() const override { return path_; }
    int32_t ReadAt(int64_t offset, uint8_t* buffer, int32_t size) override
    {
        if (offset < 0 || size < 0) return -1;
        int32_t done = 0;
        while (done < size && offset + done < length_) {
            const int64_t at = offset + done;
            const int32_t want = size - done;
            if (at < static_cast<int64_t>(head_.size())) {
                const auto n = static_cast<int32_t>(std::min<int64_t>(want, static_cast<int64_t>(head_.size()) - at));
                std::memcpy(buffer + done, head_.data() + at, static_cast<size_t>(n));
                done += n;
                continue;
            }
            auto group = std::upper_bound(groupStarts_.begin(), groupStarts_.end(), at) - groupStarts_.begin() - 1;
            size_t k = static_cast<size_t>(group) * kGroup;
            int64_t start = groupStarts_[static_cast<size_t>(group)];
            while (start + kPacketHeader + packets_[k].length <= at) start += kPacketHeader + packets_[k++].length;
            const RateEncoding::Packet& p = packets_[k];
            const int64_t within = at - start;
            if (within < kPacketHeader) {
                const uint8_t header[kPacketHeader] = {0, 0, static_cast<uint8_t>((kPacketHeader + p.length) >> 8),
                                                       static_cast<uint8_t>(kPacketHeader + p.length), 0, 0,
                                                       static_cast<uint8_t>(p.timestamp >> 24),
                                                       static_cast<uint8_t>(p.timestamp >> 16),
                                                       static_cast<uint8_t>(p.timestamp >> 8),
                                                       static_cast<uint8_t>(p.timestamp), 0,
                                                       static_cast<uint8_t>(p.keyframe ? 2 : 0)};
                const auto n = static_cast<int32_t>(std::min<int64_t>(want, kPacketHeader - within));
                std::memcpy(buffer + done, header + within, static_cast<size_t>(n));
                done += n;
                continue;
            }
            const auto n = static_cast<int32_t>(std::min<int64_t>(want, kPacketHeader + p.length - within));
            const int32_t got = source_->ReadAt(p.payload + within - kPacketHeader, buffer + done, n);
            if (got < 0) return done > 0 ? done : -1;
            done += got;
            if (got < n) break;
        }
        return done;
    }

private:
    static constexpr size_t kGroup = 64;
    static constexpr int64_t kPacketHeader = 12;
    std::shared_ptr<ByteSource> source_;
    std::wstring path_;
    std::vector<uint8_t> head_;
    std::deque<RateEncoding::Packet> packets_;
    std::vector<int64_t> groupStarts_;
    int64_t length_ = 0;
};

}  // namespace

bool ReadMultiRateLayout(ByteSource& source, MultiRateLayout& layout)
{
    const int64_t fileLength = source.Length();
    if (fileLength < 18) return false;
    bool multiRate = false;
    std::vector<std::vector<uint8_t>> descriptions;
    std::vector<std::pair<int64_t, uint32_t>> dataChunks;
    int64_t at = 0;
    uint8_t h[10];
    for (int n = 0; n < kMaxChunks && at + 10 <= fileLength; ++n) {
        if (!ReadExactly(source, at, h, 10)) return false;
        const uint32_t size = Be32(h + 4);
        if (size < 10 || at + size > fileLength) break;  // the end, or damage
        const bool data = std::memcmp(h, "DATA", 4) == 0;
        if (data) {
            if (size >= 18) dataChunks.emplace_back(at, size);
        } else if (std::memcmp(h, ".RMF", 4) == 0 || std::memcmp(h, "PROP", 4) == 0 ||
                   std::memcmp(h, "MDPR", 4) == 0 || std::memcmp(h, "CONT", 4) == 0) {
            if (size > kMaxHeaderChunk) return false;
            std::vector<uint8_t> chunk(size);
            if (!ReadExactly(source, at, chunk.data(), static_cast<int32_t>(size))) return false;
            if (h[0] == '.') layout.fileHeader = std::move(chunk);
            else if (h[0] == 'P') layout.properties = std::move(chunk);
            else if (h[0] == 'C') layout.content = std::move(chunk);
            else descriptions.push_back(std::move(chunk));
        } else if (n == 0) {
            return false;  // not a RealMedia file
        }
        at += size;
    }
    if (layout.fileHeader.empty() || layout.properties.size() < 10 + 40) return false;

    // Only a multi-rate file needs its packets listed.
    for (auto& mdpr : descriptions) {
        StreamDescription d;
        if (Describe(mdpr, d) && d.mime.rfind("logical-audio/x-pn-multirate", 0) == 0) multiRate = true;
    }
    if (!multiRate) return false;
    std::map<int, std::deque<RateEncoding::Packet>> packets;
    size_t total = 0;
    for (const auto& chunk : dataChunks) {
        if (!ScanData(source, chunk.first, chunk.second, packets, total)) return false;
    }

    for (auto& mdpr : descriptions) {
        StreamDescription d;
        if (!Describe(mdpr, d)) continue;
        if (d.mime.rfind("logical-", 0) == 0) continue;
        auto found = packets.find(d.stream);
        if (found == packets.end() || found->second.empty()) continue;
        RateEncoding e;
        e.stream = d.stream;
        e.description = mdpr;
        e.packets = std::move(found->second);
        layout.encodings.push_back(std::move(e));
    }
    return !layout.encodings.empty();
}

std::unique_ptr<ByteSource> SingleRateView(std::shared_ptr<ByteSource> source, const MultiRateLayout& layout,
                                           RateEncoding encoding)
{
    StreamDescription d;
    if (!Describe(encoding.description, d)) return nullptr;
    const std::vector<uint8_t>& in = encoding.description;

    // The stream description as stream 0 of an ordinary RealAudio file.
    static const char kMime[] = "audio/x-pn-realaudio";
    std::vector<uint8_t> mdpr(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(d.nameAt));
    PutBe16(mdpr, 10, 0);
    mdpr.insert(mdpr.end(), in.begin() + static_cast<std::ptrdiff_t>(d.nameAt),
                in.begin() + static_cast<std::ptrdiff_t>(d.nameAt + 1 + in[d.nameAt]));
    mdpr.push_back(static_cast<uint8_t>(sizeof kMime - 1));
    mdpr.insert(mdpr.end(), kMime, kMime + sizeof kMime - 1);
    mdpr.insert(mdpr.end(), in.begin() + static_cast<std::ptrdiff_t>(d.typeDataAt), in.end());
    PutBe32(mdpr, 4, static_cast<uint32_t>(mdpr.size()));

    std::vector<uint8_t> fileHeader = layout.fileHeader;
    if (fileHeader.size() >= 18) PutBe32(fileHeader, 14, layout.content.empty() ? 3 : 4);
    std::vector<uint8_t> prop = layout.properties;
    const size_t headersSize = fileHeader.size() + prop.size() + mdpr.size() + layout.content.size();
    PutBe32(prop, 10, Be32(&in[12]));                                     // max bit rate
    PutBe32(prop, 14, Be32(&in[16]));                                     // average bit rate
    PutBe32(prop, 26, static_cast<uint32_t>(encoding.packets.size()));    // packets
    PutBe32(prop, 30, Be32(&in[36]));                                     // duration
    PutBe32(prop, 38, 0);                                                 // no index
    PutBe32(prop, 42, static_cast<uint32_t>(headersSize));                // data offset
    PutBe16(prop, 46, 1);                                                 // streams

    uint64_t dataSize = 18;
    for (const auto& p : encoding.packets) dataSize += 12 + p.length;
    if (dataSize > 0xffffffffu) return nullptr;
    std::vector<uint8_t> head;
    for (const std::vector<uint8_t>* part :
         std::initializer_list<const std::vector<uint8_t>*>{&fileHeader, &prop, &mdpr, &layout.content}) {
        head.insert(head.end(), part->begin(), part->end());
    }
    head.insert(head.end(), {'D', 'A', 'T', 'A'});
    AppendBe32(head, static_cast<uint32_t>(dataSize));
    AppendBe16(head, 0);
    AppendBe32(head, static_cast<uint32_t>(encoding.packets.size()));
    AppendBe32(head, 0);
    auto view = std::make_unique<SplicedSource>(source, source->Path(), std::move(head), std::move(encoding.packets));
    return view;
}

}  // namespace vellumo::realmedia
