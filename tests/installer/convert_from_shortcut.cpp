// Starts the program a Start menu shortcut points to, as a user's click
// would, adds one file through the Open dialog, converts it to MP3 and then
// to WAV in the batch window, and exits; the outputs are left for the caller.
//   convert_from_shortcut.exe <shortcut.lnk> <expected target> <source file> <output folder>
// Exit code 0 when the shortcut names the expected program, both batches
// finished with no other message and the program ended cleanly; 1 otherwise
// (the reason is printed).
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>

#include "com_ptr.h"
#include "common/control_ids.h"
#include "gui_driver.h"
#include "test_platform.h"

namespace {

namespace ids = vellumo::ids;

std::wstring LinkTarget(const wchar_t* link) {
    corvane::ComPtr<IShellLinkW> shellLink;
    corvane::ComPtr<IPersistFile> file;
    wchar_t path[MAX_PATH] = {};
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, shellLink.PutVoid())) ||
        FAILED(shellLink.As(file)) || FAILED(file->Load(link, STGM_READ)) ||
        FAILED(shellLink->GetPath(path, MAX_PATH, nullptr, 0)))
        return {};
    return path;
}

int Fail(const std::wstring& what) {
    std::printf("convert_from_shortcut: %ls\n", what.c_str());
    return 1;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// One batch of the listed file in the chosen format, the batch window
// closed after: what went wrong, or nothing.
std::wstring Convert(const gui::Program& program, const std::wstring& outputFolder, int formatButton) {
    HWND format = program.MainControl(formatButton);
    gui::Click(format);
    if (!gui::WaitFor([&] { return SendMessageW(format, BM_GETCHECK, 0, 0) == BST_CHECKED; }))
        return L"the format cannot be chosen";
    HWND convert = gui::OpenConvert(program, outputFolder);
    if (!convert) return L"Convert opens no batch window";
    std::printf("convert_from_shortcut: batch window \"%ls\"\n", gui::Text(convert).c_str());
    const gui::BatchRecord record = gui::RunBatch(program, convert, 120000);
    for (const gui::MessageBoxInfo& box : record.boxes)
        if (box.text != L"Finished converting") return L"message " + box.title + L": " + box.text;
    if (!record.finished) return L"the batch did not end: " + gui::DescribeConvertWindow(convert);
    gui::Click(gui::Control(convert, ids::cmdCancel));
    if (!gui::WaitFor([&] { return !IsWindow(convert); })) return L"the batch window stays open";
    return {};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) return Fail(L"usage: convert_from_shortcut <link> <expected target> <source> <output folder>");
    testing_support::ComApartment com;
    const std::wstring target = LinkTarget(argv[1]);
    if (target.empty()) return Fail(L"the shortcut cannot be read");
    if (lstrcmpiW(target.c_str(), argv[2]) != 0) return Fail(L"the shortcut names " + target);

    gui::Program program(gui::Program::Installed{FolderOf(target)});
    if (!program.Start()) return Fail(L"the program shows no window");
    std::printf("convert_from_shortcut: window \"%ls\"\n", gui::Text(program.Main()).c_str());
    gui::MessageBoxInfo box;
    if (program.WaitForMessageBox(&box, 300)) return Fail(L"message at start: " + box.text);

    const std::wstring source = argv[3];
    if (!gui::AddFiles(program, FolderOf(source), {source.substr(source.find_last_of(L'\\') + 1)}))
        return Fail(L"the Open dialog did not take the file");
    const auto listed = gui::ListItems(program.MainControl(ids::List1));
    if (listed.size() != 1) return Fail(L"the list holds " + std::to_wstring(listed.size()) + L" files");
    for (int format : {ids::optMP3, ids::optWAV}) {
        const std::wstring error = Convert(program, argv[4], format);
        if (!error.empty()) return Fail(error);
    }

    gui::Click(program.MainControl(ids::cmdExit));
    const DWORD code = program.WaitForExit(15000);
    if (code != 0) return Fail(L"the program does not end cleanly on Exit (" + std::to_wstring(code) + L")");
    return 0;
}
