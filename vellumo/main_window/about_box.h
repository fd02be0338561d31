// frmAbout: the About box, shown modally over the main window and built
// afresh on every opening.
#pragma once

#include <windows.h>

namespace vellumo {

class AboutBox {
public:
    static void ShowModal(HWND owner);
};

}  // namespace vellumo
