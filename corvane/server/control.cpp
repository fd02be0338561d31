#include "control.h"

#include <new>

#include "control_drawing.h"
#include "interface_table.h"

namespace corvane::server {
namespace {

using C = AtlHalvexControl;

// The interfaces the control answers, in order.
const InterfaceEntry g_interfaces[] = {
    {&IID_IAtlHalvex, &CastTo<C, IAtlHalvex>},
    {&IID_IDispatch, &CastThrough<C, IAtlHalvex, IDispatch>},
    {&IID_IViewObjectEx, &CastTo<C, IViewObjectEx>},
    {&IID_IViewObject2, &CastThrough<C, IViewObjectEx, IViewObject2>},
    {&IID_IViewObject, &CastThrough<C, IViewObjectEx, IViewObject>},
    {&IID_IOleInPlaceObjectWindowless, &CastTo<C, IOleInPlaceObjectWindowless>},
    {&IID_IOleInPlaceObject, &CastThrough<C, IOleInPlaceObjectWindowless, IOleInPlaceObject>},
    {&IID_IOleWindow, &CastThrough<C, IOleInPlaceObjectWindowless, IOleWindow>},
    {&IID_IOleInPlaceActiveObject, &CastTo<C, IOleInPlaceActiveObject>},
    {&IID_IOleControl, &CastTo<C, IOleControl>},
    {&IID_IOleObject, &CastTo<C, IOleObject>},
    {&IID_IPersistStreamInit, &CastTo<C, IPersistStreamInit>},
    {&IID_IPersist, &CastThrough<C, IPersistStreamInit, IPersist>},
    {&IID_ISupportErrorInfo, &CastTo<C, ISupportErrorInfo>},
    {&IID_IConnectionPointContainer, &CastTo<C, IConnectionPointContainer>},
    {&IID_ISpecifyPropertyPages, &CastTo<C, ISpecifyPropertyPages>},
    {&IID_IQuickActivate, &CastTo<C, IQuickActivate>},
    {&IID_IPersistStorage, &CastTo<C, IPersistStorage>},
    {&IID_IDataObject, &CastTo<C, IDataObject>},
    {&IID_IProvideClassInfo, &CastThrough<C, IProvideClassInfo2, IProvideClassInfo>},
    {&IID_IProvideClassInfo2, &CastTo<C, IProvideClassInfo2>},
    {nullptr, nullptr},
};

const wchar_t ContentsStream[] = L"Contents";

}  // namespace

// --- identity and lifetime ---------------------------------------------------

HRESULT AtlHalvexControl::CreateInstance(IUnknown* outer, REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    auto* control = new (std::nothrow) AtlHalvexControl(outer);
    if (!control) return E_OUTOFMEMORY;
    const HRESULT hr = control->inner_.QueryInterface(iid, out);
    control->inner_.Release();  // the creation reference
    return hr;
}

AtlHalvexControl::AtlHalvexControl(IUnknown* outer)
    : inner_(*this),
      outer_(outer ? outer : &inner_),
      connectionPoint_(this, converter_.Sinks()),
      dispatchInfo_(IID_IAtlHalvex),
      classInfo_(CLSID_AtlHalvex)
{
}

AtlHalvexControl::~AtlHalvexControl()
{
    // The window goes with the object; the converter's graph and sinks go
    // with the converter.
    if (window_) DestroyWindow(window_);
}

STDMETHODIMP AtlHalvexControl::Inner::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
        *out = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    return QueryFromTable(&owner_, g_interfaces, iid, out);
}

STDMETHODIMP_(ULONG) AtlHalvexControl::Inner::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
}

STDMETHODIMP_(ULONG) AtlHalvexControl::Inner::Release()
{
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) {
        refs_ = 1;  // guards against a re-entrant release during destruction
        delete &owner_;
    }
    return static_cast<ULONG>(refs);
}

// --- IDispatch -----------------------------------------------------------------

STDMETHODIMP AtlHalvexControl::GetTypeInfoCount(UINT* count)
{
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info)
{
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return dispatchInfo_.Get(lcid, info);
}

STDMETHODIMP AtlHalvexControl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids)
{
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids) return E_POINTER;
    ComPtr<ITypeInfo> info;
    HRESULT hr = dispatchInfo_.Get(lcid, info.Put());
    if (FAILED(hr)) return hr;
    return DispGetIDsOfNames(info.Get(), names, count, ids);
}

