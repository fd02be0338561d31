// Only the system's own DLLs: a library looked up by name never comes from
// the program's folder or the current folder, where a download may sit.
#pragma once

#include <windows.h>

namespace vellumo {

// Limits the search for DLLs loaded by name to System32 from here on
// (SetDefaultDllDirectories where the system has it; on older systems at
// least the current folder leaves the search). Call first thing at start-up.
void UseSystemDllSearch();

// A system DLL loaded by its full System32 path; null when it is not there.
HMODULE LoadSystemDll(const wchar_t* name);

// A function of a loaded module, as the caller's function pointer type.
template <class Fn>
Fn ModuleFunction(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

}  // namespace vellumo
