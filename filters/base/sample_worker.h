// SampleWorker: a filter's processing of its input samples on a thread of
// its own, behind a small bounded queue of referenced samples, so that the
// upstream filters (decoding) and this one (encoding) use two cores. The
// upstream thread pushes samples and waits only while the queue is full; end
// of stream queues behind the samples. The first result of the worker that is
// not S_OK (an error, or downstream refusing) stops it: what is still queued
// (the end of stream too) is dropped, and the result is returned to the next
// Push or the waiting Drain, so that upstream stops sending as it would if
// the work were done in Receive. The filter reports its failures itself
// (BaseFilter::CheckStream in the process and drain functions).
//
// A transform filter starts it in StartStreaming, calls Interrupt when a
// flush begins or the filter stops (before the streaming lock), Resume when
// the flush ends and Stop (which joins the thread) in StopStreaming.
#pragma once

#include "dshow_uuids.h"

#include <deque>
#include <functional>
#include <thread>

#include "com_ptr.h"

namespace vellumo::filters {

class SampleWorker {
public:
    using ProcessFn = std::function<HRESULT(IMediaSample*)>;
    using DrainFn = std::function<HRESULT()>;

    // process: one sample; drain: end of stream (both on the worker thread).
    SampleWorker(size_t capacity, ProcessFn process, DrainFn drain);
    ~SampleWorker();
    SampleWorker(const SampleWorker&) = delete;
    SampleWorker& operator=(const SampleWorker&) = delete;

    // Starts the thread with an empty queue and no error.
    HRESULT Start();
    // Drops what is queued, wakes every waiter and joins the thread.
    void Stop();

    // Upstream thread: queues a reference to sample, waiting while the queue
    // is full. S_FALSE while interrupted; the worker's first result other
    // than S_OK once it had one.
    HRESULT Push(IMediaSample* sample);
    // Upstream thread: queues the end of the stream and waits until the
    // worker has handled it; drain's result (S_FALSE when interrupted, the
    // worker's result when it stopped before the end).
    HRESULT Drain();
    // A flush begins or the filter stops: drops what is queued and wakes the
    // upstream thread; Push and Drain refuse until Resume.
    void Interrupt();
    // The flush ended: waits until the worker is idle, then accepts samples
    // again with the error forgotten.
    void Resume();

private:
    struct Locked;
    void Run();
    // Takes the queued samples out (to be released without the lock held).
    std::deque<corvane::ComPtr<IMediaSample>> TakeQueueLocked();

    const size_t capacity_;
    const ProcessFn process_;
    const DrainFn drain_;
    CRITICAL_SECTION lock_;
    CONDITION_VARIABLE work_;     // something was queued, or quit
    CONDITION_VARIABLE changed_;  // room in the queue, the worker idle, end of stream handled, interrupted
    // Queued samples; a null entry is the end of the stream.
    std::deque<corvane::ComPtr<IMediaSample>> queue_;
    bool busy_ = false;
    bool quit_ = false;
    bool interrupted_ = false;
    bool drained_ = false;
    HRESULT result_ = S_OK;
    HRESULT drainResult_ = S_OK;
    std::thread thread_;
};

}  // namespace vellumo::filters
