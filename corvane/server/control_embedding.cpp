// AtlHalvexControl: embedding in a container (IOleObject, IOleControl,
// IQuickActivate).
#include "control.h"

namespace corvane::server {

// --- IOleControl ---------------------------------------------------------------

STDMETHODIMP AtlHalvexControl::GetControlInfo(CONTROLINFO*)
{
    return E_NOTIMPL;
}

STDMETHODIMP AtlHalvexControl::OnMnemonic(MSG*)
{
    return E_NOTIMPL;
}

STDMETHODIMP AtlHalvexControl::OnAmbientPropertyChange(DISPID)
{
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::FreezeEvents(BOOL)
{
    return S_OK;
}

// --- IOleObject ----------------------------------------------------------------

STDMETHODIMP AtlHalvexControl::SetClientSite(IOleClientSite* site)
{
    clientSite_ = ComPtr<IOleClientSite>(site);
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::GetClientSite(IOleClientSite** site)
{
    if (!site) return E_POINTER;
    *site = clientSite_.Get();
    if (*site) (*site)->AddRef();
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::SetHostNames(LPCOLESTR, LPCOLESTR)
{
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::Close(DWORD saveOption)
{
    ComPtr<IUnknown> keep(outer_);
    InPlaceDeactivate();
    if (needsSaving_ && clientSite_ &&
        (saveOption == OLECLOSE_SAVEIFDIRTY || saveOption == OLECLOSE_PROMPTSAVE)) {
        clientSite_->SaveObject();
    }
    if (oleAdvise_) oleAdvise_->SendOnClose();
    // Drop the container's links so that no reference cycle outlives Close.
    oleAdvise_.Reset();
    dataAdvise_.Reset();
    viewSink_.Reset();
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::SetMoniker(DWORD, IMoniker*)
{
    return E_NOTIMPL;
}

STDMETHODIMP AtlHalvexControl::GetMoniker(DWORD, DWORD, IMoniker** moniker)
{
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP AtlHalvexControl::InitFromData(IDataObject*, BOOL, DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP AtlHalvexControl::GetClipboardData(DWORD, IDataObject** data)
{
    if (data) *data = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP AtlHalvexControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT)
{
    if (site && !clientSite_) SetClientSite(site);
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_UIACTIVATE:
        return InPlaceActivate(OLEIVERB_UIACTIVATE);
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
        return InPlaceActivate(verb);
    case OLEIVERB_HIDE:
        UIDeactivate();
        if (window_) ShowWindow(window_, SW_HIDE);
        return S_OK;
    case OLEIVERB_OPEN:
    case OLEIVERB_DISCARDUNDOSTATE:
        return S_OK;
    case OLEIVERB_PROPERTIES:
        return E_NOTIMPL;  // no property pages
    default:
        if (verb > 0) {
            // An unknown positive verb runs the primary verb.
            const HRESULT hr = InPlaceActivate(OLEIVERB_UIACTIVATE);
            return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
        }
        return E_NOTIMPL;
    }
}

STDMETHODIMP AtlHalvexControl::EnumVerbs(IEnumOLEVERB** verbs)
{
    if (!verbs) return E_POINTER;
    *verbs = nullptr;
    return OleRegEnumVerbs(CLSID_AtlHalvex, verbs);
}

STDMETHODIMP AtlHalvexControl::Update()
{
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::IsUpToDate()
{
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::GetUserClassID(CLSID* clsid)
{
    if (!clsid) return E_POINTER;
    *clsid = CLSID_AtlHalvex;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::GetUserType(DWORD form, LPOLESTR* type)
{
    if (!type) return E_POINTER;
    *type = nullptr;
    return OleRegGetUserType(CLSID_AtlHalvex, form, type);
}

STDMETHODIMP AtlHalvexControl::SetExtent(DWORD aspect, SIZEL* size)
{
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (size->cx != extent_.cx || size->cy != extent_.cy) {
        extent_ = *size;
        needsSaving_ = true;  // the stored form changes with the extent
        ViewChanged();
    }
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::GetExtent(DWORD aspect, SIZEL* size)
{
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = extent_;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::Advise(IAdviseSink* sink, DWORD* connection)
{
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!oleAdvise_) {
        HRESULT hr = CreateOleAdviseHolder(oleAdvise_.Put());
        if (FAILED(hr)) return hr;
    }
    return oleAdvise_->Advise(sink, connection);
}

STDMETHODIMP AtlHalvexControl::Unadvise(DWORD connection)
{
    return oleAdvise_ ? oleAdvise_->Unadvise(connection) : OLE_E_NOCONNECTION;
}

STDMETHODIMP AtlHalvexControl::EnumAdvise(IEnumSTATDATA** advise)
{
    if (!advise) return E_POINTER;
    *advise = nullptr;
    return oleAdvise_ ? oleAdvise_->EnumAdvise(advise) : E_FAIL;
}

STDMETHODIMP AtlHalvexControl::GetMiscStatus(DWORD aspect, DWORD* status)
{
    if (!status) return E_POINTER;
    return OleRegGetMiscStatus(CLSID_AtlHalvex, aspect, status);
}

STDMETHODIMP AtlHalvexControl::SetColorScheme(LOGPALETTE*)
{
    return E_NOTIMPL;
}

// --- IQuickActivate --------------------------------------------------------------

STDMETHODIMP AtlHalvexControl::QuickActivate(QACONTAINER* container, QACONTROL* control)
{
    if (!container || !control) return E_POINTER;
    if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL)) return E_INVALIDARG;
    SetClientSite(container->pClientSite);
    if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    control->dwEventCookie = 0;
    if (container->pUnkEventSink) connectionPoint_.Advise(container->pUnkEventSink, &control->dwEventCookie);
    control->dwPropNotifyCookie = 0;
    control->dwMiscStatus = 0;
    GetMiscStatus(DVASPECT_CONTENT, &control->dwMiscStatus);
    GetViewStatus(&control->dwViewStatus);
    control->dwPointerActivationPolicy = 0;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::SetContentExtent(LPSIZEL size)
{
    return SetExtent(DVASPECT_CONTENT, size);
}

STDMETHODIMP AtlHalvexControl::GetContentExtent(LPSIZEL size)
{
    return GetExtent(DVASPECT_CONTENT, size);
}

}  // namespace corvane::server
