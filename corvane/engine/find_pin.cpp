#include "find_pin.h"

#include <cwchar>

#include "com_ptr.h"

namespace corvane {

IPin* FindPin(IBaseFilter* filter, PIN_DIRECTION direction, const wchar_t* pattern)
{
    if (!filter) return nullptr;
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Put())) || !pins) return nullptr;
    pins->Reset();

    IPin* found = nullptr;
    for (;;) {
        IPin* pin = nullptr;
        ULONG fetched = 0;
        if (pins->Next(1, &pin, &fetched) != S_OK || !pin) break;

        PIN_INFO info{};
        if (FAILED(pin->QueryPinInfo(&info))) {
            pin->Release();
            continue;
        }
        bool match = info.dir == direction;
        if (match && pattern) {
            info.achName[MAX_PIN_NAME - 1] = L'\0';
            match = std::wcsstr(info.achName, pattern) != nullptr;
        }
        if (info.pFilter) info.pFilter->Release();
        // Borrowed: the filter keeps its pin alive while it is in the graph.
        pin->Release();
        if (match) {
            found = pin;
            break;
        }
    }
    return found;
}

}  // namespace corvane
