#include "version_info.h"

#include <windows.h>

#include <vector>

#include "paths.h"

namespace vellumo {

ProgramVersion ReadProgramVersion()
{
    ProgramVersion version;
    const std::wstring path = ProgramPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return version;
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return version;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
        length < sizeof(VS_FIXEDFILEINFO))
        return version;
    version.major = HIWORD(info->dwFileVersionMS);
    version.minor = LOWORD(info->dwFileVersionMS);
    version.revision = HIWORD(info->dwFileVersionLS);
    return version;
}

std::wstring VersionText(const ProgramVersion& version)
{
    return std::to_wstring(version.major) + L"." + std::to_wstring(version.minor) + std::to_wstring(version.revision);
}

}  // namespace vellumo
