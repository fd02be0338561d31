// frmPara: the MP3 and WAV parameters dialog. It reads the parameter store
// when it opens and, on OK, writes it back and saves settings.ini.
#pragma once

#include <windows.h>

#include "common/halvex_dispatch.h"

namespace vellumo {

class ParametersDialog {
public:
    // Shows the dialog modally over owner; the store is the main window's converter.
    static void ShowModal(HWND owner, const HalvexDispatch& store);
};

}  // namespace vellumo
