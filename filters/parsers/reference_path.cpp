#include "reference_path.h"

#include <algorithm>
#include <vector>

namespace vellumo::realmedia {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return Upper(x) == Upper(y);
           });
}

// A name Windows takes for a device wherever it stands: CON, PRN, AUX, NUL,
// COM0-9, LPT0-9 (and the superscript digits), CONIN$, CONOUT$, with or
// without an extension and trailing spaces.
bool IsDeviceName(const std::wstring& part)
{
    std::wstring stem = part.substr(0, part.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    std::transform(stem.begin(), stem.end(), stem.begin(), Upper);
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
        if (stem == device) return true;
    }
    if (stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0)) {
        const wchar_t d = stem[3];
        return (d >= L'0' && d <= L'9') || d == L'\u00B9' || d == L'\u00B2' || d == L'\u00B3';
    }
    return false;
}

// A path cut into its root and its parts. The root is "C:\" for a drive
// path, "\\host\share" for a UNC path, empty for a relative path; rooted
// says the path starts at the root of some drive or share ("\x").
struct SplitPath {
    bool ok = false;
    std::wstring root;
    bool rooted = false;
    std::vector<std::wstring> parts;
};

SplitPath Split(const std::wstring& path)
{
    SplitPath out;
    if (path.empty()) return out;
    for (size_t i = 0; i < path.size(); ++i) {
        const wchar_t c = path[i];
        if (c < 0x20 || c == 0x7F || c == L'*' || c == L'?' || c == L'"' || c == L'<' || c == L'>' || c == L'|') {
            return out;
        }
        // A colon only after a drive letter: no drive-relative paths, no streams.
        if (c == L':' && !(i == 1 && ((Upper(path[0]) >= L'A' && Upper(path[0]) <= L'Z') && path.size() > 2 &&
                                      IsSeparator(path[2])))) {
            return out;
        }
    }
    size_t at = 0;
    if (path.size() >= 2 && path[1] == L':') {
        out.root = {Upper(path[0]), L':', L'\\'};
        at = 3;
    } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        const size_t serverEnd = std::find_if(path.begin() + 2, path.end(), IsSeparator) - path.begin();
        const size_t shareEnd = std::find_if(path.begin() + static_cast<std::ptrdiff_t>(std::min(serverEnd + 1, path.size())),
                                             path.end(), IsSeparator) - path.begin();
        const std::wstring server = path.substr(2, serverEnd - 2);
        if (serverEnd >= path.size() || shareEnd == serverEnd + 1 || server.empty() || server == L"." ||
            server == L"..") {
            return out;  // "\\\x", "\\host", "\\host\\", "\\.\pipe"
        }
        out.root = L"\\\\" + server + L"\\" + path.substr(serverEnd + 1, shareEnd - serverEnd - 1);
        at = shareEnd;
    } else if (IsSeparator(path[0])) {
        out.rooted = true;
    }
    std::wstring part;
    for (size_t i = at; i <= path.size(); ++i) {
        if (i < path.size() && !IsSeparator(path[i])) {
            part.push_back(path[i]);
            continue;
        }
        if (!part.empty()) {
            if (IsDeviceName(part)) return out;
            // Windows drops trailing dots: "..." would mean nothing clear.
            if (part.find_first_not_of(L'.') == std::wstring::npos && part.size() > 2) return out;
            out.parts.push_back(part);
        }
        part.clear();
    }
    out.ok = true;
    return out;
}

// Appends parts, resolving "." and ".." without climbing above the root.
void Walk(std::vector<std::wstring>& into, const std::vector<std::wstring>& parts)
{
    for (const auto& p : parts) {
        if (p == L".") continue;
        if (p == L"..") {
            if (!into.empty()) into.pop_back();
            continue;
        }
        into.push_back(p);
    }
}

bool IsUnc(const std::wstring& root) { return root.size() > 2 && root[0] == L'\\'; }

}  // namespace

std::wstring ResolveReference(const std::wstring& entry, const std::wstring& ramFolder)
{
    const SplitPath target = Split(entry);
    if (!target.ok) return {};
    const SplitPath folder = Split(ramFolder);
    const bool folderUsable = folder.ok && !folder.root.empty();

    std::wstring root;
    std::vector<std::wstring> parts;
    if (!target.root.empty()) {
        // A share is only followed from a reference file on that same share.
        if (IsUnc(target.root) && !(folderUsable && SameText(folder.root, target.root))) return {};
        root = target.root;
    } else {
        if (!folderUsable) return {};
        root = folder.root;
        if (!target.rooted) Walk(parts, folder.parts);
    }
    Walk(parts, target.parts);
    if (parts.empty()) return {};  // the root of a drive or share is no file

    std::wstring path = root;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0 || IsUnc(root)) path += L'\\';
        path += parts[i];
    }
    return path;
}

}  // namespace vellumo::realmedia
