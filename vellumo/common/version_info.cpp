#include "version_info.h"

#include <windows.h>

#include <vector>

#include "paths.h"
#include "system_dlls.h"

namespace vellumo {

ProgramVersion ReadProgramVersion()
{
    ProgramVersion version;
    // version.dll from System32 only: it is no system-wide known DLL, and an
    // import of it would be looked for in the program's folder first.
    using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    static const HMODULE library = LoadSystemDll(L"version.dll");
    const auto getSize = ModuleFunction<SizeFn>(library, "GetFileVersionInfoSizeW");
    const auto getInfo = ModuleFunction<InfoFn>(library, "GetFileVersionInfoW");
    const auto query = ModuleFunction<QueryFn>(library, "VerQueryValueW");
    if (!getSize || !getInfo || !query) return version;
    const std::wstring path = ProgramPath();
    DWORD ignored = 0;
    const DWORD size = getSize(path.c_str(), &ignored);
    if (size == 0) return version;
    std::vector<unsigned char> block(size);
    if (!getInfo(path.c_str(), 0, size, block.data())) return version;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!query(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
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
