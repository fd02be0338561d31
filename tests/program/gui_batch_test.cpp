// The batch window of the real vellumo.exe with the filter pack registered in
// the prefix. Converted outputs get a ".expect" description for the native
// ffprobe check that follows.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <thread>

#include "common/control_ids.h"
#include "conversion/batch_text.h"
#include "conversion/partial_output.h"
#include "program_test.h"
#include "test_media.h"
#include "test_platform.h"

namespace ids = vellumo::ids;
using gui::BatchRecord;
using gui::BoxIcon;
using gui::MessageBoxInfo;
using gui::Texts;

namespace {

std::wstring BuildRoot()
{
    const std::wstring media = realmedia_test::MediaDir();
    return media.substr(0, media.find(L"\\test-media\\"));
}

std::wstring BatchMediaDir() { return BuildRoot() + L"\\test-media\\batch"; }

// The outputs of this run, checked by ffprobe afterwards (make_batch_media.sh empties the folder first).
std::wstring OutputFolder(const std::wstring& name = L"")
{
    std::wstring folder = BuildRoot() + L"\\test-output";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder += L"\\batch").c_str(), nullptr);
    if (!name.empty()) CreateDirectoryW((folder += L"\\" + name).c_str(), nullptr);
    return folder;
}

LONGLONG SizeOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Exists(const std::wstring& path) { return SizeOf(path) >= 0; }

// A label polled from another process: its states in order, the first and the
// last seen for sure; a state that lasts a few milliseconds (a short file
// converts that fast) may pass between two looks.
::testing::AssertionResult ShowedInOrder(const Texts& seen, const Texts& states)
{
    std::size_t at = 0;
    for (const std::wstring& text : seen) {
        while (at < states.size() && states[at] != text) ++at;
        if (at == states.size()) break;
    }
    if (!seen.empty() && at < states.size() && seen.front() == states.front() && seen.back() == states.back())
        return ::testing::AssertionSuccess();
    std::string shown;
    for (const std::wstring& text : seen) shown += std::string(text.begin(), text.end()) + " | ";
    return ::testing::AssertionFailure() << "seen: " << shown;
}

std::wstring Describe(const std::vector<MessageBoxInfo>& boxes)
{
    std::wstring all;
    for (const MessageBoxInfo& b : boxes) all += L"[" + b.title + L": " + b.text + L"] ";
    return all;
}

// What an output must be: its size here, the rest by check_outputs.py from
// the description beside the output folders.
struct Expected {
    std::wstring name;
    const char* codec;
    int rate, channels, bits;
    double seconds, sine;
    int minKbps = 0, maxKbps = 0;
};

void ExpectOutputs(const std::wstring& folder, const std::vector<Expected>& outputs)
{
    const std::wstring sub = folder.substr(folder.find_last_of(L'\\') + 1);
    for (const Expected& e : outputs) {
        EXPECT_GT(SizeOf(folder + L"\\" + e.name), 0) << e.name;
        FILE* f = _wfopen((OutputFolder() + L"\\" + sub + L" - " + e.name + L".expect").c_str(), L"w");
        ASSERT_NE(f, nullptr);
        std::string file;  // JSON, with \u escapes outside ASCII
        for (wchar_t c : sub + L"/" + e.name) {
            char escaped[8] = {static_cast<char>(c)};
            if (c >= 128) std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            file += escaped;
        }
        std::fprintf(f,
                     "{\"file\": \"%s\", \"codec\": \"%s\", \"rate\": %d, \"channels\": %d, \"bits\": %d, "
                     "\"duration\": %.3f, \"sine\": %.1f, \"min_kbps\": %d, \"max_kbps\": %d}\n",
                     file.c_str(), e.codec, e.rate, e.channels, e.bits, e.seconds, e.sine, e.minKbps, e.maxKbps);
        std::fclose(f);
    }
}

class BatchTest : public gui::ProgramTest {
protected:
    BatchTest() : ProgramTest(L"vellumo batch") {}
    void SetUp() override { Start(); }

    HWND Conv(int id) const { return gui::Control(convert, id); }

    // Copies of the media files, in the program's folder (its name has a space), added through the dialog.
    void AddMedia(const std::wstring& from, const Texts& names)
    {
        for (const std::wstring& name : names)
            ASSERT_TRUE(CopyFileW((from + L"\\" + name).c_str(), (program.Folder() + L"\\" + name).c_str(), FALSE));
        AddFiles(program.Folder(), names);
    }

