// The batch conversion window in the real vellumo.exe with the real filter
// pack registered in the prefix: output names, whole batches to MP3 and WAV
// with parameters chosen in the parameters dialog, progress texts, load and
// conversion failures, Cancel and closing. Converted outputs get a
// ".expect" description for the native ffprobe check that follows.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/control_ids.h"
#include "gui_driver.h"
#include "test_media.h"

namespace ids = vellumo::ids;
using gui::BoxIcon;
using gui::MessageBoxInfo;

namespace {

constexpr DWORD BatchTimeoutMs = 90000;
const wchar_t LoadErrorTitle[] = L"Error Loading RM File";
const wchar_t FormatError[] =
    L"File format error or lack Real Lib!\r\nPlease make sure that the RM file may be played well on your PC!\r\n"
    L"Or try to install RealOne Player on your PC!";

std::wstring BuildRoot()
{
    const std::wstring media = realmedia_test::MediaDir();
    return media.substr(0, media.find(L"\\test-media\\"));
}

std::wstring BatchMediaDir() { return BuildRoot() + L"\\test-media\\batch"; }

// The outputs of this run, checked by ffprobe afterwards.
std::wstring OutputRoot()
{
    std::wstring dir = BuildRoot() + L"\\test-output";
    CreateDirectoryW(dir.c_str(), nullptr);
    dir += L"\\batch";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

std::wstring FreshFolder(const std::wstring& name)
{
    const std::wstring folder = OutputRoot() + L"\\" + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                const std::wstring path = folder + L"\\" + found.cFileName;
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    return folder;
}

// Copies of media files in a folder of their own (with a space in its name),
// removed afterwards.
class StagedMedia {
public:
    StagedMedia()
    {
        static int counter = 0;
        folder_ = gui::TempRoot() + L"\\vellumo batch media " + std::to_wstring(GetCurrentProcessId()) + L"-" +
                  std::to_wstring(++counter);
        CreateDirectoryW(folder_.c_str(), nullptr);
    }
    ~StagedMedia()
    {
        for (const std::wstring& name : names_) DeleteFileW((folder_ + L"\\" + name).c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    StagedMedia(const StagedMedia&) = delete;
    StagedMedia& operator=(const StagedMedia&) = delete;

    // Copies from.
    bool Add(const std::wstring& from, const std::wstring& name)
    {
        names_.push_back(name);
        return CopyFileW((from + L"\\" + name).c_str(), (folder_ + L"\\" + name).c_str(), FALSE) != FALSE;
    }
    const std::wstring& Folder() const { return folder_; }

private:
    std::wstring folder_;
    std::vector<std::wstring> names_;
};

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

LONGLONG SizeOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string Narrow(const std::wstring& w)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
    return s;
}

// What an output must be, for check_outputs.py.
struct Expected {
    std::wstring name;
    const char* codec;
    int rate, channels, bits;
    double seconds, sine;
    int minKbps = 0, maxKbps = 0;
};

// The description goes beside the output folders, for check_outputs.py.
void WriteExpectation(const std::wstring& folder, const Expected& e)
{
    const std::wstring sub = folder.substr(folder.find_last_of(L'\\') + 1);
    FILE* f = _wfopen((OutputRoot() + L"\\" + sub + L" - " + e.name + L".expect").c_str(), L"w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f,
                 "{\"file\": \"%s/%s\", \"codec\": \"%s\", \"rate\": %d, \"channels\": %d, \"bits\": %d, "
                 "\"duration\": %.3f, \"sine\": %.1f, \"min_kbps\": %d, \"max_kbps\": %d}\n",
                 Narrow(sub).c_str(), Narrow(e.name).c_str(), e.codec, e.rate, e.channels, e.bits, e.seconds, e.sine,
                 e.minKbps, e.maxKbps);
    std::fclose(f);
}


// What the window showed while a batch ran: each new text of the files
// label and of the two bars, and the message boxes in order.
struct BatchRecord {
    std::vector<std::wstring> fileTexts;
    std::vector<std::wstring> filesBar;
    std::vector<std::wstring> lengthTexts;
    std::vector<MessageBoxInfo> boxes;
    bool finished = false;
};

void Note(std::vector<std::wstring>& seen, const std::wstring& text)
{
    if (seen.empty() || seen.back() != text) seen.push_back(text);
}

class BatchTest : public ::testing::Test {
protected:
    BatchTest() : program(L"vellumo batch") {}

    void SetUp() override
    {
        ASSERT_TRUE(program.Start());
        MessageBoxInfo box;
        ASSERT_FALSE(program.WaitForMessageBox(&box, 300)) << "start-up message: " << Narrow(box.text);
    }

    HWND Main(int id) const { return program.MainControl(id); }
    HWND Ctl(int id) const { return gui::Control(convert, id); }

    void AddFiles(const std::wstring& folder, const std::vector<std::wstring>& names)
    {
        gui::Click(Main(ids::cmdOpenRM));
        ASSERT_TRUE(gui::ChooseInFileDialog(program, folder, names));
        gui::WaitFor([] { return false; }, 200);
    }

    // The files, copied from the media folder, added through the dialog.
    void AddMedia(const std::wstring& from, const std::vector<std::wstring>& names)
    {
        for (const std::wstring& name : names) ASSERT_TRUE(staged.Add(from, name)) << Narrow(name);
        AddFiles(staged.Folder(), names);
    }

    void ChooseWav()
    {
        gui::Click(Main(ids::optWAV));
        ASSERT_TRUE(gui::WaitFor([&] { return SendMessageW(Main(ids::optWAV), BM_GETCHECK, 0, 0) == BST_CHECKED; }));
    }

    // Parameters through the dialog: (control, position) pairs, then OK.
    void SetParameters(const std::vector<std::pair<int, int>>& choices)
    {
        gui::Click(Main(ids::cmdPara));
        HWND dialog = program.WaitForWindow(VELLUMO_PARA_CLASS, L"MP3 WAV Parameters");
        ASSERT_NE(dialog, nullptr);
        for (const auto& [id, position] : choices) {
            gui::SelectCombo(gui::Control(dialog, id), position);
            gui::WaitFor([] { return false; }, 50);
        }
        gui::Click(gui::Control(dialog, ids::ParaOKButton));
        ASSERT_TRUE(gui::WaitFor([&] { return !IsWindow(dialog); }));
        ASSERT_TRUE(gui::WaitFor([&] { return IsWindowEnabled(program.Main()) != FALSE; }));
    }

    void OpenConvert(const std::wstring& folder)
    {
        gui::SetText(Main(ids::txtSaveAs), folder);
        gui::Click(Main(ids::cmdConvert));
        convert = program.WaitForWindow(VELLUMO_CONVERT_CLASS);
        ASSERT_NE(convert, nullptr);
    }

    // Presses Start and follows the batch until "Finished converting" (which
    // is answered), answering every other box on the way.
    BatchRecord RunBatch(DWORD timeoutMs = BatchTimeoutMs)
    {
        BatchRecord record;
        Note(record.fileTexts, gui::Text(Ctl(ids::LabelFile)));
        Note(record.filesBar, gui::Text(Ctl(ids::LabelPercent2)));
        gui::Click(Ctl(ids::cmdStart));
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < timeoutMs) {
            if (!IsWindow(convert)) break;
            Note(record.fileTexts, gui::Text(Ctl(ids::LabelFile)));
            Note(record.filesBar, gui::Text(Ctl(ids::LabelPercent2)));
            Note(record.lengthTexts, gui::Text(Ctl(ids::LabelTotal)));
            MessageBoxInfo box;
            if (gui::FindMessageBox(program.ProcessId(), &box)) {
                // The labels as they stand under the box.
                Note(record.fileTexts, gui::Text(Ctl(ids::LabelFile)));
                Note(record.filesBar, gui::Text(Ctl(ids::LabelPercent2)));
                Note(record.lengthTexts, gui::Text(Ctl(ids::LabelTotal)));
                record.boxes.push_back(box);
                const bool finished = box.text == L"Finished converting";
                gui::Program::Answer(box);
                gui::WaitFor([&] { return !IsWindow(box.window); });
                if (finished) {
                    record.finished = true;
                    break;
                }
            }
            Sleep(5);
        }
        if (!record.finished && IsWindow(convert)) {
            ADD_FAILURE() << "the batch did not end; the window shows: "
                          << Narrow(gui::Text(Ctl(ids::ConvertLabel1))) << " | "
                          << Narrow(gui::Text(Ctl(ids::ConvertLabel2))) << " | "
                          << Narrow(gui::Text(Ctl(ids::LabelTotal))) << " | "
                          << Narrow(gui::Text(Ctl(ids::LabelCurrent))) << " | "
                          << Narrow(gui::Text(Ctl(ids::LabelPercent))) << " | "
                          << Narrow(gui::Text(Ctl(ids::LabelFile)));
        }
        return record;
    }

    std::vector<MessageBoxInfo> ErrorBoxes(const BatchRecord& r) const
    {
        std::vector<MessageBoxInfo> errors;
        for (const MessageBoxInfo& b : r.boxes) {
            if (b.text != L"Finished converting") errors.push_back(b);
        }
        return errors;
    }

    gui::Program program;
    StagedMedia staged;
    HWND convert = nullptr;
};

std::string Describe(const std::vector<MessageBoxInfo>& boxes)
{
    std::string all;
    for (const MessageBoxInfo& b : boxes) all += "[" + Narrow(b.title) + ": " + Narrow(b.text) + "] ";
    return all;
}

}  // namespace

TEST_F(BatchTest, OpensReadyWithEveryOutputNameAndCancelClosesWithoutAQuestion)
{
    gui::FileSet one(gui::TempRoot() + L"\\vellumo names one", {L"song.rmvb", L"a.b.rm", L"track.audio", L".rm",
                                                                 L"same.ra"});
    gui::FileSet two(gui::TempRoot() + L"\\vellumo names two", {L"same.rm"});
    AddFiles(one.Folder(), {L"song.rmvb", L"a.b.rm", L"track.audio", L".rm", L"same.ra"});
    AddFiles(two.Folder(), {L"same.rm"});
    ASSERT_EQ(gui::ListItems(Main(ids::List1)).size(), 6u);

    ASSERT_NO_FATAL_FAILURE(OpenConvert(L"  D:\\Out\\  "));
    EXPECT_EQ(gui::Text(convert), L"Convert RA re RE3");
    EXPECT_EQ(gui::ListItems(Ctl(ids::ConvertList1)),
              (std::vector<std::wstring>{L"D:\\Out\\song.mp3", L"D:\\Out\\a.b.mp3", L"D:\\Out\\track.audio.mp3",
                                         L"D:\\Out\\.rm.mp3", L"D:\\Out\\same.mp3", L"D:\\Out\\same.mp3"}));
    // Ready: the load texts, both bars at 0%, Start enabled.
    EXPECT_EQ(gui::Text(Ctl(ids::ConvertLabel1)), L"Convert from:");
    EXPECT_EQ(gui::Text(Ctl(ids::ConvertLabel2)), L"Convert to:");
    EXPECT_EQ(gui::Text(Ctl(ids::LabelTotal)), L"Total Length:");
    EXPECT_EQ(gui::Text(Ctl(ids::LabelCurrent)), L"Current Pos:");
    EXPECT_EQ(gui::Text(Ctl(ids::LabelFile)), L"Files Progress:");
    EXPECT_EQ(gui::Text(Ctl(ids::LabelPercent)), L"0%");
    EXPECT_EQ(gui::Text(Ctl(ids::LabelPercent2)), L"0%");
    EXPECT_EQ(gui::Text(Ctl(ids::cmdStart)), L"&Start");
    EXPECT_EQ(gui::Text(Ctl(ids::cmdCancel)), L"&Cancel");
    EXPECT_TRUE(IsWindowEnabled(Ctl(ids::cmdStart)));
    // The list and the converter are out of sight.
    RECT list = gui::RectInClient(Ctl(ids::ConvertList1), convert);
    EXPECT_LT(list.right, 0);
    RECT client;
    GetClientRect(convert, &client);
    EXPECT_NEAR(client.right, 6645 / 15, 2);
    EXPECT_NEAR(client.bottom, 3015 / 15, 2);

    gui::Click(Ctl(ids::cmdCancel));
    EXPECT_TRUE(gui::WaitFor([&] { return !IsWindow(convert); }));
    EXPECT_TRUE(program.NoMessageBoxWithin(200));
    EXPECT_TRUE(gui::WaitFor([&] { return IsWindowEnabled(program.Main()) != FALSE; }));

    // WAV: the same names with ".wav", the folder without a trailing backslash.
    ChooseWav();
    ASSERT_NO_FATAL_FAILURE(OpenConvert(L"D:\\Out"));
    EXPECT_EQ(gui::Text(convert), L"Convert RM to WAV");
    const std::vector<std::wstring> outputs = gui::ListItems(Ctl(ids::ConvertList1));
    ASSERT_EQ(outputs.size(), 6u);
    EXPECT_EQ(outputs[0], L"D:\\Out\\song.wav");
    EXPECT_EQ(outputs[2], L"D:\\Out\\track.audio.wav");
    PostMessageW(convert, WM_CLOSE, 0, 0);
    EXPECT_TRUE(gui::WaitFor([&] { return !IsWindow(convert); }));
    EXPECT_TRUE(program.NoMessageBoxWithin(200));
}

TEST_F(BatchTest, ThreeFilesToMp3WithChosenParameters)
{
    const std::wstring media = realmedia_test::MediaDir();
    const std::wstring out = FreshFolder(L"mp3 run");
    // 22,050 Hz mono at 56 kbit/s.
    ASSERT_NO_FATAL_FAILURE(
        SetParameters({{ids::cboMP3Frequency, 1}, {ids::cboMP3Channels, 0}, {ids::cboMP3Bitrates, 6}}));
    AddMedia(media, {L"sine440_144.ra", L"sine1000_ac3.rm", L"video_ac3.rmvb"});
    ASSERT_NO_FATAL_FAILURE(OpenConvert(out));
    const BatchRecord r = RunBatch();
    ASSERT_TRUE(r.finished) << Describe(r.boxes);
    EXPECT_TRUE(ErrorBoxes(r).empty()) << Describe(r.boxes);
    ASSERT_FALSE(r.boxes.empty());
    EXPECT_EQ(r.boxes.back().title, L"Vellumo");
    EXPECT_EQ(r.boxes.back().icon, BoxIcon::Information);

    EXPECT_EQ(r.fileTexts, (std::vector<std::wstring>{L"Files Progress:", L"Converted Files: 0/3",
                                                      L"Converted Files: 1/3", L"Converted Files: 2/3"}));
    EXPECT_EQ(r.filesBar, (std::vector<std::wstring>{L"0%", L"33%", L"67%", L"100%"}));
    // The window stays as it ended.
    EXPECT_TRUE(IsWindow(convert));
    EXPECT_FALSE(IsWindowEnabled(Ctl(ids::cmdStart)));
    EXPECT_EQ(gui::Text(Ctl(ids::LabelFile)), L"Converted Files: 2/3");
    EXPECT_EQ(gui::Text(Ctl(ids::LabelPercent)), L"100%");
    EXPECT_EQ(gui::Text(Ctl(ids::ConvertLabel1)), L"Convert from: " + staged.Folder() + L"\\video_ac3.rmvb");
    EXPECT_EQ(gui::Text(Ctl(ids::ConvertLabel2)), L"Convert to: " + out + L"\\video_ac3.mp3");
    // The last file's length, 4 s, in both length labels.
    EXPECT_EQ(gui::Text(Ctl(ids::LabelTotal)), L"Total Length: 4 [0:4]");
    EXPECT_EQ(gui::Text(Ctl(ids::LabelCurrent)), L"Current Pos: 4 [0:4]");
    for (const std::wstring& t : r.lengthTexts) {
        if (t == L"Total Length:") continue;
        EXPECT_EQ(t.rfind(L"Total Length: ", 0), 0u) << Narrow(t);
        EXPECT_EQ(t.back(), L']') << Narrow(t);
    }

    // After the end Cancel closes without a question.
    gui::Click(Ctl(ids::cmdCancel));
    EXPECT_TRUE(gui::WaitFor([&] { return !IsWindow(convert); }));
    EXPECT_TRUE(program.NoMessageBoxWithin(200));

    for (const Expected& e : {Expected{L"sine440_144.mp3", "mp3", 22050, 1, 0, 5.0, 440, 50, 62},
                              Expected{L"sine1000_ac3.mp3", "mp3", 22050, 1, 0, 6.0, 1000, 50, 62},
                              Expected{L"video_ac3.mp3", "mp3", 22050, 1, 0, 4.0, 440, 50, 62}}) {
        EXPECT_GT(SizeOf(out + L"\\" + e.name), 0) << Narrow(e.name);
        WriteExpectation(out, e);
    }
}

TEST_F(BatchTest, ThreeFilesToWavWithChosenParameters)
{
    const std::wstring media = realmedia_test::MediaDir();
    const std::wstring out = FreshFolder(L"wav run");
    // 22,050 Hz, mono, 8 bits.
    ASSERT_NO_FATAL_FAILURE(
        SetParameters({{ids::cboWAVFrequency, 1}, {ids::cboWAVChannels, 0}, {ids::cboWAVBits, 0}}));
    ChooseWav();
    AddMedia(media, {L"sine1000_ac3.rm", L"sine440_144.ra", L"video_ac3.rmvb"});
    ASSERT_NO_FATAL_FAILURE(OpenConvert(out + L"\\"));
    EXPECT_EQ(gui::Text(convert), L"Convert RM to WAV");
    const BatchRecord r = RunBatch();
    ASSERT_TRUE(r.finished) << Describe(r.boxes);
    EXPECT_TRUE(ErrorBoxes(r).empty()) << Describe(r.boxes);
    EXPECT_EQ(r.filesBar, (std::vector<std::wstring>{L"0%", L"33%", L"67%", L"100%"}));
    EXPECT_EQ(r.fileTexts.back(), L"Converted Files: 2/3");
    gui::Click(Ctl(ids::cmdCancel));
    EXPECT_TRUE(gui::WaitFor([&] { return !IsWindow(convert); }));

    for (const Expected& e : {Expected{L"sine1000_ac3.wav", "pcm_u8", 22050, 1, 8, 6.0, 1000},
                              Expected{L"sine440_144.wav", "pcm_u8", 22050, 1, 8, 5.0, 440},
                              Expected{L"video_ac3.wav", "pcm_u8", 22050, 1, 8, 4.0, 440}}) {
        EXPECT_GT(SizeOf(out + L"\\" + e.name), 0) << Narrow(e.name);
        WriteExpectation(out, e);
    }
}

TEST_F(BatchTest, ARejectedFileIsReportedAndTheBatchGoesOn)
{
    const std::wstring media = realmedia_test::MediaDir();
    const std::wstring out = FreshFolder(L"rejected");
    ChooseWav();
    AddMedia(media, {L"sine440_144.ra", L"random.rm", L"sine440_144.rm"});
    ASSERT_NO_FATAL_FAILURE(OpenConvert(out));
    const BatchRecord r = RunBatch();
    ASSERT_TRUE(r.finished) << Describe(r.boxes);
    const std::vector<MessageBoxInfo> errors = ErrorBoxes(r);
    ASSERT_EQ(errors.size(), 1u) << Describe(r.boxes);
    EXPECT_EQ(errors[0].title, LoadErrorTitle);
    EXPECT_EQ(errors[0].text, FormatError);
    EXPECT_EQ(errors[0].icon, BoxIcon::Stop);
    EXPECT_EQ(r.filesBar, (std::vector<std::wstring>{L"0%", L"33%", L"67%", L"100%"}));
    EXPECT_TRUE(Exists(out + L"\\sine440_144.wav"));
    EXPECT_FALSE(Exists(out + L"\\random.wav"));
    WriteExpectation(out, {L"sine440_144.wav", "pcm_s16le", 44100, 2, 16, 5.0, 440});
}

TEST_F(BatchTest, AMissingOutputFolderIsReportedForEachFileAndTheBatchEnds)
{
    const std::wstring media = realmedia_test::MediaDir();
    const std::wstring missing = OutputRoot() + L"\\no such folder\\deeper";
    AddMedia(media, {L"sine440_144.ra", L"sine1000_ac3.rm"});
    ASSERT_NO_FATAL_FAILURE(OpenConvert(missing));
    const BatchRecord r = RunBatch(60000);
    ASSERT_TRUE(r.finished) << Describe(r.boxes);
    const std::vector<MessageBoxInfo> errors = ErrorBoxes(r);
    ASSERT_EQ(errors.size(), 2u) << Describe(r.boxes);
    for (const MessageBoxInfo& e : errors) {
        EXPECT_EQ(e.title, L"Error Converting");
        EXPECT_EQ(e.icon, BoxIcon::Stop);
        EXPECT_FALSE(e.text.empty());
    }
    EXPECT_EQ(r.filesBar.back(), L"100%");
    EXPECT_FALSE(Exists(missing));
}

TEST_F(BatchTest, AReadOnlyOutputFileIsReportedAndTheNextFileConverted)
{
    const std::wstring media = realmedia_test::MediaDir();
    const std::wstring out = FreshFolder(L"read only");
    // The first output exists and cannot be written.
    const std::wstring locked = out + L"\\sine440_144.mp3";
    HANDLE f = CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
    ASSERT_TRUE(SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY));
    // Wine keeps the read-only attribute in the Unix permissions, which do
    // not hold for root: there the file stays writable and nothing can fail.
    HANDLE probe = CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
        GTEST_SKIP() << "read-only files are writable here (root under Wine)";
    }
    AddMedia(media, {L"sine440_144.ra", L"sine1000_ac3.rm"});
    ASSERT_NO_FATAL_FAILURE(OpenConvert(out));
    const BatchRecord r = RunBatch();
    SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(r.finished) << Describe(r.boxes);
    const std::vector<MessageBoxInfo> errors = ErrorBoxes(r);
    ASSERT_EQ(errors.size(), 1u) << Describe(r.boxes);
    EXPECT_EQ(errors[0].title, L"Error Converting");
    EXPECT_EQ(errors[0].icon, BoxIcon::Stop);
    EXPECT_EQ(SizeOf(locked), 0) << "the read-only file is left as it was";
    EXPECT_GT(SizeOf(out + L"\\sine1000_ac3.mp3"), 0);
}

