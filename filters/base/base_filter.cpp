#include "base_filter.h"

#include <cwchar>

#include "enumerators.h"
#include "module.h"
#include "pins.h"

namespace vellumo::filters {

using corvane::ComPtr;

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

}  // namespace vellumo::filters
