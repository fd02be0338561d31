// Dispatch identifiers the converter serves beyond its type library: members
// reached late-bound by name only, so that IAtlHalvex, its identifiers and
// its type library stay as they are for every existing caller.
#pragma once

#include <oaidl.h>

namespace corvane {

// DamagedSeconds (Long, property get): whole seconds of sound the last run
// could not decode.
constexpr DISPID kDispDamagedSeconds = 1001;
constexpr const wchar_t* kDamagedSecondsName = L"DamagedSeconds";

}  // namespace corvane