TEST_F(BatchTest, CancelDuringABatchAsksNoGoesOnYesStopsAndCloses)
{
    const std::wstring out = FreshFolder(L"cancel");
    AddMedia(BatchMediaDir(), {L"long_ac3.rm"});
    AddMedia(realmedia_test::MediaDir(), {L"sine440_144.ra"});
    ASSERT_NO_FATAL_FAILURE(OpenConvert(out));
    gui::Click(Ctl(ids::cmdStart));
    ASSERT_TRUE(gui::WaitFor([&] { return gui::Text(Ctl(ids::LabelFile)) == L"Converted Files: 0/2"; }));
    gui::WaitFor([] { return false; }, 1500);

    // No: nothing changes.
    gui::Click(Ctl(ids::cmdCancel));
    MessageBoxInfo box;
    ASSERT_TRUE(program.WaitForMessageBox(&box));
    EXPECT_EQ(box.text, L"It is converting! Do you want to cancel and exit?");
    EXPECT_EQ(box.title, L"Vellumo");
    EXPECT_EQ(box.icon, BoxIcon::None);
    EXPECT_EQ(box.buttons, (std::vector<std::wstring>{L"&Yes", L"&No"}));
    gui::Program::Answer(box, IDNO);
    ASSERT_TRUE(gui::WaitFor([&] { return !IsWindow(box.window); }));
    EXPECT_TRUE(IsWindow(convert));
    const LONGLONG before = SizeOf(out + L"\\long_ac3.mp3");
    EXPECT_TRUE(gui::WaitFor([&] { return SizeOf(out + L"\\long_ac3.mp3") > before; }, 30000))
        << "the conversion goes on";
    gui::WaitFor([] { return false; }, 500);
    EXPECT_EQ(gui::Text(Ctl(ids::LabelFile)), L"Converted Files: 0/2");
    EXPECT_TRUE(program.NoMessageBoxWithin(100));

    // Yes: stopped and closed, nothing further converted, no message.
    gui::Click(Ctl(ids::cmdCancel));
    ASSERT_TRUE(program.WaitForMessageBox(&box));
    gui::Program::Answer(box, IDYES);
    EXPECT_TRUE(gui::WaitFor([&] { return !IsWindow(convert); }));
    EXPECT_TRUE(program.NoMessageBoxWithin(500));
    EXPECT_TRUE(gui::WaitFor([&] { return IsWindowEnabled(program.Main()) != FALSE; }));
    const LONGLONG stopped = SizeOf(out + L"\\long_ac3.mp3");
    gui::WaitFor([] { return false; }, 1000);
    EXPECT_EQ(SizeOf(out + L"\\long_ac3.mp3"), stopped) << "nothing writes any more";
    EXPECT_FALSE(Exists(out + L"\\sine440_144.mp3"));
    // The writer let go of the file.
    if (Exists(out + L"\\long_ac3.mp3")) EXPECT_TRUE(DeleteFileW((out + L"\\long_ac3.mp3").c_str()));
    // The program goes on: the window opens afresh, ready.
    ASSERT_NO_FATAL_FAILURE(OpenConvert(out));
    EXPECT_TRUE(IsWindowEnabled(Ctl(ids::cmdStart)));
    gui::Click(Ctl(ids::cmdCancel));
    EXPECT_TRUE(gui::WaitFor([&] { return !IsWindow(convert); }));
}

