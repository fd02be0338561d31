#include "main_window.h"

#include "about_box.h"
#include "common/control_ids.h"
#include "common/paths.h"
#include "common/version_info.h"
#include "conversion/convert_window.h"
#include "common/error_messages.h"
#include "file_drop.h"
#include "parameters/parameters_dialog.h"
#include "parameters/settings.h"
#include "shell_dialogs.h"

namespace vellumo {

namespace {

constexpr DWORD MainStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr int ClientWidthTwips = 9135;
constexpr int ClientHeightTwips = 6225;
constexpr wchar_t FilesAdded[] = L"  Files added";
// Posted by the folder reader once everything handed over is read.
constexpr UINT FoldersReadMessage = WM_APP + 1;
constexpr wchar_t OutOfMemoryReading[] =
    L"There is not enough memory to read the dropped folders. The reading stopped; what it had not finished "
    L"was not added.";
// Shows the number of files found while folders are read.
constexpr UINT_PTR ReadingTimer = 1;

}  // namespace

MainWindow& MainWindow::Instance()
{
    static MainWindow frmMain;
    return frmMain;
}

bool MainWindow::Create(int showCommand)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = ui::FormProc<MainWindow, &MainWindow::window_>;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = LoadIconW(wc.hInstance, MAKEINTRESOURCEW(1));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = VELLUMO_MAIN_CLASS;
    if (!RegisterClassExW(&wc)) return false;

    const SIZE size = ui::WindowSizeForClient(ClientWidthTwips, ClientHeightTwips, MainStyle, 0);
    window_ = CreateWindowExW(WS_EX_CONTROLPARENT, VELLUMO_MAIN_CLASS, L"Vellumo", MainStyle, CW_USEDEFAULT,
                              CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr, wc.hInstance, this);
    if (!window_) return false;
    ui::CentreWindow(window_, nullptr);
    AcceptFileDrops(window_);
    FormLoad();
    ShowWindow(window_, showCommand);
    UpdateWindow(window_);
    if (!converter_.IsCreated()) {
        ShowMessage(L"The converter (corvane.dll) is not installed, so Vellumo cannot convert. "
                    L"Please install Vellumo again.",
                    MB_OK | MB_ICONSTOP);
    }
    return true;
}

