// The real vellumo.exe driven from outside: the main window, its source list,
// folder picker, Help and About box, and the parameters dialog with the
// settings.ini it reads and writes.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <dbghelp.h>

#include <cstdio>

#include "common/control_ids.h"
#include "program_test.h"
#include "parameters/settings.h"
#include "test_platform.h"

using namespace vellumo;
using gui::BoxIcon;
using gui::MessageBoxInfo;
using gui::Texts;
using gui::Settle;

namespace {

int Px(int twips)
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return MulDiv(twips, dpi, 1440);
}

constexpr COLORREF Cream = RGB(255, 255, 192), ButtonYellow = RGB(255, 255, 128);

using MainWindowTest = gui::ProgramTest;

}  // namespace

TEST_F(MainWindowTest, StartsReadyLaidOutAndPaintedShowsAboutAndExitsWithoutSaving)
{
    Start();
    HWND main = program.Main();
    EXPECT_EQ(gui::Text(main), L"Vellumo 1.00");
    const std::pair<int, const wchar_t*> texts[] = {
        {ids::Frame3, L"Output Format"},         {ids::Frame1, L"Open RM Files"},
        {ids::Frame2, L"Save to Folder"},        {ids::optMP3, L"Convert RA re RE3"},
        {ids::optWAV, L"Convert RM to WAV"},     {ids::cmdPara, L"Set &Parameters..."},
        {ids::cmdOpenRM, L"Add &RM Files to List"}, {ids::cmdDel, L"&Delete from List"},
        {ids::cmdSaveAs, L"Save to &Folder..."}, {ids::cmdHelp, L"&Help"},
        {ids::cmdAbout, L"Abo&ut..."},           {ids::cmdConvert, L"&Convert..."},
        {ids::cmdExit, L"&Exit"},                {ids::LFile, L""},
        {ids::txtSaveAs, L""}};
    for (const auto& [id, text] : texts) {
        EXPECT_EQ(gui::Text(Ctl(id)), text) << id;
        EXPECT_TRUE(IsWindowEnabled(Ctl(id))) << id;
    }
    EXPECT_EQ(SendMessageW(Ctl(ids::optMP3), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(Ctl(ids::optWAV), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_TRUE(gui::ListItems(Ctl(ids::List1)).empty());

    // A fixed border with a minimise button, the designed size, centred on the work area.
    const LONG style = GetWindowLongW(main, GWL_STYLE);
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), WS_MINIMIZEBOX);
    RECT client, window, work;
    GetClientRect(main, &client);
    EXPECT_EQ(client.right, Px(9135));
    EXPECT_EQ(client.bottom, Px(6225));
    GetWindowRect(main, &window);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR(window.left + window.right, work.left + work.right, 2);
    EXPECT_NEAR(window.top + window.bottom, work.top + work.bottom, 2);
    const RECT converter = gui::RectInClient(Ctl(ids::Atlqzt), main);
    EXPECT_TRUE(converter.right <= 0 && converter.bottom <= 0) << "the converter control is out of sight";

    // Cream background and frames, yellow buttons; again after minimise and restore.
    const std::pair<int, COLORREF> colours[] = {{ids::Frame1, Cream},        {ids::optMP3, Cream},
                                                {ids::List1, Cream},         {ids::txtSaveAs, Cream},
                                                {ids::cmdExit, ButtonYellow}, {ids::cmdPara, ButtonYellow},
                                                {ids::LFile, GetSysColor(COLOR_WINDOW)}};
    for (const char* when : {"at start", "after minimise and restore"}) {
        SCOPED_TRACE(when);
        SetForegroundWindow(main);
        Settle(400);
        const RECT c = gui::ClientOnScreen(main);
        EXPECT_EQ(gui::DominantColour({c.left + Px(240), c.top + Px(1100), c.left + Px(8000), c.top + Px(1190)}), Cream);
        for (const auto& [id, colour] : colours) EXPECT_EQ(gui::DominantColour(gui::ClientOnScreen(Ctl(id))), colour) << id;
        // Inside their raised edges the only text-coloured pixels are the captions': grey
        // on a white relief while a button is disabled.
        const auto caption = [&](int id, int colour) {
            RECT inside = gui::ClientOnScreen(Ctl(id));
            InflateRect(&inside, -4, -4);
            return gui::PixelsOf(inside, GetSysColor(colour));
        };
        EXPECT_GT(caption(ids::cmdExit, COLOR_BTNTEXT), 5);
        EnableWindow(Ctl(ids::cmdPara), FALSE);
        Settle(200);
        EXPECT_GT(caption(ids::cmdPara, COLOR_GRAYTEXT), 5);
        EXPECT_GT(caption(ids::cmdPara, COLOR_3DHILIGHT), 5);
        EnableWindow(Ctl(ids::cmdPara), TRUE);
        PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        ASSERT_TRUE(gui::WaitFor([&] { return IsIconic(main) != FALSE; }));
        PostMessageW(main, WM_SYSCOMMAND, SC_RESTORE, 0);
        ASSERT_TRUE(gui::WaitFor([&] { return !IsIconic(main); }));
    }

    // Alt+U presses "Abo&ut...": the About box, modal, centred over the main window.
    PostMessageW(main, WM_SYSCHAR, L'u', 0x20000000);
    HWND about = program.WaitForWindow(VELLUMO_ABOUT_CLASS, L"Vellumo");
    ASSERT_NE(about, nullptr);
    EXPECT_FALSE(IsWindowEnabled(main));
    EXPECT_EQ(gui::Text(gui::Control(about, ids::AppTitle)), L"Vellumo");
    EXPECT_EQ(gui::Text(gui::Control(about, ids::AppVersion)), L"Version: 1.00");
    EXPECT_EQ(gui::Text(gui::Control(about, ids::AboutOKButton)), L"OK");
    RECT a;
    GetWindowRect(about, &a);
    EXPECT_NEAR(a.left + a.right, window.left + window.right, 2);
    EXPECT_NEAR(a.top + a.bottom, window.top + window.bottom, 2);
    SetForegroundWindow(about);
    Settle(300);
    EXPECT_EQ(gui::DominantColour(gui::ClientOnScreen(about)), Cream);
    EXPECT_EQ(gui::DominantColour(gui::ClientOnScreen(gui::Control(about, ids::AboutOKButton))), Cream);
    ASSERT_TRUE(Close(about, gui::Control(about, ids::AboutOKButton)));
    // Opened afresh by the button; Escape closes it.
    about = Open(ids::cmdAbout, VELLUMO_ABOUT_CLASS, L"Vellumo");
    ASSERT_NE(about, nullptr);
    PostMessageW(about, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(gui::WaitFor([&] { return !IsWindow(about); }));

    gui::Click(Ctl(ids::cmdExit));
    EXPECT_EQ(program.WaitForExit(5000), 0u);
    EXPECT_FALSE(program.SettingsExist());
}

TEST_F(MainWindowTest, SourceListThroughTheFileDialogAndTheConvertPreconditions)
{
    Start();
    HWND list = Ctl(ids::List1), count = Ctl(ids::LFile);
    // The dialog's title and filter; Cancel changes nothing.
    gui::Click(Ctl(ids::cmdOpenRM));
    HWND dialog = program.WaitForWindow(L"#32770", L"Open a Real File", 10000);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(gui::ComboItems(GetDlgItem(dialog, 0x470)),
              (Texts{L"Real Files(*.rm;*.ram;*.ra;*.rmvb)", L"All Files(*.*)"}));
    gui::Click(GetDlgItem(dialog, IDCANCEL));
    ASSERT_TRUE(gui::WaitFor([&] { return !IsWindow(dialog); }));
    EXPECT_TRUE(program.NoMessageBoxWithin(300));
    EXPECT_EQ(gui::Text(count), L"");

    // An empty list: Convert asks for files whatever the folder, once.
    gui::SetText(Ctl(ids::txtSaveAs), L"C:\\Out");
    const MessageBoxInfo ask = BoxAfter(Ctl(ids::cmdConvert));
    ExpectBox(ask, L"Please add some real media files to the list to convert ", BoxIcon::Information);
    gui::Program::Answer(ask);
    EXPECT_TRUE(program.NoMessageBoxWithin(300));
    EXPECT_EQ(program.WaitForWindow(VELLUMO_CONVERT_CLASS, L"", 200), nullptr);
    // Delete without a selection complains, and still counts.
    const MessageBoxInfo none = BoxAfter(Ctl(ids::cmdDel));
    ExpectBox(none, L"No file selected to delete from the list", BoxIcon::Stop);
    gui::Program::Answer(none);
    EXPECT_TRUE(gui::WaitFor([&] { return gui::Text(count) == L"0  Files added"; }));

    // Names in the order chosen; one already listed is skipped, another spelling is not.
    gui::FileSet files(gui::TempRoot() + L"\\vellumo list", {L"c.rm", L"a.ra", L"b.rmvb", L"d.rm", L"e.ram"});
    const std::wstring f = files.Folder() + L"\\";
    AddFiles(files.Folder(), {L"c.rm", L"a.ra", L"b.rmvb"});
    EXPECT_EQ(gui::ListItems(list), (Texts{f + L"c.rm", f + L"a.ra", f + L"b.rmvb"}));
    EXPECT_EQ(gui::Text(count), L"3  Files added");
    AddFiles(files.Folder(), {L"a.ra", L"d.rm", L"e.ram"});
    AddFiles(files.Folder(), {L"d.rm"});
    AddFiles(files.Folder(), {L"D.RM"});
    EXPECT_EQ(gui::ListItems(list), (Texts{f + L"c.rm", f + L"a.ra", f + L"b.rmvb", f + L"d.rm", f + L"e.ram", f + L"D.RM"}));
    EXPECT_EQ(gui::Text(count), L"6  Files added");
    // Names outside the legacy code page, and files at a drive root.
    gui::FileSet chinese(gui::TempRoot() + L"\\\x6b4c\x66f2 \x96c6", {L"\x4e2d\x6587 \x6b4c.rm", L"\x00e9t\x00e9.ra"});
    gui::FileSet atRoot(L"C:\\", {L"vellumo root one.rm", L"vellumo root two.rm"});
    AddFiles(chinese.Folder(), {L"\x4e2d\x6587 \x6b4c.rm", L"\x00e9t\x00e9.ra"});
    AddFiles(L"C:\\", {L"vellumo root one.rm", L"vellumo root two.rm"});
    Texts items = gui::ListItems(list);
    ASSERT_EQ(items.size(), 10u);
    EXPECT_EQ(Texts(items.begin() + 6, items.end()),
              (Texts{chinese.PathOf(L"\x4e2d\x6587 \x6b4c.rm"), chinese.PathOf(L"\x00e9t\x00e9.ra"),
                     L"C:\\vellumo root one.rm", L"C:\\vellumo root two.rm"}));
    EXPECT_EQ(gui::Text(count), L"10  Files added");

    // Delete removes the selected entry.
    SendMessageW(list, LB_SETCURSEL, 1, 0);
    gui::Click(Ctl(ids::cmdDel));
    ASSERT_TRUE(gui::WaitFor([&] { return gui::ListItems(list).size() == 9; }));
    items.erase(items.begin() + 1);
    EXPECT_EQ(gui::ListItems(list), items);
    EXPECT_EQ(gui::Text(count), L"9  Files added");
    EXPECT_TRUE(program.NoMessageBoxWithin(300));
    // A double click shows the full path, without an icon.
    for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        PostMessageW(list, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(5, 5));
    MessageBoxInfo path;
    ASSERT_TRUE(program.WaitForMessageBox(&path));
    ExpectBox(path, f + L"c.rm", BoxIcon::None);
    EXPECT_EQ(path.buttons, Texts{L"OK"});
    gui::Program::Answer(path);

    // The folder needs three characters after trimming.
    for (const wchar_t* refused : {L"", L"C:", L"      ", L" C: "}) {
        gui::SetText(Ctl(ids::txtSaveAs), refused);
        const MessageBoxInfo box = BoxAfter(Ctl(ids::cmdConvert));
        ExpectBox(box, L"Please select a folder to save the output files", BoxIcon::Information);
        gui::Program::Answer(box);
    }
    for (const wchar_t* accepted : {L"C:\\", L"  C:\\  "}) {
        gui::SetText(Ctl(ids::txtSaveAs), accepted);
        HWND convert = Open(ids::cmdConvert, VELLUMO_CONVERT_CLASS, L"Convert RA re RE3");
        ASSERT_NE(convert, nullptr) << accepted;
        EXPECT_FALSE(IsWindowEnabled(program.Main())) << "the conversion window is modal";
        ASSERT_TRUE(Close(convert));
    }
}

TEST_F(MainWindowTest, FiveHundredFilesWithLongNamesAreAllAdded)
{
    // Their names fill more than the 32,000 characters the common dialog's buffer held.
    Texts names;
    for (int i = 0; i < 500; ++i)
        names.push_back(L"A rather long name of a RealMedia recording from the old radio archive, part " +
                        std::to_wstring(1000 + i) + L".rm");
    gui::FileSet files(gui::TempRoot() + L"\\vellumo many names", names);
    Start();
    AddFiles(files.Folder(), names);
    const Texts listed = gui::ListItems(Ctl(ids::List1));
    ASSERT_EQ(listed.size(), names.size());
    for (std::size_t i = 0; i < names.size(); i += 99) EXPECT_EQ(listed[i], files.PathOf(names[i])) << i;
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), L"500  Files added");
}

