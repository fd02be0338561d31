#include "media_type.h"

namespace corvane {

void FreeMediaTypeContents(AM_MEDIA_TYPE& type)
{
    // A filter may hand out a format block with its size left at 0.
    if (type.cbFormat != 0 || type.pbFormat) {
        CoTaskMemFree(type.pbFormat);
        type.cbFormat = 0;
        type.pbFormat = nullptr;
    }
    if (type.pUnk) {
        type.pUnk->Release();
        type.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* type)
{
    if (!type) return;
    FreeMediaTypeContents(*type);
    CoTaskMemFree(type);
}

}  // namespace corvane
