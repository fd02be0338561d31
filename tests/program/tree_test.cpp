// Folders dropped on the main window in this process: read away from the
// window's thread, stopped by Esc, and converted by the batch window with the
// real converter and filter pack into the same shape below the output folder
// (the outputs are checked with ffprobe by program_tree_output_check).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "common/control_ids.h"
#include "common/halvex_dispatch.h"
#include "filter_pack.h"
#include "in_process_window.h"
#include "main_window/file_drop.h"
#include "test_media.h"

using namespace vellumo;

namespace {

// Files copied into a tree of folders made for the test, removed afterwards.
class Tree {
public:
    explicit Tree(std::wstring root) : root_(std::move(root)) { Folder(root_); }
    ~Tree()
    {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it)
            if (!DeleteFileW(ForFileSystem(*it).c_str())) RemoveDirectoryW(ForFileSystem(*it).c_str());
    }
    const std::wstring& Root() const { return root_; }
    std::wstring File(const std::wstring& relative, const std::wstring& from)
    {
        const std::wstring path = root_ + L"\\" + relative;
        for (std::size_t at = path.find(L'\\', root_.size() + 1); at != std::wstring::npos; at = path.find(L'\\', at + 1))
            Folder(path.substr(0, at));
        if (CopyFileW(from.c_str(), ForFileSystem(path).c_str(), FALSE)) made_.push_back(path);
        return path;
    }

private:
    void Folder(const std::wstring& path)
    {
        if (CreateDirectoryW(ForFileSystem(path).c_str(), nullptr)) made_.push_back(path);
    }
    std::wstring root_;
    std::vector<std::wstring> made_;
};

void RemoveAll(const std::wstring& path)
{
    std::wstring from = path + L'\0';
    SHFILEOPSTRUCTW op = {nullptr, FO_DELETE, from.c_str(), nullptr, FOF_NO_UI};
    SHFileOperationW(&op);
}

class TreeTest : public gui::InProcessMainWindow {
protected:
    static void Drop(const gui::Texts& names)
    {
        SendMessageW(frmMain().Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(gui::MakeDrop(names)), 0);
    }
    const std::wstring media = realmedia_test::Media(L"sine440_144.rm");
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
};

}  // namespace

TEST_F(TreeTest, ADeepTreeIsReadToItsBottomAndEscStopsAWideOne)
{
    // Up to 2000 folders deep (made by make_deep_tree.sh, as deep as Wine can reach
    // from where the checkout lies), paths far beyond MAX_PATH: more than a call
    // stack holds were each folder read by a call of its own.
    const std::wstring deep = realmedia_test::BuildDir() + L"\\test-media\\deep";
    int depth = 0;
    if (FILE* f = _wfopen((deep + L"\\levels").c_str(), L"r")) {
        if (std::fscanf(f, "%d", &depth) != 1) depth = 0;
        std::fclose(f);
    }
    ASSERT_GE(depth, 1000) << "make_deep_tree.sh says how deep the tree is";
    std::wstring levels;
    for (int i = 0; i < depth; ++i) levels += L"\\d";
    const std::wstring bottom = deep + levels + L"\\x.rm", top = deep + L"\\d\\x.rm";
    ASSERT_NE(GetFileAttributesW(ForFileSystem(bottom).c_str()), INVALID_FILE_ATTRIBUTES);
    SendMessageW(Ctl(ids::List1), LB_RESETCONTENT, 0, 0);
    Drop({deep});
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)).rfind(L"Reading", 0), 0u) << "the window is back before the tree is read";
    ASSERT_TRUE(gui::WaitFor([] { return !frmMain().ReadingFolders(); }, 400000)) << "a tree " << depth << " folders deep";
    EXPECT_EQ(gui::ListItems(Ctl(ids::List1)), (gui::Texts{bottom, top}));
    const std::wstring added = L"2  Files added, 1 folder could not be read";
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), added) << "the folder beside the bottom file is out of Wine's reach";

    // Esc (through the dialog manager, as the program's loop has it) right after the drop.
    Tree wide(gui::TempRoot() + L"\\wide " + pid);
    for (int i = 0; i < 300; ++i) wide.File(L"f" + std::to_wstring(i) + L"\\a.rm", media);
    Drop({wide.Root()});
    MSG esc = {Ctl(ids::List1), WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {}};
    EXPECT_TRUE(IsDialogMessageW(frmMain().Handle(), &esc));
    EXPECT_FALSE(frmMain().ReadingFolders());
    gui::Settle(1500);
    EXPECT_EQ(frmMain().SourceCount(), 2) << "nothing of a stopped reading is added";
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), added);
}

