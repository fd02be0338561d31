// What a batch does on the disk besides converting: finding out whether an
// output's name is taken, removing what interrupted runs left, and writing
// the report.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "batch_plan.h"

namespace vellumo::batch {

// True when a file or folder of that path is there.
bool PathTaken(const std::wstring& path);

// The folders of the outputs, each once (letter case ignored).
std::vector<std::wstring> FoldersOf(const std::vector<std::wstring>& outputs);

// Removes from the folders the temporary outputs ("*.vellumo-<pid>.partial")
// of processes that no longer run (or whose id another program now has), and
// records each one removed. Files of a running Vellumo, folders, links and
// read-only files are left alone.
void RemoveLeftovers(const std::vector<std::wstring>& folders, BatchResults* results);

// Writes the report as a new file named after the moment ("Vellumo report
// 2026-12-08 21.05.33.txt"): into the output folder, beside the outputs it
// speaks of, or, when that cannot be written, into the user's
// "Vellumo\Reports" application data folder. Returns its path, or empty
// when it could be written nowhere.
std::wstring WriteReport(const std::wstring& outputFolder, const std::string& report);

}  // namespace vellumo::batch
