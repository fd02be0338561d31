#include "wavdest/riff_info.h"

#include <string>

namespace vellumo::filters {

namespace {

void Put32(std::vector<uint8_t>& v, uint32_t x)
{
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

void PutText(std::vector<uint8_t>& chunk, const char* id, const std::wstring& text)
{
    if (text.empty()) return;
    const std::string utf8 = Utf8Of(text);
    chunk.insert(chunk.end(), id, id + 4);
    Put32(chunk, static_cast<uint32_t>(utf8.size() + 1));
    chunk.insert(chunk.end(), utf8.begin(), utf8.end());
    chunk.push_back(0);
    if (chunk.size() & 1) chunk.push_back(0);
}

}  // namespace

std::vector<uint8_t> RiffInfoChunk(const MediaTags& tags)
{
    if (tags.Empty()) return {};
    std::vector<uint8_t> body{'I', 'N', 'F', 'O'};
    PutText(body, "INAM", tags.title);
    PutText(body, "IART", tags.author);
    PutText(body, "ICOP", tags.copyright);
    PutText(body, "ICMT", tags.description);
    std::vector<uint8_t> chunk{'L', 'I', 'S', 'T'};
    Put32(chunk, static_cast<uint32_t>(body.size()));
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

}  // namespace vellumo::filters
