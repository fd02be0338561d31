#include "real_splitter.h"

#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "async_reader_source.h"
#include "base/module.h"
#include "file_byte_source.h"
#include "filter_ids.h"
#include "media_opener.h"
#include "realmedia_types.h"
#include "tag_text.h"

namespace vellumo::filters {

using corvane::ComPtr;
using realmedia::MediaPacket;
using realmedia::RmDemuxer;

RealSplitter::RealSplitter()
    : BaseFilter(corvane::CLSID_RealSplitter), input_(*this), seeking_(static_cast<IBaseFilter*>(this), *this),
      content_(static_cast<IBaseFilter*>(this))
{
}

RealSplitter::~RealSplitter() { StopWorker(); }

int RealSplitter::PinCount()
{
    std::lock_guard<RecursiveLock> lock(FilterLock());
    return 1 + static_cast<int>(outputs_.size());
}

BasePin* RealSplitter::PinAt(int index)
{
    std::lock_guard<RecursiveLock> lock(FilterLock());
    if (index == 0) return &input_;
    if (index < 1 || index > static_cast<int>(outputs_.size())) return nullptr;
    return outputs_[static_cast<size_t>(index - 1)].get();
}

LONGLONG RealSplitter::Duration()
{
    std::lock_guard<RecursiveLock> lock(FilterLock());
    return demuxer_ ? demuxer_->Duration() : 0;
}

bool RealSplitter::HasMedia()
{
    std::lock_guard<RecursiveLock> lock(FilterLock());
    return demuxer_ != nullptr;
}

void RealSplitter::Positions(LONGLONG* current, LONGLONG* stop)
{
    std::lock_guard<RecursiveLock> lock(FilterLock());
    if (current) *current = position_.load();
    const REFERENCE_TIME end = stop_.load();
    if (stop) *stop = end > 0 ? end : (demuxer_ ? demuxer_->Duration() : 0);
}

HRESULT RealSplitter::QueryFilterInterface(REFIID iid, void** out)
{
    if (iid == IID_IMediaSeeking) {
        *out = static_cast<IMediaSeeking*>(&seeking_);
        AddRef();
        return S_OK;
    }
    if (iid == __uuidof(IAMMediaContent) || iid == IID_IDispatch) {
        *out = static_cast<IAMMediaContent*>(&content_);
        AddRef();
        return S_OK;
    }
    return BaseFilter::QueryFilterInterface(iid, out);
}

HRESULT RealSplitter::OnStartStreaming()
{
    if (!demuxer_) return VFW_E_NOT_CONNECTED;
    return StartWorker();
}

HRESULT RealSplitter::OnStop()
{
    StopWorker();
    return S_OK;
}

HRESULT RealSplitter::OpenInput(IPin* upstream)
{
    ComPtr<IAsyncReader> reader;
    if (FAILED(ComPtr<IPin>(upstream).As(reader))) return VFW_E_NO_TRANSPORT;
    // What a file's headers and packet lists take is sized by the file: one
    // that does not fit in memory is refused, never the end of the program.
    try {
        return OpenDemuxer(realmedia::OpenRealMedia(std::make_unique<AsyncReaderSource>(reader.Get(), SourceFileOf(upstream)),
                                                    &realmedia::FileByteSource::Open));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT RealSplitter::OpenDemuxer(std::unique_ptr<RmDemuxer> demuxer)
{
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
    content_.SetTags(DecodeTags(demuxer->Tags(), SystemAnsiCodePage()));
    std::lock_guard<RecursiveLock> lock(FilterLock());
    demuxer_ = std::move(demuxer);
    outputs_ = std::move(pins);
    start_ = 0;
    stop_ = 0;
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
    content_.SetTags({});
    PinsChanged();
}

HRESULT RealSplitter::StartWorker()
{
    StopWorker();
    try {
        if (!demuxer_->Seek(start_)) demuxer_->Seek(0);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    position_ = start_;
    stopRequested_ = false;
    worker_ = std::thread([this] { Stream(); });
    return S_OK;
}

void RealSplitter::StopWorker()
{
    stopRequested_ = true;
    if (worker_.joinable()) worker_.join();
}

void RealSplitter::Stream()
{
    // Only this thread touches the demuxer while it runs; the graph's thread
    // waits for it (StopWorker) before seeking or closing.
    const REFERENCE_TIME firstStop = stop_.load();
    const REFERENCE_TIME segmentStop = firstStop > 0 ? firstStop : demuxer_->Duration();
    std::vector<SplitterOutputPin*> live;
    for (const auto& pin : outputs_) {
        if (pin->IsConnected()) live.push_back(pin.get());
    }
    for (auto* pin : live) {
        pin->DeliverNewSegment(start_, segmentStop, 1.0);
        pin->BeginRun(start_);
    }

    std::vector<bool> done(live.size(), false);
    bool readError = false;
    HRESULT fault = S_OK;  // a packet the splitter could not pass on
    MediaPacket packet;
    while (!stopRequested_ && SUCCEEDED(fault) && SUCCEEDED(StreamFailure())) {
        RmDemuxer::ReadStatus status;
        try {
            status = demuxer_->Read(packet);
        } catch (const std::bad_alloc&) {
            fault = E_OUTOFMEMORY;
            break;
        }
        if (status != RmDemuxer::ReadStatus::Packet) {
            readError = status == RmDemuxer::ReadStatus::Error;
            break;
        }
        for (size_t i = 0; i < live.size(); ++i) {
            SplitterOutputPin* pin = live[i];
            if (pin->Stream() != packet.stream || done[i]) continue;
            if (pin->IsAudio()) {
                const REFERENCE_TIME end = stop_.load();
                if (end > 0 && packet.start != realmedia::kNoTime && packet.start >= end) {
                    pin->Flush(fault);
                    done[i] = true;
                    continue;
                }
                if (packet.start != realmedia::kNoTime) position_ = packet.start;
            }
            HRESULT hr = pin->Send(packet, fault);
            if (FAILED(fault) || FAILED(StreamFailure())) break;
            // Downstream asking for no more (stopped, flushing) ends this
            // pin's stream; the others go on. A refusal with an error failed
            // the run (the pin's delivery kept it).
            if (hr != S_OK) done[i] = true;
        }
        bool allDone = !live.empty();
        for (bool d : done) allDone = allDone && d;
        if (allDone) break;
    }
    if (stopRequested_) {
        for (auto* pin : live) pin->Drop();
        return;
    }
    // What was read goes downstream, even before a read error.
    for (size_t i = 0; i < live.size() && SUCCEEDED(StreamFailure()); ++i) {
        if (!done[i]) live[i]->Flush(fault);
    }
    if (FAILED(fault)) StreamFailed(fault);
    if (readError) StreamFailed(E_FAIL);
    // None after a failure.
    for (auto* pin : live) pin->DeliverEndOfStream();
}

HRESULT RealSplitter::Reposition(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags)
{
    std::lock_guard<RecursiveLock> lock(FilterLock());
    if (!demuxer_) return VFW_E_NOT_CONNECTED;
    const DWORD currentMode = currentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopMode = stopFlags & AM_SEEKING_PositioningBitsMask;
    const REFERENCE_TIME oldStop = stop_.load();
    REFERENCE_TIME newStart = start_, newStop = oldStop;
    if (currentMode == AM_SEEKING_AbsolutePositioning && current) newStart = *current;
    if (currentMode == AM_SEEKING_RelativePositioning && current) newStart = position_.load() + *current;
    if (stopMode == AM_SEEKING_AbsolutePositioning && stop) newStop = *stop;
    if (stopMode == AM_SEEKING_RelativePositioning && stop) newStop = (oldStop > 0 ? oldStop : Duration()) + *stop;
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
        const HRESULT started = StartWorker();
        if (FAILED(started)) return started;
    } else {
        if (moves) {
            start_ = newStart;
            position_ = newStart;
        }
        stop_ = newStop;
    }
    if (current && (currentFlags & AM_SEEKING_ReturnTime)) *current = start_;
    if (stop && (stopFlags & AM_SEEKING_ReturnTime)) *stop = newStop > 0 ? newStop : demuxer_->Duration();
    return S_OK;
}

namespace {

// Other programs meet the splitter only for files with the RealMedia
// signature; the converter connects it directly, whatever the stream subtype.
const REGPINTYPES kInputTypes[] = {{&MEDIATYPE_Stream, &kRealMediaStreamSubtype}};
const REGFILTERPINS2 kPins[] = {
    {0, 1, 1, kInputTypes, 0, nullptr, nullptr},
    {REG_PINFLAG_B_OUTPUT | REG_PINFLAG_B_ZERO | REG_PINFLAG_B_MANY, 1, kRealMediaPinTypeCount, kRealMediaPinTypes, 0,
     nullptr, nullptr},
};
const FilterClass kClass = {&corvane::CLSID_RealSplitter,
                            L"Vellumo RealMedia Splitter",
                            &CreateInstance<RealSplitter>,
                            MERIT_NORMAL,
                            &CLSID_LegacyAmFilterCategory,
                            kPins,
                            2,
                            false};
const FilterClassEntry kEntry(kClass);

}  // namespace

}  // namespace vellumo::filters
