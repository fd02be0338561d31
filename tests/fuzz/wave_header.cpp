// The WAV writer's header around a format block as any upstream filter may
// hand it, and its INFO chunk around any tag text: every chunk must tile its
// parent exactly, with the sizes its fields claim.
#include <cstring>

#include "wave_header.h"

using namespace vellumo::wave;

namespace {

uint64_t Le32(const std::vector<uint8_t>& v, size_t at) { return v[at] | v[at + 1] << 8 | v[at + 2] << 16 | uint64_t(v[at + 3]) << 24; }
bool Tag(const std::vector<uint8_t>& v, size_t at, const char* tag) { return at + 4 <= v.size() && !std::memcmp(&v[at], tag, 4); }
void Check(bool ok) { if (!ok) __builtin_trap(); }

void CheckHeader(const std::vector<uint8_t>& fmt, uint64_t data, uint64_t trailer)
{
    const std::vector<uint8_t> h = RiffHeader(fmt, data, trailer);
    const size_t fmtEnd = 20 + fmt.size() + (fmt.size() & 1);
    Check(h.size() == fmtEnd + 8 && Tag(h, 0, "RIFF") && Tag(h, 8, "WAVE") && Tag(h, 12, "fmt ") && Tag(h, fmtEnd, "data"));
    Check(Le32(h, 16) == fmt.size() && !std::memcmp(&h[20], fmt.data(), fmt.size()));
    const uint64_t written = Le32(h, fmtEnd + 4), riff = Le32(h, 4);
    Check(written <= data);
    if (data < 0xFFFF0000ull && data + trailer < 0xFFFF0000ull) Check(written == data && riff == h.size() - 8 + data + (data & 1) + trailer);
    else Check(riff >= h.size() - 8 + written);  // clamped, still covering what it names
}

void CheckInfo(const InfoTexts& t)
{
    const std::vector<uint8_t> c = InfoChunk(t);
    const std::string* texts[] = {&t.title, &t.artist, &t.copyright, &t.comment};
    const char* ids[] = {"INAM", "IART", "ICOP", "ICMT"};
    if (c.empty()) {
        for (auto* text : texts) Check(text->empty());
        return;
    }
    Check(Tag(c, 0, "LIST") && Le32(c, 4) == c.size() - 8 && Tag(c, 8, "INFO") && c.size() % 2 == 0);
    size_t at = 12;
    for (int i = 0; i < 4; ++i) {
        if (texts[i]->empty()) continue;
        Check(Tag(c, at, ids[i]) && at + 8 <= c.size());
        const uint64_t n = Le32(c, at + 4);
        Check(n == texts[i]->size() + 1 && at + 8 + n <= c.size() && c[at + 8 + n - 1] == 0);
        Check(!std::memcmp(&c[at + 8], texts[i]->data(), texts[i]->size()));
        at += 8 + n + (n & 1);
    }
    Check(at == c.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 13) return 0;
    uint64_t dataBytes;
    uint32_t trailer;
    std::memcpy(&dataBytes, data, 8);
    std::memcpy(&trailer, data + 8, 4);
    // The format block in a buffer of exactly its size, so a read past it trips.
    const size_t formatSize = std::min<size_t>(data[12], size - 13);
    std::vector<uint8_t> block(data + 13, data + 13 + formatSize);
    const std::vector<uint8_t> fmt = FormatChunkBody(formatSize ? block.data() : nullptr, formatSize);
    if (!fmt.empty()) CheckHeader(fmt, dataBytes, trailer);

    // The rest: four texts split at '\n'.
    InfoTexts t;
    std::string* texts[] = {&t.title, &t.artist, &t.copyright, &t.comment};
    int i = 0;
    for (size_t at = 13 + formatSize; at < size && i < 4; ++at) {
        if (data[at] == '\n') ++i;
        else if (i < 4) texts[i]->push_back(static_cast<char>(data[at]));
    }
    CheckInfo(t);
    return 0;
}
