// The main window in this process with its real converter control: onError
// raised through the control's connection point, files dropped from the
// shell, the folder picker with a folder named outside the code page, and
// the batch window's load failures.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <dlgs.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fake_filters.h"
#include "filter_ids.h"
#include "common/control_ids.h"
#include "common/halvex_host.h"
#include "conversion/convert_window.h"
#include "conversion/partial_output.h"
#include "gui_driver.h"
#include "in_process_window.h"
#include "main_window/main_window.h"
#include "test_platform.h"

using namespace vellumo;
using gui::BoxIcon;
using gui::BoxWatcher;
using gui::MessageBoxInfo;

namespace {

// The shell's taskbar button, in this process: what the batch window draws
// on it (the states it set, the last value) while the object is registered.
class TaskbarDouble final : public ITaskbarList3, public IClassFactory {
public:
    TaskbarDouble() { CoRegisterClassObject(CLSID_TaskbarList, static_cast<IClassFactory*>(this), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_); }
    ~TaskbarDouble() { CoRevokeClassObject(cookie_); }
    std::vector<int> states;
    ULONGLONG done = 0, total = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) *out = static_cast<IClassFactory*>(this);
        else if (iid == IID_ITaskbarList3) *out = static_cast<ITaskbarList3*>(this);
        else return *out = nullptr, E_NOINTERFACE;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives on the test's stack
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** out) override { return QueryInterface(iid, out); }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG d, ULONGLONG t) override { return done = d, total = t, S_OK; }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG f) override { return states.push_back(f), S_OK; }
    HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return S_OK; }

private:
    DWORD cookie_ = 0;
};

// {D819D4BB-E84A-4857-AA94-B89F45E076ED}
constexpr IID DIID_Events = {0xD819D4BB, 0xE84A, 0x4857, {0xAA, 0x94, 0xB8, 0x9F, 0x45, 0xE0, 0x76, 0xED}};

class MainWindowInProcessTest : public gui::InProcessMainWindow {
protected:

    // The sinks connected to a control's event connection point.
    static std::vector<corvane::ComPtr<IDispatch>> SinksOf(IDispatch* control)
    {
        std::vector<corvane::ComPtr<IDispatch>> sinks;
        corvane::ComPtr<IConnectionPointContainer> points;
        corvane::ComPtr<IConnectionPoint> point;
        corvane::ComPtr<IEnumConnections> connections;
        if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, points.PutVoid())) ||
            FAILED(points->FindConnectionPoint(DIID_Events, point.Put())) ||
            FAILED(point->EnumConnections(connections.Put())))
            return sinks;
        for (CONNECTDATA data; connections->Next(1, &data, nullptr) == S_OK;) {
            corvane::ComPtr<IUnknown> unknown = corvane::ComPtr<IUnknown>::Attach(data.pUnk);
            if (SUCCEEDED(unknown.As(sinks.emplace_back()))) continue;
            sinks.pop_back();
        }
        return sinks;
    }
    // Raises onError on one sink the way the control does.
    static HRESULT Raise(IDispatch* sink, LONG code)
    {
        VARIANT arg{}, result{};
        V_VT(&arg) = VT_I4;
        V_I4(&arg) = code;
        DISPPARAMS params = {&arg, nullptr, 1, 0};
        const HRESULT hr = sink->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        VariantClear(&result);
        return hr;
    }
    // Raises onError on every sink of the main window's converter. Returns the number of sinks.
    static int RaiseError(LONG code)
    {
        const auto sinks = SinksOf(frmMain().Converter().Get());
        for (const auto& sink : sinks) Raise(sink.Get(), code);
        return static_cast<int>(sinks.size());
    }

    static bool CommandsEnabled(bool expected)
    {
        for (int id : {ids::cmdPara, ids::cmdOpenRM, ids::cmdSaveAs, ids::cmdConvert})
            if ((IsWindowEnabled(Ctl(id)) != FALSE) != expected) return false;
        return true;
    }

    // The user opens the batch window, presses Start and does what act says,
    // then closes the window; during a batch that cancels it.
    void Batch(const std::function<void(HWND)>& act)
    {
        std::thread user([&] {
            HWND convert = nullptr;
            for (int i = 0; i < 1500 && !IsWindowVisible(convert); ++i, Sleep(20)) convert = FindWindowW(VELLUMO_CONVERT_CLASS, nullptr);
            PostMessageW(convert, WM_COMMAND, MAKEWPARAM(ids::cmdStart, BN_CLICKED), reinterpret_cast<LPARAM>(gui::Control(convert, ids::cmdStart)));
            act(convert);
            PostMessageW(convert, WM_CLOSE, 0, 0);
        });
        SendMessageW(Ctl(ids::cmdConvert), BM_CLICK, 0, 0);
        user.join();
    }
    bool BatchEnded(DWORD timeoutMs)
    {
        MessageBoxInfo box;
        for (DWORD waited = 0; waited < timeoutMs; waited += 20, Sleep(20))
            if (watcher.Saw(L"Finished converting") && !gui::FindMessageBox(GetCurrentProcessId(), &box)) return true;
        return false;
    }
    static std::vector<std::wstring> FilesIn(const std::wstring& folder)
    {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found))
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::size_t RemoveFolder(const std::wstring& folder)
    {
        const std::vector<std::wstring> names = FilesIn(folder);
        for (const std::wstring& name : names) DeleteFileW((folder + L"\\" + name).c_str());
        return RemoveDirectoryW(folder.c_str()) ? names.size() : 0;
    }
};

}  // namespace

