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

    // Null when the file cannot be opened (missing, a folder, no access).
    static std::unique_ptr<FileByteSource> Open(const std::wstring& path);

    int64_t Length() override;
    int32_t ReadAt(int64_t offset, uint8_t* buffer, int32_t size) override;
    std::wstring Path() const override { return path_; }

private:
    FileByteSource(void* handle, std::wstring path) : handle_(handle), path_(std::move(path)) {}
    void* handle_;
    std::wstring path_;
};

}  // namespace vellumo::realmedia
