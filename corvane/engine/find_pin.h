// FindPin: the rule by which the converter chooses every pin.
#pragma once

#include "dshow_uuids.h"

namespace corvane {

// The first pin of the filter with the given direction whose name contains
// pattern, case-sensitively; any name when pattern
// is null. The pin is borrowed: it stays valid while its filter is in the graph.
IPin* FindPin(IBaseFilter* filter, PIN_DIRECTION direction, const wchar_t* pattern = nullptr);

}  // namespace corvane
