// The real vellumo.exe driven from outside: start-up state, layout and
// colours, the Convert preconditions, the source list with the real file
// dialog, delete, the folder text, the About box and Exit.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "common/control_ids.h"
#include "gui_driver.h"

using namespace vellumo;
using gui::BoxIcon;
using gui::MessageBoxInfo;

namespace {

int Px(int twips)
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return MulDiv(twips, dpi, 1440);
}

constexpr COLORREF Cream = RGB(255, 255, 192);
constexpr COLORREF ButtonYellow = RGB(255, 255, 128);

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(program.Start()) << "vellumo.exe did not show its main window";
        // Without a registered converter the program says so once at start.
        MessageBoxInfo box;
        if (program.WaitForMessageBox(&box, 300)) {
            converterMissing = true;
            gui::Program::Answer(box);
        }
    }

    HWND Ctl(int id) { return program.MainControl(id); }

    // Clicks a command and returns the message box it shows.
    MessageBoxInfo ClickForBox(int id)
    {
        gui::Click(Ctl(id));
        MessageBoxInfo box;
        EXPECT_TRUE(program.WaitForMessageBox(&box)) << "no message box after clicking " << id;
        return box;
    }

    void AddThroughDialog(const std::wstring& folder, const std::vector<std::wstring>& names)
    {
        gui::Click(Ctl(ids::cmdOpenRM));
        ASSERT_TRUE(gui::ChooseInFileDialog(program, folder, names));
        gui::WaitFor([] { return false; }, 200);
    }

    gui::Program program;
    bool converterMissing = false;
};

}  // namespace

