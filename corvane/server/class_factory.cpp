#include "class_factory.h"

#include "module.h"

namespace corvane::server {

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    // An aggregated object must hand its own IUnknown to the outer object.
    if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return creator_(outer, iid, out);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock)
{
    if (lock)
        Module::Instance().Lock();
    else
        Module::Instance().Unlock();
    return S_OK;
}

}  // namespace corvane::server
