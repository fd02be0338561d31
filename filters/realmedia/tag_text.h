// Turning the tag bytes of a RealMedia file into text. The files declare no
// encoding: bytes that are valid UTF-8 are taken as UTF-8, anything else as
// the system's ANSI code page, which is what the producing tools wrote
// (Windows-1252 "\xA9" for the copyright sign in RealProducer files).
#pragma once

#include <string>

#include "base/media_tags.h"
#include "tag_parser.h"

namespace vellumo::filters {

// The machine's ANSI code page (LOCALE_SYSTEM_DEFAULT's), not the process's:
// a program whose manifest makes its own code page UTF-8 still meets old
// files written in the system's.
unsigned SystemAnsiCodePage();

std::wstring DecodeTagText(const std::string& bytes, unsigned ansiCodePage);

// The four tags; the comment becomes the description.
MediaTags DecodeTags(const realmedia::RawTags& raw, unsigned ansiCodePage);

}  // namespace vellumo::filters