TEST_F(MainWindowTest, StartsWithItsCaptionVersionAndEveryCommandEnabled)
{
    EXPECT_EQ(gui::Text(program.Main()), L"Vellumo 1.00");
    for (int id : {ids::cmdPara, ids::cmdOpenRM, ids::cmdDel, ids::cmdSaveAs, ids::cmdHelp, ids::cmdAbout,
                   ids::cmdConvert, ids::cmdExit})
        EXPECT_TRUE(IsWindowEnabled(Ctl(id))) << id;
    EXPECT_EQ(SendMessageW(Ctl(ids::optMP3), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(Ctl(ids::optWAV), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_TRUE(gui::ListItems(Ctl(ids::List1)).empty());
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), L"");
    EXPECT_EQ(gui::Text(Ctl(ids::txtSaveAs)), L"");
}

TEST_F(MainWindowTest, ControlsCarryTheirCaptionsWithAccelerators)
{
    EXPECT_EQ(gui::Text(Ctl(ids::Frame3)), L"Output Format");
    EXPECT_EQ(gui::Text(Ctl(ids::Frame1)), L"Open RM Files");
    EXPECT_EQ(gui::Text(Ctl(ids::Frame2)), L"Save to Folder");
    EXPECT_EQ(gui::Text(Ctl(ids::optMP3)), L"Convert RA re RE3");
    EXPECT_EQ(gui::Text(Ctl(ids::optWAV)), L"Convert RM to WAV");
    EXPECT_EQ(gui::Text(Ctl(ids::cmdPara)), L"Set &Parameters...");
    EXPECT_EQ(gui::Text(Ctl(ids::cmdOpenRM)), L"Add &RM Files to List");
    EXPECT_EQ(gui::Text(Ctl(ids::cmdDel)), L"&Delete from List");
    EXPECT_EQ(gui::Text(Ctl(ids::cmdSaveAs)), L"Save to &Folder...");
    EXPECT_EQ(gui::Text(Ctl(ids::cmdHelp)), L"&Help");
    EXPECT_EQ(gui::Text(Ctl(ids::cmdAbout)), L"Abo&ut...");
    EXPECT_EQ(gui::Text(Ctl(ids::cmdConvert)), L"&Convert...");
    EXPECT_EQ(gui::Text(Ctl(ids::cmdExit)), L"&Exit");
}

TEST_F(MainWindowTest, HasAFixedBorderAMinimiseButtonAndTheDesignedLayout)
{
    const LONG style = GetWindowLongW(program.Main(), GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    RECT client;
    GetClientRect(program.Main(), &client);
    EXPECT_EQ(client.right, Px(9135));
    EXPECT_EQ(client.bottom, Px(6225));

    // Centred on the screen's work area.
    RECT window, work;
    GetWindowRect(program.Main(), &window);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((window.left + window.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((window.top + window.bottom) / 2, (work.top + work.bottom) / 2, 1);

    // Positions inside the frames are relative to the frame.
    const struct {
        int id, left, top, width, height;
    } layout[] = {
        {ids::Frame3, 240, 240, 8655, 855},
        {ids::optMP3, 240 + 240, 240 + 360, 2535, 255},
        {ids::cmdPara, 240 + 6480, 240 + 330, 1935, 285},
        {ids::List1, 240 + 240, 1200 + 330, 6135, 2565},
        {ids::LFile, 240 + 6480, 1200 + 1200, 1935, 255},
        {ids::txtSaveAs, 240 + 240, 4440 + 330, 6135, 285},
        {ids::cmdHelp, 1920, 5520, 1575, 375},
        {ids::cmdExit, 7200, 5520, 1695, 375},
    };
    for (const auto& item : layout) {
        const RECT r = gui::RectInClient(Ctl(item.id), program.Main());
        EXPECT_NEAR(r.left, Px(item.left), 1) << item.id;
        EXPECT_NEAR(r.top, Px(item.top), 1) << item.id;
        EXPECT_NEAR(r.right - r.left, Px(item.width), 1) << item.id;
        EXPECT_NEAR(r.bottom - r.top, Px(item.height), 1) << item.id;
    }
    // The converter control sits outside the visible area.
    HWND converter = Ctl(ids::Atlqzt);
    if (!converterMissing) {
        ASSERT_NE(converter, nullptr);
        const RECT r = gui::RectInClient(converter, program.Main());
        EXPECT_LE(r.right, 0);
        EXPECT_LE(r.bottom, 0);
    }
}

TEST_F(MainWindowTest, PaintsCreamBackgroundFramesAndYellowButtons)
{
    SetForegroundWindow(program.Main());
    gui::WaitFor([] { return false; }, 300);
    const RECT client = gui::ClientOnScreen(program.Main());
    // A strip of the window between the frames.
    const RECT gap = {client.left + Px(240), client.top + Px(1100), client.left + Px(8000), client.top + Px(1190)};
    EXPECT_EQ(gui::DominantColour(gap), Cream);
    EXPECT_EQ(gui::DominantColour(gui::ClientOnScreen(Ctl(ids::Frame1))), Cream);
    EXPECT_EQ(gui::DominantColour(gui::ClientOnScreen(Ctl(ids::cmdExit))), ButtonYellow);
    EXPECT_EQ(gui::DominantColour(gui::ClientOnScreen(Ctl(ids::cmdPara))), ButtonYellow);
    EXPECT_EQ(gui::DominantColour(gui::ClientOnScreen(Ctl(ids::optMP3))), Cream);
    EXPECT_EQ(gui::DominantColour(gui::ClientOnScreen(Ctl(ids::List1))), Cream);
    EXPECT_EQ(gui::DominantColour(gui::ClientOnScreen(Ctl(ids::txtSaveAs))), Cream);
    EXPECT_EQ(gui::DominantColour(gui::ClientOnScreen(Ctl(ids::LFile))), GetSysColor(COLOR_WINDOW));
}

TEST_F(MainWindowTest, BackgroundSurvivesBeingMinimisedAndRestored)
{
    PostMessageW(program.Main(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(gui::WaitFor([&] { return IsIconic(program.Main()) != FALSE; }));
    PostMessageW(program.Main(), WM_SYSCOMMAND, SC_RESTORE, 0);
    ASSERT_TRUE(gui::WaitFor([&] { return !IsIconic(program.Main()); }));
    SetForegroundWindow(program.Main());
    gui::WaitFor([] { return false; }, 500);
    const RECT client = gui::ClientOnScreen(program.Main());
    const RECT gap = {client.left + Px(240), client.top + Px(1100), client.left + Px(8000), client.top + Px(1190)};
    EXPECT_EQ(gui::DominantColour(gap), Cream);
}

TEST_F(MainWindowTest, ConvertWithAnEmptyListAsksForFilesWhateverTheFolder)
{
    gui::SetText(Ctl(ids::txtSaveAs), L"C:\\Out");
    MessageBoxInfo box = ClickForBox(ids::cmdConvert);
    EXPECT_EQ(box.title, L"Vellumo");
    EXPECT_EQ(box.text, L"Please add some real media files to the list to convert ");
    EXPECT_EQ(box.icon, BoxIcon::Information);
    gui::Program::Answer(box);
    EXPECT_TRUE(program.NoMessageBoxWithin(300)) << "only the first message is shown";
    EXPECT_EQ(program.WaitForWindow(VELLUMO_CONVERT_CLASS, L"", 200), nullptr);
}

TEST_F(MainWindowTest, ConvertNeedsAFolderTextOfThreeCharactersAfterTrimming)
{
    gui::FileSet files(gui::TempRoot() + L"\\vellumo convert", {L"one.rm"});
    AddThroughDialog(files.Folder(), {L"one.rm"});
    ASSERT_EQ(gui::ListItems(Ctl(ids::List1)).size(), 1u);

    for (const wchar_t* refused : {L"", L"C:", L"      ", L" C: "}) {
        gui::SetText(Ctl(ids::txtSaveAs), refused);
        MessageBoxInfo box = ClickForBox(ids::cmdConvert);
        EXPECT_EQ(box.text, L"Please select a folder to save the output files") << refused;
        EXPECT_EQ(box.icon, BoxIcon::Information);
        EXPECT_EQ(box.title, L"Vellumo");
        gui::Program::Answer(box);
    }
    for (const wchar_t* accepted : {L"C:\\", L"  C:\\  "}) {
        gui::SetText(Ctl(ids::txtSaveAs), accepted);
        gui::Click(Ctl(ids::cmdConvert));
        HWND convert = program.WaitForWindow(VELLUMO_CONVERT_CLASS, L"Convert RA re RE3");
        ASSERT_NE(convert, nullptr) << accepted;
        EXPECT_FALSE(IsWindowEnabled(program.Main())) << "the conversion window is modal";
        PostMessageW(convert, WM_CLOSE, 0, 0);
        ASSERT_TRUE(gui::WaitFor([&] { return !IsWindow(convert); }));
        EXPECT_TRUE(gui::WaitFor([&] { return IsWindowEnabled(program.Main()) != FALSE; }));
    }
    // WAV chosen: the conversion window says so.
    gui::Click(Ctl(ids::optWAV));
    gui::WaitFor([&] { return SendMessageW(Ctl(ids::optWAV), BM_GETCHECK, 0, 0) == BST_CHECKED; });
    gui::Click(Ctl(ids::cmdConvert));
    HWND convert = program.WaitForWindow(VELLUMO_CONVERT_CLASS, L"Convert RM to WAV");
    ASSERT_NE(convert, nullptr);
    PostMessageW(convert, WM_CLOSE, 0, 0);
    gui::WaitFor([&] { return !IsWindow(convert); });
}

TEST_F(MainWindowTest, FileDialogAddsFilesInOrderSkipsDuplicatesAndCounts)
{
    gui::FileSet files(gui::TempRoot() + L"\\vellumo list", {L"c.rm", L"a.ra", L"b.rmvb", L"d.rm", L"e.ram"});
    const std::wstring f = files.Folder() + L"\\";
    AddThroughDialog(files.Folder(), {L"c.rm", L"a.ra", L"b.rmvb"});
    EXPECT_EQ(gui::ListItems(Ctl(ids::List1)), (std::vector<std::wstring>{f + L"c.rm", f + L"a.ra", f + L"b.rmvb"}));
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), L"3  Files added");

    // One already listed with two new ones: the total counts.
    AddThroughDialog(files.Folder(), {L"a.ra", L"d.rm", L"e.ram"});
    EXPECT_EQ(gui::ListItems(Ctl(ids::List1)),
              (std::vector<std::wstring>{f + L"c.rm", f + L"a.ra", f + L"b.rmvb", f + L"d.rm", f + L"e.ram"}));
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), L"5  Files added");

    // One file alone: its full path.
    AddThroughDialog(files.Folder(), {L"d.rm"});
    EXPECT_EQ(gui::ListItems(Ctl(ids::List1)).size(), 5u);
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), L"5  Files added");
}

