// ByteSource: random-access reading of a media file's bytes, the one thing the
// parsers and the demuxer need from whoever holds the file (a Win32 file, a
// DirectShow IAsyncReader, a buffer in a test or a fuzz target).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vellumo::realmedia {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Total length in bytes, or -1 when it cannot be told.
    virtual int64_t Length() = 0;
    // Reads up to size bytes at offset into buffer. Returns the number of
    // bytes read (fewer than size only at the end, 0 at or past the end), or
    // -1 on a read error.
    virtual int32_t ReadAt(int64_t offset, uint8_t* buffer, int32_t size) = 0;
    // Full path of the file behind the bytes, when there is one (used to
    // resolve relative entries of reference files); empty otherwise.
    virtual std::wstring Path() const { return {}; }
    // Which file the bytes are, whatever name reached it: the serial number
    // of its volume and its index there. False when it cannot be told.
    virtual bool FileId(uint64_t& volume, uint64_t& index) const { (void)volume, (void)index; return false; }
};

// Bytes held in memory.
class MemoryByteSource : public ByteSource {
public:
    explicit MemoryByteSource(std::vector<uint8_t> bytes, std::wstring path = {})
        : bytes_(std::move(bytes)), path_(std::move(path)) {}
    int64_t Length() override { return static_cast<int64_t>(bytes_.size()); }
    int32_t ReadAt(int64_t offset, uint8_t* buffer, int32_t size) override;
    std::wstring Path() const override { return path_; }

private:
    std::vector<uint8_t> bytes_;
    std::wstring path_;
};

// Reads up to max bytes from the start of a source (fewer when it is shorter).
std::vector<uint8_t> ReadHead(ByteSource& source, int32_t max);

}  // namespace vellumo::realmedia
