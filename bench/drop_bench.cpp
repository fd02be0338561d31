// Dropping files on the main window: one folder of 2000 RealMedia files
// dropped from the shell on the main window of this process; prints how long
// the window took to take the drop and to list them. Run by bench/drop_bench.sh, after the
// converter's registration.
#include <windows.h>
#include <ole2.h>

#include <cstdio>

#include "gui_driver.h"
#include "main_window/main_window.h"

using namespace vellumo;

int wmain()
{
    OleInitialize(nullptr);
    MainWindow& frmMain = MainWindow::Instance();
    if (!frmMain.Create(SW_SHOW)) return std::fprintf(stderr, "the main window was not created\n"), 1;
    gui::Texts names;
    for (int i = 0; i < 2000; ++i) names.push_back(L"Folge " + std::to_wstring(i) + L".rm");
    int status = 0;
    {
        const gui::FileSet folder(gui::TempRoot() + L"\\drop bench " + std::to_wstring(GetCurrentProcessId()), names);
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        SendMessageW(frmMain.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(gui::MakeDrop({folder.Folder()})), 0);
        QueryPerformanceCounter(&end);
        const double handOver = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
        // The folder is read on a thread of its own; the files join the list once it is read.
        gui::WaitFor([&] { return !frmMain.ReadingFolders(); }, 120000);
        QueryPerformanceCounter(&end);
        if (frmMain.SourceCount() != 2000) {
            std::fprintf(stderr, "%d files listed, not 2000\n", frmMain.SourceCount());
            status = 1;
        }
        std::printf("drop of a folder of 2000 files: window back after %.1f ms, all listed after %.0f ms\n", handOver,
                    1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    }
    DestroyWindow(frmMain.Handle());
    OleUninitialize();
    return status;
}
