// Unit tests of the program's helpers on the real platform: path helpers,
// the INI routines on real files, the painted background on a real memory
// canvas, the file-dialog result and the batch window's texts.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <fstream>
#include <string>
#include <thread>

#include "common/halvex_dispatch.h"
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"  // COM interfaces have no virtual destructor
#include "single_interface.h"
#include "common/paths.h"
#include "common/version_info.h"
#include "conversion/batch_text.h"
#include "conversion/output_folders.h"
#include "conversion/partial_output.h"
#include "main_window/file_drop.h"
#include "main_window/paint_background.h"
#include "main_window/shell_dialogs.h"
#include "parameters/ini_file.h"
#include "parameters/settings.h"
#include "test_platform.h"

using namespace vellumo;
using namespace vellumo::batch;

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct Case {
    std::wstring in, out;
};

void ExpectEach(std::wstring (*f)(const std::wstring&), const std::vector<Case>& cases)
{
    for (const Case& c : cases) EXPECT_EQ(f(c.in), c.out) << testing::PrintToString(c.in);
}

}  // namespace

TEST(PathHelpers, NamesFoldersAndJoining)
{
    ExpectEach(FileNameOf, {{L"C:\\Music\\song.rmvb", L"song.rmvb"}, {L"song.rm", L"song.rm"}, {L"C:\\Music\\", L""},
                            {L"C:/Music/song.rm", L"C:/Music/song.rm"}, {L"", L""}});
    // Extensions of one to four characters go.
    ExpectEach(BaseNameOf, {{L"C:\\Music\\song.rmvb", L"song"}, {L"C:\\Music\\song.abcde", L"song.abcde"},
                            {L"C:\\Music\\song.", L"song."}, {L"C:\\Music\\.rm", L".rm"}, {L"a.b.rm", L"a.b"},
                            {L"x.r", L"x"}, {L"C:\\dir.with.dots\\noext", L"noext"}, {L"C:\\Music\\", L""}});
    // A drive root keeps its backslash.
    ExpectEach(FolderOfPath, {{L"C:\\Program Files\\Vellumo\\vellumo.exe", L"C:\\Program Files\\Vellumo"},
                              {L"C:\\vellumo.exe", L"C:\\"}});
    // The folder is trimmed and gets one backslash; the name is left alone.
    const auto joinIn = [](const std::wstring& folder) { return JoinPath(folder, L" a.mp3"); };
    for (const auto& [folder, joined] : std::vector<Case>{{L"  C:\\Out  ", L"C:\\Out\\ a.mp3"}, {L"C:\\Out\\", L"C:\\Out\\ a.mp3"},
                                                         {L"", L" a.mp3"}, {L"    ", L" a.mp3"}, {L"C:\\", L"C:\\ a.mp3"},
                                                         {L"D:\\\x6b4c\x66f2", L"D:\\\x6b4c\x66f2\\ a.mp3"}})
        EXPECT_EQ(joinIn(folder), joined) << testing::PrintToString(folder);
    EXPECT_TRUE(Exists(JoinPath(ProgramFolder(), FileNameOf(ProgramPath()))));
    EXPECT_EQ(SettingsPath(), JoinPath(ProgramFolder(), L"settings.ini"));
    // The revision follows the minor number directly.
    EXPECT_EQ(VersionText({2, 0, 0}), L"2.00");
    EXPECT_EQ(VersionText({1, 10, 0}), L"1.100");
}

