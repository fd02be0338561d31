// One output pin of the RealMedia splitter: one stream of the file, audio or
// video, in the type the splitter found for it. The pin answers IMediaSeeking
// for the filter.
#pragma once

#include "dshow_uuids.h"

#include <atomic>
#include <string>
#include <vector>

#include "base/pins.h"
#include "rm_demuxer.h"
#include "splitter_seeking.h"

namespace vellumo::filters {

class SplitterOutputPin final : public OutputPin {
public:
    SplitterOutputPin(RealSplitter& splitter, std::wstring name, int stream, MediaType type, bool audio);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
    HRESULT GetMediaType(int index, MediaType& out) override;

    int Stream() const { return stream_; }
    bool IsAudio() const { return audio_; }

    // --- the splitter's streaming thread ---
    // A run starts; packet times are given relative to offset.
    void BeginRun(REFERENCE_TIME offset);
    // Passes one packet on. Returns downstream's answer; fault: the pin's own
    // failure (a buffer without memory, a packet larger than the buffers).
    // AC3 packets for the pack's own decoder, which reads them as one stream
    // of bytes, share a sample up to a quarter of a second.
    HRESULT Send(const realmedia::MediaPacket& packet, HRESULT& fault);
    // Delivers the packets still held.
    HRESULT Flush(HRESULT& fault);
    // Forgets them: the run is stopping.
    void Drop() { group_.clear(); }

    HRESULT Active() override;
    HRESULT Inactive() override;

protected:
    HRESULT QueryPinInterface(REFIID iid, void** out) override;
    void BufferRequirements(ALLOCATOR_PROPERTIES& props) override;

private:
    struct Stamp {
        bool timed;
        REFERENCE_TIME start, stop;
        bool sync;
    };
    bool PeerReadsByteStream();
    HRESULT DeliverData(const uint8_t* data, size_t size, const Stamp& stamp, HRESULT& fault);

    const int stream_;
    const MediaType type_;
    const bool audio_;
    SplitterSeeking seeking_;

    std::atomic<bool> active_{false};  // between Active and Inactive: buffers can be had

    // The run (streaming thread only).
    REFERENCE_TIME offset_ = 0;
    bool first_ = true;
    bool groups_ = false;
    std::vector<uint8_t> group_;  // packets not yet delivered
    Stamp groupStamp_{};
};

}  // namespace vellumo::filters
