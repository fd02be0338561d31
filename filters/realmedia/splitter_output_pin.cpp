#include "splitter_output_pin.h"

#include "real_splitter.h"

namespace vellumo::filters {

SplitterOutputPin::SplitterOutputPin(RealSplitter& splitter, std::wstring name, int stream, MediaType type, bool audio)
    : OutputPin(splitter, std::move(name)), stream_(stream), type_(std::move(type)), audio_(audio),
      seeking_(static_cast<IPin*>(this), splitter)
{
}

HRESULT SplitterOutputPin::CheckMediaType(const AM_MEDIA_TYPE& mt)
{
    return mt.majortype == type_->majortype && mt.subtype == type_->subtype &&
                   (mt.formattype == GUID_NULL || mt.formattype == type_->formattype)
               ? S_OK
               : S_FALSE;
}

HRESULT SplitterOutputPin::GetMediaType(int index, MediaType& out)
{
    if (index < 0) return E_INVALIDARG;
    if (index > 0) return VFW_S_NO_MORE_ITEMS;
    out = type_;
    return S_OK;
}

HRESULT SplitterOutputPin::QueryPinInterface(REFIID iid, void** out)
{
    if (iid == IID_IMediaSeeking) {
        *out = static_cast<IMediaSeeking*>(&seeking_);
        AddRef();
        return S_OK;
    }
    return OutputPin::QueryPinInterface(iid, out);
}

void SplitterOutputPin::BufferRequirements(ALLOCATOR_PROPERTIES& props)
{
    // A packet travels in one buffer.
    props.cBuffers = audio_ ? 32 : 8;
    props.cbBuffer = audio_ ? 64 * 1024 : 1024 * 1024;
    props.cbAlign = 1;
    props.cbPrefix = 0;
}

}  // namespace vellumo::filters
