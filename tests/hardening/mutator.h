// Deterministic mutations of RealMedia files: every input is a function of
// (seed, index) alone, so that any input of a run can be made again.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// splitmix64: small, fast, the same everywhere.
struct Random {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return n ? static_cast<size_t>(Next() % n) : 0; }
};

// A piece of the file with a size field: a top-level chunk (4 size bytes at
// +4) or a packet inside a DATA chunk (2 size bytes at +2).
struct Span {
    size_t offset, length;
    bool packet;
    int SizeBytes() const { return packet ? 2 : 4; }
    size_t SizeField() const { return offset + static_cast<size_t>(SizeBytes()); }
};

inline Bytes::iterator At(Bytes& b, size_t offset) { return b.begin() + static_cast<std::ptrdiff_t>(offset); }

inline uint32_t ReadBe(const Bytes& b, size_t at, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | b[at + static_cast<size_t>(i)];
    return v;
}
inline void WriteBe(Bytes& b, size_t at, int n, uint32_t v)
{
    for (int i = n - 1; i >= 0 && at + static_cast<size_t>(i) < b.size(); --i, v >>= 8) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v);
}

// The chunks and packets of a RealMedia file, as far as they are sound.
inline std::vector<Span> SpansOf(const Bytes& b)
{
    std::vector<Span> spans;
    if (b.size() < 18 || ReadBe(b, 0, 4) != 0x2E524D46) return spans;  // .RMF
    for (size_t at = 0; at + 10 <= b.size();) {
        uint32_t size = ReadBe(b, at + 4, 4);
        if (size < 10) break;
        const bool clipped = size > b.size() - at;  // a cut file: its last chunk ends early
        if (clipped) size = static_cast<uint32_t>(b.size() - at);
        spans.push_back({at, size, false});
        if (ReadBe(b, at, 4) == 0x44415441) {  // DATA
            for (size_t p = at + 18, len; p + 12 <= at + size; p += len) {
                len = ReadBe(b, p + 2, 2);
                if (len < 12 || p + len > at + size) break;
                spans.push_back({p, len, true});
            }
        }
        if (clipped) break;
        at += size;
    }
    return spans;
}

