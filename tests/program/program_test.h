// The fixture of the tests that start the real vellumo.exe.
#pragma once

#include <gtest/gtest.h>

#include "gui_driver.h"

namespace gui {

// Tests of the running program's main window and the windows it opens.
class ProgramTest : public ::testing::Test {
protected:
    explicit ProgramTest(const std::wstring& folder = L"vellumo run") : program(folder) {}
    explicit ProgramTest(const Program::Installed& installed) : program(installed) {}

    // Starts the program (after writing settings.ini, when given); no start-up message.
    void Start(const std::string& settings = std::string())
    {
        if (!settings.empty()) program.WriteSettings(settings);
        ASSERT_TRUE(program.Start()) << "vellumo.exe did not show its main window";
        MessageBoxInfo box;
        ASSERT_FALSE(program.WaitForMessageBox(&box, 300)) << "start-up message: " << testing::PrintToString(box.text);
    }
    HWND Ctl(int id) const { return program.MainControl(id); }
    void AddFiles(const std::wstring& folder, const Texts& names) { ASSERT_TRUE(gui::AddFiles(program, folder, names)); }
    // Clicks a command and returns the window of the class it opens.
    HWND Open(int command, const wchar_t* windowClass, const wchar_t* caption = L"")
    {
        Click(Ctl(command));
        HWND window = program.WaitForWindow(windowClass, caption);
        EXPECT_NE(window, nullptr) << testing::PrintToString(std::wstring(windowClass));
        return window;
    }
    // Closes a window with a button (or WM_CLOSE) and waits until the main window is back.
    bool Close(HWND window, HWND button = nullptr)
    {
        button ? Click(button) : static_cast<void>(PostMessageW(window, WM_CLOSE, 0, 0));
        return WaitFor([&] { return !IsWindow(window) && IsWindowEnabled(program.Main()); });
    }
    MessageBoxInfo BoxAfter(HWND button)
    {
        Click(button);
        MessageBoxInfo box;
        EXPECT_TRUE(program.WaitForMessageBox(&box)) << "no message box after clicking " << GetDlgCtrlID(button);
        return box;
    }
    static void ExpectBox(const MessageBoxInfo& box, const std::wstring& text, BoxIcon icon, const wchar_t* title = L"Vellumo")
    {
        EXPECT_EQ(box.title, title);
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.icon, icon);
    }

    Program program;
};

}  // namespace gui
