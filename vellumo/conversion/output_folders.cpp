#include "output_folders.h"

#include "common/paths.h"

namespace vellumo::batch {

bool FitsPathLimit(const std::wstring& path) { return path.size() < MAX_PATH; }

DWORD CreateFoldersFor(const std::wstring& outputFolder, const std::wstring& target, std::wstring* failedFolder)
{
    // The levels below the output folder: the target's path after it.
    const std::wstring base = JoinPath(outputFolder, std::wstring());
    const std::size_t name = target.rfind(L'\\');
    if (base.empty() || name == std::wstring::npos || name < base.size() || target.compare(0, base.size(), base) != 0)
        return 0;
    for (std::size_t end = target.find(L'\\', base.size()); end != std::wstring::npos && end <= name;
         end = target.find(L'\\', end + 1)) {
        const std::wstring folder = target.substr(0, end);
        if (CreateDirectoryW(ForFileSystem(folder).c_str(), nullptr)) continue;
        const DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(ForFileSystem(folder).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        if (failedFolder) *failedFolder = folder;
        return error == ERROR_ALREADY_EXISTS || error == 0 ? ERROR_DIRECTORY : error;
    }
    return 0;
}

}  // namespace vellumo::batch
