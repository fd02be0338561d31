// Adding files through the open dialog's path: 10,000 paths handed to the
// main window of this process the way the dialog's result is (AddFiles),
// into an empty list, then the same paths once more (every one already
// listed); prints the seconds each took. Run by bench/add_files_bench.sh,
// after the converter's registration. An argument sets another count.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "main_window/main_window.h"

using namespace vellumo;

namespace {

double SecondsOf(const std::vector<std::wstring>& paths)
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    MainWindow::Instance().AddFiles(paths);
    QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int count = argc > 1 ? std::wcstol(argv[1], nullptr, 10) : 10000;
    OleInitialize(nullptr);
    MainWindow& frmMain = MainWindow::Instance();
    if (!frmMain.Create(SW_SHOW)) return std::fprintf(stderr, "the main window was not created\n"), 1;
    std::vector<std::wstring> paths;
    for (int i = 0; i < count; ++i)
        paths.push_back(L"D:\\Radio\\Sendungen 1998\\Folge " + std::to_wstring(i) + L" - H\xF6rspiel.rm");
    const double added = SecondsOf(paths);
    const double again = SecondsOf(paths);
    int status = 0;
    if (frmMain.SourceCount() != count || frmMain.SourceAt(count - 1) != paths.back()) {
        std::fprintf(stderr, "%d files listed, not %d\n", frmMain.SourceCount(), count);
        status = 1;
    }
    std::printf("%d files added through AddFiles: %.2f s into an empty list, %.2f s again (all listed)\n", count,
                added, again);
    DestroyWindow(frmMain.Handle());
    OleUninitialize();
    return status;
}
