// An event sink that records the converter's events, checks each Invoke's
// shape and can run a handler or fail; and a message pump with a deadline.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <string>
#include <vector>

namespace fakes {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

class EventRecorder : public IDispatch {
public:
    struct Event {
        DISPID id;
        LONG code;  // onError's argument
    };

    // Each event is also appended to sharedLog as "<label> <name>".
    explicit EventRecorder(std::vector<std::string>* sharedLog = nullptr, std::string label = {})
        : sharedLog_(sharedLog), label_(std::move(label)) {}

    // "stopped", "finished", "error 80001"
    std::vector<std::string> Names() const
    {
        std::vector<std::string> out;
        for (const Event& e : events_) out.push_back(Name(e));
        return out;
    }
    void Clear() { events_.clear(); }
    const std::vector<Event>& Events() const { return events_; }

    std::function<void(const Event&)> onEvent;
    HRESULT result = S_OK;          // what Invoke returns
    IID eventsIid = IID_IDispatch;  // answered besides IDispatch
    bool answersEvents = true;      // false: only IUnknown
    LONG refs = 1;                  // lives on the test's stack: counted, never deleted
    int malformed = 0;              // Invoke calls not shaped as an event

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        const bool answers = iid == IID_IUnknown || (answersEvents && (iid == IID_IDispatch || iid == eventsIid));
        *out = answers ? static_cast<IDispatch*>(this) : nullptr;
        return answers ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result_,
                        EXCEPINFO* excep, UINT* argErr) override
    {
        const bool error = id == 3, shaped = params && params->cArgs == (error ? 1u : 0u);
        Event e{id, error && shaped ? params->rgvarg[0].lVal : 0};
        malformed += !(shaped && iid == IID_NULL && lcid == LOCALE_USER_DEFAULT && flags == DISPATCH_METHOD &&
                       params->cNamedArgs == 0 && result_ && !excep && !argErr &&
                       (!error || params->rgvarg[0].vt == VT_I4));
        events_.push_back(e);
        if (sharedLog_) sharedLog_->push_back(label_ + " " + Name(e));
        if (onEvent) onEvent(e);
        return result;
    }

    static std::string Name(const Event& e)
    {
        if (e.id == 3) return "error " + std::to_string(e.code);
        return e.id == 1 ? "stopped" : e.id == 2 ? "finished" : "dispid " + std::to_string(e.id);
    }

private:
    std::vector<Event> events_;
    std::vector<std::string>* sharedLog_;
    std::string label_;
};

#pragma GCC diagnostic pop

// Pumps messages until done() or the deadline (milliseconds).
inline bool PumpUntil(const std::function<bool()>& done, DWORD ms = 5000)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

inline void PumpFor(DWORD ms) { PumpUntil([] { return false; }, ms); }

}  // namespace fakes
