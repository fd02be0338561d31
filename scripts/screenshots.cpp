// Takes the documentation's pictures of the program's windows: starts the
// built vellumo.exe with a few sources listed, and saves the main window, the
// parameters dialog and the About box as bitmaps in the folder it is given.
// Run by scripts/screenshots.sh.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/control_ids.h"
#include "gui_driver.h"

using namespace vellumo;

namespace {

// The window as it stands on the screen, as a 32-bit top-down bitmap file.
bool SaveWindowBitmap(HWND window, const std::wstring& path)
{
    RECT area;
    GetWindowRect(window, &area);
    std::vector<DWORD> pixels = gui::CaptureScreen(area);
    if (pixels.empty()) return false;
    for (DWORD& pixel : pixels) pixel |= 0xFF000000;  // opaque: the screen's alpha bytes mean nothing
    const LONG width = area.right - area.left, height = area.bottom - area.top;
    const BITMAPINFOHEADER info = {sizeof(info), width, -height, 1, 32, BI_RGB,
                                   static_cast<DWORD>(pixels.size() * sizeof(DWORD)), 0, 0, 0, 0};
    const DWORD headers = sizeof(BITMAPFILEHEADER) + sizeof(info);
    const BITMAPFILEHEADER file = {0x4D42, headers + info.biSizeImage, 0, 0, headers};
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = std::fwrite(&file, sizeof(file), 1, f) == 1 && std::fwrite(&info, sizeof(info), 1, f) == 1 &&
              std::fwrite(pixels.data(), info.biSizeImage, 1, f) == 1;
    return std::fclose(f) == 0 && ok;
}

// Each window as it stands after a moment, then closed with its button.
bool Shoot(HWND window, const std::wstring& path, int closeButton)
{
    if (!window) return false;
    gui::Settle(600);
    const bool saved = SaveWindowBitmap(window, path);
    if (closeButton) gui::Click(gui::Control(window, closeButton));
    return gui::WaitFor([&] { return !closeButton || !IsWindow(window); }) && saved;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vellumo_screenshots FOLDER\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    gui::Program program;
    if (!program.Start()) return 1;
    const std::vector<std::wstring> names = {L"The Archers 1998-03-02.rm", L"Hitchhiker fit the first.ra",
                                             L"Chanson d'\x00e9t\x00e9.rmvb",
                                             L"\x6536\x97f3\x673a\x5267\x573a 1987.rm"};
    gui::FileSet files(gui::TempRoot() + L"\\Radio plays", names);
    if (!gui::AddFiles(program, files.Folder(), names)) return 1;
    gui::SetText(program.MainControl(ids::txtSaveAs), L"C:\\users\\Public\\Music");
    SendMessageW(program.MainControl(ids::List1), LB_SETCURSEL, 1, 0);
    SetForegroundWindow(program.Main());
    bool ok = Shoot(program.Main(), folder + L"\\main-window.bmp", 0);
    gui::Click(program.MainControl(ids::cmdPara));
    HWND para = program.WaitForWindow(VELLUMO_PARA_CLASS);
    gui::Click(gui::Control(para, ids::chkMP3VBR));
    ok = Shoot(para, folder + L"\\parameters-dialog.bmp", ids::ParaCancelButton) && ok;
    gui::Click(program.MainControl(ids::cmdAbout));
    ok = Shoot(program.WaitForWindow(VELLUMO_ABOUT_CLASS), folder + L"\\about-box.bmp", ids::AboutOKButton) && ok;
    gui::Click(program.MainControl(ids::cmdExit));
    return ok ? 0 : 1;
}
