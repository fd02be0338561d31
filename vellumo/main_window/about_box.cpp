#include "about_box.h"

#include "common/control_ids.h"
#include "common/ui_kit.h"
#include "common/version_info.h"
#include "paint_background.h"

namespace vellumo {

namespace {

constexpr wchar_t ProgramTitle[] = L"Vellumo";

class AboutWindow {
public:
    HWND Create(HWND owner)
    {
        ui::RegisterWindowClass(VELLUMO_ABOUT_CLASS, Proc);
        const SIZE size = ui::WindowSizeForClient(6390, 3555, ui::ModalStyle, ui::ModalExStyle);
        window_ = CreateWindowExW(ui::ModalExStyle, VELLUMO_ABOUT_CLASS, L"About Vellumo", ui::ModalStyle, 0, 0,
                                  size.cx, size.cy, owner, nullptr, GetModuleHandleW(nullptr), this);
        if (!window_) return nullptr;
        ui::CentreWindow(window_, owner);
        FormLoad();
        return window_;
    }

private:
    void CreateControls()
    {
        titleFont_ = ui::MakeFont(L"Verdana", 9.75, true);
        controlFont_ = ui::MakeDefaultFont();
        image_ = ui::CreateChild(window_, L"Static", L"", SS_ICON | SS_CENTERIMAGE, {240, 240, 480, 480}, ids::Image1,
                                 nullptr);
        icon_ = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0));
        if (icon_) SendMessageW(image_, STM_SETICON, reinterpret_cast<WPARAM>(icon_), 0);
        title_ = ui::CreateChild(window_, L"Static", L"", SS_LEFTNOWORDWRAP | SS_NOPREFIX, {960, 240, 2835, 240}, ids::AppTitle,
                                 titleFont_.Get());
        version_ = ui::CreateChild(window_, L"Static", L"", SS_LEFTNOWORDWRAP | SS_NOPREFIX, {960, 600, 1440, 240},
                                   ids::AppVersion, titleFont_.Get());
        ok_ = ui::CreateChild(window_, L"Button", L"OK", BS_OWNERDRAW | WS_TABSTOP, {4680, 240, 1215, 375},
                              ids::AboutOKButton, controlFont_.Get());
    }

    void FormLoad()
    {
        canvas_.Attach(window_);
        PaintBackground(window_, canvas_, GetSysColor(COLOR_BTNFACE), {}, 0, 0, canvas_.Width(), canvas_.Height(),
                        ui::Cream, ui::Cream);
        SetWindowTextW(window_, ProgramTitle);
        okColour_ = ui::Cream;
        SetWindowTextW(title_, ProgramTitle);
        const std::wstring version = L"Version: " + VersionText(ReadProgramVersion());
        SetWindowTextW(version_, version.c_str());
        // The designed widths are short of the texts in some fonts: the labels grow to show them.
        ui::WidenToText(title_);
        ui::WidenToText(version_);
        SetFocus(ok_);
    }

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = ui::WindowObject(window, message, lParam, &AboutWindow::window_);
        if (!self) return DefWindowProcW(window, message, wParam, lParam);
        switch (message) {
        case WM_CREATE:
            self->CreateControls();
            return 0;
        case WM_ERASEBKGND:
            self->canvas_.Show(reinterpret_cast<HDC>(wParam));
            return 1;
        case WM_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetBkColor(dc, ui::Cream);
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(self->brushes_.Get(ui::Cream));
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            ui::DrawColouredButton(*item, self->okColour_, self->controlFont_.Get());
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == ids::AboutOKButton || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
                ui::CloseModal(window);
            }
            return 0;
        case WM_CLOSE:
            ui::CloseModal(window);
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            if (self->icon_) DestroyIcon(self->icon_);
            self->icon_ = nullptr;
            self->window_ = nullptr;
            break;
        default:
            break;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
    HWND image_ = nullptr, title_ = nullptr, version_ = nullptr, ok_ = nullptr;
    HICON icon_ = nullptr;
    COLORREF okColour_ = GetSysColor(COLOR_BTNFACE);
    ui::Font titleFont_, controlFont_;
    ui::BrushCache brushes_;
    BackgroundCanvas canvas_;
};

}  // namespace

void AboutBox::ShowModal(HWND owner)
{
    AboutWindow frmAbout;
    HWND window = frmAbout.Create(owner);
    if (window) ui::RunModal(window, owner);
}

}  // namespace vellumo
