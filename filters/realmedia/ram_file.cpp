#include "ram_file.h"

#include "local_text.h"
#include "reference_path.h"

namespace vellumo::realmedia {

std::vector<std::wstring> LocalRamEntries(const std::vector<uint8_t>& text, const std::wstring& folder)
{
    std::vector<std::wstring> entries;
    for (const auto& path : RamEntryPaths(text)) {
        std::wstring wide = WidenLocalText(path);
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
