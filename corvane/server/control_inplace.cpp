// AtlHalvexControl: in-place activation and the control's window
// (IOleInPlaceObject, IOleInPlaceActiveObject, the window's callbacks).
#include "control.h"
#include "control_drawing.h"

namespace corvane::server {

// --- IOleWindow, IOleInPlaceObject(Windowless) ---------------------------------

STDMETHODIMP AtlHalvexControl::GetWindow(HWND* window)
{
    if (!window) return E_POINTER;
    *window = window_;
    return window_ ? S_OK : E_FAIL;
}

STDMETHODIMP AtlHalvexControl::ContextSensitiveHelp(BOOL)
{
    return E_NOTIMPL;
}

STDMETHODIMP AtlHalvexControl::InPlaceDeactivate()
{
    if (!inPlaceActive_) return S_OK;
    ComPtr<IUnknown> keep(outer_);
    UIDeactivate();
    inPlaceActive_ = false;
    if (window_) DestroyWindow(window_);  // OnWindowDestroyed clears window_
    ComPtr<IOleInPlaceSite> site;
    site.Swap(inPlaceSite_);
    frame_.Reset();
    document_.Reset();
    if (site) {
        ComPtr<IOleInPlaceSiteEx> siteEx;
        if (SUCCEEDED(site.As(siteEx)))
            siteEx->OnInPlaceDeactivateEx(TRUE);
        else
            site->OnInPlaceDeactivate();
    }
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::UIDeactivate()
{
    if (!uiActive_) return S_OK;
    uiActive_ = false;
    if (document_) document_->SetActiveObject(nullptr, nullptr);
    if (frame_) frame_->SetActiveObject(nullptr, nullptr);
    if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::SetObjectRects(LPCRECT pos, LPCRECT clip)
{
    if (!pos) return E_POINTER;
    pos_ = *pos;
    if (window_) {
        // Show only the part of the window inside the clip rectangle.
        RECT visible;
        if (clip && IntersectRect(&visible, pos, clip) && !EqualRect(&visible, pos)) {
            OffsetRect(&visible, -pos->left, -pos->top);
            SetWindowRgn(window_, CreateRectRgnIndirect(&visible), TRUE);
        } else {
            SetWindowRgn(window_, nullptr, TRUE);
        }
        SetWindowPos(window_, nullptr, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::ReactivateAndUndo()
{
    return E_NOTIMPL;
}

STDMETHODIMP AtlHalvexControl::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result)
{
    // Always windowed: a windowless container's messages are not ours.
    if (result) *result = 0;
    return S_FALSE;
}

STDMETHODIMP AtlHalvexControl::GetDropTarget(IDropTarget** target)
{
    if (!target) return E_POINTER;
    *target = nullptr;
    return E_NOTIMPL;
}

// --- IOleInPlaceActiveObject ---------------------------------------------------

STDMETHODIMP AtlHalvexControl::TranslateAccelerator(LPMSG)
{
    return S_FALSE;
}

STDMETHODIMP AtlHalvexControl::OnFrameWindowActivate(BOOL)
{
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::OnDocWindowActivate(BOOL)
{
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL)
{
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::EnableModeless(BOOL)
{
    return S_OK;
}

// --- activation and the window ---------------------------------------------------------

HRESULT AtlHalvexControl::InPlaceActivate(LONG verb)
{
    if (!clientSite_) return S_OK;
    ComPtr<IUnknown> keep(outer_);
    if (!inPlaceActive_) {
        ComPtr<IOleInPlaceSite> site;
        HRESULT hr = clientSite_.As(site);
        if (FAILED(hr)) return hr;
        hr = site->CanInPlaceActivate();
        if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
        // Windowed activation, even when the site would take a windowless control.
        ComPtr<IOleInPlaceSiteEx> siteEx;
        if (SUCCEEDED(site.As(siteEx))) {
            BOOL noRedraw = FALSE;
            hr = siteEx->OnInPlaceActivateEx(&noRedraw, 0);
        } else {
            hr = site->OnInPlaceActivate();
        }
        if (FAILED(hr)) return hr;
        inPlaceSite_ = site;
        inPlaceActive_ = true;
    }

    if (!window_) {
        OLEINPLACEFRAMEINFO frameInfo = {};
        frameInfo.cb = sizeof frameInfo;
        RECT pos = {};
        RECT clip = {};
        HRESULT hr = inPlaceSite_->GetWindowContext(frame_.Put(), document_.Put(), &pos, &clip, &frameInfo);
        if (FAILED(hr)) return hr;
        HWND parent = nullptr;
        hr = inPlaceSite_->GetWindow(&parent);
        if (FAILED(hr)) return hr;
        pos_ = pos;
        window_ = CreateControlWindow(parent, pos, this);
        if (!window_) return HRESULT_FROM_WIN32(GetLastError());
        converter_.SetWindow(window_);
        SetObjectRects(&pos, &clip);
    } else if (verb != OLEIVERB_INPLACEACTIVATE || !IsWindowVisible(window_)) {
        ShowWindow(window_, SW_SHOW);
    }

    if (verb == OLEIVERB_UIACTIVATE) return UIActivate();
    return S_OK;
}

HRESULT AtlHalvexControl::UIActivate()
{
    if (uiActive_ || !inPlaceSite_) return S_OK;
    uiActive_ = true;
    inPlaceSite_->OnUIActivate();
    if (window_ && !IsChild(window_, GetFocus())) SetFocus(window_);
    if (frame_) {
        frame_->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), nullptr);
        frame_->SetBorderSpace(nullptr);
    }
    if (document_) {
        document_->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), nullptr);
        document_->SetBorderSpace(nullptr);
    }
    return S_OK;
}

void AtlHalvexControl::OnGraphEventMessage()
{
    // Events raised from here may make the host release the control.
    ComPtr<IUnknown> keep(outer_);
    converter_.OnGraphEventMessage();
}

void AtlHalvexControl::OnPaint(HDC dc, const RECT& client)
{
    DrawControl(dc, RECTL{client.left, client.top, client.right, client.bottom});
}

void AtlHalvexControl::OnWindowDestroyed()
{
    window_ = nullptr;
    converter_.SetWindow(nullptr);
}

}  // namespace corvane::server
