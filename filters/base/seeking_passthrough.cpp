#include "seeking_passthrough.h"

namespace vellumo::filters {

HRESULT SeekingPassThrough::EnsureCreated()
{
    std::lock_guard<std::mutex> lock(lock_);
    if (inner_) return S_OK;
    corvane::ComPtr<IUnknown> inner;
    HRESULT hr = CoCreateInstance(CLSID_SeekingPassThru, outer_, CLSCTX_INPROC_SERVER, IID_IUnknown, inner.PutVoid());
    if (FAILED(hr)) return hr;
    // Interfaces obtained through the inner object count on the outer one.
    ISeekingPassThru* init = nullptr;
    hr = inner->QueryInterface(IID_ISeekingPassThru, reinterpret_cast<void**>(&init));
    if (FAILED(hr)) return hr;
    hr = init->Init(renderer_ ? TRUE : FALSE, input_);
    init->Release();
    if (FAILED(hr)) return hr;
    inner_ = std::move(inner);
    return S_OK;
}

HRESULT SeekingPassThrough::Query(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!Handles(iid)) return E_NOINTERFACE;
    HRESULT hr = EnsureCreated();
    if (FAILED(hr)) return E_NOINTERFACE;
    return inner_->QueryInterface(iid, out);
}

}  // namespace vellumo::filters
