#include "control_drawing.h"

#include "control.h"

namespace corvane::server {

void DrawControl(HDC dc, const RECTL& bounds)
{
    RECT rc = {bounds.left, bounds.top, bounds.right, bounds.bottom};
    const bool metafile = GetDeviceCaps(dc, TECHNOLOGY) == DT_METAFILE || GetObjectType(dc) == OBJ_METADC;
    int saved = 0;
    if (!metafile) {
        LPtoDP(dc, reinterpret_cast<POINT*>(&rc), 2);
        saved = SaveDC(dc);
        SetMapMode(dc, MM_TEXT);
        SetWindowOrgEx(dc, 0, 0, nullptr);
        SetViewportOrgEx(dc, 0, 0, nullptr);
    }
    const UINT oldAlign = SetTextAlign(dc, TA_CENTER | TA_BASELINE);
    static const wchar_t text[] = L"ATL 7.0";
    TextOutW(dc, rc.left + (rc.right - rc.left) / 2, rc.top + (rc.bottom - rc.top) / 2, text,
             static_cast<int>(sizeof text / sizeof text[0] - 1));
    if (saved) {
        RestoreDC(dc, saved);
    } else if (oldAlign != GDI_ERROR) {
        SetTextAlign(dc, oldAlign);
    }
}

HRESULT RenderMetafilePicture(const SIZEL& extent, STGMEDIUM* medium)
{
    // The drawing is made in pixels of the screen; the picture header
    // carries the size in HIMETRIC.
    HDC screen = GetDC(nullptr);
    const int dpiX = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    const int dpiY = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    const LONG width = MulDiv(extent.cx, dpiX, 2540);
    const LONG height = MulDiv(extent.cy, dpiY, 2540);

    HDC dc = CreateMetaFileW(nullptr);
    if (!dc) return E_UNEXPECTED;
    SetWindowOrgEx(dc, 0, 0, nullptr);
    SetWindowExtEx(dc, width, height, nullptr);
    DrawControl(dc, RECTL{0, 0, width, height});
    HMETAFILE metafile = CloseMetaFile(dc);
    if (!metafile) return E_UNEXPECTED;

    HGLOBAL memory = GlobalAlloc(GMEM_SHARE | GMEM_MOVEABLE, sizeof(METAFILEPICT));
    auto* picture = memory ? static_cast<METAFILEPICT*>(GlobalLock(memory)) : nullptr;
    if (!picture) {
        if (memory) GlobalFree(memory);
        DeleteMetaFile(metafile);
        return STG_E_MEDIUMFULL;
    }
    picture->mm = MM_ANISOTROPIC;
    picture->xExt = extent.cx;
    picture->yExt = extent.cy;
    picture->hMF = metafile;
    GlobalUnlock(memory);
    medium->tymed = TYMED_MFPICT;
    medium->hMetaFilePict = memory;
    medium->pUnkForRelease = nullptr;
    return S_OK;
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

// --- view change notification -----------------------------------------------------

void AtlHalvexControl::ViewChanged()
{
    if (window_) InvalidateRect(window_, nullptr, TRUE);
    if (viewSink_ && (viewAspects_ & DVASPECT_CONTENT)) viewSink_->OnViewChange(DVASPECT_CONTENT, -1);
    if (dataAdvise_) dataAdvise_->SendOnDataChange(static_cast<IDataObject*>(this), 0, 0);
}

}  // namespace corvane::server
