#include "batch_files.h"

#include <shlobj.h>

#include <set>

#include "batch_text.h"
#include "common/paths.h"

namespace vellumo::batch {

namespace {

// True when the process that named a temporary file is still at work: a
// running Vellumo of that id (this one included). A process that cannot be
// looked at (another user's) counts as running.
bool OwnerRuns(DWORD pid)
{
    if (pid == GetCurrentProcessId()) return true;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    if (runs) {
        std::wstring image(32768, L'\0');
        DWORD size = static_cast<DWORD>(image.size());
        if (QueryFullProcessImageNameW(process, 0, image.data(), &size)) {
            image.resize(size);
            // The id now belongs to another program: the file's own process is gone.
            runs = UpperCase(FileNameOf(image)) == L"VELLUMO.EXE";
        }
    }
    CloseHandle(process);
    return runs;
}

std::wstring ReportName()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t name[64];
    swprintf(name, 64, L"Vellumo report %04u-%02u-%02u %02u.%02u.%02u.txt", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
    return name;
}

// A new file of that name holding the bytes, whole on the disk; false, with
// nothing left behind, when it cannot be written.
bool WriteNewFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(ForFileSystem(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool whole = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                 written == bytes.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (!whole) DeleteFileW(ForFileSystem(path).c_str());
    return whole;
}

bool WriteInto(const std::wstring& folder, const std::string& bytes, std::wstring* path)
{
    const std::wstring name = ReportName();
    // Two batches ending within one second: the later report is numbered.
    for (int attempt = 1; attempt < 100; ++attempt) {
        const std::wstring candidate = JoinPath(folder, attempt == 1 ? name : NumberedName(name, attempt));
        if (WriteNewFile(candidate, bytes)) {
            *path = candidate;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

}  // namespace

bool PathTaken(const std::wstring& path)
{
    return GetFileAttributesW(ForFileSystem(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> FoldersOf(const std::vector<std::wstring>& outputs)
{
    std::vector<std::wstring> folders;
    std::set<std::wstring> seen;
    for (const std::wstring& output : outputs) {
        const std::size_t slash = output.rfind(L'\\');
        // A name without a folder goes to the current folder.
        const std::wstring folder = slash == std::wstring::npos ? std::wstring(L".") : output.substr(0, slash + 1);
        if (seen.insert(UpperCase(folder)).second) folders.push_back(folder);
    }
    return folders;
}

void RemoveLeftovers(const std::vector<std::wstring>& folders, BatchResults* results)
{
    for (const std::wstring& folder : folders) {
        const std::wstring base = JoinPath(folder, L"");
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileExW(ForFileSystem(base + L"*.vellumo-*.partial").c_str(), FindExInfoBasic, &entry,
                                       FindExSearchNameMatch, nullptr, 0);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            const DWORD kept = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
            if (entry.dwFileAttributes & kept) continue;
            const DWORD owner = PartialOwner(entry.cFileName);
            if (owner == 0 || OwnerRuns(owner)) continue;
            const std::wstring path = base + entry.cFileName;
            if (DeleteFileW(ForFileSystem(path).c_str())) results->LeftoverRemoved(path);
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
}

std::wstring WriteReport(const std::wstring& outputFolder, const std::string& report)
{
    std::wstring path;
    const std::wstring folder = TrimBlanks(outputFolder);
    if (!folder.empty() && WriteInto(folder, report, &path)) return path;
    PWSTR appData = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &appData)) && appData && *appData) {
        const std::wstring own = JoinPath(appData, L"Vellumo");
        const std::wstring reports = JoinPath(own, L"Reports");
        CreateDirectoryW(own.c_str(), nullptr);
        CreateDirectoryW(reports.c_str(), nullptr);
        if (!WriteInto(reports, report, &path)) path.clear();
    }
    CoTaskMemFree(appData);
    return path;
}

}  // namespace vellumo::batch
