// Unit tests of the program's helpers on the real platform: path helpers,
// the INI routines on real files, the ramp arithmetic of the painted
// background, the file-dialog result parsing and the error table.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>

#include "common/paths.h"
#include "common/version_info.h"
#include "main_window/error_messages.h"
#include "main_window/paint_background.h"
#include "main_window/shell_dialogs.h"
#include "parameters/ini_file.h"
#include "parameters/settings.h"

using namespace vellumo;

namespace {

// A fresh folder under the temporary folder, removed with its files afterwards.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& name = L"vellumo unit")
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        path_ = JoinPath(temp, name + L" " + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(GetTickCount()));
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder()
    {
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW(JoinPath(path_, L"*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW(JoinPath(path_, found.cFileName).c_str());
            } while (FindNextFileW(find, &found));
            FindClose(find);
        }
        RemoveDirectoryW(path_.c_str());
    }
    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return JoinPath(path_, name); }

private:
    std::wstring path_;
};

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(path.c_str(), std::ios::binary);
    out << bytes;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

TEST(PathHelpers, JoinPathTrimsTheFolderAndAddsOneBackslash)
{
    EXPECT_EQ(JoinPath(L"  C:\\Out  ", L"song.mp3"), L"C:\\Out\\song.mp3");
    EXPECT_EQ(JoinPath(L"C:\\Out\\", L"song.mp3"), L"C:\\Out\\song.mp3");
    EXPECT_EQ(JoinPath(L"", L"song.mp3"), L"song.mp3");
    EXPECT_EQ(JoinPath(L"    ", L"song.mp3"), L"song.mp3");
    EXPECT_EQ(JoinPath(L"C:\\", L"settings.ini"), L"C:\\settings.ini");
    // The name is left alone, blanks and all.
    EXPECT_EQ(JoinPath(L"D:\\Out", L" a b "), L"D:\\Out\\ a b ");
    EXPECT_EQ(JoinPath(L"D:\\\x6b4c\x66f2", L"\x6b4c.mp3"), L"D:\\\x6b4c\x66f2\\\x6b4c.mp3");
}

TEST(PathHelpers, FileNameOfTakesTheTextAfterTheLastBackslash)
{
    EXPECT_EQ(FileNameOf(L"C:\\Music\\song.rmvb"), L"song.rmvb");
    EXPECT_EQ(FileNameOf(L"song.rm"), L"song.rm");
    EXPECT_EQ(FileNameOf(L"C:\\Music\\"), L"");
    EXPECT_EQ(FileNameOf(L"C:/Music/song.rm"), L"C:/Music/song.rm");
    EXPECT_EQ(FileNameOf(L""), L"");
}

TEST(PathHelpers, BaseNameOfDropsExtensionsOfOneToFourCharacters)
{
    EXPECT_EQ(BaseNameOf(L"C:\\Music\\song.rmvb"), L"song");
    EXPECT_EQ(BaseNameOf(L"C:\\Music\\song.abcde"), L"song.abcde");
    EXPECT_EQ(BaseNameOf(L"C:\\Music\\song."), L"song.");
    EXPECT_EQ(BaseNameOf(L"C:\\Music\\.rm"), L".rm");
    EXPECT_EQ(BaseNameOf(L"a.b.rm"), L"a.b");
    EXPECT_EQ(BaseNameOf(L"x.r"), L"x");
    EXPECT_EQ(BaseNameOf(L"C:\\dir.with.dots\\noext"), L"noext");
    EXPECT_EQ(BaseNameOf(L"C:\\Music\\"), L"");
}

TEST(PathHelpers, ProgramFolderHasNoTrailingBackslashExceptAtADriveRoot)
{
    EXPECT_EQ(FolderOfPath(L"C:\\Program Files\\Vellumo\\vellumo.exe"), L"C:\\Program Files\\Vellumo");
    EXPECT_EQ(FolderOfPath(L"C:\\vellumo.exe"), L"C:\\");
    EXPECT_EQ(JoinPath(FolderOfPath(L"C:\\vellumo.exe"), L"settings.ini"), L"C:\\settings.ini");
    const std::wstring folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(Exists(JoinPath(folder, FileNameOf(ProgramPath()))));
}

TEST(VersionText, RevisionFollowsTheMinorNumberDirectly)
{
    EXPECT_EQ(VersionText({2, 0, 0}), L"2.00");
    EXPECT_EQ(VersionText({1, 2, 3}), L"1.23");
    EXPECT_EQ(VersionText({1, 10, 0}), L"1.100");
}