TEST(PathHelpers, EveryOutputNameIsARegularFileInTheOutputFolder)
{
    wchar_t temp[MAX_PATH];
    const std::wstring folder = JoinPath({temp, GetTempPathW(MAX_PATH, temp)}, L"names " + std::to_wstring(GetCurrentProcessId()));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    // Names from archives, shares and scripts (the plain ones keep their names exactly); WAV for the "!" ones.
    const Case cases[] = {{L"C:\\M\\song.rmvb", L"song.mp3"}, {L"a.b.rm", L"a.b.mp3"}, {L"C:\\track.audio", L"track.audio.mp3"},
        {L"C:\\name.", L"name..mp3"}, {L"C:\\.rm", L".rm.mp3"}, {L"C:\\x\\..", L"...mp3"}, {L"\\\\nas\\s\\CON.rm", L"CON_.mp3"},
        {L"nul.rm", L"nul_.mp3"}, {L"C:\\COM1.rm", L"COM1_.mp3"}, {L"lpt9.x.rm", L"lpt9_.x.mp3"}, {L"!AUX .ra", L"AUX _.wav"},
        {L"CONIN$.rm", L"CONIN$_.mp3"}, {L"COM0.rm", L"COM0.mp3"}, {L"C:\\x/../../evil.rm", L"evil.mp3"},
        {L"C:\\a:stream.rm", L"a_stream.mp3"}, {L"!a*?\"<>|\x01\x1f" L"b.rm", L"a________b.wav"}, {L"\x66f2 \xe9.rm", L"\x66f2 \xe9.mp3"}};
    for (const Case& c : cases) {
        const bool wav = c.in[0] == L'!';
        const std::wstring output = OutputPathFor(c.in.substr(wav ? 1 : 0), folder, !wav);
        EXPECT_EQ(output, JoinPath(folder, c.out)) << testing::PrintToString(c.in);
        HANDLE file = CreateFileW(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(GetFileType(file), static_cast<DWORD>(FILE_TYPE_DISK)) << testing::PrintToString(c.in);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        EXPECT_TRUE(DeleteFileW(JoinPath(folder, c.out).c_str())) << testing::PrintToString(c.in);  // it is in the folder
    }
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << "nothing else was made there";
    // Folder levels are made safe the same way.
    ExpectEach(SafeFileName, {{L"Lectures. . ", L"Lectures"}, {L"...", L"_"}, {L"a/b/", L"_"}, {L"PRN", L"PRN_"}, {L"com\xb9", L"com\xb9_"}});
}

TEST(FileDialogResult, OnePathOrAFolderAndNamesInIt)
{
    EXPECT_EQ(PathsFromDialogResult(L"C:\\Music\\song.rm"), std::vector<std::wstring>{L"C:\\Music\\song.rm"});
    EXPECT_EQ(PathsFromDialogResult(std::wstring(L"C:\\Music\0b.rm\0a.ra\0c.rmvb", 25)),
              (std::vector<std::wstring>{L"C:\\Music\\b.rm", L"C:\\Music\\a.ra", L"C:\\Music\\c.rmvb"}));
    EXPECT_EQ(PathsFromDialogResult(std::wstring(L"D:\\\0one.rm\0two.rm", 17)),
              (std::vector<std::wstring>{L"D:\\one.rm", L"D:\\two.rm"}));
}

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A folder named outside this test program's ANSI code page (it has
        // no UTF-8 manifest), as a user's folder may be on any Windows.
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder = JoinPath(temp, L"\x8bbe\x7f6e \x41d\x430\x441\x442\x440\x43e\x439\x43a\x438 \xf1 " +
                                    std::to_wstring(GetCurrentProcessId()));
        CreateDirectoryW(folder.c_str(), nullptr);
        file = JoinPath(folder, L"settings.ini");
    }
    void TearDown() override
    {
        DeleteFileW(file.c_str());
        RemoveDirectoryW(folder.c_str());
    }
    std::string Bytes() const { return testing_support::ReadText(file); }
    std::wstring Read(const wchar_t* section, const wchar_t* key, const wchar_t* def) const
    {
        return ReadIniValue(section, key, def, file);
    }

    std::wstring folder, file;
};

