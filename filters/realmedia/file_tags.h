// Reading a RealMedia file's tags through its ByteSource: the first bytes
// for the chunk layout or the old RealAudio header, then the CONT chunk.
//
// libavformat reads a CONT chunk field by field without holding the fields
// to the chunk's size: lengths that reach past it (a damaged or crafted tag
// block) make it read on into the next chunks and refuse the whole file,
// intact audio and all. The pack reads the tags itself and shows libavformat
// the file with its CONT chunk under another name, which it skips by size.
#pragma once

#include <memory>

#include "byte_source.h"
#include "tag_parser.h"

namespace vellumo::realmedia {

struct FileTags {
    RawTags tags;         // empty when there are none or they are damaged
    bool hasContent = false;
    ChunkPlace content;   // the CONT chunk, when hasContent
};

FileTags ReadFileTags(ByteSource& source);

// The source with the 4-byte tag of the chunk at `place` reading "JUNK".
std::unique_ptr<ByteSource> HideChunk(std::unique_ptr<ByteSource> source, const ChunkPlace& place);

}  // namespace vellumo::realmedia
