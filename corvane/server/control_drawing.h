// The control's picture: the text "ATL 7.0" in the middle of its bounds.
#pragma once

#include <windows.h>
#include <objidl.h>

namespace corvane::server {

// Draws into dc within bounds (logical units of dc). Except on a metafile,
// the bounds are turned into device units and the drawing is made in MM_TEXT
// with both origins at 0,0; the device context is restored afterwards.
void DrawControl(HDC dc, const RECTL& bounds);

// Renders the picture as a metafile picture (TYMED_MFPICT) of the given
// size in HIMETRIC.
HRESULT RenderMetafilePicture(const SIZEL& extent, STGMEDIUM* medium);

}  // namespace corvane::server
