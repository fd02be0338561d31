// frmConvert: the batch conversion window, opened modally by the main window.
// It converts every file of the main window's list, one after the other,
// with its own converter control, and shows the progress per file and over
// the whole batch.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "batch_plan.h"
#include "common/halvex_host.h"
#include "common/ui_kit.h"
#include "percent_bar.h"

namespace vellumo {

class MainWindow;

class ConvertWindow final : public HalvexEvents {
public:
    // Shows the window over the main window and returns when it closes.
    static void ShowModal(MainWindow& frmMain);

    // _IAtlHalvexEvents
    void OnStopped() override;
    void OnFinished() override;
    void OnError(LONG errCode) override;

    // Time without any progress (no new position, no byte more in the
    // output) after which a conversion is stopped as a failure, wherever it
    // stands and whatever its length reads; 100 ns units of the time the
    // machine was awake. Tests shorten it.
    static ULONGLONG noProgressLimit;

private:
    // Time at 100 % without any progress after which a conversion that does
    // not end by itself is stopped as a failure (a few ticks), in 100 ns
    // units of the time the machine was awake.
    static constexpr ULONGLONG StalledLimit = 3000ULL * 10000ULL;

    explicit ConvertWindow(MainWindow& frmMain) : frmMain_(frmMain) {}
    ConvertWindow(const ConvertWindow&) = delete;
    ConvertWindow& operator=(const ConvertWindow&) = delete;

    bool Create();
    void CreateControls();
    void FormLoad();
    void FillOutputList();
    void CopyParameters();

    void CreateBatchControls(HFONT font);
    void FillExistingChoice();
    batch::ExistingFiles ExistingChoice() const;

    void StartClicked();
    std::vector<std::wstring> PlannedOutputs() const;
    void EndOfBatch();
    // What became of the source: converted (its output has its final name),
    // failed or cut short by Cancel.
    batch::FileResult ConvertOne(const std::wstring& source, const std::wstring& output);
    // A source passed over: a file of its output's name is there.
    batch::FileResult SkippedFile(const std::wstring& source, const std::wstring& planned);
    void StartFile(const std::wstring& source, const std::wstring& output);
    // Makes the folders the output goes into; false, after saying why, when it cannot be written.
    bool TargetReady(const std::wstring& output);
    void WaitForCurrentFile();
    // The current file has failed for the reason given; a batch of one file
    // shows it in a box with the title given (none without a title).
    void EndFileAsFailure(const std::wstring& reason, const wchar_t* boxTitle);
    void FileFailed(const std::wstring& reason, const wchar_t* boxTitle);
    // Seconds of the last run's audio that could not be decoded (0 from a
    // converter that does not measure it).
    void DamagedSecondsOfRun(LONG* seconds);
    void TimerTick();
    void UpdateLengthLabels(LONG total, LONG current);
    void UpdateTimeLeft(LONG total, LONG current);
    void ShowFilePercent(float p);
    void CompleteFile();
    void ShowFilesPercent(float p);
    void CancelClicked();
    void CloseByFrame();
    void EndBatchAndClose();
    void Close();

    bool BatchRunning() const { return batchRunning_; }
    bool CurrentFileDone() const { return DoneIndex == CurrentIndex; }
    void SetTimer1(bool enabled);
    void SetText(HWND control, const std::wstring& text);
    void Message(const std::wstring& text, UINT flags, const wchar_t* title);

    // Runs the window messages waiting now (one pass).
    void DoEvents();
    void DispatchOne(MSG& message);

    template <class T, HWND T::*WindowMember>
    friend LRESULT CALLBACK ui::FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    MainWindow& frmMain_;
    HWND window_ = nullptr;
    HWND label1_ = nullptr, label2_ = nullptr, labelTotal_ = nullptr, labelCurrent_ = nullptr;
    HWND labelFile_ = nullptr;
    PercentBar filePercent_, filesPercent_;
    HWND cmdStart_ = nullptr, cmdCancel_ = nullptr, list1_ = nullptr;
    HWND labelTimeLeft_ = nullptr, labelExisting_ = nullptr, cboExisting_ = nullptr, labelStatus_ = nullptr;
    ui::Font font_;
    ui::BrushCache brushes_;
    HalvexHost Atlqzt;

    bool ToMP3 = true;
    // Indices of any list the list box holds; whether a batch runs is a flag
    // of its own, not a value the indices could reach.
    bool batchRunning_ = false;
    int DoneIndex = -1;
    int CurrentIndex = -1;

    bool timerOn_ = false;
    LONG lastPosition_ = -1;        // the position the last tick saw
    ULONGLONG lastBytes_ = 0;       // the size of the output the last tick saw
    ULONGLONG positionSince_ = 0;   // when either last changed (awake time)
    std::wstring writing_;          // the output being written (its temporary name)
    bool fileFailed_ = false;       // the current file ended without a whole output
    std::wstring failure_;          // why it failed
    bool single_ = false;           // a batch of one file: its failures are said in boxes
    int files_ = 0;                 // files of the batch
    batch::ExistingFiles choiceLoaded_ = batch::ExistingFiles::Replace;
    std::unique_ptr<batch::OutputNames> names_;  // the running batch's output names
    batch::BatchResults results_;
    batch::TimeLeft timeLeft_;
    ULONGLONG batchStarted_ = 0;
    DISPID damagedId_ = DISPID_UNKNOWN;  // the converter's DamagedSeconds, once looked up    // awake time when the batch started
    bool inStart_ = false;     // the Start handler (and its loop) is running
    bool cancelled_ = false;   // the batch ends: no further file is started
    bool closeWanted_ = false; // the window closes once the Start handler returns
    bool stopAfterError_ = false; // the current file ended with an error
    bool quitSeen_ = false;    // a WM_QUIT was taken from the queue by a nested pump
    int quitCode_ = 0;
};

}  // namespace vellumo
