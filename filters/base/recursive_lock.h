// RecursiveLock: a critical section for std::lock_guard (the filter lock).
// Not std::recursive_mutex: with the toolchain's POSIX threads library that
// mutex creates an event the first time it is contended and never closes it
// (its destructor does nothing), so every filter whose lock a second thread
// ever waited for would leave a handle behind.
#pragma once

#include <windows.h>

namespace vellumo::filters {

class RecursiveLock {
public:
    RecursiveLock() noexcept { InitializeCriticalSection(&cs_); }
    ~RecursiveLock() { DeleteCriticalSection(&cs_); }
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;

    void lock() noexcept { EnterCriticalSection(&cs_); }
    void unlock() noexcept { LeaveCriticalSection(&cs_); }
    bool try_lock() noexcept { return TryEnterCriticalSection(&cs_) != FALSE; }

private:
    CRITICAL_SECTION cs_;
};

}  // namespace vellumo::filters
