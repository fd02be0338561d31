// RealMedia reference files (.ram): a short text listing media locations,
// one a line. The pack converts the first entry that is a local file.
#pragma once

#include "ram_text.h"

namespace vellumo::realmedia {

// The local file locations a reference file lists, in order, as full paths:
// file:// URLs (percent-escapes decoded, query and fragment dropped) and plain
// paths; relative ones are taken against folder, the reference file's own.
// Network locations (rtsp://, pnm://, http:// ...), blank lines, comments and
// every entry that could lead off the user's own disks (ResolveReference)
// are left out.
std::vector<std::wstring> LocalRamEntries(const std::vector<uint8_t>& text, const std::wstring& folder);

// The folder part of a path ("C:\a\b.ram" -> "C:\a"), empty when there is none.
std::wstring FolderOf(const std::wstring& path);

}  // namespace vellumo::realmedia
