// The main window inside the test process, with its real converter control,
// and a watcher that reads and answers the message boxes it shows.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gui_driver.h"
#include "main_window/main_window.h"

namespace gui {

// Answers every message box this process shows, and remembers them.
class BoxWatcher {
public:
    BoxWatcher() : thread_([this] {
        for (MessageBoxInfo box; !stop_; Sleep(20)) {
            if (!gui::FindMessageBox(GetCurrentProcessId(), &box)) continue;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back(box);
            }
            Sleep(answerAfterMs);
            // A question (the final box offering the report) is answered No.
            const int answer = GetDlgItem(box.window, IDNO) ? IDNO : IDOK;
            PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box.window, answer)));
            for (int i = 0; i < 100 && IsWindow(box.window); ++i) Sleep(20);
        }
    }) {}
    ~BoxWatcher()
    {
        stop_ = true;
        thread_.join();
    }
    // True once a box whose text begins with text was seen.
    bool Saw(const std::wstring& text)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::any_of(seen_.begin(), seen_.end(),
                           [&](const MessageBoxInfo& box) { return box.text.rfind(text, 0) == 0; });
    }
    std::vector<MessageBoxInfo> Take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(seen_, {});
    }

    std::atomic<DWORD> answerAfterMs{0};

private:
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<MessageBoxInfo> seen_;
    std::thread thread_;
};

class InProcessMainWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        OleInitialize(nullptr);
        created = vellumo::MainWindow::Instance().Create(SW_SHOW);
    }
    static void TearDownTestSuite()
    {
        if (HWND main = vellumo::MainWindow::Instance().Handle()) DestroyWindow(main);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        OleUninitialize();
    }
    void SetUp() override
    {
        ASSERT_TRUE(created);
        ASSERT_TRUE(frmMain().Converter().IsValid()) << "the converter control was not created";
    }

    static vellumo::MainWindow& frmMain() { return vellumo::MainWindow::Instance(); }
    static HWND Ctl(int id) { return Control(frmMain().Handle(), id); }

    static inline bool created = false;
    BoxWatcher watcher;
};

}  // namespace gui
