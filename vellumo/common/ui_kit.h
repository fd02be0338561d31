// Small window-building kit shared by the program's forms: twip layout,
// fonts, colours, brushes, frames that hold controls, coloured buttons and
// modal showing.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace vellumo::ui {

constexpr COLORREF Sky = RGB(161, 214, 254);
constexpr COLORREF ButtonYellow = RGB(255, 255, 128);
constexpr COLORREF Cream = RGB(255, 255, 192);

// The window styles of the program's modal forms.
constexpr DWORD ModalStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_CLIPCHILDREN;
constexpr DWORD ModalExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

// Twips (1/1440 inch) to pixels at the system's DPI: 15 twips a pixel at 96 dpi.
int TwipsToPixelsX(int twips);
int TwipsToPixelsY(int twips);

struct TwipRect {
    int left, top, width, height;
};

// An owned GDI object.
template <class H>
class GdiObject {
public:
    GdiObject() = default;
    explicit GdiObject(H handle) : handle_(handle) {}
    ~GdiObject() { Reset(); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    GdiObject(GdiObject&& o) noexcept : handle_(o.handle_) { o.handle_ = nullptr; }
    GdiObject& operator=(GdiObject&& o) noexcept {
        if (this != &o) { Reset(); handle_ = o.handle_; o.handle_ = nullptr; }
        return *this;
    }
    void Reset(H handle = nullptr) {
        if (handle_) DeleteObject(handle_);
        handle_ = handle;
    }
    H Get() const { return handle_; }

private:
    H handle_ = nullptr;
};

using Font = GdiObject<HFONT>;
using Brush = GdiObject<HBRUSH>;
using Bitmap = GdiObject<HBITMAP>;

// A font of the given face and size in points (8.25, 9.75 ...).
Font MakeFont(const wchar_t* face, double points, bool bold);
// The system's message font, for controls without a font of their own.
Font MakeDefaultFont();

// Solid brushes by colour, owned for the life of a window.
class BrushCache {
public:
    HBRUSH Get(COLORREF colour);

private:
    std::map<COLORREF, Brush> brushes_;
};

// Creates a child control at a position in twips inside its parent.
HWND CreateChild(HWND parent, const wchar_t* windowClass, const wchar_t* text, DWORD style, const TwipRect& where,
                 int id, HFONT font, DWORD exStyle = 0);

// A frame: a child window that holds other controls, fills itself with its
// background colour and draws an etched border with its caption. It passes
// the notifications of its controls on to its parent.
class FramePanel {
public:
    static HWND Create(HWND parent, const wchar_t* caption, const TwipRect& where, int id, HFONT captionFont,
                       COLORREF backColour);
    static void SetBackColour(HWND frame, COLORREF colour);
    static COLORREF BackColour(HWND frame);
};

// Paints an owner-drawn push button in its background colour.
void DrawColouredButton(const DRAWITEMSTRUCT& item, COLORREF backColour, HFONT font);

// Registers a window class of the program with the arrow cursor (a class
// already registered fails, which is harmless).
ATOM RegisterWindowClass(const wchar_t* name, WNDPROC proc, HBRUSH background = nullptr);

// The object behind a form's window procedure: the object passed as the
// creation parameter, bound to the window (and its window member set) at
// WM_NCCREATE. Null for messages before that and after it is unbound.
template <class T>
T* WindowObject(HWND window, UINT message, LPARAM lParam, HWND T::*windowMember)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->*windowMember = window;
    }
    return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// The window procedure of a form T: its messages go to T::Handle once the
// window is bound (see WindowObject); at WM_NCDESTROY it is unbound and the
// window member cleared. T makes this template a friend.
template <class T, HWND T::*WindowMember>
LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    T* self = WindowObject(window, message, lParam, WindowMember);
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->*WindowMember = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->Handle(message, wParam, lParam);
}

// Window size for a client area given in twips.
SIZE WindowSizeForClient(int clientWidthTwips, int clientHeightTwips, DWORD style, DWORD exStyle);
// Centres a window over another window, or on the screen when over is null.
void CentreWindow(HWND window, HWND over);

// Shows the window modally over owner and returns when it is destroyed.
// The owner takes no input meanwhile. A WM_QUIT met on the way is passed on.
void RunModal(HWND window, HWND owner);

// Makes a one-line label wide enough for its text (never narrower).
void WidenToText(HWND label);

// Closes a window shown by RunModal: its owner takes input again first, so
// that the activation returns to it.
void CloseModal(HWND window);

// The window's text as a string.
std::wstring WindowText(HWND window);

}  // namespace vellumo::ui
