// The control's connection point for _IAtlHalvexEvents and the enumerators
// of its container. The sinks themselves live in the converter's
// EventSinkList, which raises the events.
#pragma once

#include <ocidl.h>
#include <olectl.h>

#include <vector>

#include "event_sinks.h"
#include "module.h"
#include "single_interface.h"

namespace corvane::server {

// Embedded in the control: its reference count is the control's.
class EventConnectionPoint final : public IConnectionPoint {
public:
    EventConnectionPoint(IConnectionPointContainer* container, EventSinkList& sinks)
        : container_(container), sinks_(sinks) {}
    virtual ~EventConnectionPoint() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return container_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return container_->Release(); }

    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** out) override;

private:
    IConnectionPointContainer* container_;
    EventSinkList& sinks_;
};

// Enumerates the one connection point of the control.
class ConnectionPointEnum final : public SingleInterface<IEnumConnectionPoints> {
public:
    ConnectionPointEnum(IConnectionPoint* point, ULONG position);
    ~ConnectionPointEnum() override;

    STDMETHODIMP Next(ULONG count, IConnectionPoint** items, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumConnectionPoints** out) override;

private:
    ModuleLock lock_;
    IConnectionPoint* point_;
    ULONG position_;
};

// Enumerates a snapshot of the connections taken when it was made.
class ConnectionsEnum final : public SingleInterface<IEnumConnections> {
public:
    explicit ConnectionsEnum(const EventSinkList& sinks);
    ConnectionsEnum(const std::vector<CONNECTDATA>& items, ULONG position);
    ~ConnectionsEnum() override;

    STDMETHODIMP Next(ULONG count, CONNECTDATA* items, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumConnections** out) override;

private:
    ModuleLock lock_;
    std::vector<CONNECTDATA> items_;
    ULONG position_ = 0;
};

}  // namespace corvane::server
