#include "settings.h"

#include <climits>
#include <functional>

#include <shlobj.h>

#include "common/paths.h"
#include "ini_file.h"

namespace vellumo {

namespace {

struct SettingKey {
    const wchar_t* section;
    const wchar_t* key;
    DISPID property;
    bool isLong;  // Long ("VBR") rather than Integer
    long defaultValue;
};

// Reading order.
constexpr SettingKey ReadOrder[] = {
    {L"MP3", L"MP3_Frequency", DispMP3Frequency, false, 0},
    {L"MP3", L"MP3_Channels", DispMP3Channels, false, 0},
    {L"MP3", L"MP3_Bitrates", DispMP3Bitrate, false, 8},
    {L"MP3", L"VBR", DispMP3VBR, true, 0},
    {L"MP3", L"MP3_VBRMin", DispMP3VBRMinBitrate, false, 3},
    {L"MP3", L"MP3_VBRMax", DispMP3VBRMaxBitrate, false, 9},
    {L"WAV", L"WAV_Frequency", DispWAVFrequency, false, 0},
    {L"WAV", L"WAV_Channels", DispWAVChannels, false, 2},
    {L"WAV", L"WAV_Bits", DispWAVBits, false, 1},
};

// Writing order: maximum before minimum.
constexpr int WriteOrder[] = {0, 1, 2, 3, 5, 4, 6, 7, 8};

}  // namespace

bool ParseWholeNumber(const std::wstring& text, long low, long high, long* value)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    if (i == text.size()) return false;
    long long number = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9') return false;
        number = number * 10 + (text[i] - L'0');
        if (number > 1LL << 40) return false;
    }
    if (negative) number = -number;
    if (number < low || number > high) return false;
    *value = static_cast<long>(number);
    return true;
}

std::wstring SettingsPath() { return JoinPath(ProgramFolder(), L"settings.ini"); }

std::wstring UserSettingsPath()
{
    PWSTR folder = nullptr;
    std::wstring path;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder)) && folder && *folder)
        path = JoinPath(JoinPath(folder, L"Vellumo"), L"settings.ini");
    CoTaskMemFree(folder);
    return path;
}

namespace {

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

void LoadSettings(const HalvexDispatch& store, const std::wstring& path)
{
    for (const SettingKey& row : ReadOrder) {
        const std::wstring text = ReadIniValue(row.section, row.key, std::to_wstring(row.defaultValue), path);
        long value = row.defaultValue;
        if (row.isLong) {
            if (!ParseWholeNumber(text, LONG_MIN, LONG_MAX, &value)) value = row.defaultValue;
            store.PutLong(row.property, static_cast<LONG>(value));
        } else {
            if (!ParseWholeNumber(text, SHRT_MIN, SHRT_MAX, &value)) value = row.defaultValue;
            store.PutShort(row.property, static_cast<SHORT>(value));
        }
    }
}

void LoadSettings(const HalvexDispatch& store)
{
    const std::wstring user = UserSettingsPath();
    LoadSettings(store, FileExists(user) ? user : SettingsPath());
}

std::wstring SettingsSavingPath(const std::wstring& path)
{
    return path + L".saving-" + std::to_wstring(GetCurrentProcessId());
}

namespace {

// Writes the new values into the copy.
using CopyWriter = std::function<bool(const std::wstring& copy)>;

bool WriteCopy(const std::wstring& path, const CopyWriter& write)
{
    const std::wstring copy = SettingsSavingPath(path);
    // The copy starts as the file is now (its other sections, its order of
    // keys); without a file, from nothing, never from a leftover.
    if (FileExists(path)) {
        if (!CopyFileW(path.c_str(), copy.c_str(), FALSE)) return false;
    } else if (!DeleteFileW(copy.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        return false;
    }
    return write(copy);
}

bool ReplaceByCopy(const std::wstring& path, const CopyWriter& write)
{
    // The new contents go to a copy beside the file, which then replaces the
    // file in one step: a save cut short (the process ending, a full disk)
    // leaves the earlier file whole.
    const std::wstring copy = SettingsSavingPath(path);
    bool saved = WriteCopy(path, write);
    if (saved && FileExists(copy)) saved = MoveFileExW(copy.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (!saved) {
        // A copy of a read-only file is read-only too.
        SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(copy.c_str());
    }
    return saved;
}

// Into the user's copy when it exists; otherwise beside the program and, when
// that cannot be written, into a new user's copy.
std::vector<std::wstring> SaveIntoSettingsFile(const CopyWriter& write)
{
    const std::wstring user = UserSettingsPath();
    std::vector<std::wstring> failed;
    if (!FileExists(user)) {
        if (ReplaceByCopy(SettingsPath(), write)) return failed;
        failed.push_back(SettingsPath());
        if (user.empty()) return failed;
        CreateDirectoryW(user.substr(0, user.find_last_of(L'\\')).c_str(), nullptr);
    }
    if (!ReplaceByCopy(user, write)) failed.push_back(user);
    else failed.clear();
    return failed;
}

CopyWriter NineValues(const HalvexDispatch& store)
{
    return [&store](const std::wstring& copy) {
        bool saved = true;
        for (int index : WriteOrder) {
            const SettingKey& row = ReadOrder[index];
            LONG value = 0;
            // A value the store cannot give is not written: the file keeps what it holds.
            if (FAILED(store.GetLong(row.property, &value))) continue;
            if (!row.isLong) value = static_cast<SHORT>(value);
            if (!WriteIniValue(row.section, row.key, std::to_wstring(value), copy)) saved = false;
        }
        return saved;
    };
}

}  // namespace

bool WriteSettingsCopy(const HalvexDispatch& store, const std::wstring& path)
{
    return WriteCopy(path, NineValues(store));
}

bool SaveSettings(const HalvexDispatch& store, const std::wstring& path)
{
    return ReplaceByCopy(path, NineValues(store));
}

std::vector<std::wstring> SaveSettings(const HalvexDispatch& store) { return SaveIntoSettingsFile(NineValues(store)); }

std::wstring ReadSettingsValue(const std::wstring& section, const std::wstring& key)
{
    const std::wstring user = UserSettingsPath();
    return ReadIniValue(section, key, std::wstring(), FileExists(user) ? user : SettingsPath());
}

std::vector<std::wstring> SaveSettingsValue(const std::wstring& section, const std::wstring& key,
                                            const std::wstring& value)
{
    return SaveIntoSettingsFile([&](const std::wstring& copy) {
        return WriteIniValue(section, key, value, copy) != 0;
    });
}

}  // namespace vellumo
