#include "paths.h"

#include <windows.h>

#include <vector>

namespace vellumo {

namespace {

template <class S>
S Trim(const S& text)
{
    const auto first = text.find_first_not_of(static_cast<typename S::value_type>(' '));
    if (first == S::npos) return S();
    const auto last = text.find_last_not_of(static_cast<typename S::value_type>(' '));
    return text.substr(first, last - first + 1);
}

// The names Windows hands to a device in any folder, whatever follows the
// first dot: CON, PRN, AUX, NUL, COM1-9, LPT1-9 (also with superscript
// digits), CONIN$ and CONOUT$.
bool IsDeviceStem(std::wstring stem)
{
    while (!stem.empty() && (stem.back() == L' ' || stem.back() == L'.')) stem.pop_back();
    for (wchar_t& c : stem)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (stem == device) return true;
    if (stem.size() != 4 || (stem.compare(0, 3, L"COM") != 0 && stem.compare(0, 3, L"LPT") != 0)) return false;
    const wchar_t digit = stem[3];
    return (digit >= L'1' && digit <= L'9') || digit == L'\x00B9' || digit == L'\x00B2' || digit == L'\x00B3';
}

}  // namespace

std::wstring SafeFileName(const std::wstring& name)
{
    const auto slash = name.find_last_of(L"\\/");
    std::wstring safe = slash == std::wstring::npos ? name : name.substr(slash + 1);
    for (wchar_t& c : safe)
        if (c < 0x20 || c == 0x7F || std::wstring(L":*?\"<>|").find(c) != std::wstring::npos) c = L'_';
    while (!safe.empty() && (safe.back() == L'.' || safe.back() == L' ')) safe.pop_back();
    if (safe.empty()) return L"_";
    const auto dot = safe.find(L'.');
    if (IsDeviceStem(safe.substr(0, dot))) safe.insert(dot == std::wstring::npos ? safe.size() : dot, 1, L'_');
    return safe;
}

std::wstring TrimBlanks(const std::wstring& text) { return Trim(text); }
std::string TrimBlanks(const std::string& text) { return Trim(text); }

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name)
{
    const std::wstring trimmed = TrimBlanks(folder);
    if (trimmed.empty()) return name;
    if (trimmed.back() == L'\\') return trimmed + name;
    return trimmed + L'\\' + name;
}

std::wstring FileNameOf(const std::wstring& path)
{
    const auto slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring BaseNameOf(const std::wstring& path)
{
    const std::wstring name = FileNameOf(path);
    const auto dot = name.rfind(L'.');
    // p counts from 1, 0 when there is no dot.
    const std::size_t p = dot == std::wstring::npos ? 0 : dot + 1;
    const std::size_t k = name.size() - p;
    if (p >= 2 && k >= 1 && k <= 4) return name.substr(0, p - 1);
    return name;
}

std::wstring FolderOfPath(const std::wstring& modulePath)
{
    const auto slash = modulePath.rfind(L'\\');
    if (slash == std::wstring::npos) return std::wstring();
    std::wstring folder = modulePath.substr(0, slash);
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    return folder;
}

std::wstring ProgramPath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::wstring();
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring ProgramFolder() { return FolderOfPath(ProgramPath()); }

std::wstring ForFileSystem(const std::wstring& path)
{
    // CreateDirectoryW's limit is the lowest: MAX_PATH less a file name of 8.3.
    if (path.size() < MAX_PATH - 12 || path.rfind(L"\\\\?\\", 0) == 0) return path;
    if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

}  // namespace vellumo