// Started with a folder and two files (dropped on its icon, "Open with"),
// the program lists them as a drop would: the folder by its RealMedia files,
// named below the folder's parent in the batch window; the files on their own.
// The folder comes quoted with its trailing backslash, as "D:\" does.
TEST_F(MainWindowTest, TheCommandLineListsFoldersAndFilesAsADrop)
{
    const std::wstring root = gui::TempRoot() + L"\\cmd " + std::to_wstring(GetCurrentProcessId()),
                       folder = root + L"\\Caf\xE9 \x4E2D\x6587 dir";
    gui::FileSet top(root, {L"x y.rm", L"\xE9 \x4E2D.rmvb", L"notes.txt"});
    gui::FileSet inside(folder, {L"b.ra", L"cover.jpg"});
    gui::FileSet below(folder + L"\\sub", {L"a.rm"});
    ASSERT_TRUE(program.Start(L"", L"\"" + folder + L"\\\" \"" + top.PathOf(L"x y.rm") + L"\" \"" + top.PathOf(L"notes.txt") +
                              L"\" \"" + top.PathOf(L"\xE9 \x4E2D.rmvb") + L"\""));
    EXPECT_TRUE(gui::WaitFor([&] { return gui::Text(Ctl(ids::LFile)) == L"4  Files added"; }, 20000));
    EXPECT_EQ(gui::ListItems(Ctl(ids::List1)), (Texts{inside.PathOf(L"b.ra"), below.PathOf(L"a.rm"), top.PathOf(L"x y.rm"),
                                                      top.PathOf(L"\xE9 \x4E2D.rmvb")}));
}

