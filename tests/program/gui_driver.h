// Test driver for the desktop program: starts the real vellumo.exe in a
// folder of its own and works its windows from outside, as a user would.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace gui {

// Waits (pumping this thread's messages) until the condition holds or the
// time is up; returns the condition's last value.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

std::wstring Text(HWND window);
std::wstring ClassOf(HWND window);
// A control anywhere below top, by identifier.
HWND Control(HWND top, int id);
// Client rectangle of a window in screen coordinates.
RECT ClientOnScreen(HWND window);
// Rectangle of a child in its top-level window's client coordinates.
RECT RectInClient(HWND child, HWND top);

// Clicks a button (posted BM_CLICK, so a modal box it opens cannot block the driver).
void Click(HWND button);
// Selects a combo box position as a user does: the selection, then the
// notification to the combo box's parent.
void SelectCombo(HWND combo, int position);
std::vector<std::wstring> ListItems(HWND listBox);
std::vector<std::wstring> ComboItems(HWND comboBox);
int ComboPosition(HWND comboBox);
void SetText(HWND control, const std::wstring& text);

// A colour on the screen.
COLORREF ScreenPixel(int x, int y);
// The colour that covers most of the rectangle's pixels (screen coordinates).
COLORREF DominantColour(const RECT& screenRect);
// Saves the window's screen area as a BMP.
bool SaveWindowBitmap(HWND window, const std::wstring& path);

enum class BoxIcon { None, Information, Stop, Other };

struct MessageBoxInfo {
    HWND window = nullptr;
    std::wstring title;
    std::wstring text;
    BoxIcon icon = BoxIcon::None;
    std::vector<std::wstring> buttons;
};

// A visible message box of the process (dialog class with the static text
// 0xFFFF), read: title, text, icon and buttons.
bool FindMessageBox(DWORD processId, MessageBoxInfo* box);

// The program under test: a copy of vellumo.exe (and its help file) in a
// fresh folder named after folderName, started and ended by the test; or an
// installed vellumo.exe, started where it stands (its folder left as it is).
class Program {
public:
    explicit Program(const std::wstring& folderName = L"vellumo run");
    struct Installed {
        std::wstring folder;
    };
    explicit Program(const Installed& installed);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Writes a settings.ini before the start.
    void WriteSettings(const std::string& content) const;
    bool SettingsExist() const;
    std::string ReadSettings() const;

    bool Start();
    HWND Main() const { return main_; }
    HWND MainControl(int id) const { return Control(main_, id); }
    DWORD ProcessId() const { return process_.dwProcessId; }
    const std::wstring& Folder() const { return folder_; }
    // Exit code once the process has ended, or STILL_ACTIVE.
    DWORD WaitForExit(DWORD timeoutMs);

    // A visible top-level window of the program of the given class (and
    // caption, when given), waited for.
    HWND WaitForWindow(const std::wstring& windowClass, const std::wstring& caption = L"", DWORD timeoutMs = 5000) const;
    // A visible message box of the program (dialog class, static text 0xFFFF).
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
    FileSet(const std::wstring& folder, const std::vector<std::wstring>& names);
    ~FileSet();
    const std::wstring& Folder() const { return folder_; }
    std::wstring PathOf(const std::wstring& name) const;

private:
    std::wstring folder_;
    std::vector<std::wstring> names_;
    bool createdFolder_ = false;
};

std::wstring TempRoot();

// Works the program's open dialog: goes to folder, then chooses the names
// (several in quotes). Returns false when the dialog did not appear or close.
bool ChooseInFileDialog(const Program& program, const std::wstring& folder, const std::vector<std::wstring>& names);

// The main window's steps of a batch.
// Adds the files through Open RM's dialog.
bool AddFiles(const Program& program, const std::wstring& folder, const std::vector<std::wstring>& names);
// Types the output folder and presses Convert: the batch window, or nullptr.
HWND OpenConvert(const Program& program, const std::wstring& outputFolder);

// What the batch window showed while a batch ran: each new text of the files
// label, of the files bar and of the length label, and the message boxes.
struct BatchRecord {
    std::vector<std::wstring> fileTexts, filesBar, lengthTexts;
    std::vector<MessageBoxInfo> boxes;
    bool finished = false;
    // The boxes other than "Finished converting".
    std::vector<MessageBoxInfo> Errors() const;
};

// Presses Start and follows the batch until "Finished converting" (which is
// answered), answering every other box on the way. onFileText sees each new
// text of the files label.
BatchRecord RunBatch(const Program& program, HWND convert, DWORD timeoutMs,
                     const std::function<void(const std::wstring&)>& onFileText = {});
// The batch window's labels in one line, for a report.
std::wstring DescribeConvertWindow(HWND convert);

}  // namespace gui
