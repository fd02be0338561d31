// TransformFilter: one input pin, one output pin, and the streaming
// discipline of a decoder, encoder or converter whose output need not be one
// sample per input sample. A subclass checks types, produces the output type
// from the input type, and processes samples on the upstream thread,
// delivering through Output().
//
// Seeking and duration: the filter object and its output pin both answer
// IMediaSeeking/IMediaPosition by forwarding upstream through the input pin
// (the platform's CLSID_SeekingPassThru), so that graphs that ask every
// filter and graphs that ask renderers through their pins both reach the
// source.
#pragma once

#include "dshow_uuids.h"

#include <memory>
#include <mutex>

#include "base_filter.h"
#include "pins.h"
#include "seeking_passthrough.h"

namespace vellumo::filters {

class TransformFilter : public BaseFilter {
public:
    TransformFilter(const CLSID& clsid, const wchar_t* inputName = L"Input", const wchar_t* outputName = L"Output");
    ~TransformFilter() override;

    int PinCount() override { return 2; }
    bool ReportsStreamFailures() const override { return true; }
    BasePin* PinAt(int index) override;

    InputPin& Input() noexcept;
    OutputPin& Output() noexcept;

protected:
    // ---- types (filter lock held) ----
    virtual HRESULT CheckInputType(const AM_MEDIA_TYPE& mt) = 0;
    // Output types offered for the connected input type; VFW_S_NO_MORE_ITEMS past the last.
    virtual HRESULT GetOutputType(int index, MediaType& out) = 0;
    // Default: one of GetOutputType's types (format block compared).
    virtual HRESULT CheckOutputType(const AM_MEDIA_TYPE& mt);
    virtual HRESULT OnInputConnected(const AM_MEDIA_TYPE&) { return S_OK; }
    virtual HRESULT OnOutputConnected(const AM_MEDIA_TYPE&) { return S_OK; }
    virtual void OnInputDisconnected() {}
    virtual void OnOutputDisconnected() {}
    virtual void OutputBufferRequirements(ALLOCATOR_PROPERTIES& props);
    // Extra interfaces of the output pin (IAMStreamConfig...).
    virtual HRESULT QueryOutputPinInterface(REFIID, void** out)
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }

    // ---- streaming ----
    // Stopped -> Paused, filter lock held: open the codec.
    virtual HRESULT StartStreaming() { return S_OK; }
    // -> Stopped, after the streaming thread has left Process: close it.
    virtual HRESULT StopStreaming() { return S_OK; }
    // One input sample, on the upstream thread, streaming lock held. Deliver
    // with Output().DeliverBytes / Deliver. S_FALSE asks upstream to stop; a
    // failure fails the run (EC_ERRORABORT, no end of stream, the run's
    // further samples refused with it).
    virtual HRESULT Process(IMediaSample* sample) = 0;
    // End of stream, streaming lock held: deliver what is still buffered. The
    // end of stream is passed downstream afterwards, unless the run failed.
    virtual HRESULT Drain() { return S_OK; }
    // Flush: drop what is buffered (streaming lock held, after upstream stopped pushing).
    virtual void Discard() {}
    // A flush begins or the filter stops, before the streaming lock is
    // taken: wake whatever Process or Drain may be waiting for (a worker's
    // full queue).
    virtual void Interrupt() {}
    virtual void OnNewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {}

    std::mutex& StreamingLock() noexcept { return streamingLock_; }

    HRESULT QueryFilterInterface(REFIID iid, void** out) override;
    HRESULT OnStartStreaming() override;
    HRESULT OnStop() override;

private:
    class InputImpl;
    class OutputImpl;
    friend class InputImpl;
    friend class OutputImpl;

    std::unique_ptr<InputImpl> input_;
    std::unique_ptr<OutputImpl> output_;
    std::mutex streamingLock_;
    bool streaming_ = false;  // between StartStreaming and StopStreaming; streaming lock
    SeekingPassThrough seeking_;
};

}  // namespace vellumo::filters
