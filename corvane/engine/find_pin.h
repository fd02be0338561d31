// FindPin: the rule by which the converter chooses every pin.
#pragma once

#include "dshow_uuids.h"

namespace corvane {

// The first pin of the filter with the given direction whose name (in the
// ANSI code page) contains pattern, case-sensitively; any name when pattern
// is null. The pin is borrowed: it stays valid while its filter is in the graph.
IPin* FindPin(IBaseFilter* filter, PIN_DIRECTION direction, const char* pattern = nullptr);

}  // namespace corvane
