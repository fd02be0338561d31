#include "file_drop.h"

#include <shlwapi.h>

#include <algorithm>

namespace vellumo {

namespace {

// WM_COPYGLOBALDATA: carries the dropped names across a difference in rights.
constexpr UINT CopyGlobalData = 0x0049;

// A name found in a folder, and whether it is a folder to read in turn.
struct Child {
    std::wstring name;
    bool folder = false;
};

// Explorer's order of the names in one folder; spellings that Explorer takes
// for equal are kept apart by their characters.
bool ChildBefore(const Child& a, const Child& b)
{
    const int order = StrCmpLogicalW(a.name.c_str(), b.name.c_str());
    if (order != 0) return order < 0;
    return a.name < b.name;
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

// The RealMedia files and the subfolders of one folder, in Explorer's order.
// Links to other folders (junctions, symbolic links) are left out: they can
// lead back up the tree and would never end. Other folders that are reparse
// points (a cloud drive's placeholders) are read like any folder.
// A folder that cannot be opened, or whose listing fails part way, counts
// in unreadable; what was listed of it is kept.
bool ChildrenOf(const std::wstring& folder, const KeepReading& keepReading, std::size_t found,
                std::vector<Child>* children, std::size_t* unreadable)
{
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW(ForFileSystem(folder + L"\\*").c_str(), &entry));
    if (find.Get() == INVALID_HANDLE_VALUE) {
        // A drive's empty root has no entries at all.
        if (GetLastError() != ERROR_FILE_NOT_FOUND) ++*unreadable;
        return true;
    }
    std::size_t read = 0;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!IsLinkElsewhere(entry.dwFileAttributes, entry.dwReserved0)) children->push_back({name, true});
        } else if (IsRealMediaName(name)) {
            children->push_back({name, false});
        }
        // A folder of very many names is read a while: it can be stopped inside.
        if (++read % 256 == 0 && !keepReading(found)) return false;
    } while (FindNextFileW(find.Get(), &entry));
    if (GetLastError() != ERROR_NO_MORE_FILES) ++*unreadable;
    std::sort(children->begin(), children->end(), ChildBefore);
    return true;
}

// The RealMedia files below a folder, depth first, each folder's names in
// Explorer's order. The folders still to finish are kept in a list of their
// own, not on the call stack, so that no depth of tree can exhaust it.
bool CollectFolder(const std::wstring& folder, const KeepReading& keepReading, std::vector<SourceEntry>* sources,
                   std::size_t* unreadable)
{
    std::wstring root = folder;
    while (!root.empty() && root.back() == L'\\') root.pop_back();
    const std::wstring origin = OriginOfFolder(folder);
    struct Level {
        std::wstring path;
        std::vector<Child> children;
        std::size_t next = 0;
    };
    std::vector<Level> open(1);
    open[0].path = root;
    if (!ChildrenOf(root, keepReading, sources->size(), &open[0].children, unreadable)) return false;
    while (!open.empty()) {
        if (!keepReading(sources->size())) return false;
        Level& level = open.back();
        if (level.next == level.children.size()) {
            open.pop_back();
            continue;
        }
        const Child& child = level.children[level.next++];
        std::wstring path = level.path + L"\\" + child.name;
        if (!child.folder) {
            sources->push_back({std::move(path), origin});
            continue;
        }
        Level inner;
        inner.path = std::move(path);
        if (!ChildrenOf(inner.path, keepReading, sources->size(), &inner.children, unreadable)) return false;
        open.push_back(std::move(inner));
    }
    return true;
}

std::wstring DroppedName(HDROP drop, UINT index)
{
    const UINT length = DragQueryFileW(drop, index, nullptr, 0);
    std::wstring name(length + 1, L'\0');
    name.resize(DragQueryFileW(drop, index, name.data(), length + 1));
    return name;
}

// The arguments after the program's name (see PathsOfCommandLine).
std::vector<std::wstring> ArgumentsOfCommandLine(const wchar_t* commandLine)
{
    std::vector<std::wstring> arguments;
    if (!commandLine) return arguments;
    const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
    const wchar_t* at = commandLine;
    // The program's name: up to its closing quote, or unquoted up to the first blank.
    if (*at == L'"') {
        for (++at; *at && *at != L'"'; ++at) {}
        if (*at) ++at;
    } else {
        while (*at && !blank(*at)) ++at;
    }
    for (;;) {
        while (blank(*at)) ++at;
        if (!*at) return arguments;
        std::wstring argument;
        for (bool quoted = false; *at && (quoted || !blank(*at)); ++at) {
            if (*at == L'"') {
                quoted = !quoted;
            } else {
                argument += *at;
            }
        }
        arguments.push_back(std::move(argument));
    }
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

bool IsLinkElsewhere(DWORD attributes, DWORD reparseTag)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(reparseTag);
}

std::wstring OriginOfFolder(const std::wstring& folder)
{
    std::wstring trimmed = folder;
    while (!trimmed.empty() && trimmed.back() == L'\\') trimmed.pop_back();
    const std::size_t slash = trimmed.rfind(L'\\');
    return slash == std::wstring::npos ? trimmed : trimmed.substr(0, slash);
}

bool CollectSources(const std::vector<std::wstring>& names, const KeepReading& keepReading,
                    std::vector<SourceEntry>* sources, std::size_t* unreadable)
{
    std::size_t uncounted = 0;
    if (!unreadable) unreadable = &uncounted;
    for (const std::wstring& name : names) {
        if (name.empty()) continue;
        if (!keepReading(sources->size())) return false;
        const DWORD attributes = GetFileAttributesW(ForFileSystem(name).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        if (IsFolder(attributes)) {
            if (!CollectFolder(name, keepReading, sources, unreadable)) return false;
        } else if (IsRealMediaName(name)) {
            sources->push_back({name, std::wstring()});
        }
    }
    return true;
}

std::vector<std::wstring> NamesOfDrop(HDROP drop)
{
    std::vector<std::wstring> names;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) names.push_back(DroppedName(drop, i));
    return names;
}

std::vector<std::wstring> PathsOfCommandLine(const wchar_t* commandLine)
{
    std::vector<std::wstring> paths;
    for (const std::wstring& argument : ArgumentsOfCommandLine(commandLine)) {
        if (argument.empty()) continue;
        std::wstring full(MAX_PATH, L'\0');
        for (;;) {
            const DWORD n = GetFullPathNameW(argument.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
            if (n < full.size()) {
                full.resize(n);
                break;
            }
            full.resize(n);
        }
        if (!full.empty()) paths.push_back(full);
    }
    return paths;
}

void AcceptFileDrops(HWND window)
{
    DragAcceptFiles(window, TRUE);
    for (UINT message : {static_cast<UINT>(WM_DROPFILES), static_cast<UINT>(WM_COPYDATA), CopyGlobalData})
        ChangeWindowMessageFilterEx(window, message, MSGFLT_ALLOW, nullptr);
}

}  // namespace vellumo