TEST_F(BatchTest, ClosingTheFrameDuringABatchCancelsWithoutAQuestion)
{
    const std::wstring out = FreshFolder(L"frame close");
    AddMedia(BatchMediaDir(), {L"long_ac3.rm"});
    AddMedia(realmedia_test::MediaDir(), {L"sine440_144.ra"});
    // MP3: ten minutes of source take long enough to be still converting
    // when the frame is closed (WAV can be done within a second or two).
    ASSERT_NO_FATAL_FAILURE(OpenConvert(out));
    gui::Click(Ctl(ids::cmdStart));
    ASSERT_TRUE(gui::WaitFor([&] { return gui::Text(Ctl(ids::LabelFile)) == L"Converted Files: 0/2"; }));
    gui::WaitFor([] { return false; }, 1500);
    PostMessageW(convert, WM_CLOSE, 0, 0);
    EXPECT_TRUE(gui::WaitFor([&] { return !IsWindow(convert); }));
    EXPECT_TRUE(program.NoMessageBoxWithin(500));
    EXPECT_FALSE(Exists(out + L"\\sine440_144.mp3"));
    if (Exists(out + L"\\long_ac3.mp3")) EXPECT_TRUE(DeleteFileW((out + L"\\long_ac3.mp3").c_str()));
    // Exit still ends the program.
    gui::Click(Main(ids::cmdExit));
    EXPECT_EQ(program.WaitForExit(10000), 0u);
}

