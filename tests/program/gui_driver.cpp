#include "gui_driver.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

#include <shlobj.h>

#include "common/control_ids.h"
#include "../support/test_platform.h"

namespace gui {

namespace {

// The first visible top-level window of the process that matches.
HWND FindTopLevel(DWORD pid, const std::function<bool(HWND)>& matches)
{
    struct Search {
        DWORD pid;
        const std::function<bool(HWND)>* matches;
        HWND found;
    } search{pid, &matches, nullptr};
    EnumWindows([](HWND window, LPARAM lParam) WINAPI -> BOOL {
        auto* s = reinterpret_cast<Search*>(lParam);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        const bool match = owner == s->pid && IsWindowVisible(window) && (*s->matches)(window);
        return match ? (s->found = window, FALSE) : TRUE;
    }, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The program's folder and the test folders hold files only.
void RemoveFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
        const std::wstring path = folder + L"\\" + found.cFileName;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    RemoveDirectoryW(folder.c_str());
}

// The entries of a list or combo box, by its count, length and text messages.
Texts Entries(HWND box, UINT count, UINT length, UINT text)
{
    Texts items;
    const LRESULT n = SendMessageW(box, count, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        std::wstring item(static_cast<std::size_t>(std::max<LRESULT>(SendMessageW(box, length, static_cast<WPARAM>(i), 0), 0)) + 1, L'\0');
        item.resize(static_cast<std::size_t>(
            std::max<LRESULT>(SendMessageW(box, text, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data())), 0)));
        items.push_back(item);
    }
    return items;
}

// Tells a message box's icon by its colours: the stop sign is red, the
// information sign blue. The icon is a static control (20 on Windows, 1088 in Wine).
BoxIcon IconOf(HWND box)
{
    HWND icon = nullptr;
    for (int id : {20, 1088})
        if (HWND candidate = GetDlgItem(box, id); candidate && IsWindowVisible(candidate)) icon = candidate;
    if (!icon || SendMessageW(icon, STM_GETICON, 0, 0) == 0) return BoxIcon::None;
    RECT area;
    GetWindowRect(icon, &area);
    int red = 0, blue = 0;
    for (DWORD p : CaptureScreen(area)) {
        const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        red += r > 150 && g < 100 && b < 100;
        blue += b > 150 && r < 120;
    }
    if (red > 20 && red > blue) return BoxIcon::Stop;
    return blue > 20 ? BoxIcon::Information : BoxIcon::Other;
}

bool WriteFileBytes(const std::wstring& path, const char* data, std::size_t size)
{
    return static_cast<bool>(std::ofstream(path.c_str(), std::ios::binary).write(data, static_cast<std::streamsize>(size)));
}

}  // namespace

std::vector<DWORD> CaptureScreen(const RECT& area)
{
    const int width = area.right - area.left, height = area.bottom - area.top;
    std::vector<DWORD> pixels(width > 0 && height > 0 ? static_cast<std::size_t>(width * height) : 0);
    if (pixels.empty()) return pixels;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    if (!GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS)) pixels.clear();
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

std::wstring DriverFolder()
{
    wchar_t path[MAX_PATH];
    const std::wstring text(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return text.substr(0, text.rfind(L'\\'));
}

std::wstring TempRoot()
{
    wchar_t temp[MAX_PATH];
    std::wstring root(temp, GetTempPathW(MAX_PATH, temp));
    if (!root.empty() && root.back() == L'\\') root.pop_back();
    return root;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    for (const DWORD start = GetTickCount();;) {
        if (condition()) return true;
        if (GetTickCount() - start > timeoutMs) return condition();
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        Sleep(30);
    }
}

std::wstring Text(HWND window)
{
    wchar_t buffer[4096];
    const LRESULT n = SendMessageW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer));
    return std::wstring(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
}

static std::wstring ClassOf(HWND window)
{
    wchar_t buffer[256];
    const int n = GetClassNameW(window, buffer, 256);
    return std::wstring(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
}

HWND Control(HWND top, int id)
{
    std::pair<int, HWND> search{id, nullptr};
    EnumChildWindows(top, [](HWND window, LPARAM lParam) WINAPI -> BOOL {
        auto* s = reinterpret_cast<std::pair<int, HWND>*>(lParam);
        return GetDlgCtrlID(window) == s->first ? (s->second = window, FALSE) : TRUE;
    }, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

RECT ClientOnScreen(HWND window)
{
    RECT rect;
    GetClientRect(window, &rect);
    MapWindowPoints(window, HWND_DESKTOP, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT RectInClient(HWND child, HWND top)
{
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, top, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void SelectCombo(HWND combo, int position)
{
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
    PostMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

Texts ListItems(HWND listBox) { return Entries(listBox, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT); }

Texts ComboItems(HWND comboBox) { return Entries(comboBox, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT); }

void SetText(HWND control, const std::wstring& text)
{
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

COLORREF DominantColour(const RECT& screenRect)
{
    std::map<DWORD, int> counts;
    DWORD best = 0;
    for (DWORD pixel : CaptureScreen(screenRect)) {
        const int count = ++counts[pixel & 0xFFFFFF];
        if (count > counts[best]) best = pixel & 0xFFFFFF;
    }
    return RGB((best >> 16) & 0xFF, (best >> 8) & 0xFF, best & 0xFF);
}

int PixelsOf(const RECT& screenRect, COLORREF colour)
{
    const DWORD rgb = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
    int n = 0;
    for (DWORD pixel : CaptureScreen(screenRect)) n += (pixel & 0xFFFFFF) == rgb;
    return n;
}

Program::Program(const std::wstring& folderName)
{
    static int counter = 0;
    folder_ = TempRoot() + L"\\" + folderName + L" " + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(++counter);
    CreateDirectoryW(folder_.c_str(), nullptr);
    for (const wchar_t* name : {L"\\vellumo.exe", L"\\vellumo.chm"})
        CopyFileW((DriverFolder() + name).c_str(), (folder_ + name).c_str(), FALSE);
}

Program::~Program()
{
    if (process_.hProcess) {
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, 5000);
        }
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
    if (ownsFolder_) RemoveFolder(folder_);
}

void Program::WriteSettings(const std::string& content) const
{
    WriteFileBytes(folder_ + L"\\settings.ini", content.data(), content.size());
}

bool Program::SettingsExist() const
{
    return GetFileAttributesW((folder_ + L"\\settings.ini").c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Program::ReadSettings() const
{
    std::ifstream in((folder_ + L"\\settings.ini").c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Program::Start(const std::wstring& currentFolder, const std::wstring& arguments)
{
    std::wstring command = L"\"" + folder_ + L"\\vellumo.exe\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        (currentFolder.empty() ? folder_ : currentFolder).c_str(), &startup, &process_))
        return false;
    WaitForInputIdle(process_.hProcess, 10000);
    main_ = WaitForWindow(VELLUMO_MAIN_CLASS, L"", 20000);
    return main_ != nullptr;
}

DWORD Program::WaitForExit(DWORD timeoutMs)
{
    WaitForSingleObject(process_.hProcess, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

HWND Program::WaitForWindow(const std::wstring& windowClass, const std::wstring& caption, DWORD timeoutMs) const
{
    HWND found = nullptr;
    WaitFor([&] {
        found = FindTopLevel(process_.dwProcessId, [&](HWND w) {
            return (windowClass.empty() || ClassOf(w) == windowClass) && (caption.empty() || Text(w) == caption);
        });
        return found != nullptr;
    }, timeoutMs);
    return found;
}

bool FindMessageBox(DWORD processId, MessageBoxInfo* box)
{
    HWND found = FindTopLevel(processId, [](HWND w) { return ClassOf(w) == L"#32770" && GetDlgItem(w, 0xFFFF); });
    if (!found) return false;
    Sleep(200);  // let the box paint its icon
    *box = MessageBoxInfo{found, Text(found), Text(GetDlgItem(found, 0xFFFF)), IconOf(found), {}};
    EnumChildWindows(found, [](HWND window, LPARAM buttons) WINAPI -> BOOL {
        if (ClassOf(window) == L"Button" && IsWindowVisible(window))
            reinterpret_cast<Texts*>(buttons)->push_back(Text(window));
        return TRUE;
    }, reinterpret_cast<LPARAM>(&box->buttons));
    return true;
}

bool Program::WaitForMessageBox(MessageBoxInfo* box, DWORD timeoutMs) const
{
    return WaitFor([&] { return FindMessageBox(process_.dwProcessId, box); }, timeoutMs);
}

bool Program::NoMessageBoxWithin(DWORD ms) const
{
    MessageBoxInfo box;
    return !WaitForMessageBox(&box, ms);
}

void Program::Answer(const MessageBoxInfo& box, int buttonId)
{
    HWND button = GetDlgItem(box.window, buttonId);
    button ? Click(button) : static_cast<void>(PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0));
    WaitFor([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); });
}

FileSet::FileSet(const std::wstring& folder, const Texts& names) : folder_(folder), names_(names)
{
    if (GetFileAttributesW(folder_.c_str()) == INVALID_FILE_ATTRIBUTES)
        createdFolder_ = CreateDirectoryW(folder_.c_str(), nullptr) != FALSE;
    for (const std::wstring& name : names_) WriteFileBytes(PathOf(name), ".RMF", 4);
}

FileSet::~FileSet()
{
    for (const std::wstring& name : names_) DeleteFileW(PathOf(name).c_str());
    if (createdFolder_) RemoveDirectoryW(folder_.c_str());
}

bool AddFiles(const Program& program, const std::wstring& folder, const Texts& names)
{
    Click(program.MainControl(vellumo::ids::cmdOpenRM));
    HWND dialog = program.WaitForWindow(L"#32770", L"Open a Real File", 10000);
    // The file name box: a combo box (cmb13) in newer dialogs, an edit (edt1) in older ones.
    HWND nameBox = dialog ? GetDlgItem(dialog, 0x47c) : nullptr;
    if (dialog && !nameBox) nameBox = GetDlgItem(dialog, 0x480);
    if (!nameBox) return false;
    SetText(nameBox, folder);
    Click(GetDlgItem(dialog, IDOK));
    Sleep(500);
    std::wstring typed = names.size() == 1 ? names[0] : L"";
    for (std::size_t i = 0; names.size() > 1 && i < names.size(); ++i) typed += L"\"" + names[i] + L"\" ";
    SetText(nameBox, typed);
    Click(GetDlgItem(dialog, IDOK));
    const bool closed = WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 10000);
    Settle(200);
    return closed;
}

HWND OpenConvert(const Program& program, const std::wstring& outputFolder)
{
    SetText(program.MainControl(vellumo::ids::txtSaveAs), outputFolder);
    Click(program.MainControl(vellumo::ids::cmdConvert));
    return program.WaitForWindow(VELLUMO_CONVERT_CLASS);
}

std::vector<MessageBoxInfo> BatchRecord::Errors() const
{
    std::vector<MessageBoxInfo> errors;
    std::copy_if(boxes.begin(), boxes.end(), std::back_inserter(errors),
                 [](const MessageBoxInfo& b) { return b.text.rfind(L"Finished converting", 0) != 0; });
    return errors;
}

BatchRecord RunBatch(const Program& program, HWND convert, DWORD timeoutMs,
                     const std::function<void(const std::wstring&)>& onFileText)
{
    namespace ids = vellumo::ids;
    BatchRecord record;
    const auto note = [&] {
        const std::pair<Texts*, int> labels[] = {{&record.fileTexts, ids::LabelFile}, {&record.filesBar, ids::LabelPercent2}};
        for (const auto& [seen, id] : labels) {
            const std::wstring text = Text(Control(convert, id));
            if (!seen->empty() && seen->back() == text) continue;
            seen->push_back(text);
            if (id == ids::LabelFile && onFileText) onFileText(text);
        }
    };
    note();
    Click(Control(convert, ids::cmdStart));
    const DWORD clicked = GetTickCount();
    for (const DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs && IsWindow(convert); Sleep(5)) {
        note();
        MessageBoxInfo box;
        if (!FindMessageBox(program.ProcessId(), &box)) continue;
        note();  // the labels as they stand under the box
        record.boxes.push_back(box);
        record.finished = box.text.rfind(L"Finished converting", 0) == 0;
        if (record.finished) {
            record.seconds = (GetTickCount() - clicked) / 1000.0;
            record.final = box.text;
            record.status = Text(Control(convert, ids::LabelStatus));
        }
        // The final box of a batch of many files asks whether to open the report: no.
        Program::Answer(box, box.buttons.size() == 2 ? IDNO : IDOK);
        WaitFor([&] { return note(), !IsWindow(box.window); });
        if (record.finished) break;
    }
    return record;
}

std::vector<std::string> TakeReports(const std::wstring& folder)
{
    std::vector<std::string> reports;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\Vellumo report *.txt").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
        const std::wstring path = folder + L"\\" + found.cFileName;
        reports.push_back(testing_support::ReadText(path));
        DeleteFileW(path.c_str());
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    return reports;
}

std::wstring DescribeConvertWindow(HWND convert)
{
    namespace ids = vellumo::ids;
    std::wstring shown;
    for (int id : {ids::ConvertLabel1, ids::ConvertLabel2, ids::LabelTotal, ids::LabelCurrent, ids::LabelPercent, ids::LabelFile})
        shown += Text(Control(convert, id)) + L" | ";
    return shown;
}

HDROP MakeDrop(const Texts& paths)
{
    std::wstring names;
    for (const std::wstring& path : paths) names += path + L'\0';
    names += L'\0';
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
    auto* files = static_cast<DROPFILES*>(GlobalLock(memory));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    std::copy(names.begin(), names.end(), reinterpret_cast<wchar_t*>(files + 1));
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

}  // namespace gui
