// frmMain: the main window. It holds the source list, the output folder, the
// format choice and the parameter store (its converter control Atlqzt), and
// opens the other windows.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "common/halvex_host.h"
#include "common/ui_kit.h"
#include "folder_reader.h"
#include "paint_background.h"
#include "source_list.h"

namespace vellumo {

class MainWindow final : public HalvexEvents {
public:
    // The one main window of the program.
    static MainWindow& Instance();

    // Creates the window, runs its load sequence and shows it.
    bool Create(int showCommand);
    HWND Handle() const { return window_; }

    // State the other windows read.
    const HalvexDispatch& Converter() const { return converter_.Converter(); }
    int SourceCount() const;
    std::wstring SourceAt(int index) const;
    // The folder the entry's output path is taken relative to: the parent of
    // the dropped folder it was found in; empty for a file added on its own.
    std::wstring SourceOriginAt(int index) const;
    std::wstring OutputFolderText() const;
    bool IsMp3Selected() const;

    void EnableCommands(bool enabled);
    void AddFiles(const std::vector<std::wstring>& paths);
    void AddFileIfNew(const std::wstring& path);
    // Files and folders handed over by the shell (a drop, the command line):
    // read on a thread of their own; their RealMedia files join the list
    // once all are read. Esc or closing the window stops the reading.
    void AddFromShell(std::vector<std::wstring> names);
    // True from the hand-over until its files are listed or the reading is stopped.
    bool ReadingFolders() const { return readingShown_; }

    // _IAtlHalvexEvents
    void OnError(LONG errCode) override;

private:
    MainWindow() = default;
    template <class T, HWND T::*WindowMember>
    friend LRESULT CALLBACK ui::FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void CreateControls();
    void FormLoad();
    void ApplyColourScheme();
    void OnCommand(int id, int code);
    LRESULT OnControlColour(HDC dc, HWND control);

    void ConvertClicked();
    void OpenRmClicked();
    void DeleteClicked();
    void ListDoubleClicked();
    void SaveAsClicked();
    // "N  Files added", and how many dropped folders could not be read.
    void RefreshFileCount(std::size_t unreadable = 0);
    // Files dragged from the shell: added like the open dialog's, folders by their RealMedia files.
    void FilesDropped(HDROP drop);
    void FoldersRead();
    void CancelReading();
    void ShowReadingProgress();
    void RefreshCursor();
    void ShowMessage(const std::wstring& text, UINT flags, const wchar_t* title = L"Vellumo");

    HWND window_ = nullptr;
    HWND frame1_ = nullptr, frame2_ = nullptr, frame3_ = nullptr;
    HWND optMp3_ = nullptr, optWav_ = nullptr, list_ = nullptr, fileCount_ = nullptr, saveAs_ = nullptr;
    std::vector<HWND> buttons_;

    COLORREF backColour_ = ui::Sky;
    COLORREF optionColour_ = ui::Sky;
    COLORREF saveAsColour_ = GetSysColor(COLOR_WINDOW);
    ui::Font frameFont_, optionFont_, controlFont_;
    ui::BrushCache brushes_;
    BackgroundCanvas canvas_;
    HalvexHost converter_;
    SourceList sources_;
    FolderReader reader_;
    bool readingShown_ = false;            // the window shows that it reads (label, cursor)
    std::wstring countBeforeReading_;      // the count label as it was when reading began
    std::size_t unreadable_ = 0;           // folders the reading could not read
};

}  // namespace vellumo