TEST_F(MainWindowTest, TheFileDialogHasItsTitleAndFilterAndCancelChangesNothing)
{
    gui::Click(Ctl(ids::cmdOpenRM));
    HWND dialog = program.WaitForWindow(L"#32770", L"Open a Real File", 10000);
    ASSERT_NE(dialog, nullptr);
    HWND filter = GetDlgItem(dialog, 0x470);  // cmb1, the file types
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(gui::ComboItems(filter),
              (std::vector<std::wstring>{L"Real Files(*.rm;*.ram;*.ra;*.rmvb)", L"All Files(*.*)"}));
    gui::Click(GetDlgItem(dialog, IDCANCEL));
    ASSERT_TRUE(gui::WaitFor([&] { return !IsWindow(dialog); }));
    EXPECT_TRUE(program.NoMessageBoxWithin(300));
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), L"") << "cancel leaves the empty count alone";
    EXPECT_TRUE(gui::ListItems(Ctl(ids::List1)).empty());
}

TEST_F(MainWindowTest, NamesOutsideTheLegacyCodePageAndAtADriveRootAreListed)
{
    gui::FileSet chinese(gui::TempRoot() + L"\\\x6b4c\x66f2 \x96c6", {L"\x4e2d\x6587 \x6b4c.rm", L"\x00e9t\x00e9.ra"});
    AddThroughDialog(chinese.Folder(), {L"\x4e2d\x6587 \x6b4c.rm", L"\x00e9t\x00e9.ra"});
    const std::wstring root = L"C:\\";
    gui::FileSet atRoot(root, {L"vellumo root one.rm", L"vellumo root two.rm"});
    AddThroughDialog(L"C:\\", {L"vellumo root one.rm", L"vellumo root two.rm"});
    EXPECT_EQ(gui::ListItems(Ctl(ids::List1)),
              (std::vector<std::wstring>{chinese.PathOf(L"\x4e2d\x6587 \x6b4c.rm"), chinese.PathOf(L"\x00e9t\x00e9.ra"),
                                         L"C:\\vellumo root one.rm", L"C:\\vellumo root two.rm"}));
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), L"4  Files added");
}