TEST_F(MainWindowInProcessTest, EachErrorCodeGetsItsMessageAndEnablesTheCommands)
{
    // No text: no message box. 183 changes nothing; the source stage's codes enable the commands.
    const struct {
        LONG code;
        const wchar_t* text;
        bool enables;
    } table[] = {
        {183, nullptr, false},
        {80001, nullptr, true},
        {80002, nullptr, true},
        {80003, nullptr, true},
        {32, L"File in used now \xFF01", true},
        {80000, L"DX or COM runtime Exception\xFF01", true},
        {80004, L"Wave Encode Exption\xFF01", true},
        {80005, L"Mp3 Encode Exption\xFF01", true},
        {80006, L"Encode Exption\xFF01", true},
        {88890, L"Runtime Exception\xFF01", true},
        {99, L"System Error\xFF01" L"Error Code\xFF1A" L"99", true},
        {-1, L"System Error\xFF01" L"Error Code\xFF1A" L"-1", true},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.code);
        frmMain().EnableCommands(false);
        EXPECT_EQ(RaiseError(row.code), 1) << "the main window's sink is connected once";
        Sleep(row.text ? 0 : 300);
        const std::vector<MessageBoxInfo> boxes = watcher.Take();
        ASSERT_EQ(boxes.size(), row.text ? 1u : 0u);
        if (row.text) {
            EXPECT_EQ(boxes[0].title, L"Error Converting");
            EXPECT_EQ(boxes[0].text, row.text);
            EXPECT_EQ(boxes[0].icon, BoxIcon::Stop);
        }
        EXPECT_TRUE(CommandsEnabled(row.enables));
    }
    frmMain().EnableCommands(true);
}

