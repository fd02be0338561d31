// ClassFactory: the class object of a creatable class. It lives in the
// object map for the life of the module and does not hold the module lock;
// LockServer does.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "single_interface.h"

namespace corvane::server {

class ClassFactory final : public SingleInterface<IClassFactory> {
public:
    using Creator = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);
    explicit ClassFactory(Creator creator) : creator_(creator) {}

    // IClassFactory
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    Creator creator_;
};

}  // namespace corvane::server
