#include "splitter_output_pin.h"

#include <cstring>

#include "filter_ids.h"
#include "real_splitter.h"
#include "realmedia_types.h"

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

namespace {
constexpr REFERENCE_TIME kGroupSpan = 2500000;  // a quarter of a second
}  // namespace

bool SplitterOutputPin::PeerReadsByteStream()
{
    realmedia::AudioCodecSetup setup;
    if (!audio_ || !RealAudioSetupOf(*type_, setup) || setup.fourcc != realmedia::MakeFourcc('d', 'n', 'e', 't')) {
        return false;
    }
    PIN_INFO info{};
    if (!Peer() || FAILED(Peer()->QueryPinInfo(&info)) || !info.pFilter) return false;
    CLSID clsid{};
    const bool ours = SUCCEEDED(info.pFilter->GetClassID(&clsid)) && clsid == corvane::CLSID_RealAudioDecoder;
    info.pFilter->Release();
    return ours;
}

HRESULT SplitterOutputPin::Active()
{
    const HRESULT hr = OutputPin::Active();
    active_ = SUCCEEDED(hr);
    return hr;
}

HRESULT SplitterOutputPin::Inactive()
{
    // Cleared before the allocator lets go, so that a buffer refused from now
    // on is taken for the stop it is.
    active_ = false;
    return OutputPin::Inactive();
}

void SplitterOutputPin::BeginRun(REFERENCE_TIME offset)
{
    group_.clear();
    offset_ = offset;
    first_ = true;
    groups_ = PeerReadsByteStream();
}

HRESULT SplitterOutputPin::DeliverData(const uint8_t* data, size_t size, const Stamp& stamp, HRESULT& fault)
{
    bool filled = false, tooLarge = false;
    const HRESULT hr = DeliverFilled([&](IMediaSample* sample, BYTE* buffer, long capacity) {
        filled = true;
        if (size > static_cast<size_t>(capacity)) {
            // The buffers were sized for the largest packet the format allows.
            tooLarge = true;
            return VFW_E_BUFFER_OVERFLOW;
        }
        std::memcpy(buffer, data, size);
        sample->SetActualDataLength(static_cast<long>(size));
        REFERENCE_TIME start = stamp.start, stop = stamp.stop;
        sample->SetTime(stamp.timed ? &start : nullptr, stamp.timed ? &stop : nullptr);
        sample->SetSyncPoint(stamp.sync ? TRUE : FALSE);
        sample->SetDiscontinuity(first_ ? TRUE : FALSE);
        first_ = false;
        return S_OK;
    });
    // No buffer while the pin is active, or one the packet does not fit in,
    // is the splitter's failure; otherwise downstream answered.
    if (FAILED(hr) && (tooLarge || (!filled && active_))) fault = hr;
    return hr;
}

HRESULT SplitterOutputPin::Send(const realmedia::MediaPacket& packet, HRESULT& fault)
{
    const bool timed = packet.start != realmedia::kNoTime;
    const REFERENCE_TIME start = timed ? packet.start - offset_ : 0;
    const REFERENCE_TIME stop = start + (packet.duration > 0 ? packet.duration : 1);
    if (groups_ && timed) {
        if (!group_.empty() && (groupStamp_.stop - groupStamp_.start >= kGroupSpan ||
                                group_.size() + packet.data.size() > static_cast<size_t>(BufferSize()))) {
            const HRESULT hr = Flush(fault);
            if (hr != S_OK) return hr;
        }
        if (group_.empty()) groupStamp_ = {true, start, stop, true};
        group_.insert(group_.end(), packet.data.begin(), packet.data.end());
        groupStamp_.stop = stop;
        return S_OK;
    }
    HRESULT hr = Flush(fault);
    if (hr != S_OK) return hr;
    return DeliverData(packet.data.data(), packet.data.size(), {timed, start, stop, packet.keyframe || audio_}, fault);
}

HRESULT SplitterOutputPin::Flush(HRESULT& fault)
{
    if (group_.empty()) return S_OK;
    const HRESULT hr = DeliverData(group_.data(), group_.size(), groupStamp_, fault);
    group_.clear();
    return hr;
}

}  // namespace vellumo::filters