TEST_F(MainWindowInProcessTest, DroppedFilesAndFoldersJoinTheListInOrder)
{
    // A drop on the list or a frame reaches the nearest window that accepts files: the main window.
    for (HWND over : {Ctl(ids::List1), Ctl(ids::Frame2), Ctl(ids::cmdConvert)}) {
        HWND target = over;
        while (target && !(GetWindowLongW(target, GWL_EXSTYLE) & WS_EX_ACCEPTFILES)) target = GetParent(target);
        EXPECT_EQ(target, frmMain().Handle());
    }

    const std::wstring root = gui::TempRoot() + L"\\drop \x4E2D\x6587 " + std::to_wstring(GetCurrentProcessId());
    const std::wstring plays = root + L"\\H\xF6rspiel \x4E2D\x6587", older = plays + L"\\\xE4ltere Teile.rm";
    const gui::FileSet top(root, {L"\xDC" L"ber.Ra", L"notes.txt", L"a.rm", L"neu.rmvb"});
    const gui::FileSet inside(plays, {L"Folge 10.rm", L"Folge 2.RM", L"Zugabe.ra", L"\x4E2D\x6587.rmvb", L"cover.jpg"});
    const gui::FileSet below(older, {L"x.RAM", L"y.mp3"});

    const int before = frmMain().SourceCount();
    auto drop = [](const std::vector<std::wstring>& paths) {
        HDROP h = gui::MakeDrop(paths);
        SendMessageW(frmMain().Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(h), 0);
        EXPECT_EQ(GlobalSize(h), 0u) << "the drop's memory is given back";
        EXPECT_TRUE(gui::WaitFor([] { return !frmMain().ReadingFolders(); }, 20000));
    };
    // Files in the order dropped; a folder by its RealMedia files, Explorer's order; the rest left out.
    drop({top.PathOf(L"\xDC" L"ber.Ra"), top.PathOf(L"notes.txt"), plays, top.PathOf(L"missing.rm"), top.PathOf(L"a.rm")});
    const std::vector<std::wstring> expected = {
        top.PathOf(L"\xDC" L"ber.Ra"), below.PathOf(L"x.RAM"), inside.PathOf(L"Folge 2.RM"),
        inside.PathOf(L"Folge 10.rm"), inside.PathOf(L"Zugabe.ra"), inside.PathOf(L"\x4E2D\x6587.rmvb"),
        top.PathOf(L"a.rm")};
    std::vector<std::wstring> added;
    for (int i = before; i < frmMain().SourceCount(); ++i) added.push_back(frmMain().SourceAt(i));
    EXPECT_EQ(added, expected);
    // Files found in the dropped folder are named relative to its parent; a deleted entry takes its origin along.
    EXPECT_EQ(frmMain().SourceOriginAt(before), L"");
    SendMessageW(Ctl(ids::List1), LB_SETCURSEL, before + 1, 0);
    SendMessageW(Ctl(ids::cmdDel), BM_CLICK, 0, 0);
    EXPECT_EQ(frmMain().SourceOriginAt(before + 1), root);
    EXPECT_EQ(frmMain().SourceOriginAt(before + 5), L"");
    frmMain().AddFiles({below.PathOf(L"x.RAM")});
    const std::wstring label = std::to_wstring(before + static_cast<int>(expected.size())) + L"  Files added";
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), label);

    // Listed files are not listed twice; while a modal window has disabled the main window, drops are ignored.
    drop({top.PathOf(L"a.rm"), plays});
    EnableWindow(frmMain().Handle(), FALSE);
    drop({top.PathOf(L"neu.rmvb")});
    EnableWindow(frmMain().Handle(), TRUE);
    EXPECT_EQ(frmMain().SourceCount(), before + static_cast<int>(expected.size()));
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), label);
    EXPECT_TRUE(watcher.Take().empty()) << "a drop shows no message";
}

// Files from the open dialog join the list in the order given, each once: a
// path already listed, or twice in one choice, is skipped; a deleted one can
// come back; another letter case is another entry.
TEST_F(MainWindowInProcessTest, AddedFilesKeepTheirOrderAndAreListedOnce)
{
    SendMessageW(Ctl(ids::List1), LB_RESETCONTENT, 0, 0);
    frmMain().AddFiles({L"D:\\r\\b.rm", L"D:\\r\\a.rm", L"D:\\r\\c.rm"});
    SendMessageW(Ctl(ids::List1), LB_SETCURSEL, 2, 0);
    SendMessageW(Ctl(ids::cmdDel), BM_CLICK, 0, 0);
    frmMain().AddFiles({L"D:\\r\\a.rm", L"D:\\r\\d.rm", L"D:\\r\\c.rm", L"D:\\r\\d.rm", L"D:\\r\\A.rm", L"D:\\r\\b.rm"});
    frmMain().AddFileIfNew(L"D:\\r\\c.rm");
    EXPECT_EQ(gui::ListItems(Ctl(ids::List1)),
              (gui::Texts{L"D:\\r\\b.rm", L"D:\\r\\a.rm", L"D:\\r\\d.rm", L"D:\\r\\c.rm", L"D:\\r\\A.rm"}));
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), L"5  Files added");
    SendMessageW(Ctl(ids::List1), LB_RESETCONTENT, 0, 0);
}

