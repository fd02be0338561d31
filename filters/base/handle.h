// FileHandle: an owned Win32 file handle, closed exactly once.
#pragma once

#include <windows.h>

namespace vellumo::filters {

class FileHandle {
public:
    FileHandle() noexcept = default;
    explicit FileHandle(HANDLE h) noexcept : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
    FileHandle& operator=(FileHandle&& o) noexcept
    {
        if (this != &o) {
            Close();
            h_ = o.h_;
            o.h_ = nullptr;
        }
        return *this;
    }

    // True when the handle was closed without error (or there was none).
    bool Close() noexcept
    {
        if (!h_) return true;
        const BOOL ok = CloseHandle(h_);
        h_ = nullptr;
        return ok != FALSE;
    }
    HANDLE Get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != nullptr; }

private:
    HANDLE h_ = nullptr;
};

}  // namespace vellumo::filters
