// Test driver for the desktop program: starts the real vellumo.exe in a
// folder of its own and works its windows from outside, as a user would.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>
#include <vector>

namespace gui {

using Texts = std::vector<std::wstring>;

// Waits (pumping this thread's messages) until the condition holds or the
// time is up; returns the condition's last value.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 5000);
inline void Settle(DWORD ms) { WaitFor([] { return false; }, ms); }

std::wstring Text(HWND window);
void SetText(HWND control, const std::wstring& text);
// A control anywhere below top, by identifier.
HWND Control(HWND top, int id);
RECT ClientOnScreen(HWND window);
// Rectangle of a child in its top-level window's client coordinates.
RECT RectInClient(HWND child, HWND top);
// Posted BM_CLICK, so that a modal box it opens cannot block the driver.
void Click(HWND button);
// A combo box position chosen as a user does: the selection, then the notification to its parent.
void SelectCombo(HWND combo, int position);
Texts ListItems(HWND listBox);
Texts ComboItems(HWND comboBox);
// The colour that covers most of the rectangle's pixels (screen coordinates).
COLORREF DominantColour(const RECT& screenRect);
// How many of the rectangle's pixels have the colour (screen coordinates).
int PixelsOf(const RECT& screenRect, COLORREF colour);
// The screen area as 32-bit 0x00RRGGBB pixels, top-down.
std::vector<DWORD> CaptureScreen(const RECT& area);
std::wstring TempRoot();
// The HDROP the shell hands over when files are dropped: DROPFILES, then the
// wide names, each ending in NUL, and one more NUL. Its taker frees it.
HDROP MakeDrop(const Texts& paths);
// The folder of this test program (build/bin).
std::wstring DriverFolder();

enum class BoxIcon { None, Information, Stop, Other };

struct MessageBoxInfo {
    HWND window = nullptr;
    std::wstring title, text;
    BoxIcon icon = BoxIcon::None;
    Texts buttons;
};

// A visible message box of the process (a dialog with the static text
// 0xFFFF): title, text, icon (told by its colours) and buttons.
bool FindMessageBox(DWORD processId, MessageBoxInfo* box);

// The program under test: a copy of vellumo.exe (and its help file) in a
// fresh folder, or an installed vellumo.exe started where it stands.
class Program {
public:
    explicit Program(const std::wstring& folderName = L"vellumo run");
    struct Installed {
        std::wstring folder;
    };
    explicit Program(const Installed& installed) : folder_(installed.folder), ownsFolder_(false) {}
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void WriteSettings(const std::string& content) const;
    bool SettingsExist() const;
    std::string ReadSettings() const;

    // Started in its own folder, or in the current folder given, with the
    // command-line arguments given after its name.
    bool Start(const std::wstring& currentFolder = L"", const std::wstring& arguments = L"");
    HWND Main() const { return main_; }
    HWND MainControl(int id) const { return Control(main_, id); }
    DWORD ProcessId() const { return process_.dwProcessId; }
    const std::wstring& Folder() const { return folder_; }
    // Exit code once the process has ended, or STILL_ACTIVE.
    DWORD WaitForExit(DWORD timeoutMs);
    // A visible top-level window of the program of the class (and caption, when given).
    HWND WaitForWindow(const std::wstring& windowClass, const std::wstring& caption = L"", DWORD timeoutMs = 5000) const;
    bool WaitForMessageBox(MessageBoxInfo* box, DWORD timeoutMs = 5000) const;
    bool NoMessageBoxWithin(DWORD ms) const;
    // Presses the message box's button with the given identifier.
    static void Answer(const MessageBoxInfo& box, int buttonId = IDOK);

private:
    std::wstring folder_;
    bool ownsFolder_ = true;
    PROCESS_INFORMATION process_ = {};
    HWND main_ = nullptr;
};

// A folder with files of the given names (content ".RMF"), removed afterwards.
class FileSet {
public:
    FileSet(const std::wstring& folder, const Texts& names);
    ~FileSet();
    const std::wstring& Folder() const { return folder_; }
    std::wstring PathOf(const std::wstring& name) const { return folder_ + (folder_.back() == L'\\' ? L"" : L"\\") + name; }

private:
    std::wstring folder_;
    Texts names_;
    bool createdFolder_ = false;
};

// Adds files through Open RM's dialog: the folder typed into its name box
// and opened, then the names (several in quotes).
bool AddFiles(const Program& program, const std::wstring& folder, const Texts& names);

// The main window's Convert with the output folder typed: the batch window, or nullptr.
HWND OpenConvert(const Program& program, const std::wstring& outputFolder);

// What the batch window showed while a batch ran: each new text of the files
// label and of the files bar, and the message boxes.
struct BatchRecord {
    Texts fileTexts, filesBar;
    std::vector<MessageBoxInfo> boxes;
    bool finished = false;
    std::wstring final;   // the text of the final box
    std::wstring status;  // the status line under it
    double seconds = 0;   // from Start to the final box
    // The boxes other than the final one.
    std::vector<MessageBoxInfo> Errors() const;
};

// Presses Start and follows the batch until "Finished converting" (answered No when it offers the report),
// answering every other box on the way; onFileText sees each files label.
BatchRecord RunBatch(const Program& program, HWND convert, DWORD timeoutMs,
                     const std::function<void(const std::wstring&)>& onFileText = {});
// The batch reports in a folder ("Vellumo report *.txt"), read and removed.
std::vector<std::string> TakeReports(const std::wstring& folder);
// The batch window's labels in one line, for a report.
std::wstring DescribeConvertWindow(HWND convert);

}  // namespace gui