    void ChooseWav()
    {
        gui::Click(Ctl(ids::optWAV));
        ASSERT_TRUE(gui::WaitFor([&] { return SendMessageW(Ctl(ids::optWAV), BM_GETCHECK, 0, 0) == BST_CHECKED; }));
    }

    // Parameters through the dialog: (control, position) pairs, then OK.
    void SetParameters(const std::vector<std::pair<int, int>>& choices)
    {
        HWND dialog = Open(ids::cmdPara, VELLUMO_PARA_CLASS, L"MP3 WAV Parameters");
        ASSERT_NE(dialog, nullptr);
        for (const auto& [id, position] : choices) {
            gui::SelectCombo(gui::Control(dialog, id), position);
            gui::Settle(50);
        }
        ASSERT_TRUE(Close(dialog, gui::Control(dialog, ids::ParaOKButton)));
    }

    void OpenConvert(const std::wstring& folder) { ASSERT_NE(convert = gui::OpenConvert(program, folder), nullptr); }

    // Closes the window (Cancel, or the frame's close) and expects no question.
    void CloseConvert(bool withCancel = true)
    {
        EXPECT_TRUE(Close(convert, withCancel ? Conv(ids::cmdCancel) : nullptr));
        EXPECT_TRUE(program.NoMessageBoxWithin(300));
    }

    BatchRecord RunBatch(DWORD timeoutMs = 90000, const std::function<void(const std::wstring&)>& onFileText = {})
    {
        const BatchRecord record = gui::RunBatch(program, convert, timeoutMs, onFileText);
        if (!record.finished && IsWindow(convert))
            ADD_FAILURE() << "the batch did not end; the window shows: " << gui::DescribeConvertWindow(convert);
        return record;
    }

    HWND convert = nullptr;
};

}  // namespace

TEST_F(BatchTest, OpensReadyWithEveryOutputNameAndCancelClosesWithoutAQuestion)
{
    gui::FileSet one(gui::TempRoot() + L"\\vellumo names one", {L"song.rmvb", L"a.b.rm", L"track.audio", L".rm", L"same.ra"});
    gui::FileSet two(gui::TempRoot() + L"\\vellumo names two", {L"same.rm"});
    AddFiles(one.Folder(), {L"song.rmvb", L"a.b.rm", L"track.audio", L".rm", L"same.ra"});
    AddFiles(two.Folder(), {L"same.rm"});
    ASSERT_EQ(gui::ListItems(Ctl(ids::List1)).size(), 6u);

    // The folder as typed, trimmed; the base names with the format's ending.
    ASSERT_NO_FATAL_FAILURE(OpenConvert(L"  D:\\Out\\  "));
    EXPECT_EQ(gui::Text(convert), L"Convert RA re RE3");
    EXPECT_EQ(gui::ListItems(Conv(ids::ConvertList1)), (Texts{L"D:\\Out\\song.mp3", L"D:\\Out\\a.b.mp3",
                                                              L"D:\\Out\\track.audio.mp3", L"D:\\Out\\.rm.mp3",
                                                              L"D:\\Out\\same.mp3", L"D:\\Out\\same.mp3"}));
    // Ready: the load texts, both bars at 0%, Start enabled; the list out of sight.
    const std::pair<int, const wchar_t*> ready[] = {
        {ids::ConvertLabel1, L"Convert from:"}, {ids::ConvertLabel2, L"Convert to:"}, {ids::LabelTotal, L"Total Length:"},
        {ids::LabelCurrent, L"Current Pos:"},   {ids::LabelFile, L"Files Progress:"}, {ids::LabelPercent, L"0%"},
        {ids::LabelPercent2, L"0%"},            {ids::cmdStart, L"&Start"},          {ids::cmdCancel, L"&Cancel"}};
    for (const auto& [id, text] : ready) EXPECT_EQ(gui::Text(Conv(id)), text) << id;
    EXPECT_TRUE(IsWindowEnabled(Conv(ids::cmdStart)));
    EXPECT_LT(gui::RectInClient(Conv(ids::ConvertList1), convert).right, 0);
    CloseConvert();

    // WAV: the same names with ".wav", the folder without a trailing backslash.
    ChooseWav();
    ASSERT_NO_FATAL_FAILURE(OpenConvert(L"D:\\Out"));
    EXPECT_EQ(gui::Text(convert), L"Convert RM to WAV");
    const Texts outputs = gui::ListItems(Conv(ids::ConvertList1));
    ASSERT_EQ(outputs.size(), 6u);
    EXPECT_EQ(outputs[0], L"D:\\Out\\song.wav");
    EXPECT_EQ(outputs[2], L"D:\\Out\\track.audio.wav");
    CloseConvert(false);
}

