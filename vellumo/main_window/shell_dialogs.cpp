#include "shell_dialogs.h"

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include "com_ptr.h"
#include "common/paths.h"

namespace vellumo {

namespace {

constexpr DWORD FileDialogFlags = 0x281200;  // multi-select, file must exist, Explorer, long names
constexpr std::size_t FileBufferChars = 32000;
constexpr wchar_t FileDialogTitle[] = L"Open a Real File";
constexpr wchar_t FileDialogFilter[] = L"Real Files(*.rm;*.ram;*.ra;*.rmvb)|*.rm;*.ram;*.ra;*.rmvb|All Files(*.*)|*.*";

// The "|"-separated filter in the form the dialog takes: NUL-separated,
// ending with two NULs.
std::wstring DialogFilter(const std::wstring& filter)
{
    std::wstring result = filter;
    for (wchar_t& c : result) {
        if (c == L'|') c = L'\0';
    }
    result.push_back(L'\0');
    result.push_back(L'\0');
    return result;
}

}  // namespace

namespace {

// The item-based open dialog: it hands back the chosen files as items, so
// any number of them fits. Empty (not nothing) when the dialog cannot be
// created, so that the caller can fall back on the common dialog.
std::optional<std::vector<std::wstring>> ShowItemOpenDialog(HWND owner, bool* available)
{
    *available = false;
    corvane::ComPtr<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                dialog.PutVoid())))
        return std::nullopt;
    *available = true;
    const COMDLG_FILTERSPEC types[] = {{L"Real Files(*.rm;*.ram;*.ra;*.rmvb)", L"*.rm;*.ram;*.ra;*.rmvb"},
                                       {L"All Files(*.*)", L"*.*"}};
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_ALLOWMULTISELECT | FOS_FILEMUSTEXIST | FOS_PATHMUSTEXIST | FOS_FORCEFILESYSTEM);
    dialog->SetFileTypes(2, types);
    dialog->SetFileTypeIndex(1);
    dialog->SetTitle(FileDialogTitle);
    if (FAILED(dialog->Show(owner))) return std::nullopt;
    corvane::ComPtr<IShellItemArray> items;
    DWORD count = 0;
    if (FAILED(dialog->GetResults(items.Put())) || FAILED(items->GetCount(&count))) return std::nullopt;
    std::vector<std::wstring> paths;
    for (DWORD i = 0; i < count; ++i) {
        corvane::ComPtr<IShellItem> item;
        PWSTR path = nullptr;
        if (SUCCEEDED(items->GetItemAt(i, item.Put())) && SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)))
            paths.emplace_back(path);
        CoTaskMemFree(path);
    }
    return paths;
}

// The common dialog, where the item-based one is missing.
std::optional<std::vector<std::wstring>> ShowCommonOpenDialog(HWND owner)
{
    std::wstring buffer(FileBufferChars, L'\0');
    const std::wstring filter = DialogFilter(FileDialogFilter);
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrTitle = FileDialogTitle;
    ofn.Flags = FileDialogFlags;
    if (!GetOpenFileNameW(&ofn)) return std::nullopt;

    // The result ends at the first double NUL; single NULs separate the parts.
    std::size_t end = 0;
    while (end + 1 < buffer.size() && !(buffer[end] == L'\0' && buffer[end + 1] == L'\0')) ++end;
    return PathsFromDialogResult(buffer.substr(0, end));
}

}  // namespace

std::optional<std::vector<std::wstring>> ShowOpenRealFilesDialog(HWND owner)
{
    bool available = false;
    std::optional<std::vector<std::wstring>> chosen = ShowItemOpenDialog(owner, &available);
    return available ? chosen : ShowCommonOpenDialog(owner);
}

std::vector<std::wstring> PathsFromDialogResult(const std::wstring& result)
{
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t nul = result.find(L'\0', start);
        parts.push_back(result.substr(start, nul == std::wstring::npos ? std::wstring::npos : nul - start));
        if (nul == std::wstring::npos) break;
        start = nul + 1;
    }
    if (parts.size() == 1) return parts;
    std::wstring folder = parts[0];
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    std::vector<std::wstring> paths;
    for (std::size_t i = 1; i < parts.size(); ++i) paths.push_back(folder + parts[i]);
    return paths;
}

// The wide calls throughout: a folder name needs no character of the ANSI
// code page to come back as it is.
std::wstring BrowseForFolder(HWND owner)
{
    BROWSEINFOW request = {};
    request.hwndOwner = owner;
    request.pidlRoot = nullptr;
    request.pszDisplayName = nullptr;
    request.lpszTitle = L"Please locate a directory";
    request.ulFlags = BIF_RETURNONLYFSDIRS;
    request.lpfn = nullptr;
    request.lParam = 0;
    request.iImage = 0;
    PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&request);
    if (!list) return std::wstring();
    std::wstring buffer(512, L' ');
    std::wstring result;
    if (SHGetPathFromIDListW(list, buffer.data())) result = buffer.substr(0, buffer.find(L'\0'));
    CoTaskMemFree(list);
    return result;
}

void ShowHelp()
{
    const std::wstring path = JoinPath(ProgramFolder(), L"vellumo.chm");
    ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace vellumo