// Memory that runs out while dropped folders are read stops the reading and
// is said; the program goes on, and the next drop is read.
TEST_F(MainWindowInProcessTest, MemoryRunningOutWhileFoldersAreReadIsSaidAndTheNextDropIsRead)
{
    const gui::FileSet folder(gui::TempRoot() + L"\\memory drop " + std::to_wstring(GetCurrentProcessId()), {L"a.rm", L"b.ra"});
    const int before = frmMain().SourceCount();
    const auto drop = [&] {
        SendMessageW(frmMain().Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(gui::MakeDrop({folder.Folder()})), 0);
        EXPECT_TRUE(gui::WaitFor([] { return !frmMain().ReadingFolders(); }, 20000));
    };
    FolderReader::whileReading = [] { throw std::bad_alloc(); };
    drop();
    FolderReader::whileReading = nullptr;
    const std::vector<MessageBoxInfo> boxes = watcher.Take();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, L"Vellumo");
    EXPECT_EQ(boxes[0].text, L"There is not enough memory to read the dropped folders. The reading stopped; what it had not "
                             L"finished was not added.");
    EXPECT_EQ(boxes[0].icon, BoxIcon::Stop);
    EXPECT_EQ(frmMain().SourceCount(), before);
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), std::to_wstring(before) + L"  Files added");
    drop();
    EXPECT_EQ(frmMain().SourceCount(), before + 2);
    EXPECT_TRUE(watcher.Take().empty());
}

// An event the control raises while its host lets go (the window closing
// during a conversion) reaches nobody.
TEST_F(MainWindowInProcessTest, AnEventAfterTheHostLetGoReachesNobody)
{
    struct Errors : HalvexEvents {
        int count = 0;
        void OnError(LONG) override { ++count; }
    } errors;
    HalvexHost host;
    ASSERT_HRESULT_SUCCEEDED(host.Create(frmMain().Handle(), {0, 0, 20, 20}, 1, &errors));
    const auto sinks = SinksOf(host.Converter().Get());
    ASSERT_EQ(sinks.size(), 1u);
    EXPECT_EQ(Raise(sinks[0].Get(), 32), S_OK);
    host.Destroy();
    EXPECT_EQ(Raise(sinks[0].Get(), 32), S_OK);
    EXPECT_EQ(errors.count, 1);
}

