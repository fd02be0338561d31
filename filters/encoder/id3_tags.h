// The source's tags in the MP3, through LAME's own ID3 support: an ID3v2.3
// tag with UTF-16 text frames (title, artist, copyright, comment) for the
// start of the file, and an ID3v1 tag for its end when every text fits one
// (Latin-1, 30 bytes a field; ID3v1 has no copyright field). A source
// without tags gets neither.
#pragma once

#include <cstdint>
#include <vector>

#include "base/media_tags.h"

struct lame_global_struct;

namespace vellumo::filters {

// Before lame_init_params. Does nothing for empty tags.
void SetId3Tags(lame_global_struct* lame, const MediaTags& tags);

// The tags' bytes (empty when none were set).
std::vector<uint8_t> Id3v2Tag(lame_global_struct* lame);
std::vector<uint8_t> Id3v1Tag(lame_global_struct* lame);

}  // namespace vellumo::filters
