#include "ui_kit.h"

#include <cmath>

namespace vellumo::ui {

namespace {

int ScreenDpi(int axis)
{
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, axis) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

const wchar_t FrameClass[] = L"VellumoFrame";

struct FrameState {
    COLORREF back;
    HFONT font;
};

FrameState* StateOf(HWND frame) { return reinterpret_cast<FrameState*>(GetWindowLongPtrW(frame, GWLP_USERDATA)); }

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCCREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        break;
    }
    case WM_NCDESTROY:
        delete StateOf(window);
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        break;
    case WM_ERASEBKGND: {
        const FrameState* state = StateOf(window);
        RECT client;
        GetClientRect(window, &client);
        HBRUSH brush = CreateSolidBrush(state ? state->back : GetSysColor(COLOR_BTNFACE));
        FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
        DeleteObject(brush);
        return 1;
    }
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        const FrameState* state = StateOf(window);
        RECT client;
        GetClientRect(window, &client);
        HGDIOBJ oldFont = SelectObject(dc, state && state->font ? state->font : GetStockObject(DEFAULT_GUI_FONT));
        TEXTMETRICW metrics;
        GetTextMetricsW(dc, &metrics);
        RECT border = client;
        border.top += metrics.tmHeight / 2;
        DrawEdge(dc, &border, EDGE_ETCHED, BF_RECT);
        const std::wstring caption = WindowText(window);
        if (!caption.empty()) {
            SetBkMode(dc, OPAQUE);
            SetBkColor(dc, state ? state->back : GetSysColor(COLOR_BTNFACE));
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            RECT text = {TwipsToPixelsX(120), 0, client.right, metrics.tmHeight};
            DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
                      DT_LEFT | DT_TOP | DT_SINGLELINE | DT_CALCRECT);
            DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text, DT_LEFT | DT_TOP | DT_SINGLELINE);
        }
        SelectObject(dc, oldFont);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_GETFONT: {
        const FrameState* state = StateOf(window);
        return reinterpret_cast<LRESULT>(state ? state->font : nullptr);
    }
    case WM_SETTEXT: {
        const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
        InvalidateRect(window, nullptr, TRUE);
        return result;
    }
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
        return SendMessageW(GetParent(window), message, wParam, lParam);
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterFrameClass()
{
    static bool registered = false;
    if (registered) return;
    registered = RegisterWindowClass(FrameClass, FrameProc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

int TwipsToPixelsX(int twips)
{
    static const int dpi = ScreenDpi(LOGPIXELSX);
    return MulDiv(twips, dpi, 1440);
}

int TwipsToPixelsY(int twips)
{
    static const int dpi = ScreenDpi(LOGPIXELSY);
    return MulDiv(twips, dpi, 1440);
}

Font MakeFont(const wchar_t* face, double points, bool bold)
{
    LOGFONTW font = {};
    font.lfHeight = -static_cast<LONG>(std::lround(points * ScreenDpi(LOGPIXELSY) / 72.0));
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    return Font(CreateFontIndirectW(&font));
}

Font MakeDefaultFont()
{
    // The classic dialog font at 8 points: the designed layout is measured for it.
    return MakeFont(L"MS Sans Serif", 8.25, false);
}

HBRUSH BrushCache::Get(COLORREF colour)
{
    auto found = brushes_.find(colour);
    if (found != brushes_.end()) return found->second.Get();
    HBRUSH brush = CreateSolidBrush(colour);
    brushes_.emplace(colour, Brush(brush));
    return brush;
}

ATOM RegisterWindowClass(const wchar_t* name, WNDPROC proc, HBRUSH background)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    return RegisterClassExW(&wc);
}

HWND CreateChild(HWND parent, const wchar_t* windowClass, const wchar_t* text, DWORD style, const TwipRect& where,
                 int id, HFONT font, DWORD exStyle)
{
    HWND child = CreateWindowExW(exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style,
                                 TwipsToPixelsX(where.left), TwipsToPixelsY(where.top), TwipsToPixelsX(where.width),
                                 TwipsToPixelsY(where.height), parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (child && font) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

HWND FramePanel::Create(HWND parent, const wchar_t* caption, const TwipRect& where, int id, HFONT captionFont,
                        COLORREF backColour)
{
    RegisterFrameClass();
    auto* state = new FrameState{backColour, captionFont};
    HWND frame = CreateWindowExW(WS_EX_CONTROLPARENT, FrameClass, caption, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                                 TwipsToPixelsX(where.left), TwipsToPixelsY(where.top), TwipsToPixelsX(where.width),
                                 TwipsToPixelsY(where.height), parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), state);
    if (!frame) delete state;
    return frame;
}

void FramePanel::SetBackColour(HWND frame, COLORREF colour)
{
    if (FrameState* state = StateOf(frame)) {
        state->back = colour;
        InvalidateRect(frame, nullptr, TRUE);
    }
}

COLORREF FramePanel::BackColour(HWND frame)
{
    const FrameState* state = StateOf(frame);
    return state ? state->back : GetSysColor(COLOR_BTNFACE);
}

void DrawColouredButton(const DRAWITEMSTRUCT& item, COLORREF backColour, HFONT font)
{
    HDC dc = item.hDC;
    RECT rect = item.rcItem;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const bool focused = (item.itemState & ODS_FOCUS) != 0;

    HBRUSH brush = CreateSolidBrush(backColour);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
    if (focused) {
        FrameRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        InflateRect(&rect, -1, -1);
    }
    DrawEdge(dc, &rect, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);

    const std::wstring caption = WindowText(item.hwndItem);
    HGDIOBJ oldFont = SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    RECT text = rect;
    if (pressed) OffsetRect(&text, 1, 1);
    UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    if (item.itemState & ODS_NOACCEL) format |= DT_HIDEPREFIX;
    if (disabled) {
        OffsetRect(&text, 1, 1);
        SetTextColor(dc, GetSysColor(COLOR_3DHILIGHT));
        DrawTextW(dc, caption.c_str(), -1, &text, format);
        OffsetRect(&text, -1, -1);
        SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    } else {
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    }
    DrawTextW(dc, caption.c_str(), -1, &text, format);
    SelectObject(dc, oldFont);
    if (focused) {
        RECT focus = rect;
        InflateRect(&focus, -3, -3);
        DrawFocusRect(dc, &focus);
    }
}

SIZE WindowSizeForClient(int clientWidthTwips, int clientHeightTwips, DWORD style, DWORD exStyle)
{
    RECT rect = {0, 0, TwipsToPixelsX(clientWidthTwips), TwipsToPixelsY(clientHeightTwips)};
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void CentreWindow(HWND window, HWND over)
{
    RECT area;
    if (over && IsWindow(over)) {
        GetWindowRect(over, &area);
    } else {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void RunModal(HWND window, HWND owner)
{
    const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (owner) EnableWindow(owner, FALSE);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    MSG message;
    bool quit = false;
    int quitCode = 0;
    while (IsWindow(window)) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            quitCode = static_cast<int>(message.wParam);
            DestroyWindow(window);
            break;
        }
        if (got < 0) break;
        if (IsWindow(window) && IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (owner && ownerWasEnabled) {
        EnableWindow(owner, TRUE);
        SetActiveWindow(owner);
    }
    if (quit) PostQuitMessage(quitCode);
}

void WidenToText(HWND label)
{
    const std::wstring text = WindowText(label);
    HDC dc = GetDC(label);
    if (!dc) return;
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
    RECT needed = {0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    RECT rect;
    GetWindowRect(label, &rect);
    if (needed.right > rect.right - rect.left) {
        SetWindowPos(label, nullptr, 0, 0, needed.right + 2, rect.bottom - rect.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CloseModal(HWND window)
{
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner) EnableWindow(owner, TRUE);
    DestroyWindow(window);
}

std::wstring WindowText(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int n = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    return text;
}

}  // namespace vellumo::ui
