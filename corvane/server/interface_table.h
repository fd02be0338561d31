// Interface tables: QueryInterface driven by a static list of the
// interfaces an object answers, in order.
#pragma once

#include <unknwn.h>

namespace corvane::server {

struct InterfaceEntry {
    const IID* iid;
    // Returns the object's pointer for the interface.
    void* (*cast)(void* object);
};

// The entry of interface I of class C.
template <class C, class I>
void* CastTo(void* object)
{
    return static_cast<I*>(static_cast<C*>(object));
}

// Interface I reached through the base B of class C (for interfaces that
// several bases share, such as IDispatch or IPersist).
template <class C, class B, class I>
void* CastThrough(void* object)
{
    return static_cast<I*>(static_cast<B*>(static_cast<C*>(object)));
}

// Looks the interface up in a table ending with a null entry (IUnknown is
// the object's own business: its identity). Adds a reference on success.
inline HRESULT QueryFromTable(void* object, const InterfaceEntry* table, REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const InterfaceEntry* e = table; e->iid; ++e) {
        if (IsEqualIID(iid, *e->iid)) {
            *out = e->cast(object);
            break;
        }
    }
    if (!*out) return E_NOINTERFACE;
    static_cast<IUnknown*>(*out)->AddRef();
    return S_OK;
}

}  // namespace corvane::server
