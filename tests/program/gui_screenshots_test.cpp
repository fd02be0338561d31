// Pictures of the program's windows for the documentation. Runs only when
// VELLUMO_SCREENSHOT_DIR names a folder (scripts/screenshots.sh sets it).
#include <gtest/gtest.h>

#include "common/control_ids.h"
#include "gui_driver.h"

using namespace vellumo;

TEST(Screenshots, MainParametersAndAbout)
{
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"VELLUMO_SCREENSHOT_DIR", buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) GTEST_SKIP() << "VELLUMO_SCREENSHOT_DIR is not set";
    const std::wstring folder(buffer, n);
    gui::Program program;
    ASSERT_TRUE(program.Start());
    const std::vector<std::wstring> names = {L"The Archers 1998-03-02.rm", L"Hitchhiker fit the first.ra",
                                             L"Chanson d'\x00e9t\x00e9.rmvb",
                                             L"\x6536\x97f3\x673a\x5267\x573a 1987.rm"};
    gui::FileSet files(gui::TempRoot() + L"\\Radio plays", names);
    ASSERT_TRUE(gui::AddFiles(program, files.Folder(), names));
    gui::SetText(program.MainControl(ids::txtSaveAs), L"C:\\users\\Public\\Music");
    SendMessageW(program.MainControl(ids::List1), LB_SETCURSEL, 1, 0);
    SetForegroundWindow(program.Main());
    // Each window as it stands after a moment, then closed with its button.
    const auto shoot = [&](HWND window, const wchar_t* name, int closeButton) {
        ASSERT_NE(window, nullptr);
        gui::Settle(600);
        EXPECT_TRUE(gui::SaveWindowBitmap(window, folder + L"\\" + name + L".bmp"));
        if (closeButton) gui::Click(gui::Control(window, closeButton));
        ASSERT_TRUE(gui::WaitFor([&] { return !closeButton || !IsWindow(window); }));
    };
    shoot(program.Main(), L"main-window", 0);
    gui::Click(program.MainControl(ids::cmdPara));
    HWND para = program.WaitForWindow(VELLUMO_PARA_CLASS);
    gui::Click(gui::Control(para, ids::chkMP3VBR));
    shoot(para, L"parameters-dialog", ids::ParaCancelButton);
    gui::Click(program.MainControl(ids::cmdAbout));
    shoot(program.WaitForWindow(VELLUMO_ABOUT_CLASS), L"about-box", ids::AboutOKButton);
}