TEST_F(TreeTest, ADroppedTreeIsConvertedIntoTheSameShape)
{
    testing_support::FilterPackRegistration pack;
    ASSERT_EQ(S_OK, pack.Result());
    SendMessageW(Ctl(ids::List1), LB_RESETCONTENT, 0, 0);
    // Three levels, one base name in every folder (and twice in one), accented and Chinese folder names.
    Tree tree(gui::TempRoot() + L"\\tree " + pid);
    const std::wstring lectures = L"Lectures\\", cafe = L"Caf\xE9 \xC0 d\xE9j\xE0\\", chinese = L"\x8BB2\x5EA7\\";
    for (const std::wstring& file : {lectures + L"2001\\CS101\\week01.rm", lectures + L"2001\\MATH2\\week01.rm",
                                     lectures + cafe + L"week01.rm", lectures + chinese + L"2004\\week01.rm"})
        tree.File(file, media);
    tree.File(lectures + L"2001\\CS101\\week01.ra", realmedia_test::Media(L"sine440_144.ra"));
    // The outputs go beside a read-only mount (when the machine allows one): a
    // dropped folder of the mount's name cannot have its subfolder made.
    const std::wstring disks = realmedia_test::BuildDir() + L"\\test-disks", mounted = disks + L"\\readonly-program";
    const bool readOnly = !CreateDirectoryW((mounted + L"\\probe").c_str(), nullptr) &&
                          GetFileAttributesW(mounted.c_str()) != INVALID_FILE_ATTRIBUTES;
    RemoveDirectoryW((mounted + L"\\probe").c_str());
    gui::Texts dropped = {tree.Root() + L"\\Lectures", tree.File(L"week01.rm", media)};
    tree.File(L"readonly-program\\sub\\week01.rm", media);
    if (readOnly) dropped.push_back(tree.Root() + L"\\readonly-program");
    RemoveAll(disks + L"\\Lectures");
    Drop(dropped);
    ASSERT_TRUE(gui::WaitFor([] { return !frmMain().ReadingFolders(); }, 20000));
    gui::SetText(Ctl(ids::txtSaveAs), disks);
    frmMain().Converter().PutShort(DispMP3Frequency, 1);  // 22050 Hz
    frmMain().Converter().PutShort(DispMP3Channels, 3);   // mono

    gui::Texts targets;
    std::wstring status;
    std::thread user([&] {
        HWND convert = nullptr;
        for (int i = 0; i < 500 && !convert; ++i, Sleep(20)) convert = FindWindowW(VELLUMO_CONVERT_CLASS, nullptr);
        targets = gui::ListItems(gui::Control(convert, ids::ConvertList1));
        PostMessageW(gui::Control(convert, ids::cmdStart), BM_CLICK, 0, 0);
        gui::MessageBoxInfo box;
        for (int i = 0; i < 6000 && (!watcher.Saw(L"Finished converting") || gui::FindMessageBox(GetCurrentProcessId(), &box)); ++i)
            Sleep(20);
        status = gui::Text(gui::Control(convert, ids::LabelStatus));
        PostMessageW(convert, WM_CLOSE, 0, 0);
    });
    SendMessageW(Ctl(ids::cmdConvert), BM_CLICK, 0, 0);
    user.join();

    const std::wstring mirrored = disks + L"\\Lectures\\";
    gui::Texts expected = {mirrored + L"2001\\CS101\\week01.mp3", mirrored + L"2001\\CS101\\week01.mp3",
                           mirrored + L"2001\\MATH2\\week01.mp3", mirrored + cafe + L"week01.mp3",
                           mirrored + chinese + L"2004\\week01.mp3", disks + L"\\week01.mp3"};
    if (readOnly) expected.push_back(mounted + L"\\sub\\week01.mp3");
    EXPECT_EQ(targets, expected) << "the batch window lists every full target path";
    // The folder that cannot be made fails its file, said in the status line
    // and counted in the final box; the batch goes on without a click.
    const std::vector<gui::MessageBoxInfo> boxes = watcher.Take();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find(readOnly ? L"\r\nFailed: 1\r\n" : L"\r\nFailed: 0\r\n"), std::wstring::npos);
    if (readOnly) { EXPECT_NE(status.find(mounted + L"\\sub"), std::wstring::npos) << testing::PrintToString(status); }
    EXPECT_EQ(gui::TakeReports(disks).size(), 1u);

    // The outputs move to build/test-output/tree, where tree_outputs.json says what ffprobe must find.
    const std::wstring out = realmedia_test::OutputDir(L"tree");
    RemoveAll(out + L"\\Lectures");
    EXPECT_TRUE(MoveFileExW((disks + L"\\Lectures").c_str(), (out + L"\\Lectures").c_str(), 0));
    EXPECT_TRUE(MoveFileExW((disks + L"\\week01.mp3").c_str(), (out + L"\\week01.mp3").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_NE(GetFileAttributesW((out + L"\\Lectures\\2001\\CS101\\week01 (2).mp3").c_str()), INVALID_FILE_ATTRIBUTES);
}
