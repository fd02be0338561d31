// Start-up of the desktop program: the main window, the files named on the
// command line, then its message loop.
#include <windows.h>
#include <ole2.h>

#include "common/system_dlls.h"
#include "file_drop.h"
#include "main_window.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand)
{
    vellumo::UseSystemDllSearch();
    // The converter control lives in this thread's single-threaded apartment.
    const HRESULT ole = OleInitialize(nullptr);
    int exitCode = 1;
    {
        vellumo::MainWindow& frmMain = vellumo::MainWindow::Instance();
        if (frmMain.Create(showCommand)) {
            // Files and folders the program was started with (dropped on its
            // icon, "Open with", "Send To") join the list as a drop would.
            std::vector<std::wstring> named = vellumo::PathsOfCommandLine(GetCommandLineW());
            if (!named.empty()) frmMain.AddFromShell(std::move(named));
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0) {
                HWND main = frmMain.Handle();
                if (main && IsDialogMessageW(main, &message)) continue;
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            exitCode = 0;
        }
    }
    if (SUCCEEDED(ole)) OleUninitialize();
    return exitCode;
}