TEST_F(MainWindowTest, DeleteWithoutSelectionComplainsAndStillCounts)
{
    MessageBoxInfo box = ClickForBox(ids::cmdDel);
    EXPECT_EQ(box.title, L"Vellumo");
    EXPECT_EQ(box.text, L"No file selected to delete from the list");
    EXPECT_EQ(box.icon, BoxIcon::Stop);
    gui::Program::Answer(box);
    EXPECT_TRUE(gui::WaitFor([&] { return gui::Text(Ctl(ids::LFile)) == L"0  Files added"; }));
}

TEST_F(MainWindowTest, DeleteRemovesTheSelectedEntry)
{
    gui::FileSet files(gui::TempRoot() + L"\\vellumo delete", {L"1.rm", L"2.rm", L"3.rm"});
    AddThroughDialog(files.Folder(), {L"1.rm", L"2.rm", L"3.rm"});
    HWND list = Ctl(ids::List1);
    ASSERT_EQ(gui::ListItems(list).size(), 3u);
    SendMessageW(list, LB_SETCURSEL, 1, 0);
    gui::Click(Ctl(ids::cmdDel));
    ASSERT_TRUE(gui::WaitFor([&] { return gui::ListItems(list).size() == 2; }));
    EXPECT_EQ(gui::ListItems(list), (std::vector<std::wstring>{files.PathOf(L"1.rm"), files.PathOf(L"3.rm")}));
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), L"2  Files added");
    EXPECT_TRUE(program.NoMessageBoxWithin(300));
}