TEST(IniFile, MissingFileSectionOrKeyGivesTheDefault)
{
    TempFolder folder;
    const std::wstring file = folder.File(L"settings.ini");
    EXPECT_EQ(ReadIniValue(L"MP3", L"VBR", L"7", file), L"7");
    EXPECT_FALSE(Exists(file)) << "reading must not create the file";
    WriteBytes(file, "[WAV]\r\nWAV_Bits=0\r\n");
    EXPECT_EQ(ReadIniValue(L"MP3", L"VBR", L"7", file), L"7");
    EXPECT_EQ(ReadIniValue(L"WAV", L"WAV_Channels", L"2", file), L"2");
    EXPECT_EQ(ReadIniValue(L"WAV", L"WAV_Bits", L"1", file), L"0");
}

TEST(IniFile, ValuesAreTrimmedAndAnEmptyValueIsNotTheDefault)
{
    TempFolder folder;
    const std::wstring file = folder.File(L"settings.ini");
    WriteBytes(file, "[MP3]\r\nMP3_Bitrates=   12   \r\nVBR=\r\nMP3_VBRMin =  4\r\n");
    EXPECT_EQ(ReadIniValue(L"MP3", L"MP3_Bitrates", L"8", file), L"12");
    EXPECT_EQ(ReadIniValue(L"MP3", L"VBR", L"0", file), L"");
    EXPECT_EQ(ReadIniValue(L"MP3", L"MP3_VBRMin", L"3", file), L"4");
}

TEST(IniFile, WritesCreateTheFileAndKeepKeyOrder)
{
    TempFolder folder;
    const std::wstring file = folder.File(L"settings.ini");
    EXPECT_NE(WriteIniValue(L"MP3", L"b", L"  2  ", file), 0);
    EXPECT_NE(WriteIniValue(L"MP3", L"a", L"1", file), 0);
    EXPECT_NE(WriteIniValue(L"WAV", L"c", L"3", file), 0);
    EXPECT_EQ(ReadBytes(file), "[MP3]\r\nb=2\r\na=1\r\n[WAV]\r\nc=3\r\n");
    // Rewriting a key keeps its place.
    EXPECT_NE(WriteIniValue(L"MP3", L"b", L"5", file), 0);
    EXPECT_EQ(ReadBytes(file), "[MP3]\r\nb=5\r\na=1\r\n[WAV]\r\nc=3\r\n");
}

TEST(IniFile, AnEmptyValueDeletesTheKeyAndAnEmptyKeyTheSection)
{
    TempFolder folder;
    const std::wstring file = folder.File(L"settings.ini");
    WriteIniValue(L"MP3", L"a", L"1", file);
    WriteIniValue(L"MP3", L"b", L"2", file);
    WriteIniValue(L"WAV", L"c", L"3", file);
    EXPECT_NE(WriteIniValue(L"MP3", L"a", L"   ", file), 0);
    EXPECT_EQ(ReadIniValue(L"MP3", L"a", L"gone", file), L"gone");
    EXPECT_EQ(ReadIniValue(L"MP3", L"b", L"", file), L"2");
    EXPECT_NE(WriteIniValue(L"MP3", L"", L"ignored", file), 0);
    EXPECT_EQ(ReadIniValue(L"MP3", L"b", L"gone", file), L"gone");
    EXPECT_EQ(ReadIniValue(L"WAV", L"c", L"", file), L"3");
}

TEST(IniFile, NulsAreRemovedFromWrittenValues)
{
    TempFolder folder;
    const std::wstring file = folder.File(L"settings.ini");
    WriteIniValue(L"MP3", L"a", std::wstring(L" 1\0" L"2 ", 5), file);
    EXPECT_EQ(ReadIniValue(L"MP3", L"a", L"", file), L"12");
}

TEST(IniFile, PathsAndValuesOutsideTheLegacyCodePageSurvive)
{
    // The program's ANSI code page is UTF-8 (its manifest); in this test
    // program it is whatever the system uses, so only names it can spell
    // are tried unless it is UTF-8 as well.
    TempFolder folder(GetACP() == CP_UTF8 ? L"\x8bbe\x7f6e \x6d4b\x8bd5" : L"with spaces");
    const std::wstring file = folder.File(L"settings.ini");
    EXPECT_NE(WriteIniValue(L"MP3", L"VBR", L"1", file), 0);
    EXPECT_TRUE(Exists(file));
    EXPECT_EQ(ReadIniValue(L"MP3", L"VBR", L"0", file), L"1");
}

TEST(IniFile, AnEmptyFileNameMeansTheProgramsOwnIniFile)
{
    const std::wstring own = ProgramIniFile();
    EXPECT_EQ(own, JoinPath(ProgramFolder(), L"program_unit_tests.ini"));
    DeleteFileW(own.c_str());
    EXPECT_NE(WriteIniValue(L"Test", L"Key", L"Value", L""), 0);
    EXPECT_EQ(ReadIniValue(L"Test", L"Key", L"", L""), L"Value");
    EXPECT_TRUE(Exists(own));
    DeleteFileW(own.c_str());
}

