// A hidden window receives a message posted from another thread: the way the
// graph's streaming threads reach the converter.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

namespace {

constexpr UINT kProbeMessage = WM_USER + 20;

struct Received {
    std::atomic<DWORD> thread{0};
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    int count = 0;
};

LRESULT CALLBACK ProbeWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == kProbeMessage) {
        auto* r = reinterpret_cast<Received*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        r->thread = GetCurrentThreadId();
        r->wParam = wp;
        r->lParam = lp;
        ++r->count;
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

TEST(HiddenWindow, ReceivesMessagePostedFromAnotherThread)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = ProbeWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VellumoProbeWindow";
    ATOM atom = RegisterClassW(&wc);
    ASSERT_NE(0, atom);

    HWND hwnd = CreateWindowExW(0, L"VellumoProbeWindow", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                wc.hInstance, nullptr);
    ASSERT_NE(nullptr, hwnd);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    Received received;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&received));

    std::thread poster([hwnd] { PostMessageW(hwnd, kProbeMessage, 7, 1234567); });
    poster.join();

    // Pump until the message arrives, bounded by five seconds.
    const DWORD deadline = GetTickCount() + 5000;
    while (received.count == 0 && static_cast<LONG>(deadline - GetTickCount()) > 0) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    EXPECT_EQ(1, received.count);
    EXPECT_EQ(GetCurrentThreadId(), received.thread.load());
    EXPECT_EQ(7u, received.wParam);
    EXPECT_EQ(1234567, received.lParam);

    DestroyWindow(hwnd);
    UnregisterClassW(L"VellumoProbeWindow", wc.hInstance);
}

}  // namespace
