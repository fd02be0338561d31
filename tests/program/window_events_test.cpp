// The main window in this process, with its real converter control hosted
// from the registration: the control's onError event, raised through the
// control's own connection point, reaches the main window's handler with
// its table of messages.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "common/control_ids.h"
#include "gui_driver.h"
#include "main_window/main_window.h"

using namespace vellumo;
using gui::BoxIcon;
using gui::MessageBoxInfo;

namespace {

// {D819D4BB-E84A-4857-AA94-B89F45E076ED}
constexpr IID DIID_Events = {0xD819D4BB, 0xE84A, 0x4857, {0xAA, 0x94, 0xB8, 0x9F, 0x45, 0xE0, 0x76, 0xED}};

// Answers every message box this process shows, and remembers them.
class BoxWatcher {
public:
    BoxWatcher() : thread_([this] { Run(); }) {}
    ~BoxWatcher()
    {
        stop_ = true;
        thread_.join();
    }
    std::vector<MessageBoxInfo> Take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<MessageBoxInfo> seen;
        seen.swap(seen_);
        return seen;
    }

private:
    void Run()
    {
        while (!stop_) {
            MessageBoxInfo box;
            if (gui::FindMessageBox(GetCurrentProcessId(), &box)) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    seen_.push_back(box);
                }
                PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(box.window, IDOK)));
                for (int i = 0; i < 100 && IsWindow(box.window); ++i) Sleep(20);
            }
            Sleep(20);
        }
    }

    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<MessageBoxInfo> seen_;
    std::thread thread_;
};

class MainWindowInProcessTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        OleInitialize(nullptr);
        created = MainWindow::Instance().Create(SW_SHOW);
    }
    static void TearDownTestSuite()
    {
        if (HWND main = MainWindow::Instance().Handle()) DestroyWindow(main);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        OleUninitialize();
    }
    void SetUp() override
    {
        ASSERT_TRUE(created);
        ASSERT_TRUE(frmMain().Converter().IsValid()) << "the converter control was not created";
        watcher.Take();
    }

    static MainWindow& frmMain() { return MainWindow::Instance(); }
    static HWND Ctl(int id) { return gui::Control(frmMain().Handle(), id); }

    // Raises onError the way the control does: Invoke on every sink
    // connected to its connection point.
    static int RaiseError(LONG code)
    {
        corvane::ComPtr<IConnectionPointContainer> points;
        if (FAILED(frmMain().Converter().Get()->QueryInterface(IID_IConnectionPointContainer, points.PutVoid())))
            return -1;
        corvane::ComPtr<IConnectionPoint> point;
        if (FAILED(points->FindConnectionPoint(DIID_Events, point.Put()))) return -1;
        corvane::ComPtr<IEnumConnections> connections;
        if (FAILED(point->EnumConnections(connections.Put()))) return -1;
        int sinks = 0;
        CONNECTDATA data;
        while (connections->Next(1, &data, nullptr) == S_OK) {
            corvane::ComPtr<IUnknown> unknown = corvane::ComPtr<IUnknown>::Attach(data.pUnk);
            corvane::ComPtr<IDispatch> sink;
            if (FAILED(unknown.As(sink))) continue;
            VARIANT arg;
            VariantInit(&arg);
            V_VT(&arg) = VT_I4;
            V_I4(&arg) = code;
            DISPPARAMS params = {&arg, nullptr, 1, 0};
            VARIANT result;
            VariantInit(&result);
            sink->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
            VariantClear(&result);
            ++sinks;
        }
        return sinks;
    }

    static bool CommandsEnabled(bool expected)
    {
        for (int id : {ids::cmdPara, ids::cmdOpenRM, ids::cmdSaveAs, ids::cmdConvert}) {
            if ((IsWindowEnabled(Ctl(id)) != FALSE) != expected) return false;
        }
        return true;
    }

    // The one message box a code gives.
    MessageBoxInfo BoxFor(LONG code)
    {
        EXPECT_EQ(RaiseError(code), 1) << "the main window's sink is connected once";
        std::vector<MessageBoxInfo> boxes = watcher.Take();
        EXPECT_EQ(boxes.size(), 1u) << code;
        return boxes.empty() ? MessageBoxInfo() : boxes.front();
    }

    static bool created;
    BoxWatcher watcher;
};

bool MainWindowInProcessTest::created = false;

}  // namespace

