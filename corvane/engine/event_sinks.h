// EventSinkList: the sinks connected to the converter's connection point for
// _IAtlHalvexEvents, kept as a list of slots, and the raising of the events.
//
// Contract between the engine (which raises events) and the server (whose
// connection point owns the list and calls Add/Remove/At for Advise,
// Unadvise and EnumConnections).
#pragma once

#include <oaidl.h>

#include <cstddef>
#include <vector>

namespace corvane {

// Dispatch identifiers of _IAtlHalvexEvents.
enum EventDispId : DISPID {
    DispIdOnStopped = 1,
    DispIdOnFinished = 2,
    DispIdOnError = 3,
};

class EventSinkList {
public:
    EventSinkList() = default;
    ~EventSinkList();
    EventSinkList(const EventSinkList&) = delete;
    EventSinkList& operator=(const EventSinkList&) = delete;

    // Stores the sink (already queried for the event interface; a reference
    // is taken) in the first empty slot and returns the slot's number counted
    // from 1 (the cookie). Slots: one at first, then 4, then doubling when all
    // are taken. Returns 0 when the list cannot grow.
    DWORD Add(IDispatch* sink);
    // Empties the slot of the cookie and releases its sink. False for cookie 0
    // or a cookie of no occupied slot.
    bool Remove(DWORD cookie);
    // Slot access for enumeration: the sink in slot index (0-based) or null.
    std::size_t SlotCount() const { return slots_.size(); }
    IDispatch* At(std::size_t index) const { return index < slots_.size() ? slots_[index] : nullptr; }
    void Clear();

    // Calls IDispatch::Invoke on every sink, slot order, empty slots skipped;
    // a failing sink does not stop delivery to the next.
    void RaiseStopped() const;
    void RaiseFinished() const;
    void RaiseError(LONG errCode) const;

private:
    void Raise(DISPID id, VARIANTARG* args, UINT argCount) const;
    std::vector<IDispatch*> slots_;
    // Set while Raise runs: cleared by the destructor, so that delivery ends
    // when a sink destroys the list's owner from inside its handler.
    mutable bool* raiseAlive_ = nullptr;
};

}  // namespace corvane
