#include "partial_output.h"

namespace vellumo {

std::wstring PartialName(const std::wstring& finalPath, DWORD processId, int attempt)
{
    std::wstring name = finalPath + L".vellumo-" + std::to_wstring(processId);
    if (attempt > 1) name += L"-" + std::to_wstring(attempt);
    return name + L".partial";
}

PartialOutput::PartialOutput(std::wstring finalPath) : final_(std::move(finalPath))
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
    if (MoveFileExW(temp_.c_str(), final_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        settled_ = true;
        return true;
    }
    *error = GetLastError();
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