TEST_F(BatchTest, ThreeFilesToMp3ThenToWavWithChosenParameters)
{
    const std::wstring mp3 = OutputFolder(L"mp3 run"), wav = OutputFolder(L"wav run");
    // 22,050 Hz mono at 56 kbit/s.
    ASSERT_NO_FATAL_FAILURE(SetParameters({{ids::cboMP3Frequency, 1}, {ids::cboMP3Channels, 0}, {ids::cboMP3Bitrates, 6}}));
    AddMedia(realmedia_test::MediaDir(), {L"sine440_144.ra", L"sine1000_ac3.rm", L"video_ac3.rmvb"});
    ASSERT_NO_FATAL_FAILURE(OpenConvert(mp3));
    BatchRecord r = RunBatch();
    ASSERT_TRUE(r.finished) << Describe(r.boxes);
    EXPECT_TRUE(r.Errors().empty()) << Describe(r.boxes);
    EXPECT_EQ(r.boxes.back().title, L"Vellumo");
    EXPECT_EQ(r.boxes.back().icon, BoxIcon::Information);
    EXPECT_TRUE(ShowedInOrder(r.fileTexts, {L"Files Progress:", L"Converted Files: 0/3", L"Converted Files: 1/3", L"Converted Files: 2/3"}));
    EXPECT_TRUE(ShowedInOrder(r.filesBar, {L"0%", L"33%", L"67%", L"100%"}));
    // The window stays as it ended, with the last file's names and its length, 4 s.
    EXPECT_TRUE(IsWindow(convert));
    EXPECT_FALSE(IsWindowEnabled(Conv(ids::cmdStart)));
    const std::pair<int, std::wstring> last[] = {
        {ids::LabelFile, L"Converted Files: 2/3"}, {ids::LabelPercent, L"100%"},
        {ids::ConvertLabel1, L"Convert from: " + program.Folder() + L"\\video_ac3.rmvb"},
        {ids::ConvertLabel2, L"Convert to: " + mp3 + L"\\video_ac3.mp3"},
        {ids::LabelTotal, L"Total Length: 4 [0:4]"}, {ids::LabelCurrent, L"Current Pos: 4 [0:4]"}};
    for (const auto& [id, text] : last) EXPECT_EQ(gui::Text(Conv(id)), text) << id;
    CloseConvert();
    ExpectOutputs(mp3, {{L"sine440_144.mp3", "mp3", 22050, 1, 0, 5.0, 440, 50, 62},
                        {L"sine1000_ac3.mp3", "mp3", 22050, 1, 0, 6.0, 1000, 50, 62},
                        {L"video_ac3.mp3", "mp3", 22050, 1, 0, 4.0, 440, 50, 62}});

    // 22,050 Hz, mono, 8 bits.
    ASSERT_NO_FATAL_FAILURE(SetParameters({{ids::cboWAVFrequency, 1}, {ids::cboWAVChannels, 0}, {ids::cboWAVBits, 0}}));
    ChooseWav();
    ASSERT_NO_FATAL_FAILURE(OpenConvert(wav + L"\\"));
    r = RunBatch();
    ASSERT_TRUE(r.finished) << Describe(r.boxes);
    EXPECT_TRUE(r.Errors().empty()) << Describe(r.boxes);
    EXPECT_TRUE(ShowedInOrder(r.filesBar, {L"0%", L"33%", L"67%", L"100%"}));
    CloseConvert();
    ExpectOutputs(wav, {{L"sine440_144.wav", "pcm_u8", 22050, 1, 8, 5.0, 440},
                        {L"sine1000_ac3.wav", "pcm_u8", 22050, 1, 8, 6.0, 1000},
                        {L"video_ac3.wav", "pcm_u8", 22050, 1, 8, 4.0, 440}});
}

