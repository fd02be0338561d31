// IEnumPins over a BaseFilter's pins and IEnumMediaTypes over a snapshot of a
// pin's preferred types.
#pragma once

#include "dshow_uuids.h"

#include <vector>

#include "media_type.h"

namespace vellumo::filters {

class BaseFilter;
class BasePin;

HRESULT CreatePinEnumerator(BaseFilter& filter, IEnumPins** out);
// Snapshot of pin.GetMediaType(0...).
HRESULT CreateMediaTypeEnumerator(BasePin& pin, IEnumMediaTypes** out);
// An enumerator over the given types (the owner object is kept alive).
HRESULT CreateMediaTypeEnumerator(IUnknown* owner, std::vector<MediaType> types, IEnumMediaTypes** out);

}  // namespace vellumo::filters
