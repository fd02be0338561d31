#include "standins/acm_wrapper.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}


#include "base/module.h"
#include "com_ptr.h"

namespace vellumo::filters {

namespace {

constexpr DWORD kMinRate = 1000;
constexpr DWORD kMaxRate = 384000;
constexpr WORD kMaxChannels = 8;

AVSampleFormat SampleFormatOf(const WAVEFORMATEX& wfx)
{
    const bool isFloat =
        wfx.wFormatTag == WAVE_FORMAT_IEEE_FLOAT ||
        (wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE && wfx.cbSize >= 22 &&
         reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(wfx).SubFormat == MEDIASUBTYPE_IEEE_FLOAT);
    if (isFloat) return wfx.wBitsPerSample == 32 ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_NONE;
    if (!IsIntegerPcm(wfx)) return AV_SAMPLE_FMT_NONE;
    switch (wfx.wBitsPerSample) {
    case 8: return AV_SAMPLE_FMT_U8;
    case 16: return AV_SAMPLE_FMT_S16;
    case 32: return AV_SAMPLE_FMT_S32;
    default: return AV_SAMPLE_FMT_NONE;
    }
}

// Formats whose samples are the same bytes: nothing to convert.
bool SameSamples(const WAVEFORMATEX& a, const WAVEFORMATEX& b)
{
    return SampleFormatOf(a) == SampleFormatOf(b) && a.nChannels == b.nChannels &&
           a.nSamplesPerSec == b.nSamplesPerSec && a.nBlockAlign == b.nBlockAlign;
}

bool SaneLayout(const WAVEFORMATEX& wfx)
{
    return wfx.nChannels >= 1 && wfx.nChannels <= kMaxChannels && wfx.nSamplesPerSec >= kMinRate &&
           wfx.nSamplesPerSec <= kMaxRate && wfx.nBlockAlign == wfx.nChannels * (wfx.wBitsPerSample / 8);
}

// Output formats: plain PCM, 8 or 16 bits, consistent block and byte rate.
bool ValidOutput(const AM_MEDIA_TYPE& mt)
{
    const WAVEFORMATEX* wfx = WaveFormatOf(mt);
    return mt.majortype == MEDIATYPE_Audio && mt.subtype == MEDIASUBTYPE_PCM && wfx &&
           wfx->wFormatTag == WAVE_FORMAT_PCM && (wfx->wBitsPerSample == 8 || wfx->wBitsPerSample == 16) &&
           SaneLayout(*wfx) && wfx->nAvgBytesPerSec == wfx->nSamplesPerSec * wfx->nBlockAlign;
}

}  // namespace

// IAMStreamConfig of the output pin; its IUnknown is the pin's.
class AcmWrapperFilter::StreamConfig final : public IAMStreamConfig {
public:
    explicit StreamConfig(AcmWrapperFilter& owner) : owner_(owner) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        return owner_.Output().QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }

    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* mt) override
    {
        std::lock_guard<RecursiveLock> lock(owner_.FilterLock());
        if (owner_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
        if (!mt) {
            owner_.chosen_.Clear();
            return S_OK;
        }
        if (!ValidOutput(*mt)) return VFW_E_INVALIDMEDIATYPE;
        OutputPin& out = owner_.Output();
        if (out.IsConnected() && !out.ConnectionType().Equals(*mt)) {
            if (out.Peer()->QueryAccept(mt) != S_OK) return VFW_E_INVALIDMEDIATYPE;
            owner_.chosen_.Set(*mt);
            IFilterGraph* graph = owner_.Graph();
            if (!graph) return VFW_E_NOT_IN_GRAPH;
            return graph->Reconnect(&out);
        }
        return owner_.chosen_.Set(*mt);
    }
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** mt) override
    {
        if (!mt) return E_POINTER;
        *mt = nullptr;
        std::lock_guard<RecursiveLock> lock(owner_.FilterLock());
        MediaType current;
        HRESULT hr = owner_.CurrentOutputType(current);
        if (FAILED(hr)) return hr;
        *mt = CreateMediaTypeCopy(*current);
        return *mt ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override
    {
        if (!count || !size) return E_POINTER;
        *count = 1;
        *size = sizeof(AUDIO_STREAM_CONFIG_CAPS);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override
    {
        if (!mt || !caps) return E_POINTER;
        *mt = nullptr;
        if (index < 0) return E_INVALIDARG;
        if (index > 0) return S_FALSE;
        HRESULT hr = GetFormat(mt);
        if (FAILED(hr)) return hr;
        AUDIO_STREAM_CONFIG_CAPS c{};
        c.guid = MEDIATYPE_Audio;
        c.MinimumChannels = 1;
        c.MaximumChannels = kMaxChannels;
        c.ChannelsGranularity = 1;
        c.MinimumBitsPerSample = 8;
        c.MaximumBitsPerSample = 16;
        c.BitsPerSampleGranularity = 8;
        c.MinimumSampleFrequency = kMinRate;
        c.MaximumSampleFrequency = kMaxRate;
        c.SampleFrequencyGranularity = 1;
        std::memcpy(caps, &c, sizeof(c));
        return S_OK;
    }

private:
    AcmWrapperFilter& owner_;
};

AcmWrapperFilter::AcmWrapperFilter()
    : TransformFilter(CLSID_ACMWrapper, L"Input", L"Output"), config_(std::make_unique<StreamConfig>(*this))
{
}

AcmWrapperFilter::~AcmWrapperFilter() { swr_free(&swr_); }

HRESULT AcmWrapperFilter::CheckInputType(const AM_MEDIA_TYPE& mt)
{
    const WAVEFORMATEX* wfx = WaveFormatOf(mt);
    if (mt.majortype != MEDIATYPE_Audio || !wfx) return VFW_E_TYPE_NOT_ACCEPTED;
    if (SampleFormatOf(*wfx) == AV_SAMPLE_FMT_NONE || !SaneLayout(*wfx)) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT AcmWrapperFilter::CurrentOutputType(MediaType& out)
{
    if (!chosen_.IsEmpty()) {
        out = chosen_;
        return S_OK;
    }
    if (!Input().IsConnected()) return VFW_E_NOT_CONNECTED;
    const WAVEFORMATEX* in = Input().ConnectionType().WaveFormat();
    if (!in) return E_UNEXPECTED;
    const WORD bits = in->wBitsPerSample == 8 ? 8 : 16;
    out = PcmMediaType(in->nSamplesPerSec, in->nChannels, bits);
    return S_OK;
}

HRESULT AcmWrapperFilter::GetOutputType(int index, MediaType& out)
{
    if (index != 0) return VFW_S_NO_MORE_ITEMS;
    return CurrentOutputType(out);
}

HRESULT AcmWrapperFilter::CheckOutputType(const AM_MEDIA_TYPE& mt)
{
    if (!ValidOutput(mt)) return VFW_E_TYPE_NOT_ACCEPTED;
    if (!chosen_.IsEmpty() && !chosen_.Equals(mt)) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

void AcmWrapperFilter::OutputBufferRequirements(ALLOCATOR_PROPERTIES& props)
{
    const WAVEFORMATEX* wfx = Output().ConnectionType().WaveFormat();
    long bytes = 64 * 1024;
    if (wfx && wfx->nBlockAlign) {
        bytes = static_cast<long>(wfx->nAvgBytesPerSec / 4);
        bytes -= bytes % wfx->nBlockAlign;
        if (bytes < 4096) bytes = 4096 - 4096 % wfx->nBlockAlign;
    }
    props.cBuffers = 4;
    props.cbBuffer = bytes;
    props.cbAlign = 1;
}

HRESULT AcmWrapperFilter::QueryOutputPinInterface(REFIID iid, void** out)
{
    if (iid == IID_IAMStreamConfig) {
        *out = static_cast<IAMStreamConfig*>(config_.get());
        AddRef();
        return S_OK;
    }
    return TransformFilter::QueryOutputPinInterface(iid, out);
}

HRESULT AcmWrapperFilter::OpenResampler()
{
    swr_free(&swr_);
    AVChannelLayout inLayout, outLayout;
    av_channel_layout_default(&inLayout, in_.nChannels);
    av_channel_layout_default(&outLayout, out_.nChannels);
    int err = swr_alloc_set_opts2(&swr_, &outLayout, SampleFormatOf(out_), static_cast<int>(out_.nSamplesPerSec),
                                  &inLayout, SampleFormatOf(in_), static_cast<int>(in_.nSamplesPerSec), 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (err < 0 || !swr_) return E_OUTOFMEMORY;
    if (in_.nChannels == 1 && out_.nChannels == 2) {
        // Mono into stereo is the same sound at full level on both sides, as
        // the system's PCM converter does; the default mix would lower it 3 dB.
        const double bothSides[2] = {1.0, 1.0};
        if (swr_set_matrix(swr_, bothSides, 1) < 0) {
            swr_free(&swr_);
            return E_FAIL;
        }
    }
    if (swr_init(swr_) < 0) {
        swr_free(&swr_);
        return E_FAIL;
    }
    haveTime_ = false;
    framesOut_ = 0;
    return S_OK;
}

HRESULT AcmWrapperFilter::StartStreaming()
{
    const WAVEFORMATEX* in = Input().ConnectionType().WaveFormat();
    const WAVEFORMATEX* out = Output().ConnectionType().WaveFormat();
    if (!in || !out) return VFW_E_NOT_CONNECTED;
    in_ = *in;
    in_.cbSize = 0;
    if (in->wFormatTag == WAVE_FORMAT_EXTENSIBLE) in_ = *in;  // SampleFormatOf reads the subformat
    out_ = *out;
    passThrough_ = SameSamples(in_, out_);
    return OpenResampler();
}

HRESULT AcmWrapperFilter::StopStreaming()
{
    swr_free(&swr_);
    return S_OK;
}

HRESULT AcmWrapperFilter::DeliverConverted(int frames)
{
    if (frames <= 0) return S_OK;
    const size_t bytes = static_cast<size_t>(frames) * out_.nBlockAlign;
    const int64_t first = framesOut_;
    framesOut_ += frames;
    const WORD block = out_.nBlockAlign;
    const DWORD rate = out_.nSamplesPerSec;
    return Output().DeliverBytes(buffer_.data(), bytes, [&](IMediaSample* s, size_t offset, size_t length) {
        if (!haveTime_) return;
        const int64_t f0 = first + static_cast<int64_t>(offset / block);
        const int64_t f1 = f0 + static_cast<int64_t>(length / block);
        REFERENCE_TIME start = timeBase_ + f0 * 10000000LL / rate;
        REFERENCE_TIME stop = timeBase_ + f1 * 10000000LL / rate;
        s->SetTime(&start, &stop);
        s->SetSyncPoint(TRUE);
    });
}

bool AcmWrapperFilter::Anchor(IMediaSample* sample, int64_t pending)
{
    REFERENCE_TIME start = 0, stop = 0;
    if (!haveTime_ && SUCCEEDED(sample->GetTime(&start, &stop))) {
        // Frames still inside the resampler belong before this sample.
        timeBase_ = start - (framesOut_ + pending) * 10000000LL / out_.nSamplesPerSec;
        haveTime_ = true;
    }
    return haveTime_;
}

HRESULT AcmWrapperFilter::PassOn(IMediaSample* sample)
{
    const long length = sample->GetActualDataLength();
    const int64_t frames = length > 0 ? length / in_.nBlockAlign : 0;
    const bool timed = Anchor(sample, 0);
    if (frames == 0) return S_OK;
    HRESULT hr = sample->SetActualDataLength(static_cast<long>(frames * in_.nBlockAlign));
    if (FAILED(hr)) return hr;
    if (timed) {
        REFERENCE_TIME start = timeBase_ + framesOut_ * 10000000LL / out_.nSamplesPerSec;
        REFERENCE_TIME stop = timeBase_ + (framesOut_ + frames) * 10000000LL / out_.nSamplesPerSec;
        sample->SetTime(&start, &stop);
    } else {
        sample->SetTime(nullptr, nullptr);
    }
    framesOut_ += frames;
    sample->SetSyncPoint(TRUE);
    return Output().Deliver(sample);
}

HRESULT AcmWrapperFilter::Process(IMediaSample* sample)
{
    if (!swr_) return E_UNEXPECTED;
    if (passThrough_) return PassOn(sample);
    BYTE* data = nullptr;
    HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr)) return hr;
    const long length = sample->GetActualDataLength();
    const int frames = length > 0 ? static_cast<int>(length / in_.nBlockAlign) : 0;

    Anchor(sample, swr_get_delay(swr_, out_.nSamplesPerSec));
    if (frames == 0) return S_OK;
    const int capacity = swr_get_out_samples(swr_, frames);
    if (capacity < 0) return E_FAIL;
    buffer_.resize(static_cast<size_t>(capacity) * out_.nBlockAlign + out_.nBlockAlign);
    uint8_t* outPlanes[1] = {buffer_.data()};
    const uint8_t* inPlanes[1] = {data};
    const int produced = swr_convert(swr_, outPlanes, capacity, inPlanes, frames);
    if (produced < 0) return E_FAIL;
    return DeliverConverted(produced);
}

HRESULT AcmWrapperFilter::Drain()
{
    if (!swr_) return S_OK;
    for (;;) {
        const int capacity = swr_get_out_samples(swr_, 0);
        if (capacity <= 0) break;
        buffer_.resize(static_cast<size_t>(capacity) * out_.nBlockAlign + out_.nBlockAlign);
        uint8_t* outPlanes[1] = {buffer_.data()};
        const int produced = swr_convert(swr_, outPlanes, capacity, nullptr, 0);
        if (produced <= 0) break;
        HRESULT hr = DeliverConverted(produced);
        if (hr != S_OK) return hr;
    }
    return S_OK;
}

void AcmWrapperFilter::Discard()
{
    if (swr_) OpenResampler();
}

namespace {
const REGPINTYPES kInputTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_NULL}};
const REGPINTYPES kOutputTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const REGFILTERPINS2 kPins[] = {{0, 1, 1, kInputTypes, 0, nullptr, nullptr},
                                {REG_PINFLAG_B_OUTPUT, 1, 1, kOutputTypes, 0, nullptr, nullptr}};
const FilterClass kClass = {&CLSID_ACMWrapper, L"ACM Wrapper", &CreateInstance<AcmWrapperFilter>, MERIT_NORMAL,
                            &CLSID_LegacyAmFilterCategory, kPins, 2, true};
const FilterClassEntry kEntry(kClass);
}  // namespace

}  // namespace vellumo::filters