TEST_F(BatchTest, BadSourcesAndOutputsAreReportedAndTheBatchGoesOn)
{
    const std::wstring out = OutputFolder(L"rejected"), missing = OutputFolder() + L"\\no such folder\\deeper";
    const wchar_t loadError[] = L"Error Loading RM File";
    const wchar_t formatError[] =
        L"File format error or lack Real Lib!\r\nPlease make sure that the RM file may be played well on your PC!\r\n"
        L"Or try to install RealOne Player on your PC!";
    ChooseWav();
    AddMedia(realmedia_test::MediaDir(), {L"sine440_144.ra", L"random.rm", L"sine440_144.rm"});
    // Nobody has to click: each failure is counted and the last one said in
    // the status line; the final box gives the counts and offers the report.
    const auto expectFailures = [&](const BatchRecord& r, int failed, const std::wstring& last) {
        ASSERT_TRUE(r.finished) << Describe(r.boxes);
        EXPECT_TRUE(r.Errors().empty()) << Describe(r.boxes);
        EXPECT_EQ(r.boxes.back().icon, BoxIcon::Information);
        EXPECT_NE(r.final.find(L"\r\nFailed: " + std::to_wstring(failed) + L"\r\n"), std::wstring::npos) << r.final;
        EXPECT_EQ(r.boxes.back().buttons, (Texts{L"&Yes", L"&No"})) << "the report is offered";
        EXPECT_EQ(r.status.rfind(L"Failed: " + std::to_wstring(failed) + L"  (last: " + last, 0), 0u) << r.status;
        EXPECT_TRUE(ShowedInOrder(r.filesBar, {L"0%", L"33%", L"67%", L"100%"}));
    };
    ASSERT_NO_FATAL_FAILURE(OpenConvert(missing));
    ASSERT_NO_FATAL_FAILURE(expectFailures(RunBatch(60000), 3, L"")) << "a missing output folder";
    EXPECT_FALSE(Exists(missing));
    CloseConvert();
    ASSERT_NO_FATAL_FAILURE(OpenConvert(out));
    ASSERT_NO_FATAL_FAILURE(expectFailures(RunBatch(), 1, vellumo::batch::ReplaceAll(formatError, L"\r\n", L" ")))
        << "a random file among good ones";
    EXPECT_FALSE(Exists(out + L"\\random.wav"));
    CloseConvert();
    // The report lies beside the outputs, a line for each source.
    const std::vector<std::string> reports = gui::TakeReports(out);
    ASSERT_EQ(reports.size(), 1u);
    const std::string source = testing_support::Narrow(program.Folder()) + "\\";
    EXPECT_NE(reports[0].find("\r\nfailed\t" + source + "random.rm\t\tFile format error or lack Real Lib! Please"),
              std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("\r\nconverted\t" + source + "sine440_144.ra\t" + testing_support::Narrow(out) +
                              "\\sine440_144.wav\t\r\n"), std::string::npos) << reports[0];
    ExpectOutputs(out, {{L"sine440_144.wav", "pcm_s16le", 44100, 2, 16, 5.0, 440}});

}

// MP3 at a variable bitrate between 80 and 96 kbit/s, as settings.ini holds it.
class BatchVbrTest : public BatchTest {
protected:
    BatchVbrTest() { program.WriteSettings("[MP3]\r\nVBR=1\r\nMP3_VBRMax=6\r\nMP3_VBRMin=5\r\n"); }
};

TEST_F(BatchVbrTest, VariableBitrateFromTheSettingsAndASourceNamedOutsideTheCodePage)
{
    // A sine stays at the lowest rate allowed, noise is held at the highest.
    const std::wstring out = OutputFolder(L"vbr"), name = L"\x97F3\x4E50 \x41C\x443\x437\x44B\x43A\x430 \xC7" L"a \xF1\xF6";
    ASSERT_TRUE(CopyFileW((realmedia_test::MediaDir() + L"\\sine1000_ac3.rm").c_str(),
                          (program.Folder() + L"\\" + name + L".rm").c_str(), FALSE));
    AddFiles(program.Folder(), {name + L".rm"});
    AddMedia(BatchMediaDir(), {L"noise_ac3.rm"});
    ASSERT_NO_FATAL_FAILURE(OpenConvert(out));
    const BatchRecord r = RunBatch();
    ASSERT_TRUE(r.finished) << Describe(r.boxes);
    EXPECT_TRUE(r.Errors().empty()) << Describe(r.boxes);
    CloseConvert();
    ExpectOutputs(out, {{name + L".mp3", "mp3", 44100, 2, 0, 6.0, 1000, 78, 86},
                        {L"noise_ac3.mp3", "mp3", 44100, 2, 0, 3.0, 0, 88, 98}});
}

