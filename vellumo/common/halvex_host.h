// HalvexHost: one converter control (AtlHalvex, created through COM by its
// registration) hosted on a window with the platform's ATL host (atl.dll),
// reached late-bound through HalvexDispatch, its events delivered to a
// HalvexEvents handler.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "com_ptr.h"
#include "halvex_dispatch.h"

namespace vellumo {

// ProgID of the converter control.
constexpr wchar_t HalvexProgId[] = L"corvane.AtlHalvex";

// Receiver of the control's events (_IAtlHalvexEvents).
class HalvexEvents {
public:
    virtual void OnStopped() {}
    virtual void OnFinished() {}
    virtual void OnError(LONG errCode) { (void)errCode; }

protected:
    ~HalvexEvents() = default;
};

class HalvexHost {
public:
    HalvexHost() = default;
    ~HalvexHost() { Destroy(); }
    HalvexHost(const HalvexHost&) = delete;
    HalvexHost& operator=(const HalvexHost&) = delete;

    // Creates the host window as a child of parent (pixel rectangle, control
    // identifier id), creates the control in it and connects events to the
    // handler (which may be null). On failure nothing is left behind.
    HRESULT Create(HWND parent, const RECT& where, int id, HalvexEvents* events);
    // Disconnects the events, releases the control and destroys the host window.
    void Destroy();

    const HalvexDispatch& Converter() const { return dispatch_; }
    bool IsCreated() const { return dispatch_.IsValid(); }
    HWND Window() const { return window_; }

private:
    HWND window_ = nullptr;
    corvane::ComPtr<IUnknown> container_;
    corvane::ComPtr<IUnknown> control_;
    HalvexDispatch dispatch_;
    corvane::ComPtr<IConnectionPoint> connectionPoint_;
    corvane::ComPtr<IDispatch> sink_;
    DWORD cookie_ = 0;
};

}  // namespace vellumo
