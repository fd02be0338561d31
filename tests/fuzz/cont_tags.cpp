// The CONT chunk of a .RMF file: found by walking the chunks at the head of
// the file, and read on its own.
#include "tag_parser.h"

using namespace vellumo::realmedia;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RawTags tags;
    if (ParseFileTags(data, size, tags)) IsValidUtf8(tags.title + tags.author + tags.copyright + tags.comment);
    ParseContentChunk(data, size, tags);
    return 0;
}
