// The batch itself: the files one after the other, what became of each,
// and the end of the batch.
#include "convert_window.h"

#include <shellapi.h>

#include <algorithm>

#include "batch_files.h"
#include "batch_text.h"
#include "common/control_ids.h"
#include "common/error_messages.h"
#include "main_window/main_window.h"
#include "output_folders.h"
#include "parameters/settings.h"
#include "partial_output.h"
#include "stay_awake.h"
#include "taskbar_progress.h"

namespace vellumo {

namespace {

constexpr wchar_t LoadErrorTitle[] = L"Error Loading RM File";
constexpr wchar_t ExistsReason[] = L"an output file of this name exists";
// How often a run of skipped files is shown (100 ns units of awake time).
constexpr ULONGLONG SkippedRedraw = 150ULL * 10000ULL;

}  // namespace

void ConvertWindow::StartClicked()
{
    if (inStart_ || !IsWindowEnabled(cmdStart_)) return;
    inStart_ = true;
    EnableWindow(cmdStart_, FALSE);
    EnableWindow(cboExisting_, FALSE);
    SetFocus(cmdCancel_);
    batchRunning_ = true;
    DoneIndex = -1;
    CurrentIndex = -1;
    const batch::ExistingFiles choice = ExistingChoice();
    // The choice is the user's from now on; a file that cannot take it
    // changes nothing for this batch.
    if (choice != choiceLoaded_) SaveSettingsValue(batch::ExistingSection, batch::ExistingKey, batch::ExistingFilesWord(choice));
    const std::vector<std::wstring> plannedOutputs = PlannedOutputs();
    const int n = static_cast<int>(plannedOutputs.size());
    files_ = n;
    single_ = n == 1;
    names_ = std::make_unique<batch::OutputNames>(choice, batch::UpperCase);
    // What an interrupted run left in the folders this one writes goes first.
    batch::RemoveLeftovers(batch::FoldersOf(plannedOutputs), &results_);
    SetText(labelStatus_, results_.StatusLine());
    batchStarted_ = AwakeTime();
    // The machine stays awake while files convert, not while the final box waits.
    auto awake = std::make_unique<StayAwake>();
    TaskbarProgress taskbar(frmMain_.Handle());
    ULONGLONG drawn = 0;  // when the window last showed a file
    for (int i = 0; i < n && !cancelled_; ++i) {
        const std::wstring source = frmMain_.SourceAt(i);
        const std::wstring& planned = plannedOutputs[static_cast<std::size_t>(i)];
        const std::wstring output = names_->OutputFor(planned, batch::PathTaken);
        // A resumed batch passes over thousands of files that are done: those
        // are shown a few times a second, not one by one, so that skipping
        // takes no longer than looking.
        const bool show = !output.empty() || i + 1 == n || AwakeTime() - drawn >= SkippedRedraw;
        if (show) {
            SetText(label1_, L"Convert from: " + source);
            SetText(label2_, L"Convert to: " + planned);
            SetText(labelFile_, batch::FilesProgressText(i, n));
            ui::WidenToText(labelFile_);
            ShowFilesPercent(static_cast<float>(batch::FilesPercent(i, n)));
            drawn = AwakeTime();
        } else {
            DoEvents();
        }
        if (cancelled_) break;
        DoneIndex = i - 1;
        CurrentIndex = i;
        if (show) taskbar.Show(i, n);
        batch::FileResult result = output.empty() ? SkippedFile(source, planned) : ConvertOne(source, output);
        if (cancelled_) break;
        if (result.outcome == batch::Outcome::Failed) taskbar.Failed();
        timeLeft_.FileEnded(result.outcome == batch::Outcome::Converted || result.outcome == batch::Outcome::Damaged
                                ? result.lengthSeconds
                                : 0);
        results_.Add(std::move(result));
        if (!show) continue;
        SetText(labelStatus_, results_.StatusLine());
        ShowFilesPercent(static_cast<float>(batch::FilesPercent(i + 1, n)));
        taskbar.Show(i + 1, n);
    }
    awake.reset();
    EndOfBatch();
    inStart_ = false;
    if (closeWanted_) Close();
    if (quitSeen_) PostQuitMessage(quitCode_);
}

std::vector<std::wstring> ConvertWindow::PlannedOutputs() const
{
    const LRESULT listed = SendMessageW(list1_, LB_GETCOUNT, 0, 0);
    std::vector<std::wstring> outputs(listed == LB_ERR ? 0 : static_cast<std::size_t>(listed));
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const LRESULT length = SendMessageW(list1_, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length == LB_ERR) continue;
        std::wstring& output = outputs[i];
        output.assign(static_cast<std::size_t>(length) + 1, L'\0');
        const LRESULT got =
            SendMessageW(list1_, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(output.data()));
        output.resize(got == LB_ERR ? 0 : static_cast<std::size_t>(got));
    }
    return outputs;
}