// Seconds of audio a WAV file's header claims, or -1 when the header's sizes
// do not match the file.
double WavSeconds(const std::wstring& path)
{
    unsigned char h[44] = {};
    FILE* f = _wfopen(path.c_str(), L"rb");
    const bool read = f && std::fread(h, 1, sizeof h, f) == sizeof h;
    if (f) std::fclose(f);
    const auto le32 = [&](int at) { return h[at] | h[at + 1] << 8 | h[at + 2] << 16 | static_cast<unsigned>(h[at + 3]) << 24; };
    if (!read || le32(4) + 8u != SizeOf(path) || le32(40) + 44u > SizeOf(path) || !le32(28)) return -1;
    return static_cast<double>(le32(40)) / le32(28);
}

TEST_F(BatchTest, OutputsOfOneNameAndFilesLongerThanTheirHeadersStayWhole)
{
    // Two twenty-second sources of one name whose headers say one second,
    // while the progress timer ticks as fast as it can: each file ends only
    // at its own end, and the second gets a name of its own. The file that
    // was there before the batch is written over.
    const std::wstring out = OutputFolder(L"same name"), other = program.Folder() + L"\\other";
    CreateDirectoryW(other.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((BatchMediaDir() + L"\\understated.rm").c_str(), (other + L"\\tune.ra").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((BatchMediaDir() + L"\\understated.rm").c_str(), (out + L"\\tune.wav").c_str(), FALSE));
    DeleteFileW((out + L"\\tune (2).wav").c_str());
    ChooseWav();
    ASSERT_TRUE(CopyFileW((BatchMediaDir() + L"\\understated.rm").c_str(), (program.Folder() + L"\\tune.rm").c_str(), FALSE));
    AddFiles(program.Folder(), {L"tune.rm"});
    AddFiles(other, {L"tune.ra"});
    ASSERT_NO_FATAL_FAILURE(OpenConvert(out));
    std::atomic<bool> ticking{true};
    std::thread ticks([&] {
        while (ticking) {
            PostMessageW(convert, WM_TIMER, 1, 0);
            Sleep(2);
        }
    });
    const BatchRecord r = RunBatch();
    ticking = false;
    ticks.join();
    ASSERT_TRUE(r.finished) << Describe(r.boxes);
    EXPECT_TRUE(r.Errors().empty()) << Describe(r.boxes);
    EXPECT_EQ(gui::Text(Conv(ids::ConvertLabel2)), L"Convert to: " + out + L"\\tune (2).wav");
    CloseConvert();
    for (const wchar_t* name : {L"tune.wav", L"tune (2).wav"}) EXPECT_NEAR(WavSeconds(out + L"\\" + name), 20.0, 0.1) << name;
    ExpectOutputs(out, {{L"tune.wav", "pcm_s16le", 44100, 2, 16, 20.0, 440}, {L"tune (2).wav", "pcm_s16le", 44100, 2, 16, 20.0, 440}});
}

TEST_F(BatchTest, CancelDuringABatchAsksAndClosingTheFrameDoesNot)
{
    const std::wstring out = OutputFolder(L"cancel"), longOutput = out + L"\\hour_ac3.mp3";
    // The conversion writes under its temporary name until it is whole.
    const std::wstring writing = vellumo::PartialName(longOutput, program.ProcessId(), 1);
    AddMedia(BatchMediaDir(), {L"hour_ac3.rm"});
    AddMedia(realmedia_test::MediaDir(), {L"sine440_144.ra"});
    // MP3: an hour of source takes long enough to be still converting
    // when the window is closed (WAV can be done within a second or two).
    const auto startLong = [&] {
        ASSERT_NO_FATAL_FAILURE(OpenConvert(out));
        EXPECT_TRUE(IsWindowEnabled(Conv(ids::cmdStart)));
        gui::Click(Conv(ids::cmdStart));
        ASSERT_TRUE(gui::WaitFor([&] { return gui::Text(Conv(ids::LabelFile)) == L"Converted Files: 0/2"; }));
        gui::Settle(1500);
    };
    // After closing: nothing writes any more, nothing further converted, the part written is gone.
    const auto expectStopped = [&] {
        gui::Settle(1000);
        for (const std::wstring& name : {longOutput, writing, out + L"\\sine440_144.mp3"})
            EXPECT_FALSE(Exists(name)) << testing::PrintToString(name);
    };
    ASSERT_NO_FATAL_FAILURE(startLong());
    // No: nothing changes.
    gui::Click(Conv(ids::cmdCancel));
    MessageBoxInfo box;
    ASSERT_TRUE(program.WaitForMessageBox(&box));
    EXPECT_EQ(box.text, L"It is converting! Do you want to cancel and exit?");
    EXPECT_EQ(box.title, L"Vellumo");
    EXPECT_EQ(box.icon, BoxIcon::None);
    EXPECT_EQ(box.buttons, (Texts{L"&Yes", L"&No"}));
    gui::Program::Answer(box, IDNO);
    EXPECT_TRUE(IsWindow(convert));
    const LONGLONG before = SizeOf(writing);
    EXPECT_TRUE(gui::WaitFor([&] { return SizeOf(writing) > before; }, 30000)) << "the conversion goes on";
    EXPECT_FALSE(Exists(longOutput));
    // The progress timer shows the source's length and how far it has got.
    EXPECT_EQ(gui::Text(Conv(ids::LabelTotal)), L"Total Length: 3600 [60:0]");
    EXPECT_NE(gui::Text(Conv(ids::LabelCurrent)), L"Current Pos:");
    EXPECT_EQ(gui::Text(Conv(ids::LabelFile)), L"Converted Files: 0/2");
    EXPECT_TRUE(program.NoMessageBoxWithin(100));
    // Yes: stopped and closed without a further message.
    gui::Click(Conv(ids::cmdCancel));
    ASSERT_TRUE(program.WaitForMessageBox(&box));
    gui::Program::Answer(box, IDYES);
    EXPECT_TRUE(gui::WaitFor([&] { return !IsWindow(convert) && IsWindowEnabled(program.Main()); }));
    EXPECT_TRUE(program.NoMessageBoxWithin(500));
    expectStopped();

    // The window opens afresh, ready; closing its frame during a batch cancels without a question.
    ASSERT_NO_FATAL_FAILURE(startLong());
    CloseConvert(false);
    expectStopped();
    gui::Click(Ctl(ids::cmdExit));
    EXPECT_EQ(program.WaitForExit(10000), 0u);
}

// MP3 at 22,050 Hz, mono, 8 kbit/s: five seconds fit what the nearly full
// disk of mount_test_disks.sh has left, an hour does not. The file that fills
// the disk is an error and leaves nothing; the next file converts.
class BatchFullDiskTest : public BatchTest {
protected:
    BatchFullDiskTest() { program.WriteSettings("[MP3]\r\nMP3_Frequency=1\r\nMP3_Channels=3\r\nMP3_Bitrates=0\r\n"); }
};

TEST_F(BatchFullDiskTest, AFileThatFillsTheDiskIsAnErrorAndTheNextFileConverts)
{
    const std::wstring disk = BuildRoot() + L"\\test-disks\\full", hour = disk + L"\\hour_ac3.mp3";
    if (!Exists(disk + L"\\filler")) GTEST_SKIP() << "no nearly full disk mounted";
    AddMedia(BatchMediaDir(), {L"hour_ac3.rm"});
    AddMedia(realmedia_test::MediaDir(), {L"sine440_144.ra"});
    ASSERT_NO_FATAL_FAILURE(OpenConvert(disk));
    const BatchRecord r = RunBatch();
    CloseConvert();
    EXPECT_TRUE(r.Errors().empty()) << Describe(r.boxes);
    EXPECT_EQ(r.status, L"Failed: 1  (last: Runtime Exception\xFF01)");
    EXPECT_FALSE(Exists(hour) || Exists(vellumo::PartialName(hour, program.ProcessId(), 1)));
    EXPECT_GT(SizeOf(disk + L"\\sine440_144.mp3"), 2000);
    DeleteFileW((disk + L"\\sine440_144.mp3").c_str());
    gui::TakeReports(disk);
}

namespace {

// The report's lines by the source's file name: "result\toutput\tdetail".
std::map<std::wstring, std::wstring> ReportBySource(const std::string& report)
{
    std::map<std::wstring, std::wstring> lines;
    const std::wstring text = testing_support::Widen(report);
    for (std::size_t at = text.find(L"\r\n") + 2; at < text.size();) {
        const std::size_t end = text.find(L"\r\n", at);
        const std::wstring line = text.substr(at, end - at);
        at = end + 2;
        if (line.rfind(L"removed\t", 0) == 0) continue;  // a leftover, not a source
        const std::size_t tab = line.find(L'\t'), tab2 = line.find(L'\t', tab + 1);
        const std::wstring source = line.substr(tab + 1, tab2 - tab - 1);
        lines[source.substr(source.find_last_of(L'\\') + 1)] = line.substr(0, tab) + line.substr(tab2);
    }
    return lines;
}

}  // namespace

// Started with a folder on its command line, as "Send To" does.
class UnattendedBatchTest : public BatchTest {
protected:
    void SetUp() override {}
};

// An overnight batch: sixty sources of every kind run to the final box with
// no other click, the earlier file of a source that fails is kept, and a
// second run that skips what exists converts nothing; a third keeps both.
TEST_F(UnattendedBatchTest, SixtySourcesOfEveryKindRunToTheirEndWithoutAClick)
{
    const std::wstring from = BuildRoot() + L"\\test-media\\unattended\\sources";
    const std::wstring sources = gui::TempRoot() + L"\\unattended " + std::to_wstring(GetCurrentProcessId()) + L"\\Archive";
    const std::wstring out = OutputFolder(L"unattended"), mirrored = out + L"\\Archive\\";
    CreateDirectoryW(sources.substr(0, sources.rfind(L'\\')).c_str(), nullptr);
    CreateDirectoryW(sources.c_str(), nullptr);
    CreateDirectoryW(mirrored.c_str(), nullptr);
    Texts names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        names.push_back(found.cFileName);
        ASSERT_TRUE(CopyFileW((from + L"\\" + found.cFileName).c_str(), (sources + L"\\" + found.cFileName).c_str(), FALSE));
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    ASSERT_EQ(names.size(), 60u);
    // Earlier outputs, and what a run that was cut short left.
    const std::string earlier = "an earlier file";
    for (const wchar_t* name : {L"s01.wav", L"cook garbled.wav"})
        std::ofstream((mirrored + name).c_str(), std::ios::binary) << earlier;
    const std::wstring leftover = mirrored + L"s02.wav.vellumo-4000004.partial";
    std::ofstream(leftover.c_str(), std::ios::binary) << "half a file";

    ASSERT_TRUE(program.Start(L"", L"\"" + sources + L"\\\""));
    ASSERT_TRUE(gui::WaitFor([&] { return gui::Text(Ctl(ids::LFile)) == L"60  Files added"; }, 30000));
    ChooseWav();
    ASSERT_TRUE(DeleteFileW((sources + L"\\gone.rm").c_str()));
    const auto run = [&](int choice, double* seconds) {
        OpenConvert(out);
        // The choice of the batch before.
        EXPECT_EQ(SendMessageW(Conv(ids::cboExisting), CB_GETCURSEL, 0, 0), choice == 2 ? 1 : 0) << "the choice kept";
        gui::SelectCombo(Conv(ids::cboExisting), choice);
        const BatchRecord r = RunBatch(600000);
        *seconds = r.seconds;
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(gui::Text(Conv(ids::LabelTimeLeft)), L"Time left: 0:00:00");
        EXPECT_TRUE(r.Errors().empty()) << Describe(r.boxes);
        CloseConvert();
        const std::vector<std::string> reports = gui::TakeReports(out);
        EXPECT_EQ(reports.size(), 1u);
        return std::make_pair(r.final, reports.empty() ? std::map<std::wstring, std::wstring>() : ReportBySource(reports[0]));
    };

    double first = 0, second = 0, third = 0;
    const auto [text, report] = run(0, &first);
    EXPECT_EQ(text, L"Finished converting\r\n\r\nConverted: 53\r\nConverted with damage: 2\r\nSkipped: 0\r\nFailed: 5"
                    L"\r\nLeftover temporary files removed: 1\r\n\r\nOpen the report?");
    ASSERT_EQ(report.size(), 60u);
    for (const std::wstring& name : names) {
        const std::wstring& line = report.at(name);
        const std::wstring wav = mirrored + name.substr(0, name.rfind(L'.')) + L".wav";
        const bool fails = name == L"cook garbled.rm" || name == L"video only.rm" ||
                           name == L"empty.rm" || name == L"random.rm" || name == L"gone.rm";
        if (fails) {
            EXPECT_EQ(line.rfind(L"failed\t\t", 0), 0u) << testing::PrintToString(name + L": " + line);
            EXPECT_GT(line.size(), 10u) << "a reason";
        } else if (name == L"cook half garbled.rm" || name == L"cut short.rm") {
            // Garbled in its second half; cut short after 2 of the 257 s its header gives.
            EXPECT_EQ(line.rfind(L"damaged\t" + wav + L"\tdamaged: ", 0), 0u) << testing::PrintToString(line);
            EXPECT_NE(line.find(name == L"cut short.rm" ? L" of 257 s" : L" of 18 s"), std::wstring::npos)
                << testing::PrintToString(line);
        } else {
            EXPECT_EQ(line, L"converted\t" + wav + L"\t") << testing::PrintToString(name);
            EXPECT_GT(SizeOf(wav), 1000) << testing::PrintToString(wav);
        }
    }
    EXPECT_NE(testing_support::ReadText(mirrored + L"s01.wav"), earlier) << "replaced";
    EXPECT_EQ(testing_support::ReadText(mirrored + L"cook garbled.wav"), earlier) << "a source that fails keeps the earlier file";
    EXPECT_FALSE(Exists(leftover));

    // Skip: everything converted before is there (also the earlier file of
    // the source that fails), so nothing converts; the choice is kept for
    // the next batch.
    const auto skipped = run(1, &second);
    EXPECT_EQ(skipped.first.substr(0, skipped.first.find(L"\r\n\r\nOpen")),
              L"Finished converting\r\n\r\nConverted: 0\r\nConverted with damage: 0\r\nSkipped: 56\r\nFailed: 4");
    EXPECT_EQ(skipped.second.at(L"s01.ra"), L"skipped\t" + mirrored + L"s01.wav\tan output file of this name exists");
    EXPECT_NE(testing_support::ReadText(program.Folder() + L"\\settings.ini").find("[Batch]\r\nExistingFiles=skip"),
              std::string::npos);
    std::printf("unattended batch: %.1f s converting, %.1f s skipping\n", first, second);
    EXPECT_LT(second * 10, first) << "a resumed batch passes over what is done";

    // Keep both: a numbered name beside each earlier output.
    const auto both = run(2, &third);
    EXPECT_NE(both.first.find(L"Converted: 53\r\nConverted with damage: 2\r\nSkipped: 0\r\nFailed: 5"),
              std::wstring::npos) << testing::PrintToString(both.first);
    EXPECT_EQ(both.second.at(L"s01.ra"), L"converted\t" + mirrored + L"s01 (2).wav\t");
    EXPECT_EQ(testing_support::ReadText(mirrored + L"cook garbled.wav"), earlier);
    EXPECT_GT(SizeOf(mirrored + L"s50 (2).wav"), 1000);
}

// A batch of one file keeps its boxes: the failure in its own box, then the
// plain final message; no report.
TEST_F(BatchTest, ABatchOfOneFileSaysItsFailureInABox)
{
    const std::wstring out = OutputFolder(L"one");
    ChooseWav();
    AddMedia(realmedia_test::MediaDir(), {L"random.rm"});
    ASSERT_NO_FATAL_FAILURE(OpenConvert(out));
    const BatchRecord r = RunBatch();
    CloseConvert();
    ASSERT_EQ(r.boxes.size(), 2u) << Describe(r.boxes);
    EXPECT_EQ(r.boxes[0].title, L"Error Loading RM File");
    EXPECT_EQ(r.boxes[0].icon, BoxIcon::Stop);
    EXPECT_EQ(r.boxes[1].text, L"Finished converting");
    EXPECT_EQ(r.boxes[1].buttons, (Texts{L"OK"}));
    EXPECT_TRUE(gui::TakeReports(out).empty());
}
