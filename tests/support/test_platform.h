// Small helpers shared by the Windows test programs.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testing_support {

// True when the test runs under Wine rather than on Windows.
inline bool IsWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// CoInitialize / CoUninitialize for the lifetime of a test fixture.
class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED) : hr_(CoInitializeEx(nullptr, model)) {}
    ~ComApartment() { if (SUCCEEDED(hr_)) CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};

// A whole file (empty when it cannot be read).
inline std::vector<uint8_t> ReadAll(const std::wstring& path)
{
    std::vector<uint8_t> out;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return out;
    uint8_t buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.insert(out.end(), buffer, buffer + n);
    std::fclose(f);
    return out;
}

inline std::string ReadText(const std::wstring& path)
{
    const std::vector<uint8_t> bytes = ReadAll(path);
    return {bytes.begin(), bytes.end()};
}

inline std::wstring Widen(const std::string& s)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

inline std::string Narrow(const std::wstring& w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

// Runs a command line and waits for it: its exit code, ~0 when it could not
// start or did not end in time.
inline DWORD RunCommand(std::wstring cmd, DWORD timeoutMs = 180000)
{
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0u;
    DWORD code = ~0u;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

}  // namespace testing_support
