// The RealMedia splitter filter: pulls the file through the async file
// source's IAsyncReader, demuxes it with the media core, and pushes each
// stream's packets out of its own pin on a streaming thread. Duration and
// seeking are answered here, on the filter object and on the output pins.
#include "dshow_uuids.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "async_reader_source.h"
#include "base/base_filter.h"
#include "base/module.h"
#include "base/pins.h"
#include "filter_ids.h"
#include "media_opener.h"
#include "realmedia_types.h"
#include "rm_demuxer.h"

namespace vellumo::filters {

namespace {

using corvane::ComPtr;
using realmedia::MediaPacket;
using realmedia::RmDemuxer;

class RealSplitter;

// IMediaSeeking for one COM object (the filter or one of its output pins):
// identity and references go to that object, the answers come from the filter.
class SeekingFace final : public IMediaSeeking {
public:
    SeekingFace(IUnknown* owner, RealSplitter& splitter) : owner_(owner), splitter_(splitter) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return owner_->QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* caps) override;
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* caps) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) override;
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                                const GUID* sourceFormat) override;
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                           DWORD stopFlags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double* rate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) override;

private:
    IUnknown* const owner_;
    RealSplitter& splitter_;
};

class SplitterOutputPin final : public OutputPin {
public:
    SplitterOutputPin(RealSplitter& splitter, std::wstring name, int stream, MediaType type, bool audio);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override
    {
        return mt.majortype == type_->majortype && mt.subtype == type_->subtype &&
                       (mt.formattype == GUID_NULL || mt.formattype == type_->formattype)
                   ? S_OK
                   : S_FALSE;
    }
    HRESULT GetMediaType(int index, MediaType& out) override
    {
        if (index < 0) return E_INVALIDARG;
        if (index > 0) return VFW_S_NO_MORE_ITEMS;
        out = type_;
        return S_OK;
    }

    int Stream() const { return stream_; }
    bool IsAudio() const { return audio_; }

protected:
    HRESULT QueryPinInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IMediaSeeking) {
            *out = static_cast<IMediaSeeking*>(&seeking_);
            AddRef();
            return S_OK;
        }
        return OutputPin::QueryPinInterface(iid, out);
    }
    void BufferRequirements(ALLOCATOR_PROPERTIES& props) override
    {
        // A packet travels in one buffer.
        props.cBuffers = audio_ ? 32 : 8;
        props.cbBuffer = audio_ ? 64 * 1024 : 1024 * 1024;
        props.cbAlign = 1;
        props.cbPrefix = 0;
    }

private:
    const int stream_;
    const MediaType type_;
    const bool audio_;
    SeekingFace seeking_;
};

class SplitterInputPin final : public BasePin {
public:
    SplitterInputPin(RealSplitter& splitter);

    HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override
    {
        return mt.majortype == MEDIATYPE_Stream ? S_OK : S_FALSE;
    }

protected:
    void BreakConnect() override;

private:
    RealSplitter& splitter_;
};

class RealSplitter final : public BaseFilter {
public:
    RealSplitter() : BaseFilter(corvane::CLSID_RealSplitter), input_(*this), seeking_(static_cast<IBaseFilter*>(this), *this) {}
    ~RealSplitter() override { StopWorker(); }

    int PinCount() override
    {
        std::lock_guard<RecursiveLock> lock(FilterLock());
        return 1 + static_cast<int>(outputs_.size());
    }
    BasePin* PinAt(int index) override
    {
        std::lock_guard<RecursiveLock> lock(FilterLock());
        if (index == 0) return &input_;
        if (index < 1 || index > static_cast<int>(outputs_.size())) return nullptr;
        return outputs_[static_cast<size_t>(index - 1)].get();
    }

    // The input connected: open the media and make the output pins.
    HRESULT OpenInput(IPin* upstream);
    // The input went away: the outputs go too.
    void CloseInput();

    // Seeking (any thread but the streaming one).
    LONGLONG Duration()
    {
        std::lock_guard<RecursiveLock> lock(FilterLock());
        return demuxer_ ? demuxer_->Duration() : 0;
    }
    bool HasMedia()
    {
        std::lock_guard<RecursiveLock> lock(FilterLock());
        return demuxer_ != nullptr;
    }
    void Positions(LONGLONG* current, LONGLONG* stop)
    {
        std::lock_guard<RecursiveLock> lock(FilterLock());
        if (current) *current = position_.load();
        if (stop) *stop = stop_ > 0 ? stop_ : (demuxer_ ? demuxer_->Duration() : 0);
    }
    HRESULT Reposition(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags);

protected:
    HRESULT QueryFilterInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IMediaSeeking) {
            *out = static_cast<IMediaSeeking*>(&seeking_);
            AddRef();
            return S_OK;
        }
        return BaseFilter::QueryFilterInterface(iid, out);
    }
    HRESULT OnStartStreaming() override
    {
        if (!demuxer_) return VFW_E_NOT_CONNECTED;
        StartWorker();
        return S_OK;
    }
    HRESULT OnStop() override
    {
        StopWorker();
        return S_OK;
    }

