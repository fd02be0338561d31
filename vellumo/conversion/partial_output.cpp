#include "partial_output.h"

namespace vellumo {

std::wstring PartialName(const std::wstring& finalPath, DWORD processId, int attempt)
{
    std::wstring name = finalPath + L".vellumo-" + std::to_wstring(processId);
    if (attempt > 1) name += L"-" + std::to_wstring(attempt);
    return name + L".partial";
}

namespace {

constexpr DWORD RetryStepMs = 100;

// The file's data written out to the disk, not only to the system's cache.
void FlushToDisk(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    FlushFileBuffers(file);
    CloseHandle(file);
}

// A refusal that passes once another program lets go of the final file: it
// holds the file open. A read-only file stays read-only: no use waiting.
bool MayPass(DWORD error, const std::wstring& finalPath)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    const DWORD attributes = GetFileAttributesW(finalPath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

}  // namespace

PartialOutput::PartialOutput(std::wstring finalPath, DWORD retryMs) : final_(std::move(finalPath)), retryMs_(retryMs)
{
    // A name already in use (a leftover, a folder) is never written over nor
    // deleted: everything under the name chosen is this conversion's own.
    for (int attempt = 1;; ++attempt) {
        temp_ = PartialName(final_, GetCurrentProcessId(), attempt);
        if (GetFileAttributesW(temp_.c_str()) == INVALID_FILE_ATTRIBUTES || attempt >= 1000) break;
    }
}

bool PartialOutput::Keep(DWORD* error)
{
    *error = ERROR_SUCCESS;
    if (settled_) return false;
    FlushToDisk(temp_);
    for (DWORD waited = 0;; waited += RetryStepMs) {
        if (MoveFileExW(temp_.c_str(), final_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            settled_ = true;
            return true;
        }
        *error = GetLastError();
        if (waited >= retryMs_ || !MayPass(*error, final_)) break;
        Sleep(RetryStepMs);
    }
    if (*error == ERROR_SUCCESS) *error = ERROR_GEN_FAILURE;
    Discard();
    return false;
}

void PartialOutput::Discard()
{
    if (settled_) return;
    settled_ = true;
    DeleteFileW(temp_.c_str());
}

}  // namespace vellumo
