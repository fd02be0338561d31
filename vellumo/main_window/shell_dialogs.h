// The shell's dialogs and helpers the main window uses: the file dialog for
// RealMedia files, the folder picker and the help file.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace vellumo {

// Shows the open dialog for RealMedia files (multiple selection). Returns the
// full paths of the chosen files, in the dialog's order, however many there
// are, or nothing when the user cancels or the dialog fails.
std::optional<std::vector<std::wstring>> ShowOpenRealFilesDialog(HWND owner);

// Splits a file-name result into full paths: one part is the single file;
// several parts are the folder and the names in it.
std::vector<std::wstring> PathsFromDialogResult(const std::wstring& result);

// The shell's folder picker; the chosen folder, or empty on cancel or failure.
std::wstring BrowseForFolder(HWND owner);

// Asks the shell to open vellumo.chm in the program folder.
void ShowHelp();

}  // namespace vellumo