private:
    void StartWorker();
    void StopWorker();
    void Stream();
    HRESULT DeliverPacket(SplitterOutputPin& pin, const MediaPacket& packet, bool& first);

    SplitterInputPin input_;
    SeekingFace seeking_;
    std::vector<std::unique_ptr<SplitterOutputPin>> outputs_;
    // Pins of an earlier connection: someone may still hold a reference.
    std::vector<std::unique_ptr<SplitterOutputPin>> retired_;
    std::unique_ptr<RmDemuxer> demuxer_;

    std::thread worker_;
    std::atomic<bool> stopRequested_{false};
    REFERENCE_TIME start_ = 0;  // where the next run starts
    REFERENCE_TIME stop_ = 0;   // 0: the end
    std::atomic<REFERENCE_TIME> position_{0};
};

// ---------------------------------------------------------------------------

SplitterOutputPin::SplitterOutputPin(RealSplitter& splitter, std::wstring name, int stream, MediaType type, bool audio)
    : OutputPin(splitter, std::move(name)), stream_(stream), type_(std::move(type)), audio_(audio),
      seeking_(static_cast<IPin*>(this), splitter)
{
}

SplitterInputPin::SplitterInputPin(RealSplitter& splitter) : BasePin(splitter, PINDIR_INPUT, L"Input"), splitter_(splitter) {}