void MainWindow::CreateControls()
{
    using ui::CreateChild;
    frameFont_ = ui::MakeFont(L"Verdana", 8.25, true);
    optionFont_ = ui::MakeFont(L"Arial", 9.75, true);
    controlFont_ = ui::MakeDefaultFont();
    HFONT font = controlFont_.Get();
    const DWORD button = BS_OWNERDRAW | WS_TABSTOP;

    frame3_ = ui::FramePanel::Create(window_, L"Output Format", {240, 240, 8655, 855}, ids::Frame3, frameFont_.Get(),
                                     ui::Sky);
    optMp3_ = CreateChild(frame3_, L"Button", L"Convert RA re RE3", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP,
                          {240, 360, 2535, 255}, ids::optMP3, optionFont_.Get());
    optWav_ = CreateChild(frame3_, L"Button", L"Convert RM to WAV", BS_AUTORADIOBUTTON, {3240, 360, 2655, 255},
                          ids::optWAV, optionFont_.Get());
    buttons_.push_back(CreateChild(frame3_, L"Button", L"Set &Parameters...", button | WS_GROUP,
                                   {6480, 330, 1935, 285}, ids::cmdPara, font));

    frame1_ = ui::FramePanel::Create(window_, L"Open RM Files", {240, 1200, 8655, 3135}, ids::Frame1,
                                     frameFont_.Get(), ui::Sky);
    list_ = CreateChild(frame1_, L"ListBox", L"",
                        LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL | WS_BORDER | WS_TABSTOP |
                            WS_GROUP,
                        {240, 330, 6135, 2565}, ids::List1, font);
    sources_.Attach(list_);
    buttons_.push_back(CreateChild(frame1_, L"Button", L"Add &RM Files to List", button, {6480, 330, 1935, 285},
                                   ids::cmdOpenRM, font));
    buttons_.push_back(CreateChild(frame1_, L"Button", L"&Delete from List", button, {6480, 720, 1935, 285},
                                   ids::cmdDel, font));
    fileCount_ = CreateChild(frame1_, L"Static", L"", SS_LEFT | SS_NOPREFIX, {6480, 1200, 1935, 255}, ids::LFile,
                             font);

    frame2_ = ui::FramePanel::Create(window_, L"Save to Folder", {240, 4440, 8655, 855}, ids::Frame2,
                                     frameFont_.Get(), ui::Sky);
    saveAs_ = CreateChild(frame2_, L"Edit", L"", ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP, {240, 330, 6135, 285},
                          ids::txtSaveAs, font, WS_EX_CLIENTEDGE);
    buttons_.push_back(CreateChild(frame2_, L"Button", L"Save to &Folder...", button, {6480, 330, 1935, 285},
                                   ids::cmdSaveAs, font));

    buttons_.push_back(CreateChild(window_, L"Button", L"&Help", button | WS_GROUP, {1920, 5520, 1575, 375},
                                   ids::cmdHelp, font));
    buttons_.push_back(CreateChild(window_, L"Button", L"Abo&ut...", button, {3600, 5520, 1695, 375}, ids::cmdAbout,
                                   font));
    buttons_.push_back(CreateChild(window_, L"Button", L"&Convert...", button, {5400, 5520, 1695, 375},
                                   ids::cmdConvert, font));
    buttons_.push_back(CreateChild(window_, L"Button", L"&Exit", button, {7200, 5520, 1695, 375}, ids::cmdExit,
                                   font));
    SendMessageW(optMp3_, BM_SETCHECK, BST_CHECKED, 0);

    // The converter sits outside the visible area.
    const RECT outside = {-ui::TwipsToPixelsX(1200), -ui::TwipsToPixelsY(1200), -ui::TwipsToPixelsX(720),
                          -ui::TwipsToPixelsY(720)};
    converter_.Create(window_, outside, ids::Atlqzt, this);
}

void MainWindow::ApplyColourScheme()
{
    backColour_ = ui::Sky;
    ui::FramePanel::SetBackColour(frame1_, ui::Sky);
    ui::FramePanel::SetBackColour(frame2_, ui::Sky);
    ui::FramePanel::SetBackColour(frame3_, ui::Sky);
    optionColour_ = ui::Sky;
    // Every button is drawn in button yellow (owner-drawn).
    InvalidateRect(window_, nullptr, TRUE);
}

void MainWindow::FormLoad()
{
    ApplyColourScheme();
    canvas_.Attach(window_);
    PaintBackground(window_, canvas_, backColour_, {frame1_, frame2_, frame3_}, 0, 0, canvas_.Width(),
                    canvas_.Height(), ui::Cream, ui::Cream);
    const COLORREF frameColour = ui::FramePanel::BackColour(frame3_);
    optionColour_ = frameColour;
    saveAsColour_ = frameColour;
    InvalidateRect(optMp3_, nullptr, TRUE);
    InvalidateRect(optWav_, nullptr, TRUE);
    InvalidateRect(saveAs_, nullptr, TRUE);
    if (converter_.IsCreated()) LoadSettings(converter_.Converter());
    const std::wstring caption = ui::WindowText(window_) + L" " + VersionText(ReadProgramVersion());
    SetWindowTextW(window_, caption.c_str());
}

int MainWindow::SourceCount() const { return sources_.Count(); }

std::wstring MainWindow::SourceAt(int index) const { return sources_.At(index); }

std::wstring MainWindow::SourceOriginAt(int index) const { return sources_.OriginAt(index); }

std::wstring MainWindow::OutputFolderText() const { return ui::WindowText(saveAs_); }