// Offsets where a file may be cut: every chunk and packet boundary, or (for
// files that are not chunked, like bare RealAudio) a spread of offsets.
inline std::vector<size_t> CutPoints(const Bytes& b)
{
    std::vector<size_t> cuts;
    for (const Span& s : SpansOf(b)) {
        cuts.push_back(s.offset);
        cuts.push_back(s.offset + (s.packet ? 12 : 10));  // just after the header
    }
    if (cuts.empty()) {
        for (size_t n = 1; n < b.size(); n *= 2) cuts.push_back(n);
        for (size_t k = 1; k < 16; ++k) cuts.push_back(b.size() * k / 16);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    return cuts;
}

enum class Mutation { BitFlips, ByteRun, Truncate, ChunkSize, HeaderField, Duplicate, Swap, Stacked, kCount };

inline const char* Name(Mutation m)
{
    static const char* const names[] = {"bit-flips", "byte-run", "truncate", "chunk-size", "header-field",
                                        "duplicate", "swap", "stacked"};
    return names[static_cast<int>(m)];
}

inline uint32_t Interesting(Random& r, int bytes)
{
    static const uint32_t values[] = {0, 1, 2, 0x7F, 0x80, 0xFF, 0x100, 0x7FFF, 0x8000, 0xFFFF, 0x10000,
                                      0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu, 12, 10, 18};
    uint32_t v = values[r.Below(sizeof(values) / sizeof(values[0]))];
    if (r.Below(4) == 0) v = static_cast<uint32_t>(r.Next());
    return bytes == 2 ? (v & 0xFFFF) : v;
}

// One mutation of `in`. `serial` walks the cut points so that a long run
// truncates every seed at every boundary.
inline Bytes Mutate(const Bytes& in, Mutation m, Random& r, size_t serial)
{
    Bytes b = in;
    if (b.empty()) return b;
    std::vector<Span> spans = SpansOf(b);
    // Header fields: everything before the first packet (or the first 256
    // bytes of a file without chunks).
    const auto firstPacket = std::find_if(spans.begin(), spans.end(), [](const Span& s) { return s.packet; });
    const size_t headerEnd = firstPacket != spans.end() ? firstPacket->offset : std::min<size_t>(b.size(), 256);
    switch (m) {
    case Mutation::BitFlips:
        for (size_t i = 0, flips = 1 + r.Below(8); i < flips; ++i) b[r.Below(b.size())] ^= static_cast<uint8_t>(1u << r.Below(8));
        break;
    case Mutation::ByteRun: {
        size_t at = r.Below(b.size());
        size_t len = std::min(b.size() - at, 1 + r.Below(r.Below(2) ? 16 : 512));
        uint8_t value = r.Below(3) == 0 ? 0 : (r.Below(2) ? 0xFF : static_cast<uint8_t>(r.Next()));
        std::fill(At(b, at), At(b, at + len), value);
        break;
    }
    case Mutation::Truncate: {
        std::vector<size_t> cuts = CutPoints(b);
        size_t cut = cuts[serial % cuts.size()];
        if (r.Below(4) == 0) cut = std::min(b.size(), cut + 1 + r.Below(11));  // inside a header
        b.resize(cut);
        break;
    }
    case Mutation::ChunkSize: {
        if (spans.empty()) return Mutate(in, Mutation::HeaderField, r, serial);
        const Span& s = spans[r.Below(spans.size())];
        uint32_t old = ReadBe(b, s.SizeField(), s.SizeBytes());
        uint32_t v = r.Below(3) == 0 ? old + static_cast<uint32_t>(r.Below(9)) - 4 : Interesting(r, s.SizeBytes());
        WriteBe(b, s.SizeField(), s.SizeBytes(), v);
        break;
    }
    case Mutation::HeaderField: {
        size_t at = r.Below(headerEnd) & ~static_cast<size_t>(1);
        int bytes = r.Below(2) ? 2 : 4;
        if (at + static_cast<size_t>(bytes) > b.size()) at = b.size() >= 4 ? b.size() - 4 : 0;
        WriteBe(b, at, bytes, Interesting(r, bytes));
        break;
    }
    case Mutation::Duplicate: {
        if (spans.empty()) return Mutate(in, Mutation::ByteRun, r, serial);
        const Span& s = spans[r.Below(spans.size())];
        Bytes copy(At(b, s.offset), At(b, s.offset + s.length));
        for (size_t i = 0, times = 1 + r.Below(3); i < times; ++i) b.insert(At(b, s.offset + s.length), copy.begin(), copy.end());
        break;
    }
    case Mutation::Swap: {
        if (spans.size() < 2) return Mutate(in, Mutation::BitFlips, r, serial);
        // Two neighbours of the same kind (two chunks or two packets).
        size_t i = r.Below(spans.size() - 1);
        const Span& a = spans[i];
        const Span& c = spans[i + 1];
        if (a.offset + a.length != c.offset) return Mutate(in, Mutation::ChunkSize, r, serial);
        Bytes out(b.begin(), At(b, a.offset));
        out.insert(out.end(), At(b, c.offset), At(b, c.offset + c.length));
        out.insert(out.end(), At(b, a.offset), At(b, a.offset + a.length));
        out.insert(out.end(), At(b, c.offset + c.length), b.end());
        b.swap(out);
        break;
    }
    case Mutation::Stacked:  // several of the others at once
    case Mutation::kCount:
        for (size_t i = 0, n = 2 + r.Below(3); i < n; ++i)
            b = Mutate(b, static_cast<Mutation>(r.Below(static_cast<size_t>(Mutation::Stacked))), r, serial + i);
        break;
    }
    return b;
}

}  // namespace fuzz