// An output takes its final name over a file that another program holds
// open for a moment; held on for good, the earlier file stays and the new
// one goes.
TEST_F(IniFileTest, AnOutputWaitsForAFileHeldBrieflyAndKeepsOneHeldOn)
{
    const auto write = [](const std::wstring& path, const char* text) {
        std::ofstream(path.c_str(), std::ios::binary) << text;
    };
    write(file, "earlier");
    {
        PartialOutput brief(file, 5000);
        write(brief.TempPath(), "new");
        HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        std::thread scanner([held] { Sleep(400); CloseHandle(held); });
        DWORD error = 1;
        EXPECT_TRUE(brief.Keep(&error)) << error;
        scanner.join();
        EXPECT_EQ(Bytes(), "new");
    }
    PartialOutput held(file, 300);
    write(held.TempPath(), "newer");
    HANDLE open = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD error = 0;
    EXPECT_FALSE(held.Keep(&error));
    CloseHandle(open);
    EXPECT_NE(error, 0u);
    EXPECT_EQ(Bytes(), "new");
    EXPECT_EQ(GetFileAttributesW(held.TempPath().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(IniFileTest, ReadingGivesTrimmedValuesOrTheDefault)
{
    EXPECT_EQ(Read(L"MP3", L"VBR", L"7"), L"7");
    EXPECT_FALSE(Exists(file)) << "reading must not create the file";
    std::ofstream(file.c_str(), std::ios::binary) << "[WAV]\r\nWAV_Bits=0\r\n[MP3]\r\nMP3_Bitrates=   12   \r\nVBR=\r\n"
                                                     "MP3_VBRMin =  4\r\n";
    EXPECT_EQ(Read(L"WAV", L"WAV_Channels", L"2"), L"2");
    EXPECT_EQ(Read(L"WAV", L"WAV_Bits", L"1"), L"0");
    EXPECT_EQ(Read(L"MP3", L"MP3_Bitrates", L"8"), L"12");
    EXPECT_EQ(Read(L"MP3", L"VBR", L"0"), L"") << "an empty value is not the default";
    EXPECT_EQ(Read(L"MP3", L"MP3_VBRMin", L"3"), L"4");
    EXPECT_EQ(Read(L"Other", L"VBR", L"7"), L"7");
}

TEST_F(IniFileTest, WritingKeepsKeyOrderAndDeletesKeysAndSections)
{
    const wchar_t* writes[][3] = {{L"MP3", L"b", L"  2  "}, {L"MP3", L"a", L"1"}, {L"WAV", L"c", L"3"}};
    for (const auto& w : writes) EXPECT_NE(WriteIniValue(w[0], w[1], w[2], file), 0);
    EXPECT_EQ(Bytes(), "[MP3]\r\nb=2\r\na=1\r\n[WAV]\r\nc=3\r\n");
    EXPECT_NE(WriteIniValue(L"MP3", L"b", L"5", file), 0);
    EXPECT_EQ(Bytes(), "[MP3]\r\nb=5\r\na=1\r\n[WAV]\r\nc=3\r\n") << "a rewritten key keeps its place";
    EXPECT_NE(WriteIniValue(L"MP3", L"a", std::wstring(L" 1\0" L"2 ", 5), file), 0);
    EXPECT_EQ(Read(L"MP3", L"a", L""), L"12") << "NULs are removed";
    EXPECT_NE(WriteIniValue(L"MP3", L"a", L"   ", file), 0);
    EXPECT_EQ(Read(L"MP3", L"a", L"gone"), L"gone");
    EXPECT_EQ(Read(L"MP3", L"b", L""), L"5");
    EXPECT_NE(WriteIniValue(L"MP3", L"", L"ignored", file), 0);
    EXPECT_EQ(Read(L"MP3", L"b", L"gone"), L"gone") << "an empty key deletes the section";
    EXPECT_EQ(Read(L"WAV", L"c", L""), L"3");
    // An empty file name means the program's own INI file.
    const std::wstring own = ProgramIniFile();
    EXPECT_EQ(own, JoinPath(ProgramFolder(), L"program_unit_tests.ini"));
    DeleteFileW(own.c_str());
    EXPECT_NE(WriteIniValue(L"Test", L"Key", L"Value", L""), 0);
    EXPECT_EQ(ReadIniValue(L"Test", L"Key", L"", L""), L"Value");
    EXPECT_TRUE(DeleteFileW(own.c_str()));
}

TEST(SettingsNumbers, OnlyWholeNumbersThatFitAreTaken)
{
    long value = -99;
    const std::pair<const wchar_t*, long> good[] = {{L"12", 12}, {L"-1", -1}, {L"+007", 7}};
    for (const auto& [text, expected] : good) {
        EXPECT_TRUE(ParseWholeNumber(text, -32768, 32767, &value)) << text;
        EXPECT_EQ(value, expected);
    }
    for (const wchar_t* bad : {L"", L"-", L"3.5", L"1e3", L"abc", L"12abc", L"32768", L"-32769", L"99999999999999999"})
        EXPECT_FALSE(ParseWholeNumber(bad, -32768, 32767, &value)) << bad;
    EXPECT_TRUE(ParseWholeNumber(L"2147483647", LONG_MIN, LONG_MAX, &value));
}

TEST(PaintBackground, RampHalvesAndFrameColours)
{
    // Parts follow the formula with halves to even: 0 to 10 over 4 lines is 0, 2, 5, 8.
    const int parts[] = {0, 2, 5, 8};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(RedOf(RampColour(RGB(0, 0, 0), RGB(10, 0, 0), 4, i)), parts[i]);
    EXPECT_EQ(RampColour(RGB(200, 100, 50), RGB(0, 0, 0), 2, 1), RGB(100, 50, 25));
    EXPECT_EQ(RampColour(ui::Cream, ui::Cream, 208, 100), ui::Cream);

    // A real window, painted through a real memory canvas.
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PaintedWindowTest";
    RegisterClassW(&wc);
    const auto paint = [](const wchar_t* caption, int height, COLORREF top, COLORREF bottom, auto&& check) {
        HWND form = CreateWindowW(L"PaintedWindowTest", caption, WS_POPUP, 0, 0, 50, height, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        ui::Font font = ui::MakeDefaultFont();
        HWND inside = ui::FramePanel::Create(form, L"in", {0, 300, 300, 300}, 1, font.Get(), ui::Sky);
        HWND below = ui::FramePanel::Create(form, L"out", {0, 1800, 300, 300}, 2, font.Get(), ui::Sky);
        BackgroundCanvas canvas;
        ASSERT_TRUE(inside && below && canvas.Attach(form));
        ASSERT_EQ(canvas.Height(), height);
        PaintBackground(form, canvas, ui::Sky, {inside, below}, 0, 0, canvas.Width(), height - 1, top, bottom);
        check(canvas, inside, below);
        DestroyWindow(form);
    };
    // Upper half y = 0..3 over 4 lines; lower half y = 3..7 over 5 lines, drawn last.
    paint(L"Vellumo", 8, RGB(0, 0, 0), RGB(200, 0, 0), [](BackgroundCanvas& canvas, HWND, HWND) {
        const int reds[] = {0, 50, 100, 200, 160, 120, 80, 40};
        for (int y = 0; y < 8; ++y) EXPECT_EQ(GetPixel(canvas.Dc(), 5, y), RGB(reds[y], 0, 0)) << y;
        EXPECT_EQ(GetPixel(canvas.Dc(), canvas.Width() - 1, 7), RGB(40, 0, 0));
    });
    // A frame takes the colour of the last line drawn within 2 units of its middle; one below keeps its own.
    paint(L"Vellumo", 100, ui::Cream, RGB(255, 0, 0), [](BackgroundCanvas& canvas, HWND inside, HWND below) {
        RECT r;
        GetWindowRect(inside, &r);
        MapWindowPoints(HWND_DESKTOP, GetParent(inside), reinterpret_cast<POINT*>(&r), 2);
        const int lastLine = static_cast<int>(std::ceil((r.top + r.bottom) / 2.0 + 2.0)) - 1;
        EXPECT_EQ(ui::FramePanel::BackColour(inside), GetPixel(canvas.Dc(), 0, lastLine));
        EXPECT_EQ(ui::FramePanel::BackColour(below), ui::Sky);
    });
    // A window called About keeps its frames' colours.
    paint(L"aBoUt Vellumo", 100, ui::Cream, ui::Cream, [](BackgroundCanvas& canvas, HWND inside, HWND) {
        EXPECT_EQ(ui::FramePanel::BackColour(inside), ui::Sky);
        EXPECT_EQ(GetPixel(canvas.Dc(), 10, 50), ui::Cream);
    });
}

TEST(ModalWindow, GivesTheOwnerBackAsItFoundIt)
{
    // An owner that something else had disabled stays disabled; an enabled one is enabled and active again.
    for (const bool enabled : {false, true}) {
        HWND owner = CreateWindowW(L"Static", L"owner", WS_POPUP, 0, 0, 20, 20, nullptr, nullptr, nullptr, nullptr);
        HWND modal = CreateWindowW(L"Static", L"modal", WS_CHILD, 0, 0, 20, 20, owner, nullptr, nullptr, nullptr);
        EnableWindow(owner, enabled);
        PostMessageW(modal, WM_CLOSE, 0, 0);
        ui::RunModal(modal, owner);
        EXPECT_FALSE(IsWindow(modal));
        EXPECT_EQ(IsWindowEnabled(owner) != FALSE, enabled);
        EXPECT_TRUE(!enabled || GetActiveWindow() == owner);
        DestroyWindow(owner);
    }
}

TEST(BatchTexts, OutputNamesPercentsAndLengths)
{
    // Names the window's own test does not reach: one ending in a dot, a blank folder.
    EXPECT_EQ(OutputPathFor(L"C:\\name.", L"D:\\Out", true), L"D:\\Out\\name..mp3");
    EXPECT_EQ(OutputPathFor(L"C:\\x\\tune.ra", L"   ", false), L"tune.wav");
    const std::pair<double, long> rounding[] = {{0.5, 0},   {1.5, 2},   {2.5, 2},   {62.5, 62}, {63.5, 64},
                                                {36.6, 37}, {-0.5, 0}, {-1.5, -2}, {-2.4, -2}};
    for (const auto& [value, rounded] : rounding) EXPECT_EQ(RoundHalfEven(value), rounded) << value;
    const int percents[][3] = {{1, 8, 12}, {3, 8, 38}, {32766, 32767, 100}, {1, 32767, 0}};
    for (const auto& p : percents) EXPECT_EQ(FilesPercent(p[0], p[1]), p[2]) << p[0] << "/" << p[1];
    // The file's percent is not rounded, its caption is; large lengths do not overflow.
    EXPECT_FLOAT_EQ(FilePercent(1, 3), 100.0f / 3.0f);
    EXPECT_EQ(PercentCaption(FilePercent(1, 3)), L"33%");
    EXPECT_EQ(PercentCaption(FilePercent(1, 8)), L"12%");
    EXPECT_GT(FilePercent(126, 125), 100.0f);
    EXPECT_FLOAT_EQ(FilePercent(2000000000, 2000000000), 100.0f);
    EXPECT_EQ(FormatSeconds(65), L"[1:5]");
    EXPECT_EQ(FormatSeconds(3600), L"[60:0]");
    EXPECT_EQ(TotalLengthText(125), L"Total Length: 125 [2:5]");
    EXPECT_EQ(CurrentPosText(50), L"Current Pos: 50 [0:50]");
    EXPECT_EQ(FilesProgressText(199, 200), L"Converted Files: 199/200");
    EXPECT_EQ(ReplaceAll(L"aXaXa", L"X", L"XX"), L"aXXaXXa");
    EXPECT_EQ(ReplaceAll(L"Total Length:", L"Total Length: ", L"Current Pos: "), L"Total Length:");
}

// A file from a dropped folder keeps its path below the folder's parent; each
// folder level becomes a name Windows can create; anything else goes to the
// output folder itself.
TEST(BatchTexts, OutputsOfADroppedFolderKeepItsShape)
{
    const struct {
        const wchar_t *source, *origin, *folder, *output;
    } table[] = {
        {L"D:\\Other\\week01.rm", L"D:\\Archive", L"E:\\MP3", L"E:\\MP3\\week01.mp3"},
        {L"D:\\Archived\\week01.rm", L"D:\\Archive", L"E:\\MP3", L"E:\\MP3\\week01.mp3"},
        {L"D:\\Music\\a.b.rm", L"D:", L"E:\\MP3", L"E:\\MP3\\Music\\a.b.mp3"},
        {L"D:\\top.ra", L"D:", L"E:\\MP3", L"E:\\MP3\\top.mp3"},
        {L"\\\\srv\\share\\a\\b.ra", L"\\\\srv", L"E:\\MP3", L"E:\\MP3\\share\\a\\b.mp3"},
        {L"Z:\\t\\CON\\a:b?|\\dots. .\\nul.txt\\COM9 \\LPT10\\x.rm", L"Z:\\t", L"E:\\O",
         L"E:\\O\\CON_\\a_b__\\dots\\nul_.txt\\COM9_\\LPT10\\x.mp3"},
        {L"Z:\\t\\..\\ \\\x4E2D\x6587 Caf\xE9\\x.rm", L"Z:\\t", L"E:\\O", L"E:\\O\\_\\_\\\x4E2D\x6587 Caf\xE9\\x.mp3"},
    };
    for (const auto& row : table)
        EXPECT_EQ(MirroredOutputPath(row.source, row.origin, row.folder, true), row.output) << testing::PrintToString(std::wstring(row.source));
    EXPECT_EQ(MirroredOutputPath(L"D:\\A\\B\\c.rm", L"D:\\A", L"E:", false), L"E:\\B\\c.wav");
    ExpectEach(OriginOfFolder, {{L"D:\\Archive\\Lectures", L"D:\\Archive"}, {L"D:\\Archive\\Lectures\\", L"D:\\Archive"},
                                {L"D:\\", L"D:"}, {L"\\\\srv\\share", L"\\\\srv"}});
}

// The output folder itself is taken as typed, never made; a path the
// converter cannot take is refused.
TEST(BatchTexts, TheOutputFolderIsNotMadeAndLongPathsAreRefused)
{
    const std::wstring missing = L"C:\\no such folder " + std::to_wstring(GetCurrentProcessId());
    EXPECT_EQ(CreateFoldersFor(missing, missing + L"\\c.mp3", nullptr), 0u);
    EXPECT_FALSE(Exists(missing));
    EXPECT_TRUE(FitsPathLimit(std::wstring(MAX_PATH - 1, L'x')));
    EXPECT_FALSE(FitsPathLimit(std::wstring(MAX_PATH, L'x')));
}

// The command line names files and folders as the shell quotes them; a
// relative one is taken from the current folder. Quotes only group and a
// backslash is itself: a quoted folder keeps its trailing backslash.
TEST(CommandLine, PathsAfterTheProgramAsFullPaths)
{
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    const std::wstring here = current, parent = FolderOfPath(here);
    const struct {
        const wchar_t* line;
        std::vector<std::wstring> paths;
    } cases[] = {
        {L"\"C:\\Program Files\\v.exe\" \"D:\\A\\\" \"D:\\B\"", {L"D:\\A\\", L"D:\\B"}},
        {L"\"C:\\Program Files\\v.exe\" \"D:\\My Music\\\x4E2D\x6587 \xE9.rm\" \"\" sub\\a.ra \"E:\\Caf\xE9 dir\\\"",
         {L"D:\\My Music\\\x4E2D\x6587 \xE9.rm", JoinPath(here, L"sub\\a.ra"), L"E:\\Caf\xE9 dir\\"}},
        // An unquoted program name ends at the first blank; tabs part arguments too.
        {L"v.exe\tD:\\x\\\t\t..\\up.rm  ", {L"D:\\x\\", JoinPath(parent, L"up.rm")}},
        // Quotes group inside an argument; a quote left open runs to the end.
        {L"\"v.exe\"D:\\a.rm D:\\My\" \"Music\\b.rm \"D:\\Open  end\\", {L"D:\\a.rm", L"D:\\My Music\\b.rm", L"D:\\Open  end\\"}},
        {L"\"C:\\v.exe\" \"\" \"\"", {}},
        {L"v.exe", {}},
        {L"\"C:\\v.exe \\\"", {}},
        {L"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(PathsOfCommandLine(c.line), c.paths) << testing::PrintToString(std::wstring(c.line));
}

// Of a dropped tree's folders only links to elsewhere are left out: a cloud
// drive's placeholders and other reparse points hold real files.
TEST(FolderEntries, OnlyJunctionsAndSymbolicLinksAreLeftOut)
{
    const DWORD folder = FILE_ATTRIBUTE_DIRECTORY, reparse = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_TRUE(IsLinkElsewhere(reparse, IO_REPARSE_TAG_MOUNT_POINT));
    EXPECT_TRUE(IsLinkElsewhere(reparse, IO_REPARSE_TAG_SYMLINK));
    EXPECT_FALSE(IsLinkElsewhere(reparse, 0x9000001Au)) << "a cloud file (OneDrive)";
    EXPECT_FALSE(IsLinkElsewhere(reparse, 0x80000017u)) << "a WOF-compressed folder";
    EXPECT_FALSE(IsLinkElsewhere(folder, IO_REPARSE_TAG_SYMLINK)) << "dwReserved0 means nothing without the attribute";
}

namespace {
// A converter whose every member answers with one fixed value.
class FixedAnswer final : public corvane::SingleInterface<IDispatch> {
public:
    explicit FixedAnswer(VARIANT v) : value_(v) {}
    ~FixedAnswer() override { VariantClear(&value_); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override
    {
        return result ? VariantCopy(result, &value_) : S_OK;
    }

private:
    VARIANT value_;
};
}  // namespace

TEST(ConverterDispatch, AnAnswerOfTheWrongTypeIsAnErrorAndChangesNothing)
{
    VARIANT text{}, list{};
    V_VT(&text) = VT_BSTR, V_BSTR(&text) = SysAllocString(L"not a number");
    V_VT(&list) = VT_ARRAY | VT_I4, V_ARRAY(&list) = SafeArrayCreateVector(VT_I4, 0, 2);
    const auto of = [](const VARIANT& v) {
        return vellumo::HalvexDispatch(corvane::ComPtr<IDispatch>::Attach(new FixedAnswer(v)));
    };
    const vellumo::HalvexDispatch textAnswer = of(text), listAnswer = of(list);
    LONG number = 7;
    EXPECT_TRUE(FAILED(textAnswer.GetLong(vellumo::DispTotalLength, &number)));
    EXPECT_TRUE(FAILED(textAnswer.GetLongWithString(vellumo::DispLoadFile, L"a.rm", &number)));
    EXPECT_EQ(number, 7);
    std::wstring name = L"kept";
    EXPECT_TRUE(FAILED(listAnswer.GetString(vellumo::DispSaveFile, &name)));
    EXPECT_EQ(name, L"kept");
}
