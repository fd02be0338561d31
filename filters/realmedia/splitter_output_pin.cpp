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

void SplitterOutputPin::BeginRun(REFERENCE_TIME offset)
{
    held_.Reset();
    offset_ = offset;
    first_ = true;
    groups_ = PeerReadsByteStream();
}

HRESULT SplitterOutputPin::Fill(const realmedia::MediaPacket& packet, HRESULT& fault)
{
    HRESULT hr = GetDeliveryBuffer(held_.Put());
    if (FAILED(hr)) return hr;
    hr = held_->GetPointer(&heldData_);
    if (FAILED(hr) || !heldData_) {
        held_.Reset();
        fault = FAILED(hr) ? hr : E_POINTER;
        return fault;
    }
    if (packet.data.size() > static_cast<size_t>(held_->GetSize())) {
        // The buffers were sized for the largest packet the format allows.
        held_.Reset();
        fault = VFW_E_BUFFER_OVERFLOW;
        return fault;
    }
    std::memcpy(heldData_, packet.data.data(), packet.data.size());
    heldBytes_ = static_cast<long>(packet.data.size());
    if (packet.start != realmedia::kNoTime) {
        heldStart_ = packet.start - offset_;
        heldStop_ = heldStart_ + (packet.duration > 0 ? packet.duration : 1);
        held_->SetTime(&heldStart_, &heldStop_);
    } else {
        held_->SetTime(nullptr, nullptr);
    }
    held_->SetSyncPoint(packet.keyframe || audio_ ? TRUE : FALSE);
    held_->SetDiscontinuity(first_ ? TRUE : FALSE);
    first_ = false;
    return S_OK;
}

HRESULT SplitterOutputPin::Send(const realmedia::MediaPacket& packet, HRESULT& fault)
{
    const bool timed = packet.start != realmedia::kNoTime;
    if (groups_ && held_ && timed && heldStop_ - heldStart_ < kGroupSpan &&
        static_cast<size_t>(heldBytes_) + packet.data.size() <= static_cast<size_t>(held_->GetSize())) {
        std::memcpy(heldData_ + heldBytes_, packet.data.data(), packet.data.size());
        heldBytes_ += static_cast<long>(packet.data.size());
        heldStop_ = packet.start - offset_ + (packet.duration > 0 ? packet.duration : 1);
        held_->SetTime(&heldStart_, &heldStop_);
        return S_OK;
    }
    HRESULT hr = Flush();
    if (hr != S_OK) return hr;
    hr = Fill(packet, fault);
    if (hr != S_OK) return hr;
    return groups_ && timed ? S_OK : Flush();
}

HRESULT SplitterOutputPin::Flush()
{
    if (!held_) return S_OK;
    corvane::ComPtr<IMediaSample> sample = std::move(held_);
    sample->SetActualDataLength(heldBytes_);
    return Deliver(sample.Get());
}

}  // namespace vellumo::filters
