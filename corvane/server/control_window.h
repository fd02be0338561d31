// The control's window: a child window of the container, of a window class
// registered once per process under a generated "ATL:XXXXXXXX" name.
#pragma once

#include <windows.h>

namespace corvane::server {

class ControlWindowHandler {
public:
    // The graph's notification message (handled before anything else).
    virtual void OnGraphEventMessage() = 0;
    virtual void OnPaint(HDC dc, const RECT& client) = 0;
    // The window is gone (last message it receives).
    virtual void OnWindowDestroyed() = 0;

protected:
    ~ControlWindowHandler() = default;
};

// Creates the window (WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN)
// at pos in parent, registering the window class on first use.
HWND CreateControlWindow(HWND parent, const RECT& pos, ControlWindowHandler* handler);

// Removes the window class when the module unloads.
void UnregisterControlWindowClass();

}  // namespace corvane::server
