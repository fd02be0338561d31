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
    HRESULT hr = CheckIncoming(connector, *mt);
    if (FAILED(hr)) return hr;
    hr = splitter_.OpenInput(connector);
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
