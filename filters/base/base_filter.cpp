#include "base_filter.h"

#include <cwchar>

#include "enumerators.h"
#include "module.h"
#include "pins.h"

namespace vellumo::filters {

using corvane::ComPtr;

namespace {
// Answered (with the filter's IUnknown) by filters that report their own
// stream failures; private to the pack.
// {6D1C52A4-3F0B-4E57-9A8E-0C7B2D51E9F3}
const GUID kReportsStreamFailures = {0x6d1c52a4, 0x3f0b, 0x4e57, {0x9a, 0x8e, 0x0c, 0x7b, 0x2d, 0x51, 0xe9, 0xf3}};
}  // namespace

BaseFilter::BaseFilter(const CLSID& clsid) : clsid_(clsid) { ModuleAddRef(); }

BaseFilter::~BaseFilter() { ModuleRelease(); }

HRESULT BaseFilter::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter || iid == IID_IBaseFilter) {
        *out = static_cast<IBaseFilter*>(this);
        AddRef();
        return S_OK;
    }
    if (iid == kReportsStreamFailures && ReportsStreamFailures()) {
        *out = static_cast<IBaseFilter*>(this);
        AddRef();
        return S_OK;
    }
    return QueryFilterInterface(iid, out);
}

HRESULT BaseFilter::QueryFilterInterface(REFIID, void** out)
{
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG BaseFilter::AddRef() { return ++refs_; }

ULONG BaseFilter::Release()
{
    const ULONG r = --refs_;
    if (r == 0) delete this;
    return r;
}

HRESULT BaseFilter::GetClassID(CLSID* clsid)
{
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT BaseFilter::Stop()
{
    std::lock_guard<RecursiveLock> lock(filterLock_);
    if (state_ == State_Stopped) return S_OK;
    // From here on refused buffers and deliveries are the stop, not failures.
    stopping_ = true;
    HRESULT result = S_OK;
    for (int i = 0; i < PinCount(); ++i) {
        BasePin* pin = PinAt(i);
        if (!pin->IsConnected()) continue;
        const HRESULT hr = pin->Inactive();
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    const HRESULT hr = OnStop();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    state_ = State_Stopped;
    return result;
}

HRESULT BaseFilter::Pause()
{
    std::lock_guard<RecursiveLock> lock(filterLock_);
    if (state_ == State_Stopped) {
        // A new run starts without the last one's failure.
        streamFailure_ = S_OK;
        stopping_ = false;
        for (int i = 0; i < PinCount(); ++i) {
            BasePin* pin = PinAt(i);
            if (!pin->IsConnected()) continue;
            const HRESULT hr = pin->Active();
            if (FAILED(hr)) {
                for (int j = 0; j < i; ++j)
                    if (PinAt(j)->IsConnected()) PinAt(j)->Inactive();
                return hr;
            }
        }
        // Samples may arrive as soon as the pins are active.
        state_ = State_Paused;
        const HRESULT hr = OnStartStreaming();
        if (FAILED(hr)) {
            for (int i = 0; i < PinCount(); ++i)
                if (PinAt(i)->IsConnected()) PinAt(i)->Inactive();
            OnStop();
            state_ = State_Stopped;
            return hr;
        }
    }
    const HRESULT hr = OnPause();
    if (FAILED(hr)) return hr;
    state_ = State_Paused;
    return S_OK;
}

HRESULT BaseFilter::Run(REFERENCE_TIME start)
{
    std::lock_guard<RecursiveLock> lock(filterLock_);
    if (state_ == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    start_ = start;
    const HRESULT hr = OnRun(start);
    if (FAILED(hr)) return hr;
    state_ = State_Running;
    return S_OK;
}

HRESULT BaseFilter::GetState(DWORD, FILTER_STATE* state)
{
    if (!state) return E_POINTER;
    *state = state_;
    return S_OK;
}

HRESULT BaseFilter::SetSyncSource(IReferenceClock* clock)
{
    std::lock_guard<RecursiveLock> lock(filterLock_);
    clock_ = ComPtr<IReferenceClock>(clock);
    return S_OK;
}

HRESULT BaseFilter::GetSyncSource(IReferenceClock** clock)
{
    if (!clock) return E_POINTER;
    std::lock_guard<RecursiveLock> lock(filterLock_);
    *clock = clock_.Get();
    if (*clock) (*clock)->AddRef();
    return S_OK;
}

HRESULT BaseFilter::EnumPins(IEnumPins** pins) { return CreatePinEnumerator(*this, pins); }

HRESULT BaseFilter::FindPin(LPCWSTR id, IPin** pin)
{
    if (!id || !pin) return E_POINTER;
    *pin = nullptr;
    std::lock_guard<RecursiveLock> lock(filterLock_);
    for (int i = 0; i < PinCount(); ++i) {
        BasePin* p = PinAt(i);
        if (p->Name() == id) {
            *pin = p;
            p->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT BaseFilter::QueryFilterInfo(FILTER_INFO* info)
{
    if (!info) return E_POINTER;
    std::lock_guard<RecursiveLock> lock(filterLock_);
    wcsncpy(info->achName, name_.c_str(), MAX_FILTER_NAME - 1);
    info->achName[MAX_FILTER_NAME - 1] = L'\0';
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT BaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name)
{
    std::lock_guard<RecursiveLock> lock(filterLock_);
    graph_ = graph;
    name_ = name ? name : L"";
    OnJoinGraph(graph);
    return S_OK;
}

HRESULT BaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT BaseFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2)
{
    IFilterGraph* graph = graph_;
    if (!graph) return S_FALSE;
    ComPtr<IMediaEventSink> sink;
    if (FAILED(graph->QueryInterface(IID_IMediaEventSink, sink.PutVoid()))) return S_FALSE;
    return sink->Notify(code, param1, param2);
}

void BaseFilter::StreamFailed(HRESULT hr, bool report)
{
    if (!FAILED(hr) || stopping_) return;
    HRESULT none = S_OK;
    if (!streamFailure_.compare_exchange_strong(none, hr)) return;
    if (report) NotifyEvent(EC_ERRORABORT, hr, 0);
}

bool BaseFilter::ReportsStreamFailures(IPin* pin)
{
    PIN_INFO info{};
    if (!pin || FAILED(pin->QueryPinInfo(&info)) || !info.pFilter) return false;
    ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Attach(info.pFilter);
    ComPtr<IUnknown> marker;
    return SUCCEEDED(filter->QueryInterface(kReportsStreamFailures, marker.PutVoid()));
}

}  // namespace vellumo::filters