TEST(SettingsNumbers, OnlyWholeNumbersThatFitAreTaken)
{
    long value = -99;
    EXPECT_TRUE(ParseWholeNumber(L"12", -32768, 32767, &value));
    EXPECT_EQ(value, 12);
    EXPECT_TRUE(ParseWholeNumber(L"-1", -32768, 32767, &value));
    EXPECT_EQ(value, -1);
    EXPECT_TRUE(ParseWholeNumber(L"+007", -32768, 32767, &value));
    EXPECT_EQ(value, 7);
    for (const wchar_t* bad : {L"", L"-", L"3.5", L"1e3", L"abc", L"12abc", L"32768", L"-32769", L"99999999999999999"})
        EXPECT_FALSE(ParseWholeNumber(bad, -32768, 32767, &value)) << bad;
    EXPECT_TRUE(ParseWholeNumber(L"2147483647", LONG_MIN, LONG_MAX, &value));
}

TEST(FileDialogResult, OnePartIsTheFullPathOfOneFile)
{
    const auto paths = PathsFromDialogResult(L"C:\\Music\\song.rm");
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], L"C:\\Music\\song.rm");
}

TEST(FileDialogResult, SeveralPartsAreAFolderAndNamesInIt)
{
    const std::wstring result(L"C:\\Music\0b.rm\0a.ra\0c.rmvb", 25);
    const auto paths = PathsFromDialogResult(result);
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[0], L"C:\\Music\\b.rm");
    EXPECT_EQ(paths[1], L"C:\\Music\\a.ra");
    EXPECT_EQ(paths[2], L"C:\\Music\\c.rmvb");
}

TEST(FileDialogResult, ADriveRootKeepsItsSingleBackslash)
{
    const std::wstring result(L"D:\\\0one.rm\0two.rm", 17);
    const auto paths = PathsFromDialogResult(result);
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], L"D:\\one.rm");
    EXPECT_EQ(paths[1], L"D:\\two.rm");
}

TEST(ErrorTable, EachCodeHasItsMessage)
{
    std::wstring text;
    EXPECT_EQ(ErrorMessageFor(32, &text), ErrorReaction::ShowMessage);
    EXPECT_EQ(text, L"File in used now \xFF01");
    EXPECT_EQ(ErrorMessageFor(183, &text), ErrorReaction::Ignore);
    for (LONG silent : {80001, 80002, 80003}) EXPECT_EQ(ErrorMessageFor(silent, &text), ErrorReaction::Silent);
    EXPECT_EQ(ErrorMessageFor(80000, &text), ErrorReaction::ShowMessage);
    EXPECT_EQ(text, L"DX or COM runtime Exception\xFF01");
    ErrorMessageFor(80004, &text);
    EXPECT_EQ(text, L"Wave Encode Exption\xFF01");
    ErrorMessageFor(80005, &text);
    EXPECT_EQ(text, L"Mp3 Encode Exption\xFF01");
    ErrorMessageFor(80006, &text);
    EXPECT_EQ(text, L"Encode Exption\xFF01");
    ErrorMessageFor(88890, &text);
    EXPECT_EQ(text, L"Runtime Exception\xFF01");
    ErrorMessageFor(99, &text);
    EXPECT_EQ(text, L"System Error\xFF01" L"Error Code\xFF1A" L"99");
    ErrorMessageFor(-1, &text);
    EXPECT_EQ(text, L"System Error\xFF01" L"Error Code\xFF1A" L"-1");
}

TEST(PaintBackgroundRamp, PartsFollowTheFormulaWithHalvesToEven)
{
    // Same colours: every line is that colour.
    EXPECT_EQ(RampColour(RGB(255, 255, 192), RGB(255, 255, 192), 208, 100), RGB(255, 255, 192));
    // From 0 to 10 over 4 lines: 0, 2.5 -> 2, 5, 7.5 -> 8.
    EXPECT_EQ(RedOf(RampColour(RGB(0, 0, 0), RGB(10, 0, 0), 4, 0)), 0);
    EXPECT_EQ(RedOf(RampColour(RGB(0, 0, 0), RGB(10, 0, 0), 4, 1)), 2);
    EXPECT_EQ(RedOf(RampColour(RGB(0, 0, 0), RGB(10, 0, 0), 4, 2)), 5);
    EXPECT_EQ(RedOf(RampColour(RGB(0, 0, 0), RGB(10, 0, 0), 4, 3)), 8);
    // Falling parts and the split of a 0xBBGGRR value.
    EXPECT_EQ(RampColour(RGB(200, 100, 50), RGB(0, 0, 0), 2, 1), RGB(100, 50, 25));
    EXPECT_EQ(BlueOf(0x00C08040), 0xC0);
    EXPECT_EQ(GreenOf(0x00C08040), 0x80);
    EXPECT_EQ(RedOf(0x00C08040), 0x40);
}

