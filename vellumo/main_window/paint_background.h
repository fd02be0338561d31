// The painted background shared by the main window and the About box: two
// mirrored colour ramps of horizontal lines, kept as the window's lasting
// background image, and the frames brought to the colour under their middle.
#pragma once

#include <windows.h>

#include <vector>

#include "common/ui_kit.h"

namespace vellumo {

// The window's lasting background image: a bitmap of the client area that
// the window shows whenever its background is erased.
class BackgroundCanvas {
public:
    BackgroundCanvas() = default;
    ~BackgroundCanvas();
    BackgroundCanvas(const BackgroundCanvas&) = delete;
    BackgroundCanvas& operator=(const BackgroundCanvas&) = delete;

    // (Re)creates the image at the window's client size.
    bool Attach(HWND window);
    // Fills the image with the colour (the window's background colour).
    void Clear(COLORREF colour);
    // One horizontal line from xa to xb (both included) at y.
    void Line(int xa, int xb, int y, COLORREF colour);
    // Copies the image to a device context of the window.
    void Show(HDC target) const;

    int Width() const { return width_; }
    int Height() const { return height_; }
    HDC Dc() const { return dc_; }

private:
    void Release();
    HDC dc_ = nullptr;
    ui::Bitmap bitmap_;
    HGDIOBJ oldBitmap_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

// Red, green and blue of a 0xBBGGRR colour.
int RedOf(COLORREF colour);
int GreenOf(COLORREF colour);
int BlueOf(COLORREF colour);
// Line i of a ramp of n lines from c1 to c2: each part is
// ((c2part - c1part) / n) * i + c1part, rounded to nearest, halves to even.
COLORREF RampColour(COLORREF c1, COLORREF c2, int n, int i);

// A frame that may take the colour of the line under its middle.
struct PaintedFrame {
    HWND window;
};

// Clears the canvas with clearColour, paints the upper ramp (x1, y1)-(x2, h)
// from colourA to colourB and the lower ramp (x1, h)-(x2, y2) back to
// colourA, h = y2 / 2. After each line, unless the window's caption contains
// "About" in any letter case, every frame whose vertical middle lies less
// than 2 units from the line takes the line's colour. Then the window shows
// the new image.
void PaintBackground(HWND window, BackgroundCanvas& canvas, COLORREF clearColour, const std::vector<HWND>& frames,
                     int x1, int y1, int x2, int y2, COLORREF colourA, COLORREF colourB);

}  // namespace vellumo