// Where the item-based open dialog cannot be made (systems before it), the
// common dialog picks the file: one named outside the code page.
TEST_F(MainWindowInProcessTest, TheCommonOpenDialogWhereTheItemDialogIsMissing)
{
    const gui::FileSet folder(gui::TempRoot() + L"\\open \x4E2D\x6587 " + std::to_wstring(GetCurrentProcessId()),
                              {L"\xC7" L"a \x97F3.ra"});
    fakes::FakeLab lab;
    lab.Setup(CLSID_FileOpenDialog) = {"item dialog", {}, true};
    ASSERT_TRUE(lab.Register(CLSID_FileOpenDialog));
    // The user types the file's whole path and presses Open.
    std::thread user([&] {
        HWND dialog = nullptr;
        for (int i = 0; i < 500 && !dialog; ++i, Sleep(20)) dialog = FindWindowW(L"#32770", nullptr);
        Sleep(200);
        if (dialog) SetDlgItemTextW(dialog, cmb13, folder.PathOf(L"\xC7" L"a \x97F3.ra").c_str());
        if (dialog) PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    const int before = frmMain().SourceCount();
    SendMessageW(Ctl(ids::cmdOpenRM), BM_CLICK, 0, 0);
    user.join();
    EXPECT_EQ(lab.With("refuse"), std::vector<std::string>{"refuse item dialog"});
    ASSERT_EQ(frmMain().SourceCount(), before + 1);
    EXPECT_EQ(frmMain().SourceAt(before), folder.PathOf(L"\xC7" L"a \x97F3.ra"));
}

// The folder picker in this process, whose ANSI code page lacks some of a
// folder's characters (a test program has no UTF-8 manifest): the folder
// reaches the output folder box as it is named.
TEST_F(MainWindowInProcessTest, FolderPickerGivesAFolderNamedOutsideTheCodePage)
{
    wchar_t desktop[MAX_PATH] = {};
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop));
    const std::wstring name = L"\x97F3\x4E50 \x41C\x443\x437\x44B\x43A\x430 \xC7" L"a \xF1\xF6 " +
                              std::to_wstring(GetCurrentProcessId());
    const std::wstring folder = std::wstring(desktop) + L"\\" + name;
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    // The user picks it among the desktop's folders and presses OK.
    std::thread user([&] {
        HWND picker = nullptr, tree = nullptr;
        for (int i = 0; i < 500 && !tree; ++i, Sleep(20)) {
            picker = FindWindowW(L"#32770", nullptr);
            tree = picker ? FindWindowExW(picker, nullptr, L"SysTreeView32", nullptr) : nullptr;
        }
        const auto next = [tree](HTREEITEM item, WPARAM how) {
            return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
        };
        HTREEITEM item = tree ? next(next(nullptr, TVGN_ROOT), TVGN_CHILD) : nullptr;
        for (; item; item = next(item, TVGN_NEXT)) {
            wchar_t text[MAX_PATH] = {};
            TVITEMW query = {TVIF_TEXT, item};
            query.pszText = text;
            query.cchTextMax = MAX_PATH;
            SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&query));
            if (text == name) break;
        }
        if (item) SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        if (picker) PostMessageW(picker, WM_COMMAND, item ? IDOK : IDCANCEL, 0);
    });
    gui::SetText(Ctl(ids::txtSaveAs), L"");
    SendMessageW(Ctl(ids::cmdSaveAs), BM_CLICK, 0, 0);
    user.join();
    RemoveDirectoryW(folder.c_str());
    EXPECT_EQ(gui::Text(Ctl(ids::txtSaveAs)), folder);
}

