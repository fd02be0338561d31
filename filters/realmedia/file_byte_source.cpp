#include "file_byte_source.h"

#include <windows.h>

namespace vellumo::realmedia {

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(h);
        return nullptr;
    }
    return std::unique_ptr<FileByteSource>(new FileByteSource(h, path));
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
