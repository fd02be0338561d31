#include "control_window.h"

#include <cwchar>

#include "atl_halvex.h"
#include "module.h"

namespace corvane::server {
namespace {

wchar_t g_className[16];
ATOM g_classAtom = 0;

ControlWindowHandler* HandlerOf(HWND window)
{
    return reinterpret_cast<ControlWindowHandler*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == GraphEventMessage) {
        if (ControlWindowHandler* handler = HandlerOf(window)) handler->OnGraphEventMessage();
        return 0;
    }
    switch (message) {
    case WM_NCCREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        break;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        if (dc) {
            RECT client;
            GetClientRect(window, &client);
            if (ControlWindowHandler* handler = HandlerOf(window)) handler->OnPaint(dc, client);
        }
        EndPaint(window, &ps);
        return 0;
    }
    case WM_NCDESTROY:
        if (ControlWindowHandler* handler = HandlerOf(window)) {
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            handler->OnWindowDestroyed();
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool EnsureClass()
{
    CriticalSectionLock lock(Module::Instance().Guard());
    if (g_classAtom) return true;
    // A name unique within the process: made from the address of the class
    // name's own storage.
    const auto tag = static_cast<unsigned>(reinterpret_cast<uintptr_t>(&g_className) & 0xFFFFFFFFu);
    swprintf(g_className, sizeof g_className / sizeof g_className[0], L"ATL:%8.8X", tag);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = ControlWindowProc;
    wc.hInstance = Module::Instance().Handle();
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszClassName = g_className;
    g_classAtom = RegisterClassExW(&wc);
    return g_classAtom != 0;
}

}  // namespace

HWND CreateControlWindow(HWND parent, const RECT& pos, ControlWindowHandler* handler)
{
    if (!EnsureClass()) return nullptr;
    return CreateWindowExW(0, g_className, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                           pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top, parent, nullptr,
                           Module::Instance().Handle(), handler);
}

void UnregisterControlWindowClass()
{
    if (g_classAtom) {
        UnregisterClassW(g_className, Module::Instance().Handle());
        g_classAtom = 0;
    }
}

}  // namespace corvane::server
