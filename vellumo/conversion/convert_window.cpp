// The batch window itself: its controls, the timer, the converter's events,
// Cancel and the message pump.
#include "convert_window.h"

#include "batch_text.h"
#include "common/control_ids.h"
#include "common/error_messages.h"
#include "main_window/main_window.h"
#include "parameters/settings.h"
#include "stay_awake.h"

namespace vellumo {

namespace {

constexpr UINT_PTR Timer1 = 1;
constexpr UINT Timer1Interval = 1000;
// The batch's own rows (the choice for existing files, the status line) below the buttons.
constexpr int ClientHeight = 3015 + 690;
// The choices in the order of batch::ExistingFiles.
constexpr const wchar_t* ExistingChoices[] = {L"Replace it", L"Skip the source", L"Keep both (numbered name)"};
// The filled part of a bar.
constexpr COLORREF BarColour = RGB(0, 0, 128);
constexpr COLORREF BarTextColour = RGB(255, 255, 255);

// The size of a file (0 while it is not there).
ULONGLONG SizeOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

ULONGLONG ConvertWindow::noProgressLimit = 60ULL * 1000ULL * 10000ULL;

void ConvertWindow::ShowModal(MainWindow& frmMain)
{
    ConvertWindow frmConvert(frmMain);
    if (!frmConvert.Create()) return;
    ui::CentreWindow(frmConvert.window_, frmMain.Handle());
    ui::RunModal(frmConvert.window_, frmMain.Handle());
}

bool ConvertWindow::Create()
{
    // Already registered on a second opening.
    ui::RegisterWindowClass(VELLUMO_CONVERT_CLASS, ui::FormProc<ConvertWindow, &ConvertWindow::window_>, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    const SIZE size = ui::WindowSizeForClient(6645, ClientHeight, ui::ModalStyle, ui::ModalExStyle);
    window_ = CreateWindowExW(ui::ModalExStyle, VELLUMO_CONVERT_CLASS, L"", ui::ModalStyle, 0, 0, size.cx, size.cy,
                              frmMain_.Handle(), nullptr, GetModuleHandleW(nullptr), this);
    if (!window_) return false;
    FormLoad();
    return true;
}

void ConvertWindow::CreateControls()
{
    using ui::CreateChild;
    font_ = ui::MakeDefaultFont();
    HFONT font = font_.Get();
    const DWORD label = SS_LEFT | SS_NOPREFIX;
    label1_ = CreateChild(window_, L"Static", L"", label | SS_PATHELLIPSIS, {240, 240, 6135, 255},
                          ids::ConvertLabel1, font);
    label2_ = CreateChild(window_, L"Static", L"", label | SS_PATHELLIPSIS, {240, 600, 6135, 255},
                          ids::ConvertLabel2, font);
    labelTotal_ = CreateChild(window_, L"Static", L"Total Length:", label, {240, 960, 945, 195}, ids::LabelTotal, font);
    labelCurrent_ =
        CreateChild(window_, L"Static", L"Current Pos:", label, {240, 1320, 870, 195}, ids::LabelCurrent, font);
    filePercent_.Create(window_, 1320, ids::picPercent, ids::LabelPercent, font);
    labelFile_ =
        CreateChild(window_, L"Static", L"Files Progress:", label, {240, 1680, 1020, 195}, ids::LabelFile, font);
    filesPercent_.Create(window_, 1680, ids::picPercent2, ids::LabelPercent2, font);
    cmdStart_ = CreateChild(window_, L"Button", L"&Start", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP,
                            {240, 2280, 1455, 375}, ids::cmdStart, font);
    cmdCancel_ = CreateChild(window_, L"Button", L"&Cancel", BS_PUSHBUTTON | WS_TABSTOP, {4920, 2280, 1455, 375},
                             ids::cmdCancel, font);
    // The output list and the converter are never seen: they sit outside the
    // client area.
    list1_ = CreateChild(window_, L"ListBox", L"", LBS_NOINTEGRALHEIGHT | WS_BORDER, {-7000, -3000, 6135, 1000},
                         ids::ConvertList1, font);
    const RECT outside = {-ui::TwipsToPixelsX(1200), -ui::TwipsToPixelsY(1200), -ui::TwipsToPixelsX(720),
                          -ui::TwipsToPixelsY(720)};
    Atlqzt.Create(window_, outside, ids::ConvertAtlqzt, this);
    CreateBatchControls(font);
}

void ConvertWindow::CreateBatchControls(HFONT font)
{
    using ui::CreateChild;
    labelTimeLeft_ = CreateChild(window_, L"Static", L"Time left:", SS_RIGHT | SS_NOPREFIX, {2160, 960, 4215, 195},
                                 ids::LabelTimeLeft, font);
    labelExisting_ = CreateChild(window_, L"Static", L"If an output file exists:", SS_LEFT | SS_NOPREFIX,
                                 {240, 2865, 1935, 195}, ids::LabelExisting, font);
    cboExisting_ = CreateChild(window_, L"ComboBox", L"", CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL,
                               {2160, 2820, 4215, 1500}, ids::cboExisting, font);
    labelStatus_ = CreateChild(window_, L"Static", L"", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS,
                               {240, 3300, 6135, 255}, ids::LabelStatus, font);
}

void ConvertWindow::FillExistingChoice()
{
    for (const wchar_t* choice : ExistingChoices)
        SendMessageW(cboExisting_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice));
    choiceLoaded_ = batch::ExistingFilesOfWord(ReadSettingsValue(batch::ExistingSection, batch::ExistingKey));
    SendMessageW(cboExisting_, CB_SETCURSEL, static_cast<WPARAM>(choiceLoaded_), 0);
}

batch::ExistingFiles ConvertWindow::ExistingChoice() const
{
    const LRESULT at = SendMessageW(cboExisting_, CB_GETCURSEL, 0, 0);
    return at == 1 ? batch::ExistingFiles::Skip : at == 2 ? batch::ExistingFiles::KeepBoth : batch::ExistingFiles::Replace;
}

void ConvertWindow::FormLoad()
{
    batchRunning_ = false;
    ShowFilePercent(0);
    ShowFilesPercent(0);
    SetText(label1_, L"Convert from:");
    SetText(label2_, L"Convert to:");
    ToMP3 = frmMain_.IsMp3Selected();
    SetWindowTextW(window_, ToMP3 ? L"Convert RA re RE3" : L"Convert RM to WAV");
    FillOutputList();
    CopyParameters();
    FillExistingChoice();
}

void ConvertWindow::FillOutputList()
{
    const std::wstring folder = frmMain_.OutputFolderText();
    const int count = frmMain_.SourceCount();
    // Thousands of entries: the list is not redrawn for each.
    SendMessageW(list1_, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < count; ++i) {
        const std::wstring output =
            batch::MirroredOutputPath(frmMain_.SourceAt(i), frmMain_.SourceOriginAt(i), folder, ToMP3);
        SendMessageW(list1_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(output.c_str()));
    }
    SendMessageW(list1_, WM_SETREDRAW, TRUE, 0);
}

void ConvertWindow::CopyParameters()
{
    const HalvexDispatch& store = frmMain_.Converter();
    const HalvexDispatch& mine = Atlqzt.Converter();
    if (!store.IsValid() || !mine.IsValid()) return;
    for (DISPID id : {DispMP3Frequency, DispMP3Channels, DispMP3Bitrate, DispMP3VBRMinBitrate, DispMP3VBRMaxBitrate,
                      DispWAVFrequency, DispWAVChannels, DispWAVBits}) {
        LONG value = 0;
        if (SUCCEEDED(store.GetLong(id, &value))) mine.PutShort(id, static_cast<SHORT>(value));
    }
    LONG vbr = 0;
    if (SUCCEEDED(store.GetLong(DispMP3VBR, &vbr))) mine.PutLong(DispMP3VBR, vbr);
}

void ConvertWindow::TimerTick()
{
    if (!timerOn_) return;
    const HalvexDispatch& converter = Atlqzt.Converter();
    LONG total = 0;
    LONG current = 0;
    converter.GetLong(DispTotalLength, &total);
    converter.GetLong(DispCurrentLength, &current);
    UpdateLengthLabels(total, current);
    UpdateTimeLeft(total, current);
    float p = 0;
    if (total != 0) {
        p = batch::FilePercent(current, total);
        ShowFilePercent(p);
        if (p < 0) SetTimer1(false);
    }
    // Progress is a new position or more bytes in the output.
    const ULONGLONG bytes = SizeOf(writing_);
    if (current != lastPosition_ || bytes != lastBytes_) {
        lastPosition_ = current;
        lastBytes_ = bytes;
        positionSince_ = AwakeTime();
        return;
    }
    if (!BatchRunning() || CurrentFileDone()) return;
    // The lengths are whole seconds and a header may understate the length:
    // reaching it does not end the file. The converter's own end
    // (onFinished) does; only a conversion that no longer advances is
    // stopped here, at its end after a few ticks, anywhere else (a graph that
    // stopped delivering, a length that reads 0) after a longer while, so
    // that a source that never completes cannot hold the batch; its output
    // lacks its end, so the file has failed.
    const ULONGLONG still = AwakeTime() - positionSince_;
    if ((total != 0 && p >= 100 && still >= StalledLimit) || still >= noProgressLimit) {
        SetTimer1(false);
        Atlqzt.Converter().Call(DispStop);
        EndFileAsFailure(batch::NotFinishedMessage, ErrorTitle);
    }
}

void ConvertWindow::UpdateLengthLabels(LONG total, LONG current)
{
    SetText(labelTotal_, batch::TotalLengthText(total));
    SetText(labelCurrent_, batch::CurrentPosText(current));
    ui::WidenToText(labelTotal_);
    ui::WidenToText(labelCurrent_);
}

void ConvertWindow::UpdateTimeLeft(LONG total, LONG current)
{
    if (!BatchRunning() || CurrentIndex < 0) return;
    const double elapsed = static_cast<double>(AwakeTime() - batchStarted_) / 1e7;
    const std::size_t after = files_ > CurrentIndex ? static_cast<std::size_t>(files_ - CurrentIndex - 1) : 0;
    SetText(labelTimeLeft_, batch::TimeLeftText(timeLeft_.Estimate(elapsed, current, total, after)));
}

void ConvertWindow::ShowFilePercent(float p)
{
    filePercent_.Draw(p);
    DoEvents();
}

void ConvertWindow::CompleteFile()
{
    Atlqzt.Converter().Call(DispStop);
    if (BatchRunning()) DoneIndex = CurrentIndex;
    DoEvents();
}

void ConvertWindow::ShowFilesPercent(float p)
{
    filesPercent_.Draw(p);
    DoEvents();
}

void ConvertWindow::OnStopped() { SetTimer1(false); }

void ConvertWindow::OnFinished()
{
    // A file that has already failed stays failed; the timer stops first, so
    // that no tick pumped below takes the finishing file for a stalled one.
    const bool pending = BatchRunning() && !CurrentFileDone();
    SetTimer1(false);
    if (!pending) return;
    // The lengths as the converter has them at the end, so that the labels
    // show them even when no tick came during a short file.
    LONG total = 0;
    LONG current = 0;
    Atlqzt.Converter().GetLong(DispTotalLength, &total);
    Atlqzt.Converter().GetLong(DispCurrentLength, &current);
    UpdateLengthLabels(total, current);
    ShowFilePercent(100);
    CompleteFile();
    SetTimer1(false);
    SetText(labelCurrent_, batch::ReplaceAll(ui::WindowText(labelTotal_), L"Total Length: ", L"Current Pos: "));
    ui::WidenToText(labelCurrent_);
}

void ConvertWindow::OnError(LONG errCode)
{
    // Only the file being converted is reported, once: the first error ends it.
    if (!BatchRunning() || CurrentFileDone()) return;
    std::wstring message;
    const ErrorReaction reaction = ErrorMessageFor(errCode, &message);
    if (reaction == ErrorReaction::Ignore) return;
    // The converter may be in the middle of a member call: it is stopped
    // once the batch loop has this file back. A code the table keeps silent
    // shows no box, but the report still needs a reason.
    stopAfterError_ = true;
    if (reaction == ErrorReaction::ShowMessage) EndFileAsFailure(message, ErrorTitle);
    else EndFileAsFailure(FailureMessageFor(errCode), nullptr);
}

void ConvertWindow::EndFileAsFailure(const std::wstring& reason, const wchar_t* boxTitle)
{
    DoneIndex = CurrentIndex;
    SetTimer1(false);
    FileFailed(reason, boxTitle);
}

void ConvertWindow::CancelClicked()
{
    if (!BatchRunning()) {
        Close();
        return;
    }
    const int answer = MessageBoxW(window_, L"It is converting! Do you want to cancel and exit?", batch::ProgramTitle,
                                   MB_YESNO);
    if (answer != IDYES) return;
    EndBatchAndClose();
}

void ConvertWindow::CloseByFrame()
{
    if (!BatchRunning()) {
        Close();
        return;
    }
    EndBatchAndClose();
}

void ConvertWindow::EndBatchAndClose()
{
    if (!cancelled_) {
        cancelled_ = true;
        SetTimer1(false);
        Atlqzt.Converter().Call(DispStop);
    }
    Close();
}

void ConvertWindow::Close()
{
    // The Start handler is still below us on the stack: it closes the window
    // once its loop has ended.
    if (inStart_) {
        closeWanted_ = true;
        return;
    }
    if (window_ && IsWindow(window_)) ui::CloseModal(window_);
}

void ConvertWindow::SetTimer1(bool enabled)
{
    if (!window_) return;
    if (enabled) {
        ::SetTimer(window_, Timer1, Timer1Interval, nullptr);
    } else if (timerOn_) {
        KillTimer(window_, Timer1);
    }
    timerOn_ = enabled;
}

void ConvertWindow::SetText(HWND control, const std::wstring& text)
{
    // An unchanged text is not set (and drawn) again.
    if (ui::WindowText(control) != text) SetWindowTextW(control, text.c_str());
}

void ConvertWindow::Message(const std::wstring& text, UINT flags, const wchar_t* title)
{
    MessageBoxW(window_, text.c_str(), title, flags);
}

void ConvertWindow::DoEvents()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The program is ending: the batch ends with it, and the quit
            // goes on to the modal loop once the Start handler returns.
            quitSeen_ = true;
            quitCode_ = static_cast<int>(message.wParam);
            closeWanted_ = true;
            if (BatchRunning() && !cancelled_) {
                cancelled_ = true;
                SetTimer1(false);
                Atlqzt.Converter().Call(DispStop);
            }
            if (!inStart_) PostQuitMessage(quitCode_);
            return;
        }
        DispatchOne(message);
    }
}

