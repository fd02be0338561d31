#include "tag_parser.h"

#include <cstring>

namespace vellumo::realmedia {

namespace {

// Big-endian reading that never goes past its end; once a read fails every
// later one fails too.
class BoundedReader {
public:
    BoundedReader(const uint8_t* data, size_t end, size_t at = 0) : data_(data), end_(end), at_(at) {}

    bool Ok() const { return ok_; }
    size_t At() const { return at_; }

    uint32_t Read(size_t bytes)
    {
        uint32_t v = 0;
        if (!Have(bytes)) return 0;
        for (size_t i = 0; i < bytes; ++i) v = (v << 8) | data_[at_ + i];
        at_ += bytes;
        return v;
    }
    void Skip(size_t bytes)
    {
        if (Have(bytes)) at_ += bytes;
    }
    // A string of the given length, cut at its first NUL.
    std::string Text(size_t length)
    {
        if (!Have(length)) return {};
        const char* p = reinterpret_cast<const char*>(data_ + at_);
        at_ += length;
        const void* nul = std::memchr(p, 0, length);
        return std::string(p, nul ? static_cast<const char*>(nul) - p : length);
    }

private:
    bool Have(size_t bytes)
    {
        if (ok_ && (at_ > end_ || bytes > end_ - at_)) ok_ = false;
        return ok_;
    }

    const uint8_t* data_;
    size_t end_;
    size_t at_;
    bool ok_ = true;
};

bool StartsWith(const uint8_t* data, size_t size, const char* tag)
{
    return size >= 4 && std::memcmp(data, tag, 4) == 0;
}

uint32_t BigEndian32(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Title, author, copyright and comment, each behind a length of lengthBytes.
bool ReadFourFields(BoundedReader& in, size_t lengthBytes, RawTags& tags)
{
    RawTags read;
    for (std::string* field : {&read.title, &read.author, &read.copyright, &read.comment}) {
        *field = in.Text(in.Read(lengthBytes));
    }
    if (!in.Ok()) return false;
    tags = std::move(read);
    return true;
}

constexpr size_t kMaxChunks = 4096;

}  // namespace

bool FindContentChunk(const uint8_t* head, size_t size, ChunkPlace& place)
{
    if (!StartsWith(head, size, ".RMF") || size < 8) return false;
    uint64_t offset = BigEndian32(head + 4);
    for (size_t n = 0; n < kMaxChunks; ++n) {
        if (offset < 8 || offset > size || size - offset < 8) return false;
        const uint8_t* chunk = head + offset;
        const uint32_t chunkSize = BigEndian32(chunk + 4);
        if (StartsWith(chunk, 4, "CONT")) {
            place.offset = offset;
            place.size = chunkSize;
            return true;
        }
        if (StartsWith(chunk, 4, "DATA") || StartsWith(chunk, 4, "INDX") || chunkSize < 8) return false;
        offset += chunkSize;
    }
    return false;
}

bool ParseContentChunk(const uint8_t* chunk, size_t size, RawTags& tags)
{
    if (!StartsWith(chunk, size, "CONT") || size < 10) return false;
    const uint32_t declared = BigEndian32(chunk + 4);
    BoundedReader in(chunk, declared < size ? declared : size, 8);
    if (in.Read(2) != 0) return false;  // object version
    return ReadFourFields(in, 2, tags);
}

bool ParseRealAudioTags(const uint8_t* head, size_t size, RawTags& tags)
{
    if (!StartsWith(head, size, ".ra\xfd") || size < 8) return false;
    const uint32_t version = (uint32_t{head[4]} << 8) | head[5];
    if (version == 3) {
        // Header size (after its own field), 8 unknown bytes, bytes per
        // minute, 4 more, then the four fields.
        const size_t end = 8 + ((size_t{head[6]} << 8) | head[7]);
        BoundedReader in(head, end < size ? end : size, 8);
        in.Skip(14);
        return ReadFourFields(in, 1, tags);
    }
    if (version == 4) {
        if (size < 22) return false;
        // The header size counts from the second version field at 16.
        const uint64_t end = 16 + uint64_t{BigEndian32(head + 18)};
        BoundedReader in(head, end < size ? static_cast<size_t>(end) : size, 56);
        in.Skip(in.Read(1));  // interleaver
        in.Skip(in.Read(1));  // codec FOURCC
        in.Skip(3);
        return ReadFourFields(in, 1, tags);
    }
    return false;
}

bool ParseFileTags(const uint8_t* head, size_t size, RawTags& tags)
{
    if (StartsWith(head, size, ".ra\xfd")) return ParseRealAudioTags(head, size, tags);
    ChunkPlace place;
    if (!FindContentChunk(head, size, place) || place.size > size - place.offset) return false;
    return ParseContentChunk(head + place.offset, place.size, tags);
}

bool IsValidUtf8(const std::string& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = p[i];
        size_t extra;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += extra + 1;
    }
    return true;
}

}  // namespace vellumo::realmedia
