// SingleInterface<I>: IUnknown for a heap object that answers one interface I
// (and IUnknown). It starts with one reference and deletes itself when the
// last goes; a class that keeps its module loaded holds that lock itself.
#pragma once

#include <unknwn.h>

#include <atomic>

namespace corvane {

template <class I>
class SingleInterface : public I {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(I))) {
            *out = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    SingleInterface() = default;
    virtual ~SingleInterface() = default;
    SingleInterface(const SingleInterface&) = delete;
    SingleInterface& operator=(const SingleInterface&) = delete;

private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace corvane