TEST_F(MainWindowInProcessTest, Code183ChangesNothing)
{
    frmMain().EnableCommands(false);
    EXPECT_EQ(RaiseError(183), 1);
    Sleep(300);
    EXPECT_TRUE(watcher.Take().empty());
    EXPECT_TRUE(CommandsEnabled(false));
    frmMain().EnableCommands(true);
}

TEST_F(MainWindowInProcessTest, SourceStageCodesShowNothingButEnableTheCommands)
{
    for (LONG code : {80001, 80002, 80003}) {
        frmMain().EnableCommands(false);
        EXPECT_EQ(RaiseError(code), 1);
        Sleep(200);
        EXPECT_TRUE(watcher.Take().empty()) << code;
        EXPECT_TRUE(CommandsEnabled(true)) << code;
    }
}

TEST_F(MainWindowInProcessTest, TableCodesShowTheirMessagesWithTheStopIcon)
{
    const struct {
        LONG code;
        const wchar_t* text;
    } table[] = {
        {32, L"File in used now \xFF01"},        {80000, L"DX or COM runtime Exception\xFF01"},
        {80004, L"Wave Encode Exption\xFF01"},   {80005, L"Mp3 Encode Exption\xFF01"},
        {80006, L"Encode Exption\xFF01"},        {88890, L"Runtime Exception\xFF01"},
    };
    for (const auto& row : table) {
        frmMain().EnableCommands(false);
        const MessageBoxInfo box = BoxFor(row.code);
        EXPECT_EQ(box.title, L"Error Converting") << row.code;
        EXPECT_EQ(box.text, row.text) << row.code;
        EXPECT_EQ(box.icon, BoxIcon::Stop) << row.code;
        EXPECT_TRUE(CommandsEnabled(true)) << row.code;
    }
}

TEST_F(MainWindowInProcessTest, OtherCodesShowTheSystemErrorWithTheCode)
{
    MessageBoxInfo box = BoxFor(99);
    EXPECT_EQ(box.text, L"System Error\xFF01" L"Error Code\xFF1A" L"99");
    EXPECT_EQ(box.title, L"Error Converting");
    box = BoxFor(-1);
    EXPECT_EQ(box.text, L"System Error\xFF01" L"Error Code\xFF1A" L"-1");
}

TEST_F(MainWindowInProcessTest, ARealFailureOfTheControlReachesTheHandler)
{
    // A conversion with no source: the control raises its own error codes.
    frmMain().EnableCommands(false);
    EXPECT_EQ(frmMain().Converter().Call(2 /* Convert */), S_OK);
    Sleep(300);
    const std::vector<MessageBoxInfo> boxes = watcher.Take();
    EXPECT_TRUE(CommandsEnabled(true)) << "an error event enables the commands again";
    for (const MessageBoxInfo& box : boxes) {
        EXPECT_EQ(box.title, L"Error Converting");
        EXPECT_EQ(box.icon, BoxIcon::Stop);
    }
}

TEST_F(MainWindowInProcessTest, TheParameterStoreHoldsTheLoadedSettings)
{
    // No settings.ini beside this test program: the converter's defaults.
    LONG value = -1;
    ASSERT_EQ(frmMain().Converter().GetLong(17 /* MP3_Bitrate */, &value), S_OK);
    EXPECT_EQ(value, 8);
    ASSERT_EQ(frmMain().Converter().GetLong(22 /* WAV_Channels */, &value), S_OK);
    EXPECT_EQ(value, 2);
}

namespace {

LOGFONTW FontOf(HWND control)
{
    LOGFONTW font = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(font), &font);
    return font;
}

int PointsToHeight(double points)
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return -static_cast<int>(points * dpi / 72.0 + 0.5);
}

}  // namespace

TEST_F(MainWindowInProcessTest, FramesAndOptionButtonsHaveTheirFonts)
{
    for (int id : {ids::Frame1, ids::Frame2, ids::Frame3}) {
        const LOGFONTW font = FontOf(Ctl(id));
        EXPECT_STREQ(font.lfFaceName, L"Verdana") << id;
        EXPECT_EQ(font.lfWeight, FW_BOLD) << id;
        EXPECT_EQ(font.lfHeight, PointsToHeight(8.25)) << id;
    }
    for (int id : {ids::optMP3, ids::optWAV}) {
        const LOGFONTW font = FontOf(Ctl(id));
        EXPECT_STREQ(font.lfFaceName, L"Arial") << id;
        EXPECT_EQ(font.lfWeight, FW_BOLD) << id;
        EXPECT_EQ(font.lfHeight, PointsToHeight(9.75)) << id;
    }
}
