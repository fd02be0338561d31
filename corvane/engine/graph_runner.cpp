#include "graph_runner.h"

#include "atl_halvex.h"

namespace corvane {

GraphRunner::~GraphRunner()
{
    if (drainAlive_) *drainAlive_ = false;
    ReleaseAll();
    // ~GraphSubject then tells the observers that this subject is gone.
}

bool GraphRunner::Create()
{
    if (graph_) return false;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  graph_.PutVoid());
    if (FAILED(hr)) {
        graph_.Reset();
        return false;
    }
    return QueryInterfaces();
}

bool GraphRunner::QueryInterfaces()
{
    if (!graph_) return false;
    bool ok = true;
    ok = SUCCEEDED(graph_.As(control_)) && ok;
    ok = SUCCEEDED(graph_.As(events_)) && ok;
    ok = SUCCEEDED(graph_.As(basicVideo_)) && ok;
    ok = SUCCEEDED(graph_.As(basicAudio_)) && ok;
    ok = SUCCEEDED(graph_.As(videoWindow_)) && ok;
    ok = SUCCEEDED(graph_.As(seeking_)) && ok;
    ok = SUCCEEDED(graph_.As(position_)) && ok;
    if (seeking_) seeking_->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME);
    return ok;
}

void GraphRunner::ReleaseAll()
{
    position_.Reset();
    seeking_.Reset();
    control_.Reset();
    events_.Reset();
    basicVideo_.Reset();
    basicAudio_.Reset();
    if (videoWindow_) {
        videoWindow_->put_Visible(OAFALSE);
        videoWindow_->put_MessageDrain(0);
        videoWindow_->put_Owner(0);
        videoWindow_.Reset();
    }
    graph_.Reset();
}

bool GraphRunner::ConnectDirect(IPin* out, IPin* in)
{
    if (!graph_ || !out || !in) return false;
    return SUCCEEDED(graph_->ConnectDirect(out, in, nullptr));
}

bool GraphRunner::SetNotifyWindow(HWND window)
{
    if (!events_) return false;
    events_->SetNotifyWindow(reinterpret_cast<OAHWND>(window), GraphEventMessage, 0);
    return true;
}

bool GraphRunner::Run()
{
    if (!graph_ || !control_) return false;
    if (state_ == Running) return true;
    lastRunResult_ = control_->Run();
    if (FAILED(lastRunResult_)) {
        StopEveryFilter();
        return false;
    }
    state_ = Running;
    return true;
}

// A refused run may leave the filters it had already paused in that state
// while the graph reports itself stopped; such filters refuse to disconnect,
// so the graph could never be taken apart. Stop each of them.
void GraphRunner::StopEveryFilter()
{
    ComPtr<IEnumFilters> filters;
    if (FAILED(graph_->EnumFilters(filters.Put()))) return;
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.Put(), nullptr) == S_OK) {
        FILTER_STATE state = State_Stopped;
        if (FAILED(filter->GetState(0, &state)) || state != State_Stopped) filter->Stop();
    }
}

bool GraphRunner::Stop()
{
    if (!graph_ || !control_) return false;
    if (state_ == Stopped) return true;
    if (FAILED(control_->Stop())) return false;
    state_ = Stopped;
    return true;
}

bool GraphRunner::Seek(double seconds)
{
    if (!seeking_) return false;
    LONGLONG current = static_cast<LONGLONG>(seconds * 10000000.0);
    HRESULT hr = seeking_->SetPositions(&current, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame,
                                        nullptr, AM_SEEKING_NoPositioning);
    return SUCCEEDED(hr);
}

double GraphRunner::Duration()
{
    if (!position_) return 0.0;
    REFTIME duration = 0.0;
    if (FAILED(position_->get_Duration(&duration))) return 0.0;
    return duration;
}

bool GraphRunner::MeansFailure(long code, LONG_PTR param1)
{
    switch (code) {
    case EC_COMPLETE:  // a renderer that reached the end with an error
        return FAILED(static_cast<HRESULT>(param1));
    case EC_USERABORT:
    case EC_ERRORABORT:
    case EC_ERRORABORTEX:
    case EC_STREAM_ERROR_STOPPED:  // a stream stopped by an error
    case EC_FILE_CLOSED:           // the source file went away
        return true;
    default:
        return false;
    }
}

void GraphRunner::OnGraphEvent()
{
    if (!events_) return;
    // An observer may stop the graph, or replace it altogether (a sink that
    // loads the next file from its onFinished): in the second case this
    // object is gone when Notify returns and the drain ends there.
    bool alive = true;
    bool* outer = drainAlive_;
    drainAlive_ = &alive;

    long code = 0;
    LONG_PTR param1 = 0;
    LONG_PTR param2 = 0;
    while (events_ && SUCCEEDED(events_->GetEvent(&code, &param1, &param2, 0))) {
        events_->FreeEventParams(code, param1, param2);
        if (code == EC_COMPLETE && SUCCEEDED(static_cast<HRESULT>(param1))) {
            Notify(NotifyGraphComplete, nullptr, 0);
        } else if (MeansFailure(code, param1)) {
            Notify(NotifyGraphAborted, nullptr, 0);
        } else {
            continue;
        }
        if (!alive) {
            if (outer) *outer = false;
            return;
        }
    }
    drainAlive_ = outer;
}

}  // namespace corvane
