#include "paint_background.h"

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <string>

namespace vellumo {

BackgroundCanvas::~BackgroundCanvas() { Release(); }

void BackgroundCanvas::Release()
{
    if (dc_) {
        SelectObject(dc_, oldBitmap_);
        DeleteDC(dc_);
        dc_ = nullptr;
    }
    bitmap_.Reset();
    width_ = height_ = 0;
}

bool BackgroundCanvas::Attach(HWND window)
{
    Release();
    RECT client;
    GetClientRect(window, &client);
    width_ = std::max<int>(1, client.right - client.left);
    height_ = std::max<int>(1, client.bottom - client.top);
    HDC windowDc = GetDC(window);
    if (!windowDc) return false;
    dc_ = CreateCompatibleDC(windowDc);
    bitmap_.Reset(CreateCompatibleBitmap(windowDc, width_, height_));
    ReleaseDC(window, windowDc);
    if (!dc_ || !bitmap_.Get()) {
        Release();
        return false;
    }
    oldBitmap_ = SelectObject(dc_, bitmap_.Get());
    return true;
}

void BackgroundCanvas::Clear(COLORREF colour)
{
    if (!dc_) return;
    RECT all = {0, 0, width_, height_};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
}

void BackgroundCanvas::Line(int xa, int xb, int y, COLORREF colour)
{
    if (!dc_) return;
    RECT row = {std::min(xa, xb), y, std::max(xa, xb) + 1, y + 1};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc_, &row, brush);
    DeleteObject(brush);
}

void BackgroundCanvas::Show(HDC target) const
{
    if (dc_) BitBlt(target, 0, 0, width_, height_, dc_, 0, 0, SRCCOPY);
}

int RedOf(COLORREF colour) { return static_cast<int>(colour % 256); }
int GreenOf(COLORREF colour) { return static_cast<int>((colour / 256) % 256); }
int BlueOf(COLORREF colour) { return static_cast<int>((colour / 65536) % 256); }

COLORREF RampColour(COLORREF c1, COLORREF c2, int n, int i)
{
    // nearbyint rounds in the default mode: to nearest, halves to even.
    auto part = [n, i](int p1, int p2) {
        const double value = (static_cast<double>(p2 - p1) / n) * i + p1;
        return std::clamp(static_cast<int>(std::nearbyint(value)), 0, 255);
    };
    return RGB(part(RedOf(c1), RedOf(c2)), part(GreenOf(c1), GreenOf(c2)), part(BlueOf(c1), BlueOf(c2)));
}

namespace {

bool CaptionMentionsAbout(HWND window)
{
    std::wstring caption = ui::WindowText(window);
    std::transform(caption.begin(), caption.end(), caption.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return caption.find(L"about") != std::wstring::npos;
}

double FrameMiddle(HWND frame)
{
    RECT rect;
    GetWindowRect(frame, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(frame), reinterpret_cast<POINT*>(&rect), 2);
    return rect.top + (rect.bottom - rect.top) / 2.0;
}

struct RampContext {
    BackgroundCanvas& canvas;
    const std::vector<HWND>& frames;
    bool recolourFrames;
};

void Ramp(const RampContext& context, int xa, int ya, int xb, int yb, COLORREF c1, COLORREF c2)
{
    const int n = yb - ya + 1;
    for (int i = 0; i < n; ++i) {
        const int y = ya + i;
        const COLORREF colour = RampColour(c1, c2, n, i);
        context.canvas.Line(xa, xb, y, colour);
        if (!context.recolourFrames) continue;
        for (HWND frame : context.frames) {
            if (std::fabs(FrameMiddle(frame) - y) < 2.0) ui::FramePanel::SetBackColour(frame, colour);
        }
    }
}

}  // namespace

void PaintBackground(HWND window, BackgroundCanvas& canvas, COLORREF clearColour, const std::vector<HWND>& frames,
                     int x1, int y1, int x2, int y2, COLORREF colourA, COLORREF colourB)
{
    canvas.Clear(clearColour);
    const int h = y2 / 2;
    const RampContext context{canvas, frames, !CaptionMentionsAbout(window)};
    Ramp(context, x1, y1, x2, h, colourA, colourB);
    Ramp(context, x1, h, x2, y2, colourB, colourA);
    InvalidateRect(window, nullptr, TRUE);
}

}  // namespace vellumo