TEST_F(MainWindowTest, FolderPickerAndHelp)
{
    Start();
    HWND folder = Ctl(ids::txtSaveAs);
    // Cancel keeps the folder text.
    gui::SetText(folder, L"D:\\Earlier");
    gui::Click(Ctl(ids::cmdSaveAs));
    HWND picker = program.WaitForWindow(L"#32770", L"", 10000);
    ASSERT_NE(picker, nullptr);
    EXPECT_NE(FindWindowExW(picker, nullptr, nullptr, L"Please locate a directory"), nullptr);
    ASSERT_TRUE(Close(picker, GetDlgItem(picker, IDCANCEL)));
    EXPECT_EQ(gui::Text(folder), L"D:\\Earlier");

    // Help opens the help file beside the program in the viewer, a process of its own.
    gui::Click(Ctl(ids::cmdHelp));
    HWND viewer = nullptr;
    EXPECT_TRUE(gui::WaitFor([&] { return IsWindowVisible(viewer = FindWindowW(nullptr, L"Vellumo Help")); }, 15000));
    EXPECT_TRUE(program.NoMessageBoxWithin(200));
    DWORD pid = 0;
    GetWindowThreadProcessId(viewer, &pid);
    EXPECT_NE(pid, program.ProcessId());
    PostMessageW(viewer, WM_CLOSE, 0, 0);
    gui::WaitFor([&] { return !IsWindow(viewer); });
    // Without the help file Help says nothing.
    DeleteFileW((program.Folder() + L"\\vellumo.chm").c_str());
    gui::Click(Ctl(ids::cmdHelp));
    EXPECT_TRUE(program.NoMessageBoxWithin(1500));
    EXPECT_TRUE(IsWindowEnabled(program.Main()));

    // A quit posted to the program while a modal window is open still ends it.
    HWND about = Open(ids::cmdAbout, VELLUMO_ABOUT_CLASS, L"Vellumo");
    ASSERT_NE(about, nullptr);
    PostThreadMessageW(GetWindowThreadProcessId(about, nullptr), WM_QUIT, 0, 0);
    EXPECT_EQ(program.WaitForExit(10000), 0u);
}

