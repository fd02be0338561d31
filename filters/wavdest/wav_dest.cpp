#include "wavdest/wav_dest.h"

#include <algorithm>
#include <cstring>

#include "base/media_tags.h"
#include "base/module.h"
#include "filter_ids.h"
#include "wave_header.h"

namespace vellumo::filters {

using corvane::ComPtr;

namespace {

const GUID kMp3Subtype = AudioSubtypeFromTag(WAVE_FORMAT_MPEGLAYER3);

}  // namespace

WavDestFilter::WavDestFilter() : TransformFilter(corvane::CLSID_WavDest, L"In", L"Out") {}

HRESULT WavDestFilter::QueryFilterInterface(REFIID iid, void** out)
{
    if (iid == IID_IWavDestControl) {
        *out = static_cast<IWavDestControl*>(this);
        AddRef();
        return S_OK;
    }
    if (iid == IID_IWavDestOutput) {
        *out = static_cast<IWavDestOutput*>(this);
        AddRef();
        return S_OK;
    }
    return TransformFilter::QueryFilterInterface(iid, out);
}

HRESULT WavDestFilter::GetTime(LONGLONG* time)
{
    if (!time) return E_POINTER;
    *time = time_.load();
    return S_OK;
}

HRESULT WavDestFilter::SetWaveOutput(LONG waveOutput)
{
    if (waveOutput != 0 && waveOutput != 1) return E_INVALIDARG;
    std::lock_guard<RecursiveLock> lock(FilterLock());
    if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
    wave_ = waveOutput == 1;
    return S_OK;
}

HRESULT WavDestFilter::GetOutputLength(ULONGLONG* bytes)
{
    if (!bytes) return E_POINTER;
    *bytes = outputLength_.load();
    return S_OK;
}

HRESULT WavDestFilter::SetRiffSizeLimit(ULONGLONG bytes)
{
    std::lock_guard<RecursiveLock> lock(FilterLock());
    if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (bytes > wave::kRiffSizeLimit) return E_INVALIDARG;
    riffLimit_ = bytes;
    return S_OK;
}

bool WavDestFilter::ExpectsMoreThanRiff(const std::vector<uint8_t>& formatBody)
{
    const WAVEFORMATEX* wfx = Input().ConnectionType().WaveFormat();
    ComPtr<IMediaSeeking> seeking;
    IPin* upstream = Input().Peer();
    LONGLONG duration = 0;
    GUID format = TIME_FORMAT_MEDIA_TIME;
    if (!wfx || !upstream || FAILED(upstream->QueryInterface(IID_IMediaSeeking, seeking.PutVoid())) ||
        FAILED(seeking->GetTimeFormat(&format)) || format != TIME_FORMAT_MEDIA_TIME ||
        FAILED(seeking->GetDuration(&duration)) || duration <= 0)
        return false;
    const uint64_t seconds = static_cast<uint64_t>(duration) / 10000000u;
    const uint64_t rest = static_cast<uint64_t>(duration) % 10000000u;
    const uint64_t bytes = seconds * wfx->nAvgBytesPerSec + rest * wfx->nAvgBytesPerSec / 10000000u;
    return wave::RiffSize(formatBody, bytes, info_.size()) > riffLimit_;
}

bool WavDestFilter::InputIsMp3() const
{
    auto& self = const_cast<WavDestFilter&>(*this);
    return self.Input().IsConnected() && self.Input().ConnectionType()->subtype == kMp3Subtype;
}

HRESULT WavDestFilter::CheckInputType(const AM_MEDIA_TYPE& mt)
{
    if (mt.majortype != MEDIATYPE_Audio || !WaveFormatOf(mt)) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT WavDestFilter::GetOutputType(int index, MediaType& out)
{
    if (index != 0) return VFW_S_NO_MORE_ITEMS;
    out.Clear();
    out->majortype = MEDIATYPE_Stream;
    if (wave_) out->subtype = MEDIASUBTYPE_WAVE;
    else if (InputIsMp3()) out->subtype = MEDIASUBTYPE_MPEG1Audio;
    else out->subtype = MEDIASUBTYPE_NULL;
    out->formattype = FORMAT_None;
    out->bFixedSizeSamples = FALSE;
    out->lSampleSize = 1;
    return S_OK;
}

HRESULT WavDestFilter::CheckOutputType(const AM_MEDIA_TYPE& mt)
{
    return mt.majortype == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

std::vector<uint8_t> WavDestFilter::RiffHeader(uint64_t dataBytes) const
{
    return rf64_ ? wave::Rf64Header(formatBody_, dataBytes, trailerBytes_)
                 : wave::RiffHeader(formatBody_, dataBytes, trailerBytes_);
}

HRESULT WavDestFilter::DeliverAt(uint64_t offset, const void* data, size_t size)
{
    const HRESULT hr = Output().DeliverBytes(data, size, [offset](IMediaSample* s, size_t at, size_t length) {
        REFERENCE_TIME start = static_cast<REFERENCE_TIME>(offset + at);
        REFERENCE_TIME stop = start + static_cast<REFERENCE_TIME>(length);
        s->SetTime(&start, &stop);
        s->SetSyncPoint(TRUE);
    });
    if (hr == S_OK && offset + size > outputLength_) outputLength_ = offset + size;
    return hr;
}

HRESULT WavDestFilter::Pause()
{
    FILTER_STATE state = State_Stopped;
    GetState(0, &state);
    if (state == State_Running) {
        // The graph pauses every filter before it stops any: the writer below
        // still takes the header now, and from here on each write keeps it
        // current.
        std::lock_guard<std::mutex> lock(StreamingLock());
        headerEveryWrite_ = true;
        WriteHeaderNow();
    }
    return TransformFilter::Pause();
}

HRESULT WavDestFilter::Run(REFERENCE_TIME start)
{
    const HRESULT hr = TransformFilter::Run(start);
    if (SUCCEEDED(hr)) {
        std::lock_guard<std::mutex> lock(StreamingLock());
        headerEveryWrite_ = false;
    }
    return hr;
}

HRESULT WavDestFilter::StartStreaming()
{
    // StartStreaming runs under the filter lock, before any sample arrives.
    time_ = 0;
    dataBytes_ = 0;
    writeAt_ = 0;
    headerSent_ = false;
    headerEveryWrite_ = true;
    afterFlush_ = false;
    headerBytes_ = 0;
    mp3_ = InputIsMp3();
    const WAVEFORMATEX* wfx = Input().ConnectionType().WaveFormat();
    bytesPerSecond_ = wfx ? wfx->nAvgBytesPerSec : 0;
    info_.clear();
    trailerBytes_ = 0;
    outputLength_ = 0;
    rf64_ = false;
    const AM_MEDIA_TYPE& mt = *Input().ConnectionType();
    formatBody_ = wave::FormatChunkBody(mt.pbFormat, mt.cbFormat);
    if (wave_ && wfx) {
        const MediaTags tags = UpstreamMediaTags(this);
        info_ = wave::InfoChunk({Utf8Of(tags.title), Utf8Of(tags.author), Utf8Of(tags.copyright), Utf8Of(tags.description)});
        rf64_ = ExpectsMoreThanRiff(formatBody_);
        headerBytes_ = RiffHeader(0).size();
    }
    return S_OK;
}

HRESULT WavDestFilter::Process(IMediaSample* sample)
{
    BYTE* data = nullptr;
    HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr)) return hr;
    const long length = sample->GetActualDataLength();
    if (length <= 0) return S_OK;

    // The header goes first, with sizes that are fixed later.
    if (wave_ && !headerSent_) {
        const std::vector<uint8_t> header = RiffHeader(0);
        hr = DeliverAt(0, header.data(), header.size());
        if (hr != S_OK) return hr;
        headerSent_ = true;
    }

    // MP3 from the encoder: media times are byte offsets within the MP3
    // stream (the rewritten first frame comes again at offset 0).
    uint64_t offset = writeAt_;
    LONGLONG mediaStart = 0, mediaStop = 0;
    const bool placed = mp3_ && sample->GetMediaTime(&mediaStart, &mediaStop) == S_OK && mediaStart >= 0;
    if (placed) offset = static_cast<uint64_t>(mediaStart);
    if (wave_ && !rf64_ && wave::RiffSize(formatBody_, std::max<uint64_t>(dataBytes_, offset + length), info_.size()) > riffLimit_) {
        // Audio the header cannot describe: the run ends here, with the
        // header true to what was written.
        WriteHeaderNow();
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    hr = DeliverAt(headerBytes_ + offset, data, static_cast<size_t>(length));
    if (hr != S_OK) return hr;
    if (!placed) writeAt_ = offset + length;
    if (offset + length > dataBytes_) dataBytes_ = offset + length;
    if (headerEveryWrite_) {
        hr = WriteHeaderNow();
        if (hr != S_OK) return hr;
    }

    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT timeHr = sample->GetTime(&start, &stop);
    if (!wave_ && timeHr == S_OK) {
        if (stop > time_) time_ = stop;
    } else if (bytesPerSecond_ && !placed) {
        time_ = static_cast<LONGLONG>(dataBytes_ * 10000000ull / bytesPerSecond_);
    }
    return S_OK;
}

HRESULT WavDestFilter::Drain() { return WriteHeaderNow(); }

void WavDestFilter::Discard() { afterFlush_ = true; }

void WavDestFilter::OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME, double)
{
    // A seek: the audio that follows belongs at the new position (a seek back
    // to the start writes the same audio over itself rather than after the
    // end). Other new segments change nothing.
    std::lock_guard<std::mutex> lock(StreamingLock());
    if (!afterFlush_) return;
    afterFlush_ = false;
    const WAVEFORMATEX* wfx = Input().ConnectionType().WaveFormat();
    if (!wave_ || !wfx || !wfx->nBlockAlign || start < 0) return;
    const uint64_t bytes = static_cast<uint64_t>(start) * wfx->nAvgBytesPerSec / 10000000ull;
    writeAt_ = bytes - bytes % wfx->nBlockAlign;
}

HRESULT WavDestFilter::WriteHeaderNow()
{
    if (!wave_ || !Input().IsConnected() || !Input().ConnectionType().WaveFormat()) return S_OK;
    headerSent_ = true;
    HRESULT hr = S_OK;
    if (dataBytes_ & 1) {
        const uint8_t pad = 0;
        hr = DeliverAt(headerBytes_ + dataBytes_, &pad, 1);
        if (hr != S_OK) return hr;
    }
    if (!info_.empty()) {
        hr = DeliverAt(headerBytes_ + dataBytes_ + (dataBytes_ & 1), info_.data(), info_.size());
        if (hr != S_OK) return hr;
        trailerBytes_ = info_.size();
    }
    const std::vector<uint8_t> header = RiffHeader(dataBytes_);
    return DeliverAt(0, header.data(), header.size());
}

namespace {
const REGPINTYPES kInputTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_NULL}};
const REGPINTYPES kOutputTypes[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_NULL}};
const REGFILTERPINS2 kPins[] = {{0, 1, 1, kInputTypes, 0, nullptr, nullptr},
                                {REG_PINFLAG_B_OUTPUT, 1, 1, kOutputTypes, 0, nullptr, nullptr}};
const FilterClass kClass = {&corvane::CLSID_WavDest, L"WAV Dest", &CreateInstance<WavDestFilter>, MERIT_DO_NOT_USE,
                            &CLSID_LegacyAmFilterCategory, kPins, 2, false};
const FilterClassEntry kEntry(kClass);
}  // namespace

}  // namespace vellumo::filters