STDMETHODIMP AtlHalvexControl::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                      VARIANT* result, EXCEPINFO* exception, UINT* argError)
{
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ComPtr<ITypeInfo> info;
    HRESULT hr = dispatchInfo_.Get(lcid, info.Put());
    if (FAILED(hr)) return hr;
    // Sinks may release the control while a member runs: keep it alive.
    ComPtr<IUnknown> keep(outer_);
    return DispInvoke(static_cast<IAtlHalvex*>(this), info.Get(), id, flags, params, result, exception, argError);
}

// --- IViewObject, IViewObject2, IViewObjectEx ----------------------------------

STDMETHODIMP AtlHalvexControl::Draw(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, HDC drawDc, LPCRECTL bounds,
                                    LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR)
{
    if (!drawDc) return E_INVALIDARG;
    RECTL rc;
    if (bounds) {
        rc = *bounds;
    } else if (window_) {
        RECT client;
        GetClientRect(window_, &client);
        rc = RECTL{client.left, client.top, client.right, client.bottom};
    } else {
        return E_INVALIDARG;
    }
    DrawControl(drawDc, rc);
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors)
{
    if (colors) *colors = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP AtlHalvexControl::Freeze(DWORD, LONG, void*, DWORD*)
{
    return E_NOTIMPL;
}

STDMETHODIMP AtlHalvexControl::Unfreeze(DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP AtlHalvexControl::SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink)
{
    viewSink_ = ComPtr<IAdviseSink>(sink);
    viewAspects_ = aspects;
    viewAdvf_ = advf;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink)
{
    if (aspects) *aspects = viewAspects_;
    if (advf) *advf = viewAdvf_;
    if (sink) {
        *sink = viewSink_.Get();
        if (*sink) (*sink)->AddRef();
    }
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size)
{
    return GetExtent(aspect, size);
}

STDMETHODIMP AtlHalvexControl::GetRect(DWORD aspect, LPRECTL rect)
{
    if (!rect) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *rect = RECTL{0, 0, extent_.cx, extent_.cy};
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::GetViewStatus(DWORD* status)
{
    if (!status) return E_POINTER;
    // The picture is the text alone: no background of its own.
    *status = 0;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG, DWORD* hit)
{
    if (!bounds || !hit) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return E_FAIL;
    *hit = PtInRect(bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG, DWORD* hit)
{
    if (!bounds || !location || !hit) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return E_FAIL;
    RECT overlap;
    *hit = IntersectRect(&overlap, bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::GetNaturalExtent(DWORD aspect, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO* info,
                                                LPSIZEL size)
{
    if (!info || !size) return E_POINTER;
    if (aspect == DVASPECT_CONTENT && info->dwExtentMode == DVEXTENT_CONTENT) {
        *size = naturalExtent_;
        return S_OK;
    }
    return E_FAIL;
}

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

// --- persistence ---------------------------------------------------------------

STDMETHODIMP AtlHalvexControl::GetClassID(CLSID* clsid)
{
    if (!clsid) return E_POINTER;
    *clsid = CLSID_AtlHalvex;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::IsDirty()
{
    return needsSaving_ ? S_OK : S_FALSE;
}

HRESULT AtlHalvexControl::ReadStream(IStream* stream)
{
    if (!stream) return E_POINTER;
    DWORD fields[3] = {};
    for (DWORD& field : fields) {
        ULONG read = 0;
        HRESULT hr = stream->Read(&field, sizeof field, &read);
        if (FAILED(hr)) return hr;
        // A stream that ends inside the record is as unreadable as a failing one.
        if (read != sizeof field) return STG_E_READFAULT;
        if (&field == &fields[0] && field > StreamVersion) return E_FAIL;
    }
    extent_.cx = static_cast<LONG>(fields[1]);
    extent_.cy = static_cast<LONG>(fields[2]);
    needsSaving_ = false;
    ViewChanged();
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::Load(LPSTREAM stream)
{
    return ReadStream(stream);
}

STDMETHODIMP AtlHalvexControl::Save(LPSTREAM stream, BOOL)
{
    if (!stream) return E_POINTER;
    const DWORD fields[3] = {StreamVersion, static_cast<DWORD>(extent_.cx), static_cast<DWORD>(extent_.cy)};
    ULONG written = 0;
    HRESULT hr = stream->Write(fields, sizeof fields, &written);
    if (FAILED(hr)) return hr;
    return written == sizeof fields ? S_OK : STG_E_WRITEFAULT;
}

STDMETHODIMP AtlHalvexControl::GetSizeMax(ULARGE_INTEGER* size)
{
    if (!size) return E_POINTER;
    size->QuadPart = 3 * sizeof(DWORD);
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::InitNew()
{
    needsSaving_ = true;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::InitNew(IStorage*)
{
    needsSaving_ = true;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::Load(IStorage* storage)
{
    if (!storage) return E_POINTER;
    ComPtr<IStream> stream;
    HRESULT hr = storage->OpenStream(ContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Put());
    if (FAILED(hr)) return hr;
    return ReadStream(stream.Get());
}

STDMETHODIMP AtlHalvexControl::Save(IStorage* storage, BOOL)
{
    if (!storage) return E_POINTER;
    ComPtr<IStream> stream;
    HRESULT hr = storage->CreateStream(ContentsStream, STGM_WRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, 0,
                                       stream.Put());
    if (FAILED(hr)) return hr;
    return Save(stream.Get(), FALSE);
}

STDMETHODIMP AtlHalvexControl::SaveCompleted(IStorage*)
{
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::HandsOffStorage()
{
    return S_OK;
}

// --- ISupportErrorInfo, connection points, property pages ----------------------

STDMETHODIMP AtlHalvexControl::InterfaceSupportsErrorInfo(REFIID iid)
{
    return IsEqualIID(iid, IID_IAtlHalvex) ? S_OK : S_FALSE;
}

STDMETHODIMP AtlHalvexControl::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    if (!points) return E_POINTER;
    *points = new (std::nothrow) ConnectionPointEnum(&connectionPoint_, 0);
    return *points ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP AtlHalvexControl::FindConnectionPoint(REFIID iid, IConnectionPoint** point)
{
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(iid, DIID__IAtlHalvexEvents)) return CONNECT_E_NOCONNECTION;
    *point = &connectionPoint_;
    connectionPoint_.AddRef();
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::GetPages(CAUUID* pages)
{
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    return S_OK;
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

// --- IDataObject -------------------------------------------------------------------

STDMETHODIMP AtlHalvexControl::GetData(FORMATETC* format, STGMEDIUM* medium)
{
    if (!format || !medium) return E_POINTER;
    ZeroMemory(medium, sizeof *medium);
    if ((format->tymed & TYMED_MFPICT) == 0) return DATA_E_FORMATETC;
    return RenderMetafilePicture(extent_, medium);
}

STDMETHODIMP AtlHalvexControl::GetDataHere(FORMATETC*, STGMEDIUM*)
{
    return E_NOTIMPL;
}

STDMETHODIMP AtlHalvexControl::QueryGetData(FORMATETC* format)
{
    if (!format) return E_POINTER;
    return (format->tymed & TYMED_MFPICT) && format->cfFormat == CF_METAFILEPICT ? S_OK : DATA_E_FORMATETC;
}

STDMETHODIMP AtlHalvexControl::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out)
{
    if (out) out->ptd = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP AtlHalvexControl::SetData(FORMATETC*, STGMEDIUM*, BOOL)
{
    return E_NOTIMPL;
}

STDMETHODIMP AtlHalvexControl::EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats)
{
    if (!formats) return E_POINTER;
    *formats = nullptr;
    return OleRegEnumFormatEtc(CLSID_AtlHalvex, direction, formats);
}

STDMETHODIMP AtlHalvexControl::DAdvise(FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection)
{
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!dataAdvise_) {
        HRESULT hr = CreateDataAdviseHolder(dataAdvise_.Put());
        if (FAILED(hr)) return hr;
    }
    return dataAdvise_->Advise(static_cast<IDataObject*>(this), format, advf, sink, connection);
}

STDMETHODIMP AtlHalvexControl::DUnadvise(DWORD connection)
{
    return dataAdvise_ ? dataAdvise_->Unadvise(connection) : OLE_E_NOCONNECTION;
}

STDMETHODIMP AtlHalvexControl::EnumDAdvise(IEnumSTATDATA** advise)
{
    if (!advise) return E_POINTER;
    *advise = nullptr;
    return dataAdvise_ ? dataAdvise_->EnumAdvise(advise) : E_FAIL;
}

// --- IProvideClassInfo2 --------------------------------------------------------------

STDMETHODIMP AtlHalvexControl::GetClassInfo(ITypeInfo** info)
{
    if (!info) return E_POINTER;
    *info = nullptr;
    return classInfo_.Get(LOCALE_USER_DEFAULT, info);
}

STDMETHODIMP AtlHalvexControl::GetGUID(DWORD kind, GUID* guid)
{
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = DIID__IAtlHalvexEvents;
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

void AtlHalvexControl::ViewChanged()
{
    if (window_) InvalidateRect(window_, nullptr, TRUE);
    if (viewSink_ && (viewAspects_ & DVASPECT_CONTENT)) viewSink_->OnViewChange(DVASPECT_CONTENT, -1);
    if (dataAdvise_) dataAdvise_->SendOnDataChange(static_cast<IDataObject*>(this), 0, 0);
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
