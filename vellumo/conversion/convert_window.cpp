#include "convert_window.h"

#include <memory>

#include "batch_text.h"
#include "common/control_ids.h"
#include "output_folders.h"
#include "common/error_messages.h"
#include "main_window/main_window.h"
#include "partial_output.h"
#include "stay_awake.h"
#include "taskbar_progress.h"

namespace vellumo {

namespace {

constexpr UINT_PTR Timer1 = 1;
constexpr UINT Timer1Interval = 1000;
constexpr wchar_t TrackClass[] = L"VellumoPercentTrack";
constexpr wchar_t ProgramTitle[] = L"Vellumo";
constexpr wchar_t LoadErrorTitle[] = L"Error Loading RM File";
// The filled part of a bar.
constexpr COLORREF BarColour = RGB(0, 0, 128);
constexpr COLORREF BarTextColour = RGB(255, 255, 255);
constexpr COLORREF TrackColour = RGB(255, 255, 255);

// Time the machine has been awake (100 ns units): a sleep in the middle of a
// conversion does not count as time the conversion stood still.
ULONGLONG AwakeTime()
{
    ULONGLONG time = 0;
    QueryUnbiasedInterruptTime(&time);
    return time;
}

// The track of a bar: a sunken white box whose filled part is a label inside
// it. The label's colour requests go on to the window that owns the track.
LRESULT CALLBACK TrackProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CTLCOLORSTATIC:
        return SendMessageW(GetParent(window), message, wParam, lParam);
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(window, &client);
        HBRUSH brush = CreateSolidBrush(TrackColour);
        FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
        DeleteObject(brush);
        return 1;
    }
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// A percent bar at the given top (twips): its track and, inside it, the
// label that is its filled part.
void CreateBar(HWND parent, int top, int trackId, int fillId, HFONT font, HWND& track, HWND& fill)
{
    track = ui::CreateChild(parent, TrackClass, L"", WS_CLIPCHILDREN, {2160, top, 4215, 285}, trackId, font,
                            WS_EX_CLIENTEDGE);
    fill = ui::CreateChild(track, L"Static", L"0%", SS_CENTER | SS_NOPREFIX | SS_CENTERIMAGE, {0, 0, 855, 285},
                           fillId, font);
}

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
    ui::RegisterWindowClass(TrackClass, TrackProc);
    const SIZE size = ui::WindowSizeForClient(6645, 3015, ui::ModalStyle, ui::ModalExStyle);
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
    CreateBar(window_, 1320, ids::picPercent, ids::LabelPercent, font, picPercent_, labelPercent_);
    labelFile_ =
        CreateChild(window_, L"Static", L"Files Progress:", label, {240, 1680, 1020, 195}, ids::LabelFile, font);
    CreateBar(window_, 1680, ids::picPercent2, ids::LabelPercent2, font, picPercent2_, labelPercent2_);
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

void ConvertWindow::StartClicked()
{
    if (inStart_ || !IsWindowEnabled(cmdStart_)) return;
    inStart_ = true;
    EnableWindow(cmdStart_, FALSE);
    SetFocus(cmdCancel_);
    batchRunning_ = true;
    DoneIndex = -1;
    CurrentIndex = -1;
    const LRESULT listed = SendMessageW(list1_, LB_GETCOUNT, 0, 0);
    const int n = listed == LB_ERR ? 0 : static_cast<int>(listed);
    // The machine stays awake while files convert, not while the final box waits.
    auto awake = std::make_unique<StayAwake>();
    TaskbarProgress taskbar(frmMain_.Handle());
    for (int i = 0; i < n && !cancelled_; ++i) {
        const std::wstring source = frmMain_.SourceAt(i);
        const LRESULT length = SendMessageW(list1_, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring output(length == LB_ERR ? 0 : static_cast<std::size_t>(length) + 1, L'\0');
        if (!output.empty()) {
            const LRESULT got = SendMessageW(list1_, LB_GETTEXT, static_cast<WPARAM>(i),
                                             reinterpret_cast<LPARAM>(output.data()));
            output.resize(got == LB_ERR ? 0 : static_cast<std::size_t>(got));
        }
        // A name this batch has already written is not written over.
        output = FreeOutputName(output);
        SetText(label1_, L"Convert from: " + source);
        SetText(label2_, L"Convert to: " + output);
        SetText(labelFile_, batch::FilesProgressText(i, n));
        ui::WidenToText(labelFile_);
        ShowFilesPercent(static_cast<float>(batch::FilesPercent(i, n)));
        if (cancelled_) break;
        DoneIndex = i - 1;
        CurrentIndex = i;
        taskbar.Show(i, n);
        const bool kept = ConvertOne(source, output);
        if (cancelled_) break;
        if (!kept) taskbar.Failed();
        ShowFilesPercent(static_cast<float>(batch::FilesPercent(i + 1, n)));
        taskbar.Show(i + 1, n);
    }
    awake.reset();
    if (!cancelled_) {
        batchRunning_ = false;
        Message(L"Finished converting", MB_OK | MB_ICONINFORMATION, ProgramTitle);
    }
    inStart_ = false;
    if (closeWanted_) Close();
    if (quitSeen_) PostQuitMessage(quitCode_);
}

bool ConvertWindow::ConvertOne(const std::wstring& source, const std::wstring& output)
{
    // The converter writes under a temporary name; the output takes its
    // final name only once the converter has finished it. A file that fails,
    // stalls or is cancelled leaves the folder as it was.
    fileFailed_ = false;
    if (!TargetReady(output)) {
        fileFailed_ = true;
        DoneIndex = CurrentIndex;
        return false;
    }
    PartialOutput partial(output);
    if (!batch::FitsPathLimit(partial.TempPath())) {
        // The converter is handed the temporary name, which is longer.
        Message(L"The output path is too long!\r\n" + output, MB_OK | MB_ICONSTOP, ErrorTitle);
        fileFailed_ = true;
        DoneIndex = CurrentIndex;
        return false;
    }
    writing_ = partial.TempPath();
    StartFile(source, partial.TempPath());
    WaitForCurrentFile();
    writing_.clear();
    if (stopAfterError_) {
        stopAfterError_ = false;
        Atlqzt.Converter().Call(DispStop);
    }
    if (cancelled_ || fileFailed_) return false;
    DWORD error = ERROR_SUCCESS;
    if (partial.Keep(&error)) {
        written_.insert(batch::UpperCase(output));
        return true;
    }
    // The file is whole but cannot take its name (a file of that name held
    // open or read-only): reported, and the earlier file stays.
    Message(FailureMessageFor(static_cast<LONG>(error)), MB_OK | MB_ICONSTOP, ErrorTitle);
    return false;
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
        fileFailed_ = true;
        Message(text, MB_OK | MB_ICONSTOP, LoadErrorTitle);
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
        Message(L"The output path is too long!\r\n" + output, MB_OK | MB_ICONSTOP, ErrorTitle);
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
    Message(text, MB_OK | MB_ICONSTOP, ErrorTitle);
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

void ConvertWindow::TimerTick()
{
    if (!timerOn_) return;
    const HalvexDispatch& converter = Atlqzt.Converter();
    LONG total = 0;
    LONG current = 0;
    converter.GetLong(DispTotalLength, &total);
    converter.GetLong(DispCurrentLength, &current);
    UpdateLengthLabels(total, current);
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
        EndFileAsFailure(batch::NotFinishedMessage);
    }
}

void ConvertWindow::UpdateLengthLabels(LONG total, LONG current)
{
    SetText(labelTotal_, batch::TotalLengthText(total));
    SetText(labelCurrent_, batch::CurrentPosText(current));
    ui::WidenToText(labelTotal_);
    ui::WidenToText(labelCurrent_);
}

void ConvertWindow::DrawBar(HWND track, HWND bar, float p)
{
    if (p > 100) p = 100;
    RECT client;
    if (GetClientRect(track, &client)) {
        const double width = static_cast<double>(client.right - client.left) * p / 100.0;
        // A width that cannot be drawn (below zero) leaves the bar as it was.
        // A bar that keeps its width is not drawn again: in a long batch the
        // files bar moves once in many files.
        RECT now;
        const bool same = GetWindowRect(bar, &now) && now.right - now.left == static_cast<int>(width) &&
                          now.bottom - now.top == client.bottom - client.top;
        if (width >= 0 && !same) {
            SetWindowPos(bar, nullptr, 0, 0, static_cast<int>(width), client.bottom - client.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            InvalidateRect(track, nullptr, TRUE);
        }
    }
    SetText(bar, batch::PercentCaption(p));
}

void ConvertWindow::ShowFilePercent(float p)
{
    if (p > 100) p = 100;
    DrawBar(picPercent_, labelPercent_, p);
    DoEvents();
}

void ConvertWindow::CompleteFile()
{
    Atlqzt.Converter().Call(DispStop);
    if (BatchRunning()) DoneIndex = CurrentIndex;
    DoEvents();
}

std::wstring ConvertWindow::FreeOutputName(const std::wstring& planned) const
{
    if (!written_.count(batch::UpperCase(planned))) return planned;
    for (int n = 2;; ++n) {
        const std::wstring candidate = batch::NumberedName(planned, n);
        if (written_.count(batch::UpperCase(candidate))) continue;
        if (GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
        return candidate;
    }
}

void ConvertWindow::ShowFilesPercent(float p)
{
    DrawBar(picPercent2_, labelPercent2_, p);
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
    // once the batch loop has this file back.
    stopAfterError_ = true;
    EndFileAsFailure(reaction == ErrorReaction::ShowMessage ? message : std::wstring());
}

void ConvertWindow::EndFileAsFailure(const std::wstring& message)
{
    DoneIndex = CurrentIndex;
    fileFailed_ = true;
    SetTimer1(false);
    if (!message.empty()) Message(message, MB_OK | MB_ICONSTOP, ErrorTitle);
}

void ConvertWindow::CancelClicked()
{
    if (!BatchRunning()) {
        Close();
        return;
    }
    const int answer = MessageBoxW(window_, L"It is converting! Do you want to cancel and exit?", ProgramTitle,
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
        if (control == labelPercent_ || control == labelPercent2_) {
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