// The batch window with its own converter, whose graphs are made of stand-in
// filters in this process. Each output is written under a temporary name and
// takes its final name only once the converter has finished it. A file that
// cannot be loaded or converted (no graph of it started), fails while it
// runs, stands still at its end or is cancelled half way is named in its
// words, and leaves the earlier file of its name byte for byte and nothing
// else; the batch goes on, and its progress stays as the failure left it
// while the message is read.
TEST_F(MainWindowInProcessTest, TheBatchKeepsAnOutputOnlyOnceItIsWhole)
{
    const std::wstring tag = std::to_wstring(GetCurrentProcessId()), out = gui::TempRoot() + L"\\whole out " + tag;
    const gui::FileSet sources(gui::TempRoot() + L"\\whole in " + tag, {L"tune.rm", L"next.rm"});
    CreateDirectoryW(out.c_str(), nullptr);
    SendMessageW(Ctl(ids::List1), LB_RESETCONTENT, 0, 0);
    frmMain().AddFiles({sources.PathOf(L"tune.rm"), sources.PathOf(L"next.rm")});
    gui::SetText(Ctl(ids::txtSaveAs), out);
    const std::string earlier = "an earlier good file";
    const auto writtenAs = [&](const std::wstring& name) {
        return "written as " + testing_support::Narrow(PartialName(out + L"\\" + name, GetCurrentProcessId(), 1));
    };
    using Lab = fakes::FakeLab;
    const struct {
        const char* what;
        void (*setup)(Lab&);
        long ending;  // what the writer of tune.mp3 raises; next.mp3 completes
        int runs;  // files whose graph ran
        int failed;  // -1: cancelled, no final box
        const wchar_t* reason;  // the last failure's, in the status line
        int damaged = 0;  // next.mp3 ends at 30 of its 60 s: cut short
    } table[] = {
        {"completes", [](Lab&) {}, EC_COMPLETE, 2, 0, L""},
        {"fails", [](Lab&) {}, EC_ERRORABORT, 2, 1, L"Runtime Exception\xFF01"},
        {"stands still", [](Lab& l) { l.WavDest().elapsed = 600000000; }, 0, 2, 1, L"File not finished converting\xFF01"},
        {"stops half way", [](Lab& l) { l.WavDest().elapsed = 300000000; }, 0, 2, 1, L"File not finished converting\xFF01", 1},
        {"is cancelled", [](Lab& l) { l.WavDest().elapsed = 300000000; }, 0, 1, -1, L""},
        {"no reader", [](Lab& l) { l.Reader().failCreate = true; }, 0, 0, 2, L"File open failed!"},
        {"no splitter", [](Lab& l) { l.Splitter().failCreate = true; }, 0, 0, 2, L"Real Decode Exception!"},
        {"no encoder", [](Lab& l) { l.Encoder().failCreate = true; }, 0, 0, 2, L"Mp3 Encode Exption\xFF01"},
    };
    // A file that no longer advances anywhere short of its end fails after
    // a while (a minute for users, four seconds here).
    const ULONGLONG noProgress = ConvertWindow::noProgressLimit;
    ConvertWindow::noProgressLimit = 4000ULL * 10000ULL;
    watcher.answerAfterMs = 1500;
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        std::ofstream((out + L"\\tune.mp3").c_str(), std::ios::binary) << earlier;
        DeleteFileW((out + L"\\next.mp3").c_str());
        Lab lab;
        lab.Writer().writesFile = true;
        lab.Splitter().duration = 600000000;
        row.setup(lab);
        lab.endingFor = [&](const std::wstring& file) { return file.find(L"next.mp3") != file.npos ? EC_COMPLETE : row.ending; };
        ASSERT_TRUE(lab.Register());
        TaskbarDouble taskbar;
        std::wstring half, target, total, status;
        Batch([&](HWND convert) {
            for (int i = 0; i < 500 && row.failed < 0 && half != L"50%"; ++i, Sleep(20))
                half = gui::Text(gui::Control(convert, ids::LabelPercent));
            if (row.failed >= 0) BatchEnded(20000);
            target = gui::Text(gui::Control(convert, ids::ConvertLabel2));
            total = gui::Text(gui::Control(convert, ids::LabelTotal));
            status = gui::Text(gui::Control(convert, ids::LabelStatus));
        });
        // A batch of many files asks nothing until its end: the failures are
        // counted in the final box and the last one is said in the status line.
        const std::vector<MessageBoxInfo> boxes = watcher.Take();
        ASSERT_EQ(boxes.size(), row.failed < 0 ? 0u : 1u);
        if (row.failed >= 0) {
            EXPECT_EQ(boxes[0].title + L": " + boxes[0].text.substr(0, boxes[0].text.find(L"\r\n\r\nOpen")),
                      L"Vellumo: Finished converting\r\n\r\nConverted: " + std::to_wstring(2 - row.failed - row.damaged) +
                          L"\r\nConverted with damage: " + std::to_wstring(row.damaged) +
                          L"\r\nSkipped: 0\r\nFailed: " + std::to_wstring(row.failed));
            EXPECT_EQ(boxes[0].icon, BoxIcon::Information);
            EXPECT_EQ(status, (row.damaged ? L"Damaged: 1   " : L"") +
                                  (row.failed ? L"Failed: " + std::to_wstring(row.failed) + L"  (last: " + row.reason + L")" : L""));
        }
        // The report has a line for each source; a cancelled batch says what it did not convert.
        const std::vector<std::string> reports = gui::TakeReports(out);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(std::count(reports[0].begin(), reports[0].end(), '\n'), 3) << reports[0];
        EXPECT_EQ(reports[0].find("\nfailed\t") != std::string::npos, row.failed > 0) << reports[0];
        EXPECT_EQ(reports[0].find("\tcancelled\r\n") != std::string::npos, row.failed < 0) << reports[0];
        // The taskbar button shows the share of files done, red after a
        // failure, and nothing once the batch window is gone.
        const bool failed = row.failed > 0;
        EXPECT_EQ(std::count(taskbar.states.begin(), taskbar.states.end(), TBPF_ERROR) != 0, failed);
        ASSERT_FALSE(taskbar.states.empty());
        EXPECT_EQ(taskbar.states.back(), TBPF_NOPROGRESS);
        if (row.failed >= 0) { EXPECT_EQ(std::make_pair(taskbar.done, taskbar.total), std::make_pair(2ull, 2ull)); }
        EXPECT_EQ(lab.runs != 0, row.runs != 0) << "a file that cannot be converted starts no graph";
        EXPECT_EQ(total, row.runs ? L"Total Length: 60 [1:0]" : L"Total Length:");
        EXPECT_EQ(testing_support::ReadText(out + L"\\tune.mp3"), row.ending == EC_COMPLETE ? writtenAs(L"tune.mp3") : earlier);
        const bool next = row.runs == 2;
        EXPECT_EQ(testing_support::ReadText(out + L"\\next.mp3"), next ? writtenAs(L"next.mp3") : "");
        EXPECT_EQ(FilesIn(out), (next ? std::vector<std::wstring>{L"next.mp3", L"tune.mp3"} : std::vector<std::wstring>{L"tune.mp3"}));
        if (row.failed < 0) { EXPECT_EQ(half + L" " + target, L"50% Convert to: " + out + L"\\tune.mp3") << "the final name"; }
    }
    watcher.answerAfterMs = 0;
    ConvertWindow::noProgressLimit = noProgress;
    RemoveFolder(out);
}

