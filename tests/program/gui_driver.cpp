#include "gui_driver.h"

#include <map>

namespace gui {

namespace {

struct FindContext {
    DWORD pid;
    std::wstring windowClass;
    std::wstring caption;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM lParam)
{
    auto* context = reinterpret_cast<FindContext*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != context->pid || !IsWindowVisible(window)) return TRUE;
    if (!context->windowClass.empty() && ClassOf(window) != context->windowClass) return TRUE;
    if (!context->caption.empty() && Text(window) != context->caption) return TRUE;
    context->found = window;
    return FALSE;
}

struct ControlSearch {
    int id;
    HWND found;
};

BOOL CALLBACK FindChild(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<ControlSearch*>(lParam);
    if (GetDlgCtrlID(window) == search->id) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::wstring NewFolderPath(const std::wstring& name)
{
    static int counter = 0;
    return TempRoot() + L"\\" + name + L" " + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter);
}

void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

std::wstring DriverFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, n);
    return text.substr(0, text.rfind(L'\\'));
}

}  // namespace

std::wstring TempRoot()
{
    wchar_t temp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, temp);
    std::wstring root(temp, n);
    if (!root.empty() && root.back() == L'\\') root.pop_back();
    return root;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
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

std::wstring ClassOf(HWND window)
{
    wchar_t buffer[256];
    const int n = GetClassNameW(window, buffer, 256);
    return std::wstring(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
}

HWND Control(HWND top, int id)
{
    ControlSearch search{id, nullptr};
    EnumChildWindows(top, FindChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
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

std::vector<std::wstring> ListItems(HWND listBox)
{
    std::vector<std::wstring> items;
    const LRESULT count = SendMessageW(listBox, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t buffer[4096] = {};
        const LRESULT length = SendMessageW(listBox, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length < 0 || length >= 4096) continue;
        SendMessageW(listBox, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
        items.emplace_back(buffer, static_cast<std::size_t>(length));
    }
    return items;
}

std::vector<std::wstring> ComboItems(HWND comboBox)
{
    std::vector<std::wstring> items;
    const LRESULT count = SendMessageW(comboBox, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t buffer[512] = {};
        const LRESULT length = SendMessageW(comboBox, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length < 0 || length >= 512) continue;
        SendMessageW(comboBox, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
        items.emplace_back(buffer, static_cast<std::size_t>(length));
    }
    return items;
}

int ComboPosition(HWND comboBox) { return static_cast<int>(SendMessageW(comboBox, CB_GETCURSEL, 0, 0)); }

void SetText(HWND control, const std::wstring& text)
{
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

COLORREF ScreenPixel(int x, int y)
{
    HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    return colour;
}

namespace {

// The screen area as 32-bit pixels, top-down.
std::vector<DWORD> CaptureScreen(const RECT& area)
{
    const int width = area.right - area.left, height = area.bottom - area.top;
    std::vector<DWORD> pixels;
    if (width <= 0 || height <= 0) return pixels;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
        GdiFlush();
        const auto* source = static_cast<const DWORD*>(bits);
        pixels.assign(source, source + static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        SelectObject(memory, old);
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

}  // namespace

COLORREF DominantColour(const RECT& screenRect)
{
    std::map<DWORD, int> counts;
    for (DWORD pixel : CaptureScreen(screenRect)) ++counts[pixel & 0xFFFFFF];
    DWORD best = 0;
    int bestCount = -1;
    for (const auto& entry : counts) {
        if (entry.second > bestCount) {
            best = entry.first;
            bestCount = entry.second;
        }
    }
    // DIB pixels are 0x00RRGGBB; COLORREF is 0x00BBGGRR.
    return RGB((best >> 16) & 0xFF, (best >> 8) & 0xFF, best & 0xFF);
}

bool SaveWindowBitmap(HWND window, const std::wstring& path)
{
    RECT area;
    GetWindowRect(window, &area);
    const int width = area.right - area.left, height = area.bottom - area.top;
    const std::vector<DWORD> pixels = CaptureScreen(area);
    if (pixels.empty()) return false;
    const int stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<DWORD>(stride * height);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::vector<unsigned char> rows(info.biSizeImage, 0);
    for (int y = 0; y < height; ++y) {
        unsigned char* row = rows.data() + static_cast<std::size_t>(height - 1 - y) * static_cast<std::size_t>(stride);
        for (int x = 0; x < width; ++x) {
            const DWORD p = pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
            row[x * 3] = p & 0xFF;
            row[x * 3 + 1] = (p >> 8) & 0xFF;
            row[x * 3 + 2] = (p >> 16) & 0xFF;
        }
    }
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(out, &file, sizeof(file), &written, nullptr) && WriteFile(out, &info, sizeof(info), &written, nullptr) &&
              WriteFile(out, rows.data(), static_cast<DWORD>(rows.size()), &written, nullptr);
    CloseHandle(out);
    return ok;
}

Program::Program(const std::wstring& folderName) : folder_(NewFolderPath(folderName))
{
    CreateDirectoryW(folder_.c_str(), nullptr);
    const std::wstring from = DriverFolder();
    CopyFileW((from + L"\\vellumo.exe").c_str(), (folder_ + L"\\vellumo.exe").c_str(), FALSE);
    CopyFileW((from + L"\\vellumo.chm").c_str(), (folder_ + L"\\vellumo.chm").c_str(), FALSE);
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
    RemoveTree(folder_);
}

void Program::WriteSettings(const std::string& content) const
{
    HANDLE out = CreateFileW((folder_ + L"\\settings.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(out, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(out);
}

bool Program::SettingsExist() const
{
    return GetFileAttributesW((folder_ + L"\\settings.ini").c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Program::ReadSettings() const
{
    HANDLE in = CreateFileW((folder_ + L"\\settings.ini").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return std::string();
    std::string content(65536, '\0');
    DWORD read = 0;
    ReadFile(in, content.data(), static_cast<DWORD>(content.size()), &read, nullptr);
    CloseHandle(in);
    content.resize(read);
    return content;
}

bool Program::Start()
{
    std::wstring command = L"\"" + folder_ + L"\\vellumo.exe\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder_.c_str(), &startup,
                        &process_))
        return false;
    WaitForInputIdle(process_.hProcess, 10000);
    main_ = WaitForWindow(L"VellumoMainWindow", L"", 20000);
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
    FindContext context{process_.dwProcessId, windowClass, caption, nullptr};
    WaitFor([&] {
        context.found = nullptr;
        EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&context));
        return context.found != nullptr;
    }, timeoutMs);
    return context.found;
}

namespace {

BoxIcon IconOf(HWND box)
{
    // The icon sits in a static control of its own (20 on Windows, 1088 in Wine).
    HWND icon = nullptr;
    for (int id : {20, 1088}) {
        HWND candidate = GetDlgItem(box, id);
        if (candidate && IsWindowVisible(candidate)) icon = candidate;
    }
    if (!icon || SendMessageW(icon, STM_GETICON, 0, 0) == 0) return BoxIcon::None;
    RECT area;
    GetWindowRect(icon, &area);
    // Tell the icons by their colours: the stop sign is red, the information sign blue.
    HDC screen = GetDC(nullptr);
    int red = 0, blue = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            const COLORREF c = GetPixel(screen, x, y);
            const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
            if (r > 150 && g < 100 && b < 100) ++red;
            if (b > 150 && r < 120) ++blue;
        }
    }
    ReleaseDC(nullptr, screen);
    if (red > 20 && red > blue) return BoxIcon::Stop;
    if (blue > 20) return BoxIcon::Information;
    return BoxIcon::Other;
}

BOOL CALLBACK CollectButtons(HWND window, LPARAM lParam)
{
    if (ClassOf(window) == L"Button" && IsWindowVisible(window))
        reinterpret_cast<std::vector<std::wstring>*>(lParam)->push_back(Text(window));
    return TRUE;
}

}  // namespace

bool FindMessageBox(DWORD processId, MessageBoxInfo* box)
{
    struct Search {
        DWORD pid;
        HWND found;
    } search{processId, nullptr};
    EnumWindows([](HWND window, LPARAM lParam) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lParam);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid == s->pid && IsWindowVisible(window) && ClassOf(window) == L"#32770" && GetDlgItem(window, 0xFFFF)) {
            s->found = window;
            return FALSE;
        }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return false;
    Sleep(200);  // let the box paint its icon
    box->window = search.found;
    box->title = Text(search.found);
    box->text = Text(GetDlgItem(search.found, 0xFFFF));
    box->icon = IconOf(search.found);
    box->buttons.clear();
    EnumChildWindows(search.found, CollectButtons, reinterpret_cast<LPARAM>(&box->buttons));
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
    if (button) {
        Click(button);
    } else {
        PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0);
    }
    WaitFor([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); });
}

FileSet::FileSet(const std::wstring& folder, const std::vector<std::wstring>& names) : folder_(folder), names_(names)
{
    if (GetFileAttributesW(folder_.c_str()) == INVALID_FILE_ATTRIBUTES) {
        CreateDirectoryW(folder_.c_str(), nullptr);
        createdFolder_ = true;
    }
    for (const std::wstring& name : names_) {
        HANDLE out = CreateFileW(PathOf(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        const char data[] = ".RMF";
        DWORD written = 0;
        WriteFile(out, data, 4, &written, nullptr);
        CloseHandle(out);
    }
}

FileSet::~FileSet()
{
    for (const std::wstring& name : names_) DeleteFileW(PathOf(name).c_str());
    if (createdFolder_) RemoveDirectoryW(folder_.c_str());
}

std::wstring FileSet::PathOf(const std::wstring& name) const
{
    if (!folder_.empty() && folder_.back() == L'\\') return folder_ + name;
    return folder_ + L"\\" + name;
}

bool ChooseInFileDialog(const Program& program, const std::wstring& folder, const std::vector<std::wstring>& names)
{
    HWND dialog = program.WaitForWindow(L"#32770", L"Open a Real File", 10000);
    if (!dialog) return false;
    // The file name box: a combo box (cmb13) in newer dialogs, an edit (edt1) in older ones.
    HWND nameBox = GetDlgItem(dialog, 0x47c);
    if (!nameBox) nameBox = GetDlgItem(dialog, 0x480);
    if (!nameBox) return false;
    HWND ok = GetDlgItem(dialog, IDOK);
    // First the folder: typing a folder and OK opens it.
    SetText(nameBox, folder);
    Click(ok);
    Sleep(500);
    std::wstring typed;
    if (names.size() == 1) {
        typed = names[0];
    } else {
        for (const std::wstring& name : names) typed += L"\"" + name + L"\" ";
    }
    SetText(nameBox, typed);
    Click(ok);
    return WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 10000);
}

}  // namespace gui
