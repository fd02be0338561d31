#include "splitter_input_pin.h"

#include <mutex>

#include "real_splitter.h"

namespace vellumo::filters {

using corvane::ComPtr;

SplitterInputPin::SplitterInputPin(RealSplitter& splitter) : BasePin(splitter, PINDIR_INPUT, L"Input"), splitter_(splitter) {}

HRESULT SplitterInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt)
{
    if (!connector || !mt) return E_POINTER;
    std::lock_guard<RecursiveLock> lock(filter_.FilterLock());
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION dir;
    if (FAILED(connector->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (CheckMediaType(*mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    HRESULT hr = splitter_.OpenInput(connector);
    if (FAILED(hr)) return hr;
    peer_ = ComPtr<IPin>(connector);
    hr = mt_.Set(*mt);
    if (FAILED(hr)) {
        splitter_.CloseInput();
        peer_.Reset();
        mt_.Clear();
    }
    return hr;
}

void SplitterInputPin::BreakConnect() { splitter_.CloseInput(); }

}  // namespace vellumo::filters
