#include "sine_source.h"

#include <cmath>
#include <cstring>

namespace filter_tests {

using namespace vellumo::filters;

class SineSource::Pin final : public OutputPin {
public:
    Pin(SineSource& owner) : OutputPin(owner, L"Output"), owner_(owner) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override
    {
        return Type().Equals(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int index, MediaType& out) override
    {
        if (index != 0) return VFW_S_NO_MORE_ITEMS;
        out = Type();
        return S_OK;
    }
    MediaType Type() const
    {
        return PcmMediaType(owner_.format_.rate, owner_.format_.channels, owner_.format_.bits);
    }

protected:
    HRESULT QueryPinInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IMediaSeeking) {
            *out = static_cast<IMediaSeeking*>(&owner_);
            owner_.AddRef();
            return S_OK;
        }
        return OutputPin::QueryPinInterface(iid, out);
    }
    void BufferRequirements(ALLOCATOR_PROPERTIES& props) override
    {
        props.cBuffers = 4;
        props.cbBuffer = 4096 * owner_.format_.channels * (owner_.format_.bits / 8);
        props.cbAlign = 1;
    }

private:
    SineSource& owner_;
};

SineSource::SineSource(const SineFormat& format)
    : BaseFilter(GUID_NULL), format_(format), pin_(std::make_unique<Pin>(*this))
{
}

SineSource::~SineSource()
{
    // A graph whose Run failed leaves some filters paused: stop the thread
    // (decommitting the allocator wakes it) before going away.
    Stop();
}

BasePin* SineSource::PinAt(int index) { return index == 0 ? pin_.get() : nullptr; }

HRESULT SineSource::QueryFilterInterface(REFIID iid, void** out)
{
    if (iid == IID_IMediaSeeking) {
        *out = static_cast<IMediaSeeking*>(this);
        AddRef();
        return S_OK;
    }
    return BaseFilter::QueryFilterInterface(iid, out);
}

HRESULT SineSource::OnStartStreaming()
{
    stop_ = false;
    if (pin_->IsConnected()) thread_ = std::thread([this] { Stream(); });
    return S_OK;
}

HRESULT SineSource::OnStop()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return S_OK;
}

void SineSource::Stream()
{
    const int bytesPerFrame = format_.channels * (format_.bits / 8);
    LONGLONG position = 0;
    const double step = 2.0 * 3.14159265358979323846 * format_.frequency / format_.rate;
    while (position < format_.frames && !stop_) {
        IMediaSample* sample = nullptr;
        if (FAILED(pin_->GetDeliveryBuffer(&sample))) return;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        LONGLONG frames = sample->GetSize() / bytesPerFrame;
        if (frames > format_.frames - position) frames = format_.frames - position;
        for (LONGLONG i = 0; i < frames; ++i) {
            const double v = format_.amplitude * std::sin(step * static_cast<double>(position + i));
            for (int c = 0; c < format_.channels; ++c) {
                if (format_.bits == 8) {
                    data[i * bytesPerFrame + c] = static_cast<BYTE>(std::lround(128.0 + 127.0 * v));
                } else {
                    const auto s = static_cast<int16_t>(std::lround(32767.0 * v));
                    std::memcpy(data + i * bytesPerFrame + c * 2, &s, 2);
                }
            }
        }
        sample->SetActualDataLength(static_cast<long>(frames * bytesPerFrame));
        REFERENCE_TIME start = position * 10000000LL / format_.rate;
        REFERENCE_TIME stop = (position + frames) * 10000000LL / format_.rate;
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        const HRESULT hr = pin_->Deliver(sample);
        sample->Release();
        if (hr != S_OK) return;
        position += frames;
    }
    if (position >= format_.frames) pin_->DeliverEndOfStream();
}

// ---------------------------------------------------------------- IMediaSeeking

HRESULT SineSource::GetCapabilities(DWORD* caps)
{
    if (!caps) return E_POINTER;
    *caps = AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanSeekAbsolute;
    return S_OK;
}
HRESULT SineSource::CheckCapabilities(DWORD* caps)
{
    if (!caps) return E_POINTER;
    DWORD mine = 0;
    GetCapabilities(&mine);
    const DWORD wanted = *caps;
    *caps &= mine;
    return *caps == wanted ? S_OK : (*caps ? S_FALSE : E_FAIL);
}
HRESULT SineSource::IsFormatSupported(const GUID* format)
{
    return format && *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}
HRESULT SineSource::QueryPreferredFormat(GUID* format)
{
    if (!format) return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}
HRESULT SineSource::GetTimeFormat(GUID* format) { return QueryPreferredFormat(format); }
HRESULT SineSource::IsUsingTimeFormat(const GUID* format) { return IsFormatSupported(format); }
HRESULT SineSource::SetTimeFormat(const GUID* format)
{
    return format && *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}
HRESULT SineSource::GetDuration(LONGLONG* duration)
{
    if (!duration) return E_POINTER;
    *duration = Duration();
    return S_OK;
}
HRESULT SineSource::GetStopPosition(LONGLONG* stop) { return GetDuration(stop); }
HRESULT SineSource::GetCurrentPosition(LONGLONG* current)
{
    if (!current) return E_POINTER;
    *current = 0;
    return S_OK;
}
HRESULT SineSource::ConvertTimeFormat(LONGLONG* target, const GUID*, LONGLONG source, const GUID*)
{
    if (!target) return E_POINTER;
    *target = source;
    return S_OK;
}
HRESULT SineSource::SetPositions(LONGLONG*, DWORD, LONGLONG*, DWORD)
{
    ++setPositionsCalls_;
    return S_OK;
}
HRESULT SineSource::GetPositions(LONGLONG* current, LONGLONG* stop)
{
    if (current) *current = 0;
    if (stop) *stop = Duration();
    return S_OK;
}
HRESULT SineSource::GetAvailable(LONGLONG* earliest, LONGLONG* latest) { return GetPositions(earliest, latest); }
HRESULT SineSource::SetRate(double rate) { return rate == 1.0 ? S_OK : E_NOTIMPL; }
HRESULT SineSource::GetRate(double* rate)
{
    if (!rate) return E_POINTER;
    *rate = 1.0;
    return S_OK;
}
HRESULT SineSource::GetPreroll(LONGLONG* preroll)
{
    if (!preroll) return E_POINTER;
    *preroll = 0;
    return S_OK;
}

}  // namespace filter_tests
