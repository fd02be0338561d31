// The RealMedia splitter filter: pulls the file through the async file
// source's IAsyncReader, demuxes it with the media core, and pushes each
// stream's packets out of its own pin on a streaming thread. Duration and
// seeking are answered here, on the filter object and on the output pins.
#pragma once

#include "dshow_uuids.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "base/base_filter.h"
#include "media_content.h"
#include "rm_demuxer.h"
#include "splitter_input_pin.h"
#include "splitter_output_pin.h"
#include "splitter_seeking.h"

namespace vellumo::filters {

class RealSplitter final : public BaseFilter {
public:
    RealSplitter();
    ~RealSplitter() override;

    int PinCount() override;
    BasePin* PinAt(int index) override;

    // The input connected: open the media and make the output pins.
    HRESULT OpenInput(IPin* upstream);
    // The input went away: the outputs go too.
    void CloseInput();

    // Seeking (any thread but the streaming one).
    LONGLONG Duration();
    bool HasMedia();
    void Positions(LONGLONG* current, LONGLONG* stop);
    HRESULT Reposition(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags);

protected:
    HRESULT QueryFilterInterface(REFIID iid, void** out) override;
    HRESULT OnStartStreaming() override;
    HRESULT OnStop() override;

private:
    // The output pins of an opened file; refuses null.
    HRESULT OpenDemuxer(std::unique_ptr<realmedia::RmDemuxer> demuxer);
    HRESULT StartWorker();
    void StopWorker();
    void Stream();

    SplitterInputPin input_;
    SplitterSeeking seeking_;
    MediaContentFace content_;
    std::vector<std::unique_ptr<SplitterOutputPin>> outputs_;
    // Pins of an earlier connection: someone may still hold a reference.
    std::vector<std::unique_ptr<SplitterOutputPin>> retired_;
    std::unique_ptr<realmedia::RmDemuxer> demuxer_;

    std::thread worker_;
    std::atomic<bool> stopRequested_{false};
    // start_ changes only while no worker runs; stop_ may change under a
    // running worker (a new stop without a new start), which reads it.
    REFERENCE_TIME start_ = 0;                 // where the next run starts
    std::atomic<REFERENCE_TIME> stop_{0};      // 0: the end
    std::atomic<REFERENCE_TIME> position_{0};
};

}  // namespace vellumo::filters