// Two hundred short files in one batch: the program's handles and memory
// after each file, printed. Run by bench/batch_window_bench.sh.
TEST_F(BatchTest, DISABLED_BenchmarkTwoHundredFiles)
{
    const std::wstring folder = BatchMediaDir() + L"\\many";
    const std::wstring out = FreshFolder(L"bench");
    ChooseWav();
    for (int first = 1; first <= 200; first += 50) {
        std::vector<std::wstring> names;
        for (int i = first; i < first + 50; ++i) {
            wchar_t name[16];
            swprintf(name, 16, L"s%03d.ra", i);
            names.push_back(name);
        }
        AddMedia(folder, names);
    }
    ASSERT_EQ(gui::ListItems(Main(ids::List1)).size(), 200u);
    ASSERT_NO_FATAL_FAILURE(OpenConvert(out));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, program.ProcessId());
    ASSERT_NE(process, nullptr);
    struct Sample {
        int file;
        DWORD handles;
        SIZE_T privateBytes, workingSet;
        DWORD gdi, user;
    };
    std::vector<Sample> samples;
    auto take = [&](int file) {
        Sample s{file, 0, 0, 0, GetGuiResources(process, GR_GDIOBJECTS), GetGuiResources(process, GR_USEROBJECTS)};
        GetProcessHandleCount(process, &s.handles);
        PROCESS_MEMORY_COUNTERS_EX m{};
        m.cb = sizeof(m);
        if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof(m))) {
            s.privateBytes = m.PrivateUsage;
            s.workingSet = m.WorkingSetSize;
        }
        samples.push_back(s);
    };
    take(0);
    gui::Click(Ctl(ids::cmdStart));
    const DWORD start = GetTickCount();
    int lastDone = 0;
    bool finished = false;
    while (GetTickCount() - start < 1800000 && !finished) {
        const std::wstring text = gui::Text(Ctl(ids::LabelFile));
        int done = 0, total = 0;
        if (swscanf(text.c_str(), L"Converted Files: %d/%d", &done, &total) == 2 && done != lastDone) {
            lastDone = done;
            take(done);
        }
        MessageBoxInfo box;
        if (gui::FindMessageBox(program.ProcessId(), &box)) {
            finished = box.text == L"Finished converting";
            EXPECT_TRUE(finished) << Narrow(box.title) << ": " << Narrow(box.text);
            take(200);
            gui::Program::Answer(box);
        }
        Sleep(5);
    }
    const double seconds = (GetTickCount() - start) / 1000.0;
    CloseHandle(process);
    ASSERT_TRUE(finished);
    std::printf("batch of 200 files: %.1f s (%.1f ms a file)\n", seconds, seconds * 1000 / 200);
    std::printf("%6s %8s %6s %6s %12s %12s\n", "file", "handles", "gdi", "user", "private KB", "working KB");
    for (const Sample& s : samples) {
        if (s.file % 20 == 0 || s.file < 3 || s.file == 200) {
            std::printf("%6d %8lu %6lu %6lu %12zu %12zu\n", s.file, s.handles, s.gdi, s.user, s.privateBytes / 1024,
                        s.workingSet / 1024);
        }
    }
    // Growth per file between file 20 and the end (after warm-up).
    const auto at = [&](int file) {
        return *std::find_if(samples.begin(), samples.end(), [&](const Sample& s) { return s.file >= file; });
    };
    const Sample a = at(20), b = samples.back();
    const double files = b.file - a.file;
    std::printf("growth per file from file %d to %d: %.2f handles, %.2f GDI, %.2f USER, %.1f KB private\n", a.file,
                b.file, (static_cast<double>(b.handles) - a.handles) / files,
                (static_cast<double>(b.gdi) - a.gdi) / files, (static_cast<double>(b.user) - a.user) / files,
                (static_cast<double>(b.privateBytes) - a.privateBytes) / 1024.0 / files);
}
