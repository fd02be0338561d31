// frmConvert: the batch conversion window, opened modally by the main window.
#pragma once

namespace vellumo {

class MainWindow;

class ConvertWindow {
public:
    // Shows the window over the main window and returns when it closes.
    static void ShowModal(MainWindow& frmMain);
};

}  // namespace vellumo
