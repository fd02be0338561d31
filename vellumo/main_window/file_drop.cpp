#include "file_drop.h"

#include <shlwapi.h>

#include <algorithm>

namespace vellumo {

namespace {

// WM_COPYGLOBALDATA: carries the dropped names across a difference in rights.
constexpr UINT CopyGlobalData = 0x0049;

// The parts of a path between its backslashes.
std::vector<std::wstring> PartsOf(const std::wstring& path)
{
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find(L'\\', start);
        parts.push_back(path.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start));
        if (slash == std::wstring::npos) return parts;
        start = slash + 1;
    }
}

// Explorer's order, one folder level at a time, so that a folder's files
// stay together ("a\z.rm" before "a b.rm"); spellings that Explorer takes
// for equal are kept apart by their characters.
bool PathBefore(const std::wstring& a, const std::wstring& b)
{
    const std::vector<std::wstring> pa = PartsOf(a), pb = PartsOf(b);
    for (std::size_t i = 0; i < pa.size() && i < pb.size(); ++i) {
        const int order = StrCmpLogicalW(pa[i].c_str(), pb[i].c_str());
        if (order != 0) return order < 0;
    }
    if (pa.size() != pb.size()) return pa.size() < pb.size();
    return a < b;
}

bool IsFolder(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

class FindHandle {
public:
    explicit FindHandle(HANDLE h) : h_(h) {}
    ~FindHandle()
    {
        if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE Get() const { return h_; }

private:
    HANDLE h_;
};

// Collects the RealMedia files below folder. Links to other folders
// (junctions, symbolic links) are not followed: they can lead back up the
// tree and would never end.
void CollectRealMedia(const std::wstring& folder, std::vector<std::wstring>* files)
{
    WIN32_FIND_DATAW found;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (find.Get() == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) CollectRealMedia(path, files);
        } else if (IsRealMediaName(name)) {
            files->push_back(path);
        }
    } while (FindNextFileW(find.Get(), &found));
}

std::wstring DroppedName(HDROP drop, UINT index)
{
    const UINT length = DragQueryFileW(drop, index, nullptr, 0);
    std::wstring name(length + 1, L'\0');
    name.resize(DragQueryFileW(drop, index, name.data(), length + 1));
    return name;
}

}  // namespace

bool IsRealMediaName(const std::wstring& path)
{
    const std::size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos || path.find(L'\\', dot) != std::wstring::npos) return false;
    const wchar_t* extension = path.c_str() + dot + 1;
    const int length = static_cast<int>(path.size() - dot - 1);
    for (const wchar_t* real : {L"rm", L"ra", L"ram", L"rmvb"}) {
        if (CompareStringOrdinal(extension, length, real, -1, TRUE) == CSTR_EQUAL) return true;
    }
    return false;
}

std::vector<std::wstring> RealMediaFilesUnder(const std::wstring& folder)
{
    std::wstring root = folder;
    while (!root.empty() && root.back() == L'\\') root.pop_back();
    std::vector<std::wstring> files;
    CollectRealMedia(root, &files);
    std::sort(files.begin(), files.end(), PathBefore);
    return files;
}

std::vector<std::wstring> SourcesOfDrop(HDROP drop)
{
    std::vector<std::wstring> sources;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const std::wstring name = DroppedName(drop, i);
        if (name.empty()) continue;
        const DWORD attributes = GetFileAttributesW(name.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        if (IsFolder(attributes)) {
            const std::vector<std::wstring> inside = RealMediaFilesUnder(name);
            sources.insert(sources.end(), inside.begin(), inside.end());
        } else if (IsRealMediaName(name)) {
            sources.push_back(name);
        }
    }
    return sources;
}

void AcceptFileDrops(HWND window)
{
    DragAcceptFiles(window, TRUE);
    for (UINT message : {static_cast<UINT>(WM_DROPFILES), static_cast<UINT>(WM_COPYDATA), CopyGlobalData})
        ChangeWindowMessageFilterEx(window, message, MSGFLT_ALLOW, nullptr);
}

}  // namespace vellumo
