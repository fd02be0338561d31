// Files dragged from the shell onto the main window: which of them become
// entries of the source list.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace vellumo {

// True when the name ends in .rm, .ra, .ram or .rmvb, in any letter case.
bool IsRealMediaName(const std::wstring& path);

// The RealMedia files in a folder and all its subfolders, ordered by path as
// Explorer orders names (letter case ignored, numbers by value).
std::vector<std::wstring> RealMediaFilesUnder(const std::wstring& folder);

// The source files a drop brings, in the order dropped: a RealMedia file as
// it is, a folder by its RealMedia files; anything else is left out.
std::vector<std::wstring> SourcesOfDrop(HDROP drop);

// Lets the shell drop files onto the window: WM_DROPFILES arrives for it and
// for its children, also when the program runs with raised rights (started
// by the setup program) and the shell does not.
void AcceptFileDrops(HWND window);

}  // namespace vellumo
