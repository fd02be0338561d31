// Starts the program a Start menu shortcut points to, as a user's click
// would, waits for its first visible top-level window, then closes it and
// waits for the program to end.
//
//   start_from_shortcut.exe <shortcut.lnk> <expected target path>
//
// Exit code 0 when the shortcut names the expected program and the program
// showed a window and ended cleanly; 1 otherwise (the reason is printed).
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>

namespace {

struct ComInit {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~ComInit() { if (SUCCEEDED(hr)) CoUninitialize(); }
};

template <typename T>
struct Releaser {
    T* p = nullptr;
    ~Releaser() { if (p) p->Release(); }
};

struct Handle {
    HANDLE h = nullptr;
    ~Handle() { if (h) CloseHandle(h); }
};

std::wstring LinkTarget(const wchar_t* link) {
    Releaser<IShellLinkW> shellLink;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shellLink.p))))
        return {};
    Releaser<IPersistFile> file;
    if (FAILED(shellLink.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p))) ||
        FAILED(file.p->Load(link, STGM_READ)))
        return {};
    wchar_t path[MAX_PATH] = {};
    if (FAILED(shellLink.p->GetPath(path, MAX_PATH, nullptr, 0))) return {};
    return path;
}

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->processId && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

int Fail(const char* what) {
    std::printf("start_from_shortcut: %s\n", what);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return Fail("usage: start_from_shortcut <link> <expected target>");
    ComInit com;
    const std::wstring target = LinkTarget(argv[1]);
    if (target.empty()) return Fail("the shortcut cannot be read");
    if (lstrcmpiW(target.c_str(), argv[2]) != 0) {
        std::printf("start_from_shortcut: the shortcut names %ls\n", target.c_str());
        return 1;
    }

    std::wstring commandLine = L"\"" + target + L"\"";
    std::wstring folder = target.substr(0, target.find_last_of(L'\\'));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(target.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &info))
        return Fail("the program does not start");
    Handle process{info.hProcess};
    Handle thread{info.hThread};

    WindowSearch search{info.dwProcessId, nullptr};
    for (int i = 0; i < 300 && !search.found; ++i) {
        if (WaitForSingleObject(process.h, 100) == WAIT_OBJECT_0) return Fail("the program ended at once");
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
    }
    if (!search.found) {
        TerminateProcess(process.h, 1);
        return Fail("the program shows no window");
    }
    wchar_t title[256] = {};
    GetWindowTextW(search.found, title, 256);
    std::printf("start_from_shortcut: window \"%ls\"\n", title);

    PostMessageW(search.found, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.h, 15000) != WAIT_OBJECT_0) {
        TerminateProcess(process.h, 1);
        return Fail("the program does not end when its window is closed");
    }
    DWORD code = 1;
    GetExitCodeProcess(process.h, &code);
    if (code != 0) {
        std::printf("start_from_shortcut: the program ended with %lu\n", code);
        return 1;
    }
    return 0;
}