void ConvertWindow::DispatchOne(MSG& message)
{
    if (window_ && IsWindow(window_) && IsDialogMessageW(window_, &message)) return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

LRESULT ConvertWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        CreateControls();
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED || lParam == 0) {
            switch (LOWORD(wParam)) {
            case ids::cmdStart:
                StartClicked();
                return 0;
            case ids::cmdCancel:
            case IDCANCEL:  // Escape
                CancelClicked();
                return 0;
            default:
                break;
            }
        }
        return 0;
    case WM_TIMER:
        if (wParam == Timer1) TimerTick();
        return 0;
    case WM_CTLCOLORSTATIC: {
        HWND control = reinterpret_cast<HWND>(lParam);
        HDC dc = reinterpret_cast<HDC>(wParam);
        if (filePercent_.IsFill(control) || filesPercent_.IsFill(control)) {
            SetTextColor(dc, BarTextColour);
            SetBkColor(dc, BarColour);
            return reinterpret_cast<LRESULT>(brushes_.Get(BarColour));
        }
        break;
    }
    case WM_CLOSE:
        CloseByFrame();
        return 0;
    case WM_DESTROY:
        if (timerOn_) KillTimer(window_, Timer1);
        timerOn_ = false;
        Atlqzt.Destroy();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace vellumo
