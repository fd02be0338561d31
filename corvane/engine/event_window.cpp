#include "event_window.h"

#include "atl_halvex.h"

namespace corvane {

namespace {

constexpr wchar_t kClassName[] = L"CorvaneGraphEventWindow";

HINSTANCE ModuleInstance()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ModuleInstance), &module);
    return module;
}

}  // namespace

GraphEventWindow::GraphEventWindow(AtlHalvex& converter) : converter_(converter)
{
    HINSTANCE instance = ModuleInstance();
    WNDCLASSEXW wc{};
    if (!GetClassInfoExW(instance, kClassName, &wc)) {
        wc = WNDCLASSEXW{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &GraphEventWindow::WindowProc;
        wc.hInstance = instance;
        wc.lpszClassName = kClassName;
        RegisterClassExW(&wc);
    }
    // A message-only window: it is never shown and needs no desktop.
    window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
    converter_.SetWindow(window_);
}

GraphEventWindow::~GraphEventWindow()
{
    if (converter_.Window() == window_) converter_.SetWindow(nullptr);
    if (window_) DestroyWindow(window_);
}

LRESULT CALLBACK GraphEventWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == GraphEventMessage) {
        auto* self = reinterpret_cast<GraphEventWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self) self->converter_.OnGraphEventMessage();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace corvane
