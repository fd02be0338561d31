#include "ini_file.h"

#include <algorithm>
#include <vector>

#include "common/paths.h"

namespace vellumo {

namespace {

constexpr DWORD ValueBufferSize = 2048;

std::wstring WithoutNuls(std::wstring text)
{
    text.erase(std::remove(text.begin(), text.end(), L'\0'), text.end());
    return text;
}

const std::wstring& FileOrDefault(const std::wstring& file)
{
    return file.empty() ? ProgramIniFile() : file;
}

}  // namespace

const std::wstring& ProgramIniFile()
{
    static const std::wstring path = [] {
        const std::wstring name = FileNameOf(ProgramPath());
        const auto dot = name.rfind(L'.');
        const std::wstring stem = dot == std::wstring::npos ? name : name.substr(0, dot);
        return JoinPath(ProgramFolder(), stem + L".ini");
    }();
    return path;
}

// The profile functions' wide forms: the file's path (the program folder, a
// user's folder) needs no character of the ANSI code page. The keys and
// values are plain ASCII, so the file's bytes are those of the narrow forms.
std::wstring ReadIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& def,
                          const std::wstring& file)
{
    std::vector<wchar_t> buffer(ValueBufferSize, L'\0');
    const DWORD n = GetPrivateProfileStringW(section.c_str(), key.c_str(), def.c_str(), buffer.data(),
                                             ValueBufferSize, FileOrDefault(file).c_str());
    std::wstring value(buffer.data(), std::min<DWORD>(n, ValueBufferSize - 1));
    return TrimBlanks(WithoutNuls(value));
}

LONG WriteIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                   const std::wstring& file)
{
    const wchar_t* path = FileOrDefault(file).c_str();
    const std::wstring cleaned = TrimBlanks(WithoutNuls(value));
    if (key.empty()) return WritePrivateProfileStringW(section.c_str(), nullptr, nullptr, path);
    if (cleaned.empty()) return WritePrivateProfileStringW(section.c_str(), key.c_str(), nullptr, path);
    return WritePrivateProfileStringW(section.c_str(), key.c_str(), cleaned.c_str(), path);
}

}  // namespace vellumo
