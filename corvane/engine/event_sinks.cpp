#include "event_sinks.h"

#include "com_ptr.h"

namespace corvane {

EventSinkList::~EventSinkList()
{
    if (raiseAlive_) *raiseAlive_ = false;
    Clear();
}

DWORD EventSinkList::Add(IDispatch* sink)
{
    if (!sink) return 0;
    std::size_t index = 0;
    while (index < slots_.size() && slots_[index]) ++index;
    if (index == slots_.size()) {
        std::size_t grown = slots_.empty() ? 1 : (slots_.size() == 1 ? 4 : slots_.size() * 2);
        if (grown > MAXDWORD) return 0;
        try {
            slots_.resize(grown, nullptr);
        } catch (...) {
            return 0;
        }
    }
    sink->AddRef();
    slots_[index] = sink;
    return static_cast<DWORD>(index + 1);
}

bool EventSinkList::Remove(DWORD cookie)
{
    if (cookie == 0 || cookie > slots_.size()) return false;
    IDispatch* sink = slots_[cookie - 1];
    if (!sink) return false;
    slots_[cookie - 1] = nullptr;
    sink->Release();
    return true;
}

void EventSinkList::Clear()
{
    for (auto& slot : slots_) {
        IDispatch* sink = slot;
        slot = nullptr;
        if (sink) sink->Release();
    }
    slots_.clear();
}

void EventSinkList::RaiseStopped() const
{
    Raise(DispIdOnStopped, nullptr, 0);
}

void EventSinkList::RaiseFinished() const
{
    Raise(DispIdOnFinished, nullptr, 0);
}

void EventSinkList::RaiseError(LONG errCode) const
{
    VARIANTARG arg;
    VariantInit(&arg);
    arg.vt = VT_I4;
    arg.lVal = errCode;
    Raise(DispIdOnError, &arg, 1);
}

void EventSinkList::Raise(DISPID id, VARIANTARG* args, UINT argCount) const
{
    // A sink may advise or unadvise from inside its handler: the list is
    // re-read at each step and each sink is held for the length of its call.
    bool alive = true;
    bool* outer = raiseAlive_;
    raiseAlive_ = &alive;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        ComPtr<IDispatch> sink(slots_[i]);
        if (!sink) continue;
        DISPPARAMS params{args, nullptr, argCount, 0};
        VARIANT result;
        VariantInit(&result);
        sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        VariantClear(&result);
        if (!alive) {
            if (outer) *outer = false;
            return;
        }
    }
    raiseAlive_ = outer;
}

}  // namespace corvane
