// GraphRunner: one DirectShow filter graph manager for one job of the
// converter, with the graph-level operations the converter needs.
#pragma once

#include "dshow_uuids.h"

#include "com_ptr.h"
#include "graph_subject.h"

namespace corvane {

class GraphRunner : public GraphSubject {
public:
    // DirectShow filter-state values the runner uses.
    enum RunState : LONG { Stopped = 0, Running = 2 };

    GraphRunner() = default;
    ~GraphRunner() override;

    // Creates the graph manager and obtains its control interfaces.
    virtual bool Create();
    // Releases every interface and the graph; the run state is left as it is.
    virtual void ReleaseAll();

    // Non-owning: the filter wrappers keep this pointer.
    IGraphBuilder* Graph() const { return graph_.Get(); }
    bool ConnectDirect(IPin* out, IPin* in);
    bool SetNotifyWindow(HWND window);
    bool Run();
    bool Stop();
    bool Seek(double seconds);
    double Duration();
    // Drains the event queue and notifies the observers: completion, or an
    // abort for every event that means the run failed.
    void OnGraphEvent();
    // True for a graph event that ends the run as a failure: an abort, a
    // stream stopped by an error, the source file closed, or a completion
    // that carries a failure status.
    static bool MeansFailure(long code, LONG_PTR param1);

    LONG State() const { return state_; }
    // Result of the last IMediaControl::Run request (S_OK before any).
    HRESULT LastRunResult() const { return lastRunResult_; }

private:
    bool QueryInterfaces();
    void StopEveryFilter();

    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<IMediaEventEx> events_;
    ComPtr<IBasicVideo> basicVideo_;
    ComPtr<IBasicAudio> basicAudio_;
    ComPtr<IVideoWindow> videoWindow_;
    ComPtr<IMediaSeeking> seeking_;
    ComPtr<IMediaPosition> position_;
    LONG state_ = Stopped;
    HRESULT lastRunResult_ = S_OK;
    // Set while OnGraphEvent runs: cleared by the destructor so that a drain
    // whose observer destroyed this runner stops at once.
    bool* drainAlive_ = nullptr;
};

}  // namespace corvane
