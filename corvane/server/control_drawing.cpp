#include "control_drawing.h"

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

}  // namespace corvane::server
