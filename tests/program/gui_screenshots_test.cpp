// Pictures of the program's windows for the documentation. Runs only when
// VELLUMO_SCREENSHOT_DIR names a folder (scripts/screenshots.sh sets it).
#include <gtest/gtest.h>

#include <cstdlib>

#include "common/control_ids.h"
#include "gui_driver.h"

using namespace vellumo;

namespace {

std::wstring ShotFolder()
{
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"VELLUMO_SCREENSHOT_DIR", buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

void Settle() { gui::WaitFor([] { return false; }, 600); }

}  // namespace

TEST(Screenshots, MainParametersAndAbout)
{
    const std::wstring folder = ShotFolder();
    if (folder.empty()) GTEST_SKIP() << "VELLUMO_SCREENSHOT_DIR is not set";
    gui::Program program;
    ASSERT_TRUE(program.Start());
    gui::FileSet files(gui::TempRoot() + L"\\Radio plays",
                       {L"The Archers 1998-03-02.rm", L"Hitchhiker fit the first.ra", L"Chanson d\x2019\x00e9t\x00e9.rmvb"});
    gui::Click(program.MainControl(ids::cmdOpenRM));
    ASSERT_TRUE(gui::ChooseInFileDialog(program, files.Folder(),
                                        {L"The Archers 1998-03-02.rm", L"Hitchhiker fit the first.ra",
                                         L"Chanson d\x2019\x00e9t\x00e9.rmvb"}));
    gui::SetText(program.MainControl(ids::txtSaveAs), L"C:\\users\\Public\\Music");
    SendMessageW(program.MainControl(ids::List1), LB_SETCURSEL, 1, 0);
    SetForegroundWindow(program.Main());
    Settle();
    EXPECT_TRUE(gui::SaveWindowBitmap(program.Main(), folder + L"\\main-window.bmp"));

    gui::Click(program.MainControl(ids::cmdPara));
    HWND para = program.WaitForWindow(VELLUMO_PARA_CLASS);
    ASSERT_NE(para, nullptr);
    gui::Click(gui::Control(para, ids::chkMP3VBR));
    Settle();
    EXPECT_TRUE(gui::SaveWindowBitmap(para, folder + L"\\parameters-dialog.bmp"));
    gui::Click(gui::Control(para, ids::ParaCancelButton));
    ASSERT_TRUE(gui::WaitFor([&] { return !IsWindow(para); }));

    gui::Click(program.MainControl(ids::cmdAbout));
    HWND about = program.WaitForWindow(VELLUMO_ABOUT_CLASS);
    ASSERT_NE(about, nullptr);
    Settle();
    EXPECT_TRUE(gui::SaveWindowBitmap(about, folder + L"\\about-box.bmp"));
    gui::Click(gui::Control(about, ids::AboutOKButton));
    ASSERT_TRUE(gui::WaitFor([&] { return !IsWindow(about); }));

}
