// The pack's memory allocator: IMemAllocator over one block of buffers, with
// IMediaSample2 samples. GetBuffer and the release of a sample take only a
// critical section while a buffer is free; a caller waits on a condition
// variable only when every buffer is in use. Decommit wakes every waiter,
// which then fails with VFW_E_NOT_COMMITTED (a streaming thread blocked in
// GetBuffer learns that its filter stops). Each sample handed out holds a
// reference on the allocator, so the memory outlives the last sample.
#pragma once

#include "dshow_uuids.h"

namespace vellumo::filters {

// A new allocator with one reference (*out), like CoCreateInstance of
// CLSID_MemoryAllocator.
HRESULT CreateMemoryAllocator(IMemAllocator** out);

}  // namespace vellumo::filters