TEST_F(MainWindowTest, DoubleClickShowsTheFullPathWithoutIcon)
{
    gui::FileSet files(gui::TempRoot() + L"\\vellumo dbl", {L"x.rm"});
    AddThroughDialog(files.Folder(), {L"x.rm"});
    HWND list = Ctl(ids::List1);
    const LPARAM point = MAKELPARAM(5, 5);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMessageW(list, WM_LBUTTONUP, 0, point);
    PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
    PostMessageW(list, WM_LBUTTONUP, 0, point);
    MessageBoxInfo box;
    ASSERT_TRUE(program.WaitForMessageBox(&box));
    EXPECT_EQ(box.title, L"Vellumo");
    EXPECT_EQ(box.text, files.PathOf(L"x.rm"));
    EXPECT_EQ(box.icon, BoxIcon::None);
    EXPECT_EQ(box.buttons, std::vector<std::wstring>{L"OK"});
    gui::Program::Answer(box);
}

TEST_F(MainWindowTest, FolderPickerCancelKeepsTheFolderText)
{
    gui::SetText(Ctl(ids::txtSaveAs), L"D:\\Earlier");
    gui::Click(Ctl(ids::cmdSaveAs));
    HWND picker = program.WaitForWindow(L"#32770", L"", 10000);
    ASSERT_NE(picker, nullptr);
    bool titled = false;
    EnumChildWindows(picker, [](HWND child, LPARAM found) -> BOOL {
        if (gui::Text(child) == L"Please locate a directory") *reinterpret_cast<bool*>(found) = true;
        return TRUE;
    }, reinterpret_cast<LPARAM>(&titled));
    EXPECT_TRUE(titled);
    gui::Click(GetDlgItem(picker, IDCANCEL));
    ASSERT_TRUE(gui::WaitFor([&] { return !IsWindow(picker); }));
    EXPECT_EQ(gui::Text(Ctl(ids::txtSaveAs)), L"D:\\Earlier");
}

