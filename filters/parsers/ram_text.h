// The text of RealMedia reference files (.ram): a short list of media
// locations, one a line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellumo::realmedia {

// True when the bytes read like a reference file: short text with no binary
// bytes and at least one non-blank line. A RealMedia signature is never one.
bool LooksLikeRamFile(const std::vector<uint8_t>& bytes);

// The local file locations the text lists, in order, as the file's bytes:
// file:// URLs on this machine (percent-escapes decoded, query and fragment
// dropped) and plain paths. Network locations (rtsp://, pnm://, http:// ...,
// file:// URLs naming another host), blank lines and comments are left out.
std::vector<std::string> RamEntryPaths(const std::vector<uint8_t>& text);

}  // namespace vellumo::realmedia
