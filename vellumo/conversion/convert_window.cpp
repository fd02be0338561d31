#include "convert_window.h"

#include "common/control_ids.h"
#include "common/ui_kit.h"
#include "main_window/main_window.h"

namespace vellumo {

namespace {

constexpr DWORD ConvertStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DWORD ConvertExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

// Until the batch conversion arrives, the window only shows what it would
// convert and closes with Cancel.
LRESULT CALLBACK ConvertProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == ids::ConvertCancel || LOWORD(wParam) == IDCANCEL) ui::CloseModal(window);
        return 0;
    case WM_CLOSE:
        ui::CloseModal(window);
        return 0;
    case WM_NCDESTROY: {
        auto* font = reinterpret_cast<ui::Font*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        delete font;
        break;
    }
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

void ConvertWindow::ShowModal(MainWindow& frmMain)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ConvertProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = VELLUMO_CONVERT_CLASS;
    RegisterClassExW(&wc);
    const wchar_t* caption = frmMain.IsMp3Selected() ? L"Convert RA re RE3" : L"Convert RM to WAV";
    const SIZE size = ui::WindowSizeForClient(6645, 3015, ConvertStyle, ConvertExStyle);
    HWND window = CreateWindowExW(ConvertExStyle, VELLUMO_CONVERT_CLASS, caption, ConvertStyle, 0, 0, size.cx, size.cy,
                                  frmMain.Handle(), nullptr, wc.hInstance, nullptr);
    if (!window) return;
    auto* font = new ui::Font(ui::MakeDefaultFont());
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(font));
    const std::wstring text = std::to_wstring(frmMain.SourceCount()) + L" file(s) to " +
                              frmMain.OutputFolderText();
    ui::CreateChild(window, L"Static", text.c_str(), SS_LEFT | SS_NOPREFIX, {240, 240, 6135, 255}, 0, font->Get());
    ui::CreateChild(window, L"Button", L"&Cancel", BS_PUSHBUTTON | WS_TABSTOP, {4920, 2280, 1455, 375},
                    ids::ConvertCancel, font->Get());
    ui::CentreWindow(window, frmMain.Handle());
    ui::RunModal(window, frmMain.Handle());
}

}  // namespace vellumo