namespace {

// A real window with two frames, painted through a real memory canvas.
class PaintedWindow {
public:
    PaintedWindow(const wchar_t* caption, int clientHeight)
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"PaintedWindowTest";
        RegisterClassW(&wc);
        RECT rect = {0, 0, 50, clientHeight};
        AdjustWindowRect(&rect, WS_POPUP, FALSE);
        window = CreateWindowW(L"PaintedWindowTest", caption, WS_POPUP, 0, 0, rect.right - rect.left,
                               rect.bottom - rect.top, nullptr, nullptr, wc.hInstance, nullptr);
    }
    ~PaintedWindow() { DestroyWindow(window); }
    HWND window;
};

}  // namespace

TEST(PaintBackground, HalvesMeetOnTheMiddleLine)
{
    PaintedWindow form(L"Vellumo", 8);
    BackgroundCanvas canvas;
    ASSERT_TRUE(canvas.Attach(form.window));
    ASSERT_EQ(canvas.Height(), 8);
    const COLORREF a = RGB(0, 0, 0), b = RGB(200, 0, 0);
    PaintBackground(form.window, canvas, RGB(1, 2, 3), {}, 0, 0, canvas.Width(), 7, a, b);
    // Upper half: y = 0..3 over n = 4 lines; lower half: y = 3..7 over n = 5
    // lines, drawn last, so y = 3 holds the lower half's first colour.
    EXPECT_EQ(GetPixel(canvas.Dc(), 5, 0), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(canvas.Dc(), 5, 1), RGB(50, 0, 0));
    EXPECT_EQ(GetPixel(canvas.Dc(), 5, 2), RGB(100, 0, 0));
    EXPECT_EQ(GetPixel(canvas.Dc(), 5, 3), RGB(200, 0, 0));
    EXPECT_EQ(GetPixel(canvas.Dc(), 5, 4), RGB(160, 0, 0));
    EXPECT_EQ(GetPixel(canvas.Dc(), 5, 7), RGB(40, 0, 0));
    EXPECT_EQ(GetPixel(canvas.Dc(), canvas.Width() - 1, 7), RGB(40, 0, 0));
}

TEST(PaintBackground, FramesTakeTheColourOfTheLineUnderTheirMiddle)
{
    PaintedWindow form(L"Vellumo", 100);
    ui::Font font = ui::MakeDefaultFont();
    HWND inside = ui::FramePanel::Create(form.window, L"in", {0, 300, 300, 300}, 1, font.Get(), ui::Sky);
    HWND below = ui::FramePanel::Create(form.window, L"out", {0, 1800, 300, 300}, 2, font.Get(), ui::Sky);
    ASSERT_TRUE(inside && below);
    BackgroundCanvas canvas;
    ASSERT_TRUE(canvas.Attach(form.window));
    PaintBackground(form.window, canvas, ui::Sky, {inside, below}, 0, 0, canvas.Width(), canvas.Height(), ui::Cream,
                    RGB(255, 0, 0));
    // The inside frame's middle is y = 30 (at 96 dpi); it ends with the colour
    // of the last line drawn within 2 units of it.
    RECT r;
    GetWindowRect(inside, &r);
    MapWindowPoints(HWND_DESKTOP, form.window, reinterpret_cast<POINT*>(&r), 2);
    const double middle = r.top + (r.bottom - r.top) / 2.0;
    const int lastLine = static_cast<int>(std::ceil(middle + 2.0)) - 1;
    EXPECT_EQ(ui::FramePanel::BackColour(inside), GetPixel(canvas.Dc(), 0, lastLine));
    EXPECT_EQ(ui::FramePanel::BackColour(below), ui::Sky) << "a frame below the painted height keeps its colour";
}

TEST(PaintBackground, AWindowCalledAboutKeepsItsFramesColours)
{
    PaintedWindow form(L"aBoUt Vellumo", 100);
    ui::Font font = ui::MakeDefaultFont();
    HWND frame = ui::FramePanel::Create(form.window, L"in", {0, 300, 300, 300}, 1, font.Get(), ui::Sky);
    BackgroundCanvas canvas;
    ASSERT_TRUE(canvas.Attach(form.window));
    PaintBackground(form.window, canvas, ui::Sky, {frame}, 0, 0, canvas.Width(), canvas.Height(), ui::Cream,
                    ui::Cream);
    EXPECT_EQ(ui::FramePanel::BackColour(frame), ui::Sky);
    EXPECT_EQ(GetPixel(canvas.Dc(), 10, 50), ui::Cream);
}
