// Media-type blocks handed out by DirectShow calls.
#pragma once

#include "dshow_uuids.h"

namespace corvane {

// Frees the format block (CoTaskMemFree) and releases pUnk; the structure stays.
void FreeMediaTypeContents(AM_MEDIA_TYPE& type);
// Frees the contents and the structure itself; null is ignored.
void DeleteMediaType(AM_MEDIA_TYPE* type);

}  // namespace corvane
