#include "ram_file.h"

#include "reference_path.h"

#include <windows.h>

namespace vellumo::realmedia {

namespace {

// Text of the file to UTF-16: UTF-8 when it is valid UTF-8, else the ANSI code page.
std::wstring Widen(const std::string& s)
{
    if (s.empty()) return {};
    for (UINT cp : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
        DWORD flags = cp == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        int n = MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), nullptr, 0);
        if (n <= 0) continue;
        std::wstring w(static_cast<size_t>(n), L'\0');
        MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), w.data(), n);
        return w;
    }
    return {};
}

}  // namespace

std::vector<std::wstring> LocalRamEntries(const std::vector<uint8_t>& text, const std::wstring& folder)
{
    std::vector<std::wstring> entries;
    for (const auto& path : RamEntryPaths(text)) {
        std::wstring wide = Widen(path);
        std::wstring full = ResolveReference(wide, folder);
        if (!full.empty()) entries.push_back(std::move(full));
    }
    return entries;
}

std::wstring FolderOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    if (slash == 2 && path[1] == L':') return path.substr(0, 3);  // the root of a drive
    return path.substr(0, slash);
}

}  // namespace vellumo::realmedia
