// The program's INI routines over the Windows profile-string functions (wide
// forms, so that the file's path may hold any character).
#pragma once

#include <windows.h>

#include <string>

namespace vellumo {

// The value of key in section of file, or def when the file, the section or
// the key is missing; a key with an empty value gives an empty string. NULs
// and surrounding spaces are removed. An empty file means the program's own
// INI file.
std::wstring ReadIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& def,
                          const std::wstring& file);
// Writes the pair; an empty key deletes the section, an empty value (after
// NULs and surrounding spaces are removed) deletes the key. Returns the
// profile function's result (nonzero on success).
LONG WriteIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                   const std::wstring& file);

// The program folder followed by the program file's name with ".ini".
const std::wstring& ProgramIniFile();

}  // namespace vellumo
