// BaseFilter: IBaseFilter / IMediaFilter / IPersist with the state machine,
// the graph and clock bookkeeping and the pin enumeration. A filter derives
// from it, owns its pins and answers PinCount/PinAt.
#pragma once

#include "dshow_uuids.h"

#include <atomic>
#include <mutex>
#include <string>

#include "com_ptr.h"
#include "recursive_lock.h"

namespace vellumo::filters {

class BasePin;

class BaseFilter : public IBaseFilter {
public:
    explicit BaseFilter(const CLSID& clsid);
    virtual ~BaseFilter();
    BaseFilter(const BaseFilter&) = delete;
    BaseFilter& operator=(const BaseFilter&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;

    // The filter's pins, in enumeration order. Call PinsChanged() whenever the
    // set changes (open enumerators then report VFW_E_ENUM_OUT_OF_SYNC).
    virtual int PinCount() = 0;
    virtual BasePin* PinAt(int index) = 0;
    long PinVersion() const noexcept { return pinVersion_.load(); }
    void PinsChanged() noexcept { ++pinVersion_; }

    FILTER_STATE State() const noexcept { return state_.load(); }
    REFERENCE_TIME StreamStartTime() const noexcept { return start_; }
    // Guards state changes and connections. Never take it on a streaming thread.
    RecursiveLock& FilterLock() noexcept { return filterLock_; }
    // Not referenced: the graph holds the filter, not the other way round.
    IFilterGraph* Graph() const noexcept { return graph_; }
    // IMediaEventSink::Notify on the graph (S_FALSE when not in a graph).
    HRESULT NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);
    // Whether this filter is also a renderer (for IAMFilterMiscFlags users).
    const CLSID& ClassId() const noexcept { return clsid_; }

    // A run that fails is a failed run. The first failure of a run is kept:
    // from then on the filter's output pins send no end of stream, so that
    // nothing below takes the output for a whole one. Reported failures also
    // raise EC_ERRORABORT with their code, once per run; a refusal from a
    // filter that reports its own failures is only kept. A new run and the end
    // of a flush forget it; a filter that is stopping has no failures.
    void StreamFailed(HRESULT hr, bool report = true);
    // hr, after keeping it when it is a failure of the stream.
    HRESULT CheckStream(HRESULT hr)
    {
        if (IsStreamFailure(hr)) StreamFailed(hr);
        return hr;
    }
    // S_OK, or the run's first failure.
    HRESULT StreamFailure() const noexcept { return streamFailure_.load(); }
    void ClearStreamFailure() noexcept { streamFailure_ = S_OK; }
    // A failure, and not the refusal of a filter that is stopping (S_FALSE,
    // asking for no more, is no failure either).
    static bool IsStreamFailure(HRESULT hr) noexcept
    {
        return FAILED(hr) && hr != VFW_E_WRONG_STATE && hr != VFW_E_NOT_COMMITTED;
    }
    // Whether the filter raises EC_ERRORABORT for every failure it returns
    // from Receive (the pack's filters do): a filter above it then only
    // stops. Other filters (the platform's File Writer) may fail silently.
    virtual bool ReportsStreamFailures() const { return false; }
    // Whether the filter of pin is a BaseFilter that reports its failures.
    static bool ReportsStreamFailures(IPin* pin);

protected:
    // Further interfaces of the filter object (IMediaSeeking, control interfaces...).
    virtual HRESULT QueryFilterInterface(REFIID iid, void** out);
    // State hooks, called with the filter lock held, after the pins have been
    // made active (Stopped -> Paused) or inactive (-> Stopped).
    virtual HRESULT OnStartStreaming() { return S_OK; }   // Stopped -> Paused
    virtual HRESULT OnPause() { return S_OK; }            // any -> Paused
    virtual HRESULT OnRun(REFERENCE_TIME /*start*/) { return S_OK; }
    virtual HRESULT OnStop() { return S_OK; }             // Paused/Running -> Stopped
    virtual void OnJoinGraph(IFilterGraph* /*graph*/) {}

private:
    const CLSID clsid_;
    std::atomic<ULONG> refs_{1};
    RecursiveLock filterLock_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    REFERENCE_TIME start_ = 0;
    corvane::ComPtr<IReferenceClock> clock_;
    IFilterGraph* graph_ = nullptr;
    std::wstring name_;
    std::atomic<long> pinVersion_{0};
    std::atomic<HRESULT> streamFailure_{S_OK};
    std::atomic<bool> stopping_{false};
};

}  // namespace vellumo::filters
