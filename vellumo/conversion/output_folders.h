// The folders below the output folder that a batch's outputs go into: made
// when the file is written, and the limits a target path must keep.
#pragma once

#include <windows.h>

#include <string>

namespace vellumo::batch {

// True when the converter can take the path: at most MAX_PATH characters
// with the terminator. A longer one is never cut.
bool FitsPathLimit(const std::wstring& path);

// Creates, one level at a time, the folders between the output folder and
// the target's own folder that do not exist yet; the output folder itself is
// taken as it is. Returns 0, or the system's error code with the folder that
// could not be made in failedFolder.
DWORD CreateFoldersFor(const std::wstring& outputFolder, const std::wstring& target, std::wstring* failedFolder);

}  // namespace vellumo::batch
