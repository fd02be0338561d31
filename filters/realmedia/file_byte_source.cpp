#include "file_byte_source.h"

#include <windows.h>

namespace vellumo::realmedia {

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(h);
        return nullptr;
    }
    const uint64_t index = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return std::unique_ptr<FileByteSource>(new FileByteSource(h, path, info.dwVolumeSerialNumber, index));
}

bool FileByteSource::FileId(uint64_t& volume, uint64_t& index) const
{
    volume = volume_;
    index = index_;
    return true;
}

FileByteSource::~FileByteSource()
{
    CloseHandle(static_cast<HANDLE>(handle_));
}

int64_t FileByteSource::Length()
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(static_cast<HANDLE>(handle_), &size)) return -1;
    return size.QuadPart;
}

int32_t FileByteSource::ReadAt(int64_t offset, uint8_t* buffer, int32_t size)
{
    if (offset < 0 || size < 0) return -1;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xffffffffu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(handle_), buffer, static_cast<DWORD>(size), &got, &at)) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return static_cast<int32_t>(got);
}

}  // namespace vellumo::realmedia
