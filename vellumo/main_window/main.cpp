// Start-up of the desktop program: the main window, then its message loop.
#include <windows.h>
#include <ole2.h>

#include "common/system_dlls.h"
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