TEST_F(MainWindowTest, AboutBoxShowsTitleAndVersionModallyOverTheMainWindow)
{
    gui::Click(Ctl(ids::cmdAbout));
    HWND about = program.WaitForWindow(VELLUMO_ABOUT_CLASS, L"Vellumo");
    ASSERT_NE(about, nullptr);
    EXPECT_FALSE(IsWindowEnabled(program.Main()));
    EXPECT_EQ(gui::Text(gui::Control(about, ids::AppTitle)), L"Vellumo");
    EXPECT_EQ(gui::Text(gui::Control(about, ids::AppVersion)), L"Version: 1.00");
    EXPECT_EQ(gui::Text(gui::Control(about, ids::AboutOKButton)), L"OK");
    const LONG style = GetWindowLongW(about, GWL_STYLE);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_FALSE(GetWindowLongW(about, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    RECT client;
    GetClientRect(about, &client);
    EXPECT_EQ(client.right, Px(6390));
    EXPECT_EQ(client.bottom, Px(3555));
    RECT a, m;
    GetWindowRect(about, &a);
    GetWindowRect(program.Main(), &m);
    EXPECT_NEAR((a.left + a.right) / 2, (m.left + m.right) / 2, 1);
    EXPECT_NEAR((a.top + a.bottom) / 2, (m.top + m.bottom) / 2, 1);
    SetForegroundWindow(about);
    gui::WaitFor([] { return false; }, 300);
    EXPECT_EQ(gui::DominantColour(gui::ClientOnScreen(about)), Cream);
    EXPECT_EQ(gui::DominantColour(gui::ClientOnScreen(gui::Control(about, ids::AboutOKButton))), Cream);

    gui::Click(gui::Control(about, ids::AboutOKButton));
    ASSERT_TRUE(gui::WaitFor([&] { return !IsWindow(about); }));
    EXPECT_TRUE(gui::WaitFor([&] { return IsWindowEnabled(program.Main()) != FALSE; }));
    // Opened afresh the next time.
    gui::Click(Ctl(ids::cmdAbout));
    about = program.WaitForWindow(VELLUMO_ABOUT_CLASS, L"Vellumo");
    ASSERT_NE(about, nullptr);
    PostMessageW(about, WM_CLOSE, 0, 0);
    ASSERT_TRUE(gui::WaitFor([&] { return !IsWindow(about); }));
}

TEST_F(MainWindowTest, ExitEndsTheProgramAtOnceWithoutSaving)
{
    gui::Click(Ctl(ids::cmdExit));
    EXPECT_EQ(program.WaitForExit(5000), 0u);
    EXPECT_FALSE(program.SettingsExist());
}

namespace {

HWND FindAnyWindowTitled(const std::wstring& caption)
{
    struct Search {
        const std::wstring* caption;
        HWND found;
    } search{&caption, nullptr};
    EnumWindows([](HWND window, LPARAM lParam) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lParam);
        if (IsWindowVisible(window) && gui::Text(window) == *s->caption) {
            s->found = window;
            return FALSE;
        }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

TEST_F(MainWindowTest, HelpOpensTheHelpFileBesideTheProgramInTheViewer)
{
    gui::Click(Ctl(ids::cmdHelp));
    HWND viewer = nullptr;
    // The viewer (HTML Help, hh.exe) is its own process.
    EXPECT_TRUE(gui::WaitFor([&] { return (viewer = FindAnyWindowTitled(L"Vellumo Help")) != nullptr; }, 15000));
    EXPECT_TRUE(program.NoMessageBoxWithin(200));
    if (viewer) {
        DWORD pid = 0;
        GetWindowThreadProcessId(viewer, &pid);
        EXPECT_NE(pid, program.ProcessId());
        PostMessageW(viewer, WM_CLOSE, 0, 0);
        gui::WaitFor([&] { return !IsWindow(viewer); });
    }
}

TEST_F(MainWindowTest, HelpWithoutTheHelpFileSaysNothing)
{
    DeleteFileW((program.Folder() + L"\\vellumo.chm").c_str());
    gui::Click(Ctl(ids::cmdHelp));
    EXPECT_TRUE(program.NoMessageBoxWithin(1500));
    EXPECT_TRUE(IsWindowEnabled(program.Main()));
}

TEST_F(MainWindowTest, KeyboardAcceleratorsPressTheirButtons)
{
    // Alt+U is "Abo&ut...".
    PostMessageW(program.Main(), WM_SYSCHAR, L'u', 0x20000000);
    HWND about = program.WaitForWindow(VELLUMO_ABOUT_CLASS, L"Vellumo");
    ASSERT_NE(about, nullptr);
    PostMessageW(about, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(gui::WaitFor([&] { return !IsWindow(about); }));
}

namespace {

// Runs regsvr32 on the build folder's corvane.dll and waits for it.
bool RunRegsvr32(bool unregister)
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    folder = folder.substr(0, folder.rfind(L'\\'));
    std::wstring command = std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" + folder +
                           L"\\corvane.dll\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &process))
        return false;
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code == 0;
}

}  // namespace

TEST(MainWindowWithoutConverter, StartsSaysSoAndKeepsWorking)
{
    ASSERT_TRUE(RunRegsvr32(true));
    struct Reregister {
        ~Reregister() { RunRegsvr32(false); }
    } reregister;
    gui::Program program;
    ASSERT_TRUE(program.Start());
    MessageBoxInfo box;
    ASSERT_TRUE(program.WaitForMessageBox(&box));
    EXPECT_EQ(box.title, L"Vellumo");
    EXPECT_NE(box.text.find(L"corvane.dll"), std::wstring::npos);
    EXPECT_EQ(box.icon, BoxIcon::Stop);
    gui::Program::Answer(box);
    EXPECT_EQ(gui::Text(program.Main()), L"Vellumo 1.00");
    EXPECT_EQ(program.MainControl(ids::Atlqzt), nullptr);

    // The parameters dialog shows the defaults; OK has no store to save.
    gui::Click(program.MainControl(ids::cmdPara));
    HWND para = program.WaitForWindow(VELLUMO_PARA_CLASS);
    ASSERT_NE(para, nullptr);
    EXPECT_EQ(gui::ComboPosition(gui::Control(para, ids::cboMP3Bitrates)), 8);
    gui::Click(gui::Control(para, ids::ParaOKButton));
    ASSERT_TRUE(gui::WaitFor([&] { return !IsWindow(para); }));
    EXPECT_FALSE(program.SettingsExist());

    gui::Click(program.MainControl(ids::cmdExit));
    EXPECT_EQ(program.WaitForExit(5000), 0u);
}

TEST_F(MainWindowTest, TwoSpellingsOfOneFileAreTwoEntries)
{
    gui::FileSet files(gui::TempRoot() + L"\\vellumo case", {L"song.rm"});
    AddThroughDialog(files.Folder(), {L"song.rm"});
    AddThroughDialog(files.Folder(), {L"SONG.RM"});
    const auto items = gui::ListItems(Ctl(ids::List1));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], files.PathOf(L"song.rm"));
    EXPECT_EQ(items[1], files.PathOf(L"SONG.RM"));
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), L"2  Files added");
}

