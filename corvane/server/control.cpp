#include "control.h"

#include <new>

#include "control_drawing.h"
#include "interface_table.h"

namespace corvane::server {
namespace {

using C = AtlHalvexControl;

// The interfaces the control answers, in order.
const InterfaceEntry g_interfaces[] = {
    {&IID_IAtlHalvex, &CastTo<C, IAtlHalvex>},
    {&IID_IDispatch, &CastThrough<C, IAtlHalvex, IDispatch>},
    {&IID_IViewObjectEx, &CastTo<C, IViewObjectEx>},
    {&IID_IViewObject2, &CastThrough<C, IViewObjectEx, IViewObject2>},
    {&IID_IViewObject, &CastThrough<C, IViewObjectEx, IViewObject>},
    {&IID_IOleInPlaceObjectWindowless, &CastTo<C, IOleInPlaceObjectWindowless>},
    {&IID_IOleInPlaceObject, &CastThrough<C, IOleInPlaceObjectWindowless, IOleInPlaceObject>},
    {&IID_IOleWindow, &CastThrough<C, IOleInPlaceObjectWindowless, IOleWindow>},
    {&IID_IOleInPlaceActiveObject, &CastTo<C, IOleInPlaceActiveObject>},
    {&IID_IOleControl, &CastTo<C, IOleControl>},
    {&IID_IOleObject, &CastTo<C, IOleObject>},
    {&IID_IPersistStreamInit, &CastTo<C, IPersistStreamInit>},
    {&IID_IPersist, &CastThrough<C, IPersistStreamInit, IPersist>},
    {&IID_ISupportErrorInfo, &CastTo<C, ISupportErrorInfo>},
    {&IID_IConnectionPointContainer, &CastTo<C, IConnectionPointContainer>},
    {&IID_ISpecifyPropertyPages, &CastTo<C, ISpecifyPropertyPages>},
    {&IID_IQuickActivate, &CastTo<C, IQuickActivate>},
    {&IID_IPersistStorage, &CastTo<C, IPersistStorage>},
    {&IID_IDataObject, &CastTo<C, IDataObject>},
    {&IID_IProvideClassInfo, &CastThrough<C, IProvideClassInfo2, IProvideClassInfo>},
    {&IID_IProvideClassInfo2, &CastTo<C, IProvideClassInfo2>},
    {nullptr, nullptr},
};

}  // namespace
// --- identity and lifetime ---------------------------------------------------

HRESULT AtlHalvexControl::CreateInstance(IUnknown* outer, REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    auto* control = new (std::nothrow) AtlHalvexControl(outer);
    if (!control) return E_OUTOFMEMORY;
    const HRESULT hr = control->inner_.QueryInterface(iid, out);
    control->inner_.Release();  // the creation reference
    return hr;
}

AtlHalvexControl::AtlHalvexControl(IUnknown* outer)
    : inner_(*this),
      outer_(outer ? outer : &inner_),
      connectionPoint_(this, converter_.Sinks()),
      dispatchInfo_(IID_IAtlHalvex),
      classInfo_(CLSID_AtlHalvex)
{
}

AtlHalvexControl::~AtlHalvexControl()
{
    // The window goes with the object; the converter's graph and sinks go
    // with the converter.
    if (window_) DestroyWindow(window_);
}

STDMETHODIMP AtlHalvexControl::Inner::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
        *out = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    return QueryFromTable(&owner_, g_interfaces, iid, out);
}

STDMETHODIMP_(ULONG) AtlHalvexControl::Inner::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
}

STDMETHODIMP_(ULONG) AtlHalvexControl::Inner::Release()
{
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) {
        refs_ = 1;  // guards against a re-entrant release during destruction
        delete &owner_;
    }
    return static_cast<ULONG>(refs);
}

}  // namespace corvane::server
