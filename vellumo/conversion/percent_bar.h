// The batch window's percent bars: a sunken white track with a filled part
// inside it that shows the percentage.
#pragma once

#include <windows.h>

namespace vellumo {

class PercentBar {
public:
    // The track at the given top (twips), in the place every bar of the
    // window takes.
    void Create(HWND parent, int top, int trackId, int fillId, HFONT font);
    // Fills p percent of the track (above 100 drawn as 100; a width that
    // cannot be drawn leaves the fill as it was) and shows p rounded with "%".
    void Draw(float p) const;
    // The filled part, whose colours the parent chooses.
    bool IsFill(HWND control) const { return control && control == fill_; }

private:
    HWND track_ = nullptr;
    HWND fill_ = nullptr;
};

}  // namespace vellumo