namespace {

// The folder picker's tree items two levels deep (the desktop's children and
// theirs), expanded on the way, in tree order.
std::vector<HTREEITEM> PickerItems(HWND tree)
{
    std::vector<HTREEITEM> items;
    const auto next = [tree](HTREEITEM item, WPARAM how) {
        return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
    };
    HTREEITEM root = next(nullptr, TVGN_ROOT);
    if (!root) return items;
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
    for (HTREEITEM child = next(root, TVGN_CHILD); child; child = next(child, TVGN_NEXT)) {
        items.push_back(child);
        SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(child));
        for (HTREEITEM grandchild = next(child, TVGN_CHILD); grandchild; grandchild = next(grandchild, TVGN_NEXT))
            items.push_back(grandchild);
    }
    return items;
}

}  // namespace

TEST_F(MainWindowTest, FolderPickerGivesDriveRootsWithOneBackslashAndFoldersWithout)
{
    std::vector<std::wstring> results;
    for (std::size_t attempt = 0; attempt < 16; ++attempt) {
        gui::SetText(Ctl(ids::txtSaveAs), L"");
        gui::Click(Ctl(ids::cmdSaveAs));
        HWND picker = program.WaitForWindow(L"#32770", L"", 10000);
        ASSERT_NE(picker, nullptr);
        HWND tree = FindWindowExW(picker, nullptr, L"SysTreeView32", nullptr);
        ASSERT_NE(tree, nullptr);
        const std::vector<HTREEITEM> items = PickerItems(tree);
        if (attempt >= items.size()) {
            gui::Click(GetDlgItem(picker, IDCANCEL));
            gui::WaitFor([&] { return !IsWindow(picker); });
            break;
        }
        SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(items[attempt]));
        gui::WaitFor([] { return false; }, 100);
        HWND ok = GetDlgItem(picker, IDOK);
        gui::Click(IsWindowEnabled(ok) ? ok : GetDlgItem(picker, IDCANCEL));
        ASSERT_TRUE(gui::WaitFor([&] { return !IsWindow(picker); }));
        const std::wstring folder = gui::Text(Ctl(ids::txtSaveAs));
        if (!folder.empty()) results.push_back(folder);
        bool root = false, deeper = false;
        for (const std::wstring& f : results) (f.size() == 3 ? root : deeper) = true;
        if (root && deeper) break;
    }
    bool driveRoot = false, below = false;
    for (const std::wstring& folder : results) {
        ASSERT_GE(folder.size(), 3u) << testing::PrintToString(folder);
        EXPECT_EQ(folder.substr(1, 2), L":\\") << testing::PrintToString(folder);
        if (folder.size() == 3) {
            driveRoot = true;
        } else {
            below = true;
            EXPECT_NE(folder.back(), L'\\') << testing::PrintToString(folder);
        }
    }
    EXPECT_TRUE(driveRoot) << "no drive root among the picker's items";
    EXPECT_TRUE(below) << "no folder below a root among the picker's items";
}
