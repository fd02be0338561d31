// Keeps the machine from sleeping for as long as the object lives: an
// overnight batch must not stop when the idle timeout comes. The display
// may still turn off.
#pragma once

#include <windows.h>

namespace vellumo {

class StayAwake {
public:
    StayAwake() { SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_AWAYMODE_REQUIRED); }
    ~StayAwake() { SetThreadExecutionState(ES_CONTINUOUS); }
    StayAwake(const StayAwake&) = delete;
    StayAwake& operator=(const StayAwake&) = delete;
};

}  // namespace vellumo
