// Plain string work on Windows paths, and where the program lives.
#pragma once

#include <string>

namespace vellumo {

// The folder with blanks trimmed, then a backslash unless it already ends
// with one, then the name; an empty folder gives the name alone.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
// The text after the last backslash, or the whole path without one.
std::wstring FileNameOf(const std::wstring& path);
// The file name without a final extension of one to four characters.
std::wstring BaseNameOf(const std::wstring& path);

// One name that the file system takes as a regular file in the folder it is
// joined to: the text after the last backslash or slash, with : * ? " < > |
// and control characters replaced by '_', trailing dots and spaces trimmed,
// and a device name (CON, NUL, COM1, LPT1, ... also with an extension) given
// a '_' after its stem. A name that trims to nothing becomes "_".
std::wstring SafeFileName(const std::wstring& name);

// The path in the form the file functions take beyond MAX_PATH (with the
// prefix); shorter paths as they are.
std::wstring ForFileSystem(const std::wstring& path);

// Leading and trailing blanks (spaces) removed.
std::wstring TrimBlanks(const std::wstring& text);
std::string TrimBlanks(const std::string& text);

// The folder of a module path, the way the program reports its own folder:
// no trailing backslash, except for a drive root ("C:\").
std::wstring FolderOfPath(const std::wstring& modulePath);
// Folder and file of the running program.
std::wstring ProgramPath();
std::wstring ProgramFolder();

}  // namespace vellumo