HRESULT SplitterInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt)
{
    if (!connector || !mt) return E_POINTER;
    std::lock_guard<RecursiveLock> lock(filter_.FilterLock());
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION dir;
    if (FAILED(connector->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (CheckMediaType(*mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    HRESULT hr = splitter_.OpenInput(connector);
    if (FAILED(hr)) return hr;
    peer_ = ComPtr<IPin>(connector);
    hr = mt_.Set(*mt);
    if (FAILED(hr)) {
        splitter_.CloseInput();
        peer_.Reset();
        mt_.Clear();
    }
    return hr;
}

void SplitterInputPin::BreakConnect() { splitter_.CloseInput(); }

HRESULT RealSplitter::OpenInput(IPin* upstream)
{
    ComPtr<IAsyncReader> reader;
    if (FAILED(ComPtr<IPin>(upstream).As(reader))) return VFW_E_NO_TRANSPORT;
    auto source = std::make_unique<AsyncReaderSource>(reader.Get(), SourceFileOf(upstream));
    std::unique_ptr<RmDemuxer> demuxer = realmedia::OpenRealMedia(std::move(source));
    if (!demuxer) return VFW_E_TYPE_NOT_ACCEPTED;

    std::vector<std::unique_ptr<SplitterOutputPin>> pins;
    const int audio = demuxer->AudioStream();
    int videos = 0;
    for (const auto& s : demuxer->Streams()) {
        if (s.index == audio) {
            MediaType mt = RealAudioMediaType(s.audio);
            if (!mt.IsEmpty()) {
                pins.insert(pins.begin(), std::make_unique<SplitterOutputPin>(*this, L"Audio", s.index, mt, true));
            }
        } else if (s.kind == realmedia::StreamKind::Video && s.fourcc != 0) {
            ++videos;
            std::wstring name = videos == 1 ? L"Video" : L"Video " + std::to_wstring(videos);
            pins.push_back(std::make_unique<SplitterOutputPin>(
                *this, name, s.index, RealVideoMediaType(s.fourcc, s.width, s.height, s.bitRate), false));
        }
    }
    std::lock_guard<RecursiveLock> lock(FilterLock());
    demuxer_ = std::move(demuxer);
    outputs_ = std::move(pins);
    start_ = stop_ = 0;
    position_ = 0;
    PinsChanged();
    return S_OK;
}

void RealSplitter::CloseInput()
{
    std::lock_guard<RecursiveLock> lock(FilterLock());
    StopWorker();
    for (auto& pin : outputs_) {
        if (IPin* peer = pin->Peer()) {
            ComPtr<IPin> keep(peer);
            keep->Disconnect();
            pin->Disconnect();
        }
        retired_.push_back(std::move(pin));
    }
    outputs_.clear();
    demuxer_.reset();
    PinsChanged();
}

void RealSplitter::StartWorker()
{
    StopWorker();
    if (!demuxer_->Seek(start_)) demuxer_->Seek(0);
    position_ = start_;
    stopRequested_ = false;
    worker_ = std::thread([this] { Stream(); });
}

void RealSplitter::StopWorker()
{
    stopRequested_ = true;
    if (worker_.joinable()) worker_.join();
}

HRESULT RealSplitter::DeliverPacket(SplitterOutputPin& pin, const MediaPacket& packet, bool& first)
{
    ComPtr<IMediaSample> sample;
    HRESULT hr = pin.GetDeliveryBuffer(sample.Put());
    if (FAILED(hr)) return hr;
    BYTE* buffer = nullptr;
    if (FAILED(sample->GetPointer(&buffer)) || packet.data.size() > static_cast<size_t>(sample->GetSize())) {
        return S_OK;  // a packet no buffer can hold is left out
    }
    std::memcpy(buffer, packet.data.data(), packet.data.size());
    sample->SetActualDataLength(static_cast<long>(packet.data.size()));
    if (packet.start != realmedia::kNoTime) {
        REFERENCE_TIME start = packet.start - start_;
        REFERENCE_TIME stop = start + (packet.duration > 0 ? packet.duration : 1);
        sample->SetTime(&start, &stop);
    } else {
        sample->SetTime(nullptr, nullptr);
    }
    sample->SetSyncPoint(packet.keyframe || pin.IsAudio() ? TRUE : FALSE);
    sample->SetDiscontinuity(first ? TRUE : FALSE);
    first = false;
    return pin.Deliver(sample.Get());
}

void RealSplitter::Stream()
{
    // Only this thread touches the demuxer while it runs; the graph's thread
    // waits for it (StopWorker) before seeking or closing.
    const REFERENCE_TIME segmentStop = stop_ > 0 ? stop_ : demuxer_->Duration();
    std::vector<SplitterOutputPin*> live;
    for (const auto& pin : outputs_) {
        if (pin->IsConnected()) live.push_back(pin.get());
    }
    for (auto* pin : live) pin->DeliverNewSegment(start_, segmentStop, 1.0);

    std::vector<bool> firsts(live.size(), true);
    std::vector<bool> done(live.size(), false);
    bool readError = false;
    MediaPacket packet;
    while (!stopRequested_) {
        auto status = demuxer_->Read(packet);
        if (status != RmDemuxer::ReadStatus::Packet) {
            readError = status == RmDemuxer::ReadStatus::Error;
            break;
        }
        for (size_t i = 0; i < live.size(); ++i) {
            SplitterOutputPin* pin = live[i];
            if (pin->Stream() != packet.stream || done[i]) continue;
            if (pin->IsAudio()) {
                if (stop_ > 0 && packet.start != realmedia::kNoTime && packet.start >= stop_) {
                    done[i] = true;
                    continue;
                }
                if (packet.start != realmedia::kNoTime) position_ = packet.start;
            }
            bool first = firsts[i];
            HRESULT hr = DeliverPacket(*pin, packet, first);
            firsts[i] = first;
            // Downstream refusing (stopped, flushing, or a failed branch)
            // ends this pin's stream; the others go on.
            if (hr != S_OK) done[i] = true;
        }
        bool allDone = !live.empty();
        for (bool d : done) allDone = allDone && d;
        if (allDone) break;
    }
    if (stopRequested_) return;
    if (readError) {
        NotifyEvent(EC_ERRORABORT, E_FAIL, 0);
        return;
    }
    for (auto* pin : live) pin->DeliverEndOfStream();
}

HRESULT RealSplitter::Reposition(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags)
{
    std::lock_guard<RecursiveLock> lock(FilterLock());
    if (!demuxer_) return VFW_E_NOT_CONNECTED;
    const DWORD currentMode = currentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopMode = stopFlags & AM_SEEKING_PositioningBitsMask;
    REFERENCE_TIME newStart = start_, newStop = stop_;
    if (currentMode == AM_SEEKING_AbsolutePositioning && current) newStart = *current;
    if (currentMode == AM_SEEKING_RelativePositioning && current) newStart = position_.load() + *current;
    if (stopMode == AM_SEEKING_AbsolutePositioning && stop) newStop = *stop;
    if (stopMode == AM_SEEKING_RelativePositioning && stop) newStop = (stop_ > 0 ? stop_ : Duration()) + *stop;
    if (newStart < 0) newStart = 0;
    if (newStop < 0 || newStop >= demuxer_->Duration()) newStop = 0;
    const bool moves = currentMode != AM_SEEKING_NoPositioning;

    if (moves && worker_.joinable()) {
        // Flush downstream, stop the thread (a decommitted allocator wakes it
        // up if it waits for a buffer), then start again from the new place.
        for (auto& pin : outputs_) {
            if (pin->IsConnected()) pin->DeliverBeginFlush();
        }
        stopRequested_ = true;
        for (auto& pin : outputs_) {
            if (pin->IsConnected()) pin->Inactive();
        }
        StopWorker();
        for (auto& pin : outputs_) {
            if (pin->IsConnected()) {
                pin->Active();
                pin->DeliverEndFlush();
            }
        }
        start_ = newStart;
        stop_ = newStop;
        StartWorker();
    } else {
        if (moves) {
            start_ = newStart;
            position_ = newStart;
        }
        stop_ = newStop;
    }
    if (current && (currentFlags & AM_SEEKING_ReturnTime)) *current = start_;
    if (stop && (stopFlags & AM_SEEKING_ReturnTime)) *stop = stop_ > 0 ? stop_ : demuxer_->Duration();
    return S_OK;
}

// ---------------------------------------------------------------------------
// IMediaSeeking

constexpr DWORD kCaps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                        AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetCurrentPos;

HRESULT SeekingFace::GetCapabilities(DWORD* caps)
{
    if (!caps) return E_POINTER;
    *caps = kCaps;
    return S_OK;
}

HRESULT SeekingFace::CheckCapabilities(DWORD* caps)
{
    if (!caps) return E_POINTER;
    const DWORD asked = *caps;
    *caps &= kCaps;
    if (*caps == asked) return S_OK;
    return *caps ? S_FALSE : E_FAIL;
}

HRESULT SeekingFace::IsFormatSupported(const GUID* format)
{
    if (!format) return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT SeekingFace::QueryPreferredFormat(GUID* format)
{
    if (!format) return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT SeekingFace::GetTimeFormat(GUID* format) { return QueryPreferredFormat(format); }

HRESULT SeekingFace::IsUsingTimeFormat(const GUID* format)
{
    if (!format) return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT SeekingFace::SetTimeFormat(const GUID* format)
{
    if (!format) return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME || *format == TIME_FORMAT_NONE ? S_OK : E_INVALIDARG;
}

HRESULT SeekingFace::GetDuration(LONGLONG* duration)
{
    if (!duration) return E_POINTER;
    *duration = splitter_.Duration();
    return splitter_.HasMedia() ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT SeekingFace::GetStopPosition(LONGLONG* stop)
{
    if (!stop) return E_POINTER;
    splitter_.Positions(nullptr, stop);
    return S_OK;
}

HRESULT SeekingFace::GetCurrentPosition(LONGLONG* current)
{
    if (!current) return E_POINTER;
    splitter_.Positions(current, nullptr);
    return S_OK;
}

HRESULT SeekingFace::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                       const GUID* sourceFormat)
{
    if (!target) return E_POINTER;
    auto media = [](const GUID* f) { return !f || *f == TIME_FORMAT_MEDIA_TIME; };
    if (!media(targetFormat) || !media(sourceFormat)) return E_INVALIDARG;
    *target = source;
    return S_OK;
}

HRESULT SeekingFace::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags)
{
    return splitter_.Reposition(current, currentFlags, stop, stopFlags);
}

HRESULT SeekingFace::GetPositions(LONGLONG* current, LONGLONG* stop)
{
    splitter_.Positions(current, stop);
    return S_OK;
}

HRESULT SeekingFace::GetAvailable(LONGLONG* earliest, LONGLONG* latest)
{
    if (earliest) *earliest = 0;
    if (latest) *latest = splitter_.Duration();
    return S_OK;
}

HRESULT SeekingFace::SetRate(double rate) { return rate == 1.0 ? S_OK : E_INVALIDARG; }

HRESULT SeekingFace::GetRate(double* rate)
{
    if (!rate) return E_POINTER;
    *rate = 1.0;
    return S_OK;
}

HRESULT SeekingFace::GetPreroll(LONGLONG* preroll)
{
    if (!preroll) return E_POINTER;
    *preroll = 0;
    return S_OK;
}

// ---------------------------------------------------------------------------

const REGPINTYPES kInputTypes[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_NULL}};
const REGPINTYPES kOutputTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_NULL}, {&MEDIATYPE_Video, &MEDIASUBTYPE_NULL}};
const REGFILTERPINS2 kPins[] = {
    {0, 1, 1, kInputTypes, 0, nullptr, nullptr},
    {REG_PINFLAG_B_OUTPUT | REG_PINFLAG_B_ZERO | REG_PINFLAG_B_MANY, 1, 2, kOutputTypes, 0, nullptr, nullptr},
};
const FilterClass kClass = {&corvane::CLSID_RealSplitter,
                            L"Vellumo RealMedia Splitter",
                            &CreateInstance<RealSplitter>,
                            MERIT_NORMAL,
                            &CLSID_LegacyAmFilterCategory,
                            kPins,
                            2,
                            nullptr};
const FilterClassEntry kEntry(kClass);

}  // namespace

}  // namespace vellumo::filters
