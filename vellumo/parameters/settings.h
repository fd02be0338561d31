// settings.ini: the nine conversion parameters, read into and written from
// the parameter store (the main window's converter). The file lives beside
// the program; where the program folder cannot be written (a standard
// installation under Program Files, for a user without administrator
// rights), the user's own copy under the application data folder takes its
// place, and is read first from then on.
#pragma once

#include <string>
#include <vector>

#include "common/halvex_dispatch.h"

namespace vellumo {

// The program folder joined with "settings.ini".
std::wstring SettingsPath();
// The user's copy: "Vellumo\settings.ini" in the user's application data
// folder (empty when the platform names no such folder).
std::wstring UserSettingsPath();

// Reads every key (default where missing or not a whole number that fits the
// property) and puts it into the store.
void LoadSettings(const HalvexDispatch& store, const std::wstring& path);
// From the user's copy when it exists, otherwise from beside the program.
void LoadSettings(const HalvexDispatch& store);
// Writes the store's nine values, section "MP3" then "WAV", into a copy of
// the file beside it, which then replaces the file in one step; false when a
// write or the replacement failed (the file is then as it was).
bool SaveSettings(const HalvexDispatch& store, const std::wstring& path);
// The copy a save writes: path followed by ".saving-" and this process's id,
// so that two instances saving at once never write into one copy.
std::wstring SettingsSavingPath(const std::wstring& path);
// The first step of a save alone: the copy, written in full.
bool WriteSettingsCopy(const HalvexDispatch& store, const std::wstring& path);
// Into the user's copy when it exists; otherwise beside the program and, when
// that cannot be written, into a new user's copy. Returns the files that
// could not be written, in the order tried: empty when the parameters are
// saved.
std::vector<std::wstring> SaveSettings(const HalvexDispatch& store);

// A value of the program's own beside the parameters (a section other than
// "MP3" and "WAV"), from the file the parameters are read from; empty when
// missing.
std::wstring ReadSettingsValue(const std::wstring& section, const std::wstring& key);
// Writes one such value the way the parameters are saved (SaveSettings), the
// rest of the file kept as it is; returns the files that could not be written.
std::vector<std::wstring> SaveSettingsValue(const std::wstring& section, const std::wstring& key,
                                            const std::wstring& value);

// A whole decimal number (optional sign, digits, nothing else) that lies in
// [low, high]; false otherwise.
bool ParseWholeNumber(const std::wstring& text, long low, long high, long* value);

}  // namespace vellumo
