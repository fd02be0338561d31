// The source's tags as a RIFF LIST/INFO chunk (INAM title, IART artist,
// ICOP copyright, ICMT comment), to follow the WAV's data chunk.
//
// The text is UTF-8. RIFF leaves INFO text in an unstated code page (CSET
// chunks that would state one are read by almost nothing); writing the
// ANSI code page of whoever converts would lose every character outside
// it (Chinese titles on a Western system) and make the file read differently
// on a machine with another code page. UTF-8 keeps every character, is what
// FFmpeg, foobar2000 and other current tools write and read, and is plain
// ASCII for ASCII text, so older readers see ASCII titles unchanged.
#pragma once

#include <cstdint>
#include <vector>

#include "base/media_tags.h"

namespace vellumo::filters {

// Empty when there are no tags. Each text is NUL-terminated and each
// sub-chunk padded to an even size.
std::vector<uint8_t> RiffInfoChunk(const MediaTags& tags);

}  // namespace vellumo::filters
