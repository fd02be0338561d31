// Whether a DLL serves this process from inside it. Under Wine a 32-bit
// client can be served out of process by a 64-bit dllhost.exe surrogate
// when only a 64-bit server is registered (Windows answers "Class not
// registered"), and then converts all the same: a 32-bit test checks with
// this that the control's and the pack's DLLs are its own.
//     EXPECT_EQ("", testing_support::InProcessProblem(L"corvane.dll"));
#pragma once

#include <windows.h>

#include <string>

namespace testing_support {

inline WORD ImageMachine(HMODULE module)
{
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    return nt->FileHeader.Machine;
}

// Empty when dll is loaded in this process and built for the process's own
// machine (i386 in a 32-bit process, AMD64 in a 64-bit one); else what is wrong.
inline std::string InProcessProblem(const wchar_t* dll)
{
    const HMODULE module = GetModuleHandleW(dll);
    if (!module) return "not loaded in this process";
    const WORD own = ImageMachine(GetModuleHandleW(nullptr)), machine = ImageMachine(module);
    if (machine != own) return "loaded for machine " + std::to_string(machine) + ", the process is " + std::to_string(own);
    return {};
}

}  // namespace testing_support
