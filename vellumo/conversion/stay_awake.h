// Keeps the machine from sleeping for as long as the object lives: an
// overnight batch must not stop when the idle timeout comes. The display
// may still turn off.
#pragma once

#include <windows.h>

namespace vellumo {

// Time the machine has been awake (100 ns units): a sleep in the middle of a
// conversion does not count as time the conversion stood still.
inline ULONGLONG AwakeTime()
{
    ULONGLONG time = 0;
    QueryUnbiasedInterruptTime(&time);
    return time;
}

class StayAwake {
public:
    StayAwake() { SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_AWAYMODE_REQUIRED); }
    ~StayAwake() { SetThreadExecutionState(ES_CONTINUOUS); }
    StayAwake(const StayAwake&) = delete;
    StayAwake& operator=(const StayAwake&) = delete;
};

}  // namespace vellumo