// A long batch runs to its end, every file converted and named, with the
// labels and the message of any batch. A thousand files take a tenth of the
// wait below on a busy machine; bench/batch_window_bench.sh measures the time
// and the resources per file of the real program.
TEST_F(MainWindowInProcessTest, ABatchOfAThousandFilesRunsToItsEnd)
{
    const std::wstring out = gui::TempRoot() + L"\\many out " + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(out.c_str(), nullptr);
    SendMessageW(Ctl(ids::List1), WM_SETREDRAW, FALSE, 0);
    SendMessageW(Ctl(ids::List1), LB_RESETCONTENT, 0, 0);
    for (int i = 0; i < 1005; ++i)
        SendMessageW(Ctl(ids::List1), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>((L"C:\\f" + std::to_wstring(i) + L".rm").c_str()));
    SendMessageW(Ctl(ids::List1), WM_SETREDRAW, TRUE, 0);
    gui::SetText(Ctl(ids::txtSaveAs), out);
    fakes::FakeLab lab;
    lab.Writer().writesFile = true;
    lab.endingFor = [](const std::wstring&) { return EC_COMPLETE; };
    ASSERT_TRUE(lab.Register());
    std::wstring files;
    bool awakeWhileRunning = false, awakeAtTheEnd = true;
    Batch([&](HWND convert) {
        // The machine is kept awake while the files convert. Wine keeps one
        // execution state per process (Windows one per thread), so it can be
        // read from here; a read without ES_CONTINUOUS changes nothing then.
        awakeWhileRunning = gui::WaitFor([] { return (SetThreadExecutionState(0) & ES_SYSTEM_REQUIRED) != 0; }, 20000);
        EXPECT_TRUE(BatchEnded(280000)) << "the batch did not end";
        awakeAtTheEnd = (SetThreadExecutionState(0) & ES_SYSTEM_REQUIRED) != 0;
        files = gui::Text(gui::Control(convert, ids::LabelFile)) + L" " + gui::Text(gui::Control(convert, ids::LabelPercent2));
    });
    EXPECT_TRUE(awakeWhileRunning) << "the machine may sleep during the batch";
    EXPECT_FALSE(awakeAtTheEnd) << "the machine is kept awake after the batch";
    ASSERT_EQ(watcher.Take().size(), 1u);
    EXPECT_EQ(files, L"Converted Files: 1004/1005 100%");
    // The report names every file: a heading and a line for each.
    const std::vector<std::string> reports = gui::TakeReports(out);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(std::count(reports[0].begin(), reports[0].end(), '\n'), 1006);
    EXPECT_NE(reports[0].find("\r\nconverted\tC:\\f1004.rm\t" + testing_support::Narrow(out) + "\\f1004.mp3\t\r\n"),
              std::string::npos);
    EXPECT_EQ(RemoveFolder(out), 1005u);
    SendMessageW(Ctl(ids::List1), LB_RESETCONTENT, 0, 0);
}
