// SeekingPassThrough: IMediaSeeking / IMediaPosition answered by the
// platform's CLSID_SeekingPassThru object, aggregated by a filter or a pin,
// which forwards every call to the pin connected upstream of `input`.
#pragma once

#include "dshow_uuids.h"

#include <mutex>

#include "com_ptr.h"

namespace vellumo::filters {

class SeekingPassThrough {
public:
    // outer: the aggregating object (filter or pin); input: the input pin whose
    // upstream peer answers; renderer: as ISeekingPassThru::Init.
    SeekingPassThrough(IUnknown* outer, IPin* input, bool renderer) noexcept
        : outer_(outer), input_(input), renderer_(renderer)
    {
    }
    ~SeekingPassThrough() = default;
    SeekingPassThrough(const SeekingPassThrough&) = delete;
    SeekingPassThrough& operator=(const SeekingPassThrough&) = delete;

    static bool Handles(REFIID iid) noexcept { return iid == IID_IMediaSeeking || iid == IID_IMediaPosition; }
    // QueryInterface for IMediaSeeking / IMediaPosition (created on first use).
    HRESULT Query(REFIID iid, void** out);

private:
    HRESULT EnsureCreated();

    IUnknown* const outer_;
    IPin* const input_;
    const bool renderer_;
    std::mutex lock_;
    corvane::ComPtr<IUnknown> inner_;  // non-delegating IUnknown of the aggregated object
};

}  // namespace vellumo::filters
