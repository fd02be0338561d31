#include "percent_bar.h"

#include "batch_text.h"
#include "common/ui_kit.h"

namespace vellumo {

namespace {

constexpr wchar_t TrackClass[] = L"VellumoPercentTrack";
constexpr COLORREF TrackColour = RGB(255, 255, 255);

// The label's colour requests go on to the window that owns the track.
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

}  // namespace

void PercentBar::Create(HWND parent, int top, int trackId, int fillId, HFONT font)
{
    // Already registered on a second opening.
    ui::RegisterWindowClass(TrackClass, TrackProc);
    track_ = ui::CreateChild(parent, TrackClass, L"", WS_CLIPCHILDREN, {2160, top, 4215, 285}, trackId, font,
                             WS_EX_CLIENTEDGE);
    fill_ = ui::CreateChild(track_, L"Static", L"0%", SS_CENTER | SS_NOPREFIX | SS_CENTERIMAGE, {0, 0, 855, 285},
                            fillId, font);
}

void PercentBar::Draw(float p) const
{
    if (p > 100) p = 100;
    RECT client;
    if (GetClientRect(track_, &client)) {
        const double width = static_cast<double>(client.right - client.left) * p / 100.0;
        // A width that cannot be drawn (below zero) leaves the bar as it was.
        // A bar that keeps its width is not drawn again: in a long batch the
        // files bar moves once in many files.
        RECT now;
        const bool same = GetWindowRect(fill_, &now) && now.right - now.left == static_cast<int>(width) &&
                          now.bottom - now.top == client.bottom - client.top;
        if (width >= 0 && !same) {
            SetWindowPos(fill_, nullptr, 0, 0, static_cast<int>(width), client.bottom - client.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            InvalidateRect(track_, nullptr, TRUE);
        }
    }
    const std::wstring caption = batch::PercentCaption(p);
    if (ui::WindowText(fill_) != caption) SetWindowTextW(fill_, caption.c_str());
}

}  // namespace vellumo