void ConvertWindow::EndOfBatch()
{
    if (cancelled_) {
        // What was not done is said in the report too, but nobody waits for a box.
        for (std::size_t i = results_.Files().size(); !single_ && i < static_cast<std::size_t>(files_); ++i)
            results_.Add({batch::Outcome::NotStarted, frmMain_.SourceAt(static_cast<int>(i)), L"", L"cancelled"});
        if (!single_) batch::WriteReport(frmMain_.OutputFolderText(), results_.Report());
        return;
    }
    batchRunning_ = false;
    SetText(labelTimeLeft_, batch::TimeLeftText(0));
    if (single_) {
        Message(L"Finished converting", MB_OK | MB_ICONINFORMATION, batch::ProgramTitle);
        return;
    }
    const std::wstring report = batch::WriteReport(frmMain_.OutputFolderText(), results_.Report());
    const std::wstring text = results_.FinalMessage(!report.empty());
    if (report.empty()) {
        Message(text + L"\r\n\r\nThe report could not be written.", MB_OK | MB_ICONINFORMATION, batch::ProgramTitle);
        return;
    }
    if (MessageBoxW(window_, text.c_str(), batch::ProgramTitle, MB_YESNO | MB_ICONINFORMATION) == IDYES)
        ShellExecuteW(window_, L"open", report.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

batch::FileResult ConvertWindow::SkippedFile(const std::wstring& source, const std::wstring& planned)
{
    DoneIndex = CurrentIndex;
    return {batch::Outcome::Skipped, source, planned, ExistsReason};
}

batch::FileResult ConvertWindow::ConvertOne(const std::wstring& source, const std::wstring& output)
{
    batch::FileResult result{batch::Outcome::Failed, source, L"", L""};
    fileFailed_ = false;
    failure_.clear();
    SetText(label2_, L"Convert to: " + output);
    // The converter writes under a temporary name; the output takes its
    // final name only once the converter has finished it. A file that fails,
    // stalls or is cancelled leaves the folder as it was.
    if (!TargetReady(output)) {
        result.reason = failure_;
        DoneIndex = CurrentIndex;
        return result;
    }
    PartialOutput partial(output);
    if (!batch::FitsPathLimit(partial.TempPath())) {
        // The converter is handed the temporary name, which is longer.
        FileFailed(L"The output path is too long!\r\n" + output, ErrorTitle);
        result.reason = failure_;
        DoneIndex = CurrentIndex;
        return result;
    }
    writing_ = partial.TempPath();
    StartFile(source, partial.TempPath());
    WaitForCurrentFile();
    writing_.clear();
    if (stopAfterError_) {
        stopAfterError_ = false;
        Atlqzt.Converter().Call(DispStop);
    }
    if (cancelled_) {
        result.outcome = batch::Outcome::NotStarted;
        result.reason = L"cancelled";
        return result;
    }
    if (fileFailed_) {
        result.reason = failure_;
        return result;
    }
    LONG length = 0;
    LONG written = 0;
    LONG damaged = 0;
    Atlqzt.Converter().GetLong(DispTotalLength, &length);
    Atlqzt.Converter().GetLong(DispCurrentLength, &written);
    DamagedSecondsOfRun(&damaged);
    // A source cut short (a download that broke off) ends long before the
    // length its header gives: what is missing counts as damaged. Headers
    // are not exact, so a few seconds or a twentieth of the length is not;
    // a converter that tells no position at all says nothing of it.
    const LONG missing = length - written;
    if (written > 0 && missing > 2 && missing > length / 20) damaged = std::max(damaged, missing);
    DWORD error = ERROR_SUCCESS;
    if (!partial.Keep(&error)) {
        // The file is whole but cannot take its name (a file of that name held
        // open or read-only): reported, and the earlier file stays.
        FileFailed(FailureMessageFor(static_cast<LONG>(error)), ErrorTitle);
        result.reason = failure_;
        return result;
    }
    names_->Written(output);
    result.outcome = damaged > 0 ? batch::Outcome::Damaged : batch::Outcome::Converted;
    result.output = output;
    result.damagedSeconds = damaged;
    result.lengthSeconds = length;
    return result;
}

void ConvertWindow::StartFile(const std::wstring& source, const std::wstring& output)
{
    const HalvexDispatch& converter = Atlqzt.Converter();
    if (!converter.IsValid()) {
        // Without its converter (corvane.dll missing) no file can complete.
        OnError(80000);
        return;
    }
    LONG result = 0;
    converter.GetLongWithString(DispLoadFile, source, &result);
    converter.PutString(DispSaveFile, output);
    if (result == 1 || result == 2 || result == 3) {
        const wchar_t* text = result == 1   ? L"File open failed!"
                              : result == 2 ? L"Real Decode Exception!"
                                            : L"File format error or lack Real Lib!\r\n"
                                              L"Please make sure that the RM file may be played well on your PC!\r\n"
                                              L"Or try to install RealOne Player on your PC!";
        FileFailed(text, LoadErrorTitle);
        DoneIndex = CurrentIndex;
        return;
    }
    // An error reported on the way counts the file as done: nothing more is
    // started for it.
    if (CurrentFileDone() || cancelled_) return;
    converter.PutShort(DispFormat, ToMP3 ? 1 : 0);
    lastPosition_ = -1;
    lastBytes_ = 0;
    positionSince_ = AwakeTime();
    SetTimer1(true);
    converter.Call(DispConvert);
    if (CurrentFileDone() || cancelled_) return;
    converter.Call(DispPlay);
}

bool ConvertWindow::TargetReady(const std::wstring& output)
{
    // A path the converter cannot take is never cut to one it can.
    if (!batch::FitsPathLimit(output)) {
        FileFailed(L"The output path is too long!\r\n" + output, ErrorTitle);
        return false;
    }
    // The folders of a dropped folder's files are made as they are written.
    std::wstring folder;
    const DWORD error = batch::CreateFoldersFor(frmMain_.OutputFolderText(), output, &folder);
    if (error == 0) return true;
    wchar_t* reason = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, 0, reinterpret_cast<wchar_t*>(&reason), 0, nullptr);
    std::wstring text = L"Cannot create the folder!\r\n" + folder + L"\r\n" + (reason ? reason : L"");
    if (reason) LocalFree(reason);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    FileFailed(text, ErrorTitle);
    return false;
}

void ConvertWindow::WaitForCurrentFile()
{
    while (!CurrentFileDone() && !cancelled_) {
        DoEvents();
        if (CurrentFileDone() || cancelled_) break;
        // Sleep until the next message of any kind; every way a file ends
        // (completion, error, Stop, Cancel, closing) arrives as one.
        MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void ConvertWindow::DamagedSecondsOfRun(LONG* seconds)
{
    // A converter that does not measure damage does not know the member.
    if (FAILED(Atlqzt.Converter().GetLong(DispDamagedSeconds, seconds)) || *seconds < 0) *seconds = 0;
}

void ConvertWindow::FileFailed(const std::wstring& reason, const wchar_t* boxTitle)
{
    fileFailed_ = true;
    failure_ = reason;
    // A batch of many files goes on at once: the failure is in the status
    // line, the counts and the report, and nobody has to click.
    if (single_ && boxTitle) Message(reason, MB_OK | MB_ICONSTOP, boxTitle);
}

}  // namespace vellumo
