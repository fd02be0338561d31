// FileByteSource: a media file's bytes read with the Win32 API.
#pragma once

#include "byte_source.h"

namespace vellumo::realmedia {

// A file opened for shared reading with the Win32 API.
class FileByteSource : public ByteSource {
public:
    ~FileByteSource() override;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    // Null when the file cannot be opened (missing, a folder, no access) or
    // is no file on a disk (a device, a pipe). A server behind the path may
    // learn who opens it, never act as them.
    static std::unique_ptr<FileByteSource> Open(const std::wstring& path);

    int64_t Length() override;
    int32_t ReadAt(int64_t offset, uint8_t* buffer, int32_t size) override;
    std::wstring Path() const override { return path_; }
    bool FileId(uint64_t& volume, uint64_t& index) const override;

private:
    FileByteSource(void* handle, std::wstring path, uint64_t volume, uint64_t index)
        : handle_(handle), path_(std::move(path)), volume_(volume), index_(index) {}
    void* handle_;
    std::wstring path_;
    uint64_t volume_, index_;
};

}  // namespace vellumo::realmedia
