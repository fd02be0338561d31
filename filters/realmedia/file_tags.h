// Reading a RealMedia file's tags through its ByteSource: the first bytes
// for the chunk layout or the old RealAudio header, then the CONT chunk.
#pragma once

#include "byte_source.h"
#include "tag_parser.h"

namespace vellumo::realmedia {

// Empty when the file has no tags or its tag block is damaged.
RawTags ReadFileTags(ByteSource& source);

}  // namespace vellumo::realmedia