bool MainWindow::IsMp3Selected() const { return SendMessageW(optMp3_, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void MainWindow::EnableCommands(bool enabled)
{
    for (int id : {ids::cmdPara, ids::cmdOpenRM, ids::cmdSaveAs, ids::cmdConvert}) {
        HWND control = nullptr;
        for (HWND b : buttons_) {
            if (GetDlgCtrlID(b) == id) control = b;
        }
        if (control) EnableWindow(control, enabled ? TRUE : FALSE);
    }
}

void MainWindow::AddFileIfNew(const std::wstring& path) { SourceList::Adding(sources_).AddIfNew(path); }

void MainWindow::AddFiles(const std::vector<std::wstring>& paths)
{
    {
        SourceList::Adding adding(sources_);
        for (const std::wstring& path : paths) adding.AddIfNew(path);
    }
    RefreshFileCount();
}

void MainWindow::FilesDropped(HDROP drop)
{
    // While a modal window is open the main window takes no input, and no drops.
    if (IsWindowEnabled(window_)) AddFromShell(NamesOfDrop(drop));
    DragFinish(drop);
}

void MainWindow::AddFromShell(std::vector<std::wstring> names)
{
    if (!readingShown_) {
        countBeforeReading_ = ui::WindowText(fileCount_);
        unreadable_ = 0;
    }
    readingShown_ = true;
    reader_.Read(window_, FoldersReadMessage, std::move(names));
    SetTimer(window_, ReadingTimer, 200, nullptr);
    ShowReadingProgress();
    RefreshCursor();
}

void MainWindow::ShowReadingProgress()
{
    const std::wstring text = L"Reading... " + std::to_wstring(reader_.FoundSoFar());
    SetWindowTextW(fileCount_, text.c_str());
}

void MainWindow::RefreshCursor()
{
    // The window under the cursor chooses it again (WM_SETCURSOR reaches this
    // window through its children): busy while folders are read.
    POINT at;
    if (!GetCursorPos(&at)) return;
    HWND under = WindowFromPoint(at);
    if (under && GetAncestor(under, GA_ROOT) == window_)
        SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
}

void MainWindow::FoldersRead()
{
    // What is read while a modal window is open joins the list once it has closed.
    if (!readingShown_ || !IsWindowEnabled(window_)) return;
    const std::vector<std::vector<SourceEntry>> read = reader_.TakeRead();
    unreadable_ += reader_.TakeUnreadable();
    if (!read.empty()) {
        SourceList::Adding adding(sources_);
        for (const std::vector<SourceEntry>& sources : read) {
            for (const SourceEntry& source : sources) adding.AddIfNew(source.path, source.origin);
        }
    }
    if (reader_.Reading()) return;
    readingShown_ = false;
    KillTimer(window_, ReadingTimer);
    RefreshFileCount(unreadable_);
    RefreshCursor();
    if (reader_.TakeOutOfMemory()) ShowMessage(OutOfMemoryReading, MB_OK | MB_ICONSTOP);
}

void MainWindow::CancelReading()
{
    if (!readingShown_) return;
    readingShown_ = false;
    reader_.Cancel();
    KillTimer(window_, ReadingTimer);
    SetWindowTextW(fileCount_, countBeforeReading_.c_str());
    RefreshCursor();
}

void MainWindow::RefreshFileCount(std::size_t unreadable)
{
    std::wstring text = std::to_wstring(SourceCount()) + FilesAdded;
    if (unreadable > 0)
        text += L", " + std::to_wstring(unreadable) + (unreadable == 1 ? L" folder" : L" folders") +
                L" could not be read";
    SetWindowTextW(fileCount_, text.c_str());
}

void MainWindow::ShowMessage(const std::wstring& text, UINT flags, const wchar_t* title)
{
    MessageBoxW(window_, text.c_str(), title, flags);
}

void MainWindow::OnError(LONG errCode)
{
    std::wstring message;
    const ErrorReaction reaction = ErrorMessageFor(errCode, &message);
    if (reaction == ErrorReaction::Ignore) return;
    if (reaction == ErrorReaction::ShowMessage) ShowMessage(message, MB_OK | MB_ICONSTOP, ErrorTitle);
    EnableWindow(GetDlgItem(window_, ids::cmdConvert), TRUE);
    EnableCommands(true);
}

void MainWindow::ConvertClicked()
{
    if (SourceCount() == 0) {
        ShowMessage(L"Please add some real media files to the list to convert ", MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (TrimBlanks(OutputFolderText()).size() < 3) {
        ShowMessage(L"Please select a folder to save the output files", MB_OK | MB_ICONINFORMATION);
        return;
    }
    ConvertWindow::ShowModal(*this);
}

void MainWindow::OpenRmClicked()
{
    const std::optional<std::vector<std::wstring>> result = ShowOpenRealFilesDialog(window_);
    if (!result) return;
    AddFiles(*result);
}

void MainWindow::DeleteClicked()
{
    if (!sources_.DeleteSelected()) ShowMessage(L"No file selected to delete from the list", MB_OK | MB_ICONSTOP);
    RefreshFileCount();
}

void MainWindow::ListDoubleClicked()
{
    const LRESULT selected = SendMessageW(list_, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR) return;
    ShowMessage(SourceAt(static_cast<int>(selected)), MB_OK);
}

void MainWindow::SaveAsClicked()
{
    const std::wstring folder = TrimBlanks(BrowseForFolder(window_));
    if (!folder.empty()) SetWindowTextW(saveAs_, folder.c_str());
}

void MainWindow::OnCommand(int id, int code)
{
    // Esc (the dialog manager's cancel) stops the reading of dropped folders.
    if (id == IDCANCEL) {
        CancelReading();
        return;
    }
    if (id == ids::List1) {
        if (code == LBN_DBLCLK) ListDoubleClicked();
        return;
    }
    if (code != BN_CLICKED) return;
    switch (id) {
    case ids::cmdConvert:
        ConvertClicked();
        break;
    case ids::cmdPara:
        ParametersDialog::ShowModal(window_, converter_.Converter());
        break;
    case ids::cmdAbout:
        AboutBox::ShowModal(window_);
        break;
    case ids::cmdHelp:
        ShowHelp();
        break;
    case ids::cmdExit:
        DestroyWindow(window_);
        break;
    case ids::cmdOpenRM:
        OpenRmClicked();
        break;
    case ids::cmdDel:
        DeleteClicked();
        break;
    case ids::cmdSaveAs:
        SaveAsClicked();
        break;
    default:
        break;
    }
}

LRESULT MainWindow::OnControlColour(HDC dc, HWND control)
{
    COLORREF back = backColour_;
    COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
    if (control == optMp3_ || control == optWav_) {
        back = optionColour_;
    } else if (control == saveAs_) {
        back = saveAsColour_;
    } else if (control == list_) {
        back = ui::Cream;
    } else if (control == fileCount_) {
        back = GetSysColor(COLOR_WINDOW);
    }
    SetBkColor(dc, back);
    SetTextColor(dc, text);
    return reinterpret_cast<LRESULT>(brushes_.Get(back));
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        CreateControls();
        return 0;
    case WM_ERASEBKGND: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        if (canvas_.Dc()) {
            canvas_.Show(dc);
        } else {
            RECT client;
            GetClientRect(window_, &client);
            FillRect(dc, &client, brushes_.Get(backColour_));
        }
        return 1;
    }
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_DROPFILES:
        FilesDropped(reinterpret_cast<HDROP>(wParam));
        return 0;
    case FoldersReadMessage:
        FoldersRead();
        return 0;
    case WM_TIMER:
        if (wParam == ReadingTimer) {
            if (reader_.Reading()) {
                ShowReadingProgress();
            } else {
                FoldersRead();
            }
        }
        return 0;
    case WM_ENABLE:
        if (wParam) FoldersRead();
        return 0;
    case WM_SETCURSOR:
        if (readingShown_ && LOWORD(lParam) == HTCLIENT) {
            SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_APPSTARTING)));
            return TRUE;
        }
        break;
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType == ODT_BUTTON) {
            ui::DrawColouredButton(*item, ui::ButtonYellow, controlFont_.Get());
            return TRUE;
        }
        break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
        return OnControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DESTROY:
        reader_.Cancel();
        KillTimer(window_, ReadingTimer);
        converter_.Destroy();
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace vellumo