namespace {

// regsvr32 on the build folder's corvane.dll, waited for.
bool RunRegsvr32(bool unregister)
{
    std::wstring command = std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u \"" : L"\"") + gui::DriverFolder() + L"\\corvane.dll\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return false;
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code == 0;
}

}  // namespace

TEST_F(MainWindowTest, LoadsNoDllPlantedBesideItOrInTheFolderItStartsIn)
{
    // version.dll (the version in the caption) and atl.dll (the control's host), in both folders.
    const std::wstring current = program.Folder() + L" current";
    ASSERT_TRUE(CreateDirectoryW(current.c_str(), nullptr));
    const Texts planted = {program.Folder() + L"\\version.dll", program.Folder() + L"\\atl.dll",
                           current + L"\\version.dll", current + L"\\atl.dll"};
    for (const std::wstring& dll : planted)
        ASSERT_TRUE(CopyFileW((gui::DriverFolder() + L"\\planted\\planted_dll.dll").c_str(), dll.c_str(), FALSE));
    // Wine prefers its own builtin atl.dll; told to take a native one first, it searches as Windows does.
    const wchar_t* overrides = L"Software\\Wine\\AppDefaults\\vellumo.exe";
    RegSetKeyValueW(HKEY_CURRENT_USER, (std::wstring(overrides) + L"\\DllOverrides").c_str(), L"atl", REG_SZ, L"native,builtin", 30);
    const bool started = program.Start(current);
    RegDeleteTreeW(HKEY_CURRENT_USER, overrides);
    RegDeleteKeyW(HKEY_CURRENT_USER, overrides);
    EXPECT_TRUE(started);
    if (started) {
        EXPECT_EQ(gui::Text(program.Main()), L"Vellumo 1.00") << "the version is read";
        EXPECT_TRUE(gui::WaitFor([&] { return gui::Control(program.Main(), ids::Atlqzt) != nullptr; }));
        PostMessageW(program.Main(), WM_CLOSE, 0, 0);
        EXPECT_EQ(0u, program.WaitForExit(10000));
    }
    for (const std::wstring& dll : planted) {
        EXPECT_FALSE(DeleteFileW((dll + L".loaded").c_str())) << testing::PrintToString(dll);
        DeleteFileW(dll.c_str());
    }
    RemoveDirectoryW(current.c_str());
    // What Windows resolves before the program runs: imports of system-wide known DLLs only.
    HMODULE image = LoadLibraryExW((program.Folder() + L"\\vellumo.exe").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ULONG size = 0;
    auto* imports = static_cast<IMAGE_IMPORT_DESCRIPTOR*>(ImageDirectoryEntryToData(image, TRUE, IMAGE_DIRECTORY_ENTRY_IMPORT, &size));
    const std::string known = " kernel32.dll user32.dll gdi32.dll comdlg32.dll ole32.dll oleaut32.dll shell32.dll shlwapi.dll "
                              "msvcrt.dll advapi32.dll ";
    for (; imports && imports->Name; ++imports) {
        std::string name = reinterpret_cast<const char*>(image) + imports->Name;
        CharLowerA(name.data());
        EXPECT_NE(known.find(" " + name + " "), std::string::npos) << name;
    }
    FreeLibrary(image);
}

TEST_F(MainWindowTest, WithoutTheConverterStartsSaysSoAndKeepsWorking)
{
    ASSERT_TRUE(RunRegsvr32(true));
    struct Reregister {
        ~Reregister() { RunRegsvr32(false); }
    } reregister;
    ASSERT_TRUE(program.Start());
    MessageBoxInfo box;
    ASSERT_TRUE(program.WaitForMessageBox(&box));
    EXPECT_EQ(box.title, L"Vellumo");
    EXPECT_NE(box.text.find(L"corvane.dll"), std::wstring::npos);
    EXPECT_EQ(box.icon, BoxIcon::Stop);
    gui::Program::Answer(box);
    EXPECT_EQ(gui::Text(program.Main()), L"Vellumo 1.00");
    EXPECT_EQ(Ctl(ids::Atlqzt), nullptr);
    // The parameters dialog shows the defaults; OK has no store to save.
    HWND para = Open(ids::cmdPara, VELLUMO_PARA_CLASS);
    ASSERT_NE(para, nullptr);
    EXPECT_EQ(gui::Text(gui::Control(para, ids::cboMP3Bitrates)), L"128 kbps");
    ASSERT_TRUE(Close(para, gui::Control(para, ids::ParaOKButton)));
    EXPECT_FALSE(program.SettingsExist());
    gui::Click(Ctl(ids::cmdExit));
    EXPECT_EQ(program.WaitForExit(5000), 0u);
}

namespace {

const Texts Mpeg1Rates = {L"32 kbps",  L"40 kbps",  L"48 kbps",  L"56 kbps",  L"64 kbps",  L"80 kbps",  L"96 kbps",
                          L"112 kbps", L"128 kbps", L"160 kbps", L"192 kbps", L"224 kbps", L"256 kbps", L"320 kbps"};
const Texts Mpeg2Rates = {L"8 kbps",  L"16 kbps", L"24 kbps", L"32 kbps",  L"40 kbps",  L"48 kbps",  L"56 kbps",
                          L"64 kbps", L"80 kbps", L"96 kbps", L"112 kbps", L"128 kbps", L"144 kbps", L"160 kbps"};
using Shown = std::vector<std::pair<int, const wchar_t*>>;
const Shown Defaults = {{ids::cboMP3Frequency, L"44,100 Hz"}, {ids::cboMP3Channels, L"Stereo"},
                        {ids::cboMP3Bitrates, L"128 kbps"},   {ids::cboMP3Min, L"56 kbps"},
                        {ids::cboMP3Max, L"160 kbps"},        {ids::cboWAVFrequency, L"44,100 Hz"},
                        {ids::cboWAVChannels, L"Stereo"},     {ids::cboWAVBits, L"16 Bits"}};

class ParametersTest : public MainWindowTest {
protected:
    explicit ParametersTest(const std::wstring& folder = L"vellumo para") : MainWindowTest(folder) {}
    explicit ParametersTest(const gui::Program::Installed& installed) : MainWindowTest(installed) {}

    void OpenDialog() { ASSERT_NE(dialog = Open(ids::cmdPara, VELLUMO_PARA_CLASS, L"MP3 WAV Parameters"), nullptr); }
    void CloseWith(int id) { ASSERT_TRUE(Close(dialog, Item(id))); }
    HWND Item(int id) const { return gui::Control(dialog, id); }
    bool Checked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void Press(int id) { gui::Click(Item(id)), Settle(150); }
    void Select(const std::vector<std::pair<int, int>>& choices)
    {
        for (const auto& [id, position] : choices) gui::SelectCombo(Item(id), position), Settle(150);
    }
    // The texts of controls: a drop-down list shows its selected item.
    void ExpectShown(const Shown& shown) const
    {
        for (const auto& [id, text] : shown) EXPECT_EQ(gui::Text(Item(id)), text) << id;
    }
    bool RangeEnabled(bool enabled) const
    {
        for (int id : std::initializer_list<int>{ids::cboMP3Min, ids::cboMP3Max, ids::Label1_0 + 3, ids::Label1_0 + 4})
            if ((IsWindowEnabled(Item(id)) != FALSE) != enabled) return false;
        return IsWindowEnabled(Item(ids::cboMP3Bitrates));
    }
    void ExpectSaved(const std::string& part) const
    {
        EXPECT_NE(program.ReadSettings().find(part), std::string::npos) << program.ReadSettings();
    }

    HWND dialog = nullptr;
};

class ParametersInUnicodeFolderTest : public ParametersTest {
protected:
    ParametersInUnicodeFolderTest() : ParametersTest(L"\x8f6c\x6362\x5668 \x8bbe\x7f6e") {}
};

// The program in a folder the user cannot write, as Program Files is for a
// user without administrator rights: a read-only mount made by
// mount_readonly_program.sh. The user's own copy of the settings is removed
// before and after, so that no other test meets it.
std::wstring ReadOnlyProgramFolder()
{
    wchar_t full[MAX_PATH];
    GetFullPathNameW((gui::DriverFolder() + L"\\..\\test-disks\\readonly-program").c_str(), MAX_PATH, full, nullptr);
    return full;
}

class ReadOnlyProgramFolderTest : public ParametersTest {
protected:
    ReadOnlyProgramFolderTest() : ParametersTest(gui::Program::Installed{ReadOnlyProgramFolder()}) { RemoveUserCopy(); }
    ~ReadOnlyProgramFolderTest() override { RemoveUserCopy(); }
    void RemoveUserCopy() const
    {
        DeleteFileW(user.c_str());
        RemoveDirectoryW(userFolder.c_str());
        DeleteFileW(userFolder.c_str());  // the stand-in that keeps the folder from being made
    }
    std::string UserCopy() const { return testing_support::ReadText(user); }
    const std::wstring user = UserSettingsPath(), userFolder = user.substr(0, user.find_last_of(L'\\'));
};

}  // namespace

TEST_F(ParametersTest, ListsVbrTheMinMaxRuleDefaultCancelAndOkWithTheFileTheyWrite)
{
    Start();
    OpenDialog();
    EXPECT_FALSE(IsWindowEnabled(program.Main()));
    const std::pair<int, Texts> lists[] = {
        {ids::cboMP3Frequency, {L"44,100 Hz", L"22,050 Hz", L"11,025 Hz"}},
        {ids::cboWAVFrequency, {L"44,100 Hz", L"22,050 Hz", L"11,025 Hz"}},
        {ids::cboMP3Channels, {L"Mono", L"Stereo"}}, {ids::cboWAVChannels, {L"Mono", L"Stereo"}},
        {ids::cboWAVBits, {L"8 Bits", L"16 Bits"}},  {ids::cboMP3Bitrates, Mpeg1Rates},
        {ids::cboMP3Min, Mpeg1Rates},                {ids::cboMP3Max, Mpeg1Rates}};
    for (const auto& [id, items] : lists) EXPECT_EQ(gui::ComboItems(Item(id)), items) << id;
    ExpectShown(Defaults);
    EXPECT_FALSE(Checked(ids::chkMP3VBR));
    EXPECT_TRUE(RangeEnabled(false));
    ExpectShown({{ids::chkMP3VBR, L"Support &VBR"}, {ids::ParaOKButton, L"&OK"}, {ids::ParaCancelButton, L"&Cancel"},
                 {ids::cmdDefault, L"&Default"}, {ids::ParaFrame1, L"MP3 Parameters"},
                 {ids::ParaFrame2, L"WAV Parameters"}, {ids::Label1_0 + 4, L"Max Bitrate"},
                 {ids::Label1_0 + 7, L"Sample Bits:"}});
    // A low sample rate shows the MPEG-2 rates at the store's positions, not the selections.
    Select({{ids::cboMP3Bitrates, 2}, {ids::cboMP3Min, 0}, {ids::cboMP3Frequency, 1}});
    for (int id : {ids::cboMP3Bitrates, ids::cboMP3Min, ids::cboMP3Max}) EXPECT_EQ(gui::ComboItems(Item(id)), Mpeg2Rates) << id;
    ExpectShown({{ids::cboMP3Bitrates, L"80 kbps"}, {ids::cboMP3Min, L"32 kbps"}, {ids::cboMP3Max, L"96 kbps"}});
    Select({{ids::cboMP3Frequency, 0}});
    EXPECT_EQ(gui::ComboItems(Item(ids::cboMP3Max)), Mpeg1Rates);
    ExpectShown({{ids::cboMP3Bitrates, L"128 kbps"}});
    CloseWith(ids::ParaCancelButton);
    EXPECT_FALSE(program.SettingsExist());

    // OK on a fresh machine writes the defaults in their order.
    OpenDialog();
    CloseWith(ids::ParaOKButton);
    EXPECT_EQ(program.ReadSettings(), "[MP3]\r\nMP3_Frequency=0\r\nMP3_Channels=0\r\nMP3_Bitrates=8\r\nVBR=0\r\n"
                                      "MP3_VBRMax=9\r\nMP3_VBRMin=3\r\n[WAV]\r\nWAV_Frequency=0\r\nWAV_Channels=2\r\nWAV_Bits=1\r\n");
    // With VBR off any Min and Max are taken.
    OpenDialog();
    Select({{ids::cboMP3Min, 10}, {ids::cboMP3Max, 2}});
    CloseWith(ids::ParaOKButton);
    ExpectSaved("VBR=0\r\nMP3_VBRMax=2\r\nMP3_VBRMin=10\r\n");

    // VBR enables the range.
    OpenDialog();
    Press(ids::chkMP3VBR);
    EXPECT_TRUE(RangeEnabled(true));
    Press(ids::chkMP3VBR);
    EXPECT_TRUE(RangeEnabled(false));
    Press(ids::chkMP3VBR);
    // Max not above Min is refused while VBR is on; one position above is taken.
    const std::string before = program.ReadSettings();
    Select({{ids::cboMP3Min, 8}, {ids::cboMP3Max, 8}});
    const MessageBoxInfo refused = BoxAfter(Item(ids::ParaOKButton));
    ExpectBox(refused, L"The MP3 Max bitrate must be larger than Min bitrate value.", BoxIcon::Information);
    EXPECT_EQ(refused.buttons, Texts{L"OK"});
    gui::Program::Answer(refused);
    EXPECT_TRUE(IsWindow(dialog)) << "the dialog stays open";
    EXPECT_EQ(program.ReadSettings(), before);
    Select({{ids::cboMP3Max, 9}});
    CloseWith(ids::ParaOKButton);
    ExpectSaved("VBR=1\r\nMP3_VBRMax=9\r\nMP3_VBRMin=8\r\n");

    // Chosen values are written and kept by the store.
    const std::string chosen = "[MP3]\r\nMP3_Frequency=2\r\nMP3_Channels=3\r\nMP3_Bitrates=13\r\nVBR=1\r\nMP3_VBRMax=9\r\n"
                               "MP3_VBRMin=8\r\n[WAV]\r\nWAV_Frequency=1\r\nWAV_Channels=1\r\nWAV_Bits=0\r\n";
    const Shown chosenShown = {{ids::cboMP3Frequency, L"11,025 Hz"}, {ids::cboMP3Channels, L"Mono"},
                               {ids::cboMP3Bitrates, L"160 kbps"},   {ids::cboWAVFrequency, L"22,050 Hz"},
                               {ids::cboWAVChannels, L"Mono"},       {ids::cboWAVBits, L"8 Bits"}};
    OpenDialog();
    Select({{ids::cboMP3Frequency, 2}, {ids::cboMP3Channels, 0}, {ids::cboMP3Bitrates, 13}, {ids::cboWAVFrequency, 1},
            {ids::cboWAVChannels, 0}, {ids::cboWAVBits, 0}});
    CloseWith(ids::ParaOKButton);
    EXPECT_EQ(program.ReadSettings(), chosen);
    // Default shows the defaults; Cancel leaves the store and the file alone.
    OpenDialog();
    ExpectShown(chosenShown);
    EXPECT_TRUE(Checked(ids::chkMP3VBR));
    Press(ids::cmdDefault);
    ExpectShown(Defaults);
    EXPECT_EQ(gui::ComboItems(Item(ids::cboMP3Bitrates)), Mpeg1Rates);
    EXPECT_FALSE(Checked(ids::chkMP3VBR));
    EXPECT_TRUE(RangeEnabled(false));
    CloseWith(ids::ParaCancelButton);
    EXPECT_EQ(program.ReadSettings(), chosen);
    OpenDialog();
    ExpectShown(chosenShown);
    EXPECT_TRUE(Checked(ids::chkMP3VBR));
    CloseWith(ids::ParaCancelButton);
}

TEST_F(ParametersInUnicodeFolderTest, HandEditedValuesAreReadFallBackToTheDefaultsAndAreSavedCorrected)
{
    // The profile functions take ANSI paths; the program's UTF-8 code page spells this folder.
    Start("[MP3]\r\nMP3_Frequency=3\r\nMP3_Channels=1\r\nMP3_Bitrates=20\r\nMP3_VBRMin=-1\r\nVBR=5\r\n"
          "[WAV]\r\nWAV_Frequency=9\r\nWAV_Channels=0\r\nWAV_Bits=abc\r\n");
    OpenDialog();
    ExpectShown(Defaults);
    EXPECT_TRUE(Checked(ids::chkMP3VBR)) << "a nonzero VBR means variable bitrate (and the file was read)";
    CloseWith(ids::ParaOKButton);
    for (const char* part : {"MP3_Frequency=0\r\n", "MP3_Channels=0\r\n", "VBR=1\r\n", "WAV_Channels=2\r\n", "WAV_Bits=1\r\n"})
        ExpectSaved(part);
    EXPECT_EQ(program.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
}

TEST_F(ReadOnlyProgramFolderTest, KeepsTheParametersInTheUsersOwnCopyAndSaysWhenTheyCannotBeSaved)
{
    if (GetFileAttributesW((program.Folder() + L"\\vellumo.exe").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no read-only program folder here (it needs mount rights)";
    ASSERT_FALSE(user.empty());
    // OK keeps the choice in the user's copy without a word, and the next start reads it from there.
    Start();
    OpenDialog();
    Select({{ids::cboWAVBits, 0}});
    CloseWith(ids::ParaOKButton);
    EXPECT_TRUE(program.NoMessageBoxWithin(300));
    EXPECT_FALSE(program.SettingsExist());
    EXPECT_NE(UserCopy().find("[WAV]\r\nWAV_Frequency=0\r\nWAV_Channels=2\r\nWAV_Bits=0\r\n"), std::string::npos) << UserCopy();
    gui::Click(Ctl(ids::cmdExit));
    ASSERT_EQ(program.WaitForExit(5000), 0u);
    Start();
    OpenDialog();
    ExpectShown({{ids::cboWAVBits, L"8 Bits"}});
    // Where the user's folder cannot be made either, OK says so and where; the values hold for this run.
    RemoveUserCopy();
    FILE* blocker = _wfopen(userFolder.c_str(), L"wb");
    ASSERT_NE(blocker, nullptr);
    std::fclose(blocker);
    Select({{ids::cboWAVBits, 1}, {ids::cboWAVChannels, 0}});
    const MessageBoxInfo box = BoxAfter(Item(ids::ParaOKButton));
    ExpectBox(box, L"The parameters could not be saved in:\r\n\r\n" + program.Folder() + L"\\settings.ini\r\n" + user +
                       L"\r\n\r\nThey apply only until Vellumo is closed.", BoxIcon::Stop);
    gui::Program::Answer(box);
    ASSERT_TRUE(gui::WaitFor([&] { return !IsWindow(dialog) && IsWindowEnabled(program.Main()); }));
    OpenDialog();
    ExpectShown({{ids::cboWAVBits, L"16 Bits"}, {ids::cboWAVChannels, L"Mono"}});
    CloseWith(ids::ParaCancelButton);
}
