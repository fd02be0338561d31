// Files handed to the program by the shell, dragged onto the window or named
// on its command line: which of them become entries of the source list.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "common/paths.h"

namespace vellumo {

// One entry for the source list: the file's full path and the folder its
// output path is taken relative to. For a file found in a dropped folder that
// is the dropped folder's parent, so that the dropped folder comes along; a
// file handed over on its own has none (empty).
struct SourceEntry {
    std::wstring path;
    std::wstring origin;
};

// True when the name ends in .rm, .ra, .ram or .rmvb, in any letter case.
bool IsRealMediaName(const std::wstring& path);

// The folder that the files below a dropped folder are named relative to:
// the dropped folder's parent ("D:\Archive" for "D:\Archive\Lectures"); a
// drive root stands for itself ("D:" for "D:\").
std::wstring OriginOfFolder(const std::wstring& folder);

// True for a folder entry that stands for another place (a junction, a
// symbolic link: a name surrogate), which can lead back up the tree; false
// for a real folder and for other reparse points such as cloud-file
// placeholders, which hold real files. reparseTag is the finding's
// dwReserved0.
bool IsLinkElsewhere(DWORD attributes, DWORD reparseTag);

// Asked now and then while folders are read, with the number of files found
// so far; false stops the reading.
using KeepReading = std::function<bool(std::size_t found)>;

// The sources that files and folders bring, in the order named: a RealMedia
// file as it is, a folder by the RealMedia files in it and its subfolders in
// Explorer's order (letter case ignored, numbers by value, each folder's
// files together); anything else, and what does not exist, is left out.
// Returns false when keepReading stopped it. Folders that could not be read
// (not opened, or their listing failed part way) are counted in unreadable.
bool CollectSources(const std::vector<std::wstring>& names, const KeepReading& keepReading,
                    std::vector<SourceEntry>* sources, std::size_t* unreadable = nullptr);

// The names a drop carries, in the order dropped.
std::vector<std::wstring> NamesOfDrop(HDROP drop);

// The paths a command line names after the program, as full paths (a relative
// one taken from the current folder); empty arguments ("") are left out. The
// program's name ends where Windows ends it (at its closing quote, or
// unquoted at the first blank). No path holds a quote, so quotes only group
// and a backslash is always itself: "D:\A\" "D:\B" are two folders, the
// first with its trailing backslash (CommandLineToArgvW would read a single
// argument with a quote in it). A quote left open runs to the end.
std::vector<std::wstring> PathsOfCommandLine(const wchar_t* commandLine);

// Lets the shell drop files onto the window: WM_DROPFILES arrives for it and
// for its children, also when the program runs with raised rights (started
// by the setup program) and the shell does not.
void AcceptFileDrops(HWND window);

}  // namespace vellumo
