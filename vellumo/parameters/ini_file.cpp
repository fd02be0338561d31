#include "ini_file.h"

#include <algorithm>
#include <vector>

#include "common/ansi_text.h"
#include "common/paths.h"

namespace vellumo {

namespace {

constexpr DWORD ValueBufferSize = 2048;

std::string WithoutNuls(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    return text;
}

std::wstring WithoutNuls(std::wstring text)
{
    text.erase(std::remove(text.begin(), text.end(), L'\0'), text.end());
    return text;
}

std::string FileOrDefault(const std::wstring& file)
{
    return ToAnsi(file.empty() ? ProgramIniFile() : file);
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

std::wstring ReadIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& def,
                          const std::wstring& file)
{
    const std::string path = FileOrDefault(file);
    std::vector<char> buffer(ValueBufferSize, '\0');
    const DWORD n = GetPrivateProfileStringA(ToAnsi(section).c_str(), ToAnsi(key).c_str(), ToAnsi(def).c_str(),
                                             buffer.data(), ValueBufferSize, path.c_str());
    std::string value(buffer.data(), std::min<DWORD>(n, ValueBufferSize - 1));
    return FromAnsi(TrimBlanks(WithoutNuls(value)));
}

LONG WriteIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                   const std::wstring& file)
{
    const std::string path = FileOrDefault(file);
    const std::string sectionA = ToAnsi(section);
    const std::wstring cleaned = TrimBlanks(WithoutNuls(value));
    if (key.empty()) return WritePrivateProfileStringA(sectionA.c_str(), nullptr, nullptr, path.c_str());
    const std::string keyA = ToAnsi(key);
    if (cleaned.empty()) return WritePrivateProfileStringA(sectionA.c_str(), keyA.c_str(), nullptr, path.c_str());
    return WritePrivateProfileStringA(sectionA.c_str(), keyA.c_str(), ToAnsi(cleaned).c_str(), path.c_str());
}

}  // namespace vellumo
