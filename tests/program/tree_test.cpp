// Folders dropped on the main window in this process: read away from the
// window's thread, stopped by Esc, and converted by the batch window with the
// real converter and filter pack into the same shape below the output folder
// (the outputs are checked with ffprobe by program_tree_output_check).
#include "common/control_ids.h"
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
    // 800 folders deep (made by make_deep_tree.sh; Wine walks the whole path for every
    // folder, so 2000 take minutes there), paths far beyond MAX_PATH.
    const std::wstring deep = realmedia_test::BuildDir() + L"\\test-media\\deep";
    std::wstring levels;
    for (int i = 0; i < 800; ++i) levels += L"\\d";
    const std::wstring bottom = deep + levels + L"\\x.rm", top = deep + L"\\d\\x.rm";
    ASSERT_NE(GetFileAttributesW(ForFileSystem(bottom).c_str()), INVALID_FILE_ATTRIBUTES);
    SendMessageW(Ctl(ids::List1), LB_RESETCONTENT, 0, 0);
    Drop({deep});
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)).rfind(L"Reading", 0), 0u) << "the window is back before the tree is read";
    ASSERT_TRUE(gui::WaitFor([] { return !frmMain().ReadingFolders(); }, 120000)) << "a tree 800 folders deep";
    EXPECT_EQ(gui::ListItems(Ctl(ids::List1)), (gui::Texts{bottom, top}));
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), L"2  Files added");

    // Esc (through the dialog manager, as the program's loop has it) right after the drop.
    Tree wide(gui::TempRoot() + L"\\wide " + pid);
    for (int i = 0; i < 300; ++i) wide.File(L"f" + std::to_wstring(i) + L"\\a.rm", media);
    Drop({wide.Root()});
    MSG esc = {Ctl(ids::List1), WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {}};
    EXPECT_TRUE(IsDialogMessageW(frmMain().Handle(), &esc));
    EXPECT_FALSE(frmMain().ReadingFolders());
    gui::Settle(1500);
    EXPECT_EQ(frmMain().SourceCount(), 2) << "nothing of a stopped reading is added";
    EXPECT_EQ(gui::Text(Ctl(ids::LFile)), L"2  Files added");
}
