#include "connection_point.h"

#include <new>

#include "com_ptr.h"
#include "corvane_idl.h"

namespace corvane::server {

// --- EventConnectionPoint ---------------------------------------------------

STDMETHODIMP EventConnectionPoint::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
        *out = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

STDMETHODIMP EventConnectionPoint::GetConnectionInterface(IID* iid)
{
    if (!iid) return E_POINTER;
    *iid = DIID__IAtlHalvexEvents;
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out)
{
    if (!out) return E_POINTER;
    *out = container_;
    container_->AddRef();
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    ComPtr<IDispatch> events;
    if (FAILED(sink->QueryInterface(DIID__IAtlHalvexEvents, events.PutVoid())) || !events)
        return CONNECT_E_CANNOTCONNECT;
    const DWORD slot = sinks_.Add(events.Get());
    if (slot == 0) return CONNECT_E_ADVISELIMIT;
    *cookie = slot;
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::Unadvise(DWORD cookie)
{
    return sinks_.Remove(cookie) ? S_OK : CONNECT_E_NOCONNECTION;
}

STDMETHODIMP EventConnectionPoint::EnumConnections(IEnumConnections** out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) ConnectionsEnum(sinks_);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// --- ConnectionPointEnum ----------------------------------------------------

ConnectionPointEnum::ConnectionPointEnum(IConnectionPoint* point, ULONG position)
    : point_(point), position_(position)
{
    point_->AddRef();
}

ConnectionPointEnum::~ConnectionPointEnum()
{
    point_->Release();
}

STDMETHODIMP ConnectionPointEnum::Next(ULONG count, IConnectionPoint** items, ULONG* fetched)
{
    if (!items || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    if (count > 0 && position_ == 0) {
        items[0] = point_;
        point_->AddRef();
        position_ = 1;
        n = 1;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

STDMETHODIMP ConnectionPointEnum::Skip(ULONG count)
{
    if (count == 0) return S_OK;
    const bool skipped = position_ == 0 && count == 1;
    position_ = 1;
    return skipped ? S_OK : S_FALSE;
}

STDMETHODIMP ConnectionPointEnum::Reset()
{
    position_ = 0;
    return S_OK;
}

STDMETHODIMP ConnectionPointEnum::Clone(IEnumConnectionPoints** out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) ConnectionPointEnum(point_, position_);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// --- ConnectionsEnum --------------------------------------------------------

ConnectionsEnum::ConnectionsEnum(const EventSinkList& sinks)
{
    for (size_t i = 0; i < sinks.SlotCount(); ++i) {
        IDispatch* sink = sinks.At(i);
        if (!sink) continue;
        sink->AddRef();
        items_.push_back(CONNECTDATA{sink, static_cast<DWORD>(i + 1)});
    }
}

ConnectionsEnum::ConnectionsEnum(const std::vector<CONNECTDATA>& items, ULONG position)
    : items_(items), position_(position)
{
    for (CONNECTDATA& c : items_) c.pUnk->AddRef();
}

ConnectionsEnum::~ConnectionsEnum()
{
    for (CONNECTDATA& c : items_) c.pUnk->Release();
}

STDMETHODIMP ConnectionsEnum::Next(ULONG count, CONNECTDATA* items, ULONG* fetched)
{
    if (!items || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    while (n < count && position_ < items_.size()) {
        items[n] = items_[position_++];
        items[n].pUnk->AddRef();
        ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

STDMETHODIMP ConnectionsEnum::Skip(ULONG count)
{
    const size_t left = items_.size() - position_;
    if (count > left) {
        position_ = static_cast<ULONG>(items_.size());
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

STDMETHODIMP ConnectionsEnum::Reset()
{
    position_ = 0;
    return S_OK;
}

STDMETHODIMP ConnectionsEnum::Clone(IEnumConnections** out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) ConnectionsEnum(items_, position_);
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace corvane::server
