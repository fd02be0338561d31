// The header of an old bare RealAudio file (".ra\xfd" versions 3 and 4).
#include "tag_parser.h"

using namespace vellumo::realmedia;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RawTags tags;
    if (ParseRealAudioTags(data, size, tags)) IsValidUtf8(tags.title + tags.author + tags.copyright + tags.comment);
    return 0;
}
