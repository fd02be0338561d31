// settings.ini beside the program: the nine conversion parameters, read into
// and written from the parameter store (the main window's converter).
#pragma once

#include <string>

#include "common/halvex_dispatch.h"

namespace vellumo {

// The program folder joined with "settings.ini".
std::wstring SettingsPath();

// Reads every key (default where missing or not a whole number that fits the
// property) and puts it into the store.
void LoadSettings(const HalvexDispatch& store, const std::wstring& path);
void LoadSettings(const HalvexDispatch& store);
// Writes the store's nine values, section "MP3" then "WAV".
void SaveSettings(const HalvexDispatch& store, const std::wstring& path);
void SaveSettings(const HalvexDispatch& store);

// A whole decimal number (optional sign, digits, nothing else) that lies in
// [low, high]; false otherwise.
bool ParseWholeNumber(const std::wstring& text, long low, long high, long* value);

}  // namespace vellumo
