// GraphEventWindow: a message-only window that hands GraphEventMessage to a
// converter. The control's own window does this in the COM server; a host
// that drives the converter directly (a tool, a test) uses this one.
#pragma once

#include <windows.h>

namespace corvane {

class AtlHalvex;

class GraphEventWindow {
public:
    // Creates the window and gives it to the converter (SetWindow).
    explicit GraphEventWindow(AtlHalvex& converter);
    // Takes the window back from the converter and destroys it.
    ~GraphEventWindow();
    GraphEventWindow(const GraphEventWindow&) = delete;
    GraphEventWindow& operator=(const GraphEventWindow&) = delete;

    HWND Handle() const { return window_; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    AtlHalvex& converter_;
    HWND window_ = nullptr;
};

}  // namespace corvane
