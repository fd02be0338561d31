#include "sample_worker.h"

#include <utility>

namespace vellumo::filters {

using corvane::ComPtr;

struct SampleWorker::Locked {
    explicit Locked(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
    ~Locked() { LeaveCriticalSection(&cs_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    CRITICAL_SECTION& cs_;
};

SampleWorker::SampleWorker(size_t capacity, ProcessFn process, DrainFn drain)
    : capacity_(capacity ? capacity : 1), process_(std::move(process)), drain_(std::move(drain))
{
    InitializeCriticalSection(&lock_);
    InitializeConditionVariable(&work_);
    InitializeConditionVariable(&changed_);
}

SampleWorker::~SampleWorker()
{
    Stop();
    DeleteCriticalSection(&lock_);
}

HRESULT SampleWorker::Start()
{
    Stop();
    {
        Locked hold(lock_);
        quit_ = false;
        interrupted_ = false;
        busy_ = false;
        drained_ = false;
        result_ = S_OK;
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void SampleWorker::Stop()
{
    std::deque<ComPtr<IMediaSample>> dropped;
    {
        Locked hold(lock_);
        quit_ = true;
        interrupted_ = true;
        dropped = TakeQueueLocked();
        WakeAllConditionVariable(&work_);
        WakeAllConditionVariable(&changed_);
    }
    dropped.clear();
    if (thread_.joinable()) thread_.join();
}

std::deque<ComPtr<IMediaSample>> SampleWorker::TakeQueueLocked()
{
    std::deque<ComPtr<IMediaSample>> taken;
    taken.swap(queue_);
    return taken;
}

HRESULT SampleWorker::Push(IMediaSample* sample)
{
    if (!sample) return E_POINTER;
    Locked hold(lock_);
    while (!interrupted_ && result_ == S_OK && queue_.size() >= capacity_)
        SleepConditionVariableCS(&changed_, &lock_, INFINITE);
    if (interrupted_) return S_FALSE;
    if (result_ != S_OK) return result_;
    queue_.emplace_back(sample);
    WakeConditionVariable(&work_);
    return S_OK;
}

HRESULT SampleWorker::Drain()
{
    Locked hold(lock_);
    if (interrupted_) return S_FALSE;
    if (result_ != S_OK) return result_;
    drained_ = false;
    queue_.emplace_back();
    WakeConditionVariable(&work_);
    // A sample still queued may fail, and the end is then dropped with the rest.
    while (!drained_ && !interrupted_ && result_ == S_OK) SleepConditionVariableCS(&changed_, &lock_, INFINITE);
    if (drained_) return drainResult_;
    return interrupted_ ? S_FALSE : result_;
}

void SampleWorker::Interrupt()
{
    std::deque<ComPtr<IMediaSample>> dropped;
    {
        Locked hold(lock_);
        interrupted_ = true;
        dropped = TakeQueueLocked();
        WakeAllConditionVariable(&changed_);
    }
}

void SampleWorker::Resume()
{
    std::deque<ComPtr<IMediaSample>> dropped;
    Locked hold(lock_);
    if (quit_) return;
    while (busy_) SleepConditionVariableCS(&changed_, &lock_, INFINITE);
    dropped = TakeQueueLocked();
    interrupted_ = false;
    drained_ = false;
    result_ = S_OK;
}

void SampleWorker::Run()
{
    Locked hold(lock_);
    for (;;) {
        while (!quit_ && queue_.empty()) SleepConditionVariableCS(&work_, &lock_, INFINITE);
        if (quit_) break;
        ComPtr<IMediaSample> sample = std::move(queue_.front());
        queue_.pop_front();
        const bool endOfStream = !sample;
        busy_ = true;
        WakeAllConditionVariable(&changed_);
        LeaveCriticalSection(&lock_);
        const HRESULT hr = endOfStream ? drain_() : process_(sample.Get());
        sample.Reset();
        EnterCriticalSection(&lock_);
        busy_ = false;
        if (endOfStream) {
            drained_ = true;
            drainResult_ = hr;
        } else if (hr != S_OK && result_ == S_OK && !interrupted_) {
            // The worker stops at its first failure (or downstream's refusal):
            // what is queued behind it is dropped, not written after a hole.
            result_ = hr;
            std::deque<ComPtr<IMediaSample>> dropped = TakeQueueLocked();
            LeaveCriticalSection(&lock_);
            dropped.clear();
            EnterCriticalSection(&lock_);
        }
        WakeAllConditionVariable(&changed_);
    }
}

}  // namespace vellumo::filters
