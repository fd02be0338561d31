#include "find_pin.h"

#include <cstring>

#include "com_ptr.h"

namespace corvane {

IPin* FindPin(IBaseFilter* filter, PIN_DIRECTION direction, const char* pattern)
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
            char name[128] = {};
            WideCharToMultiByte(CP_ACP, 0, info.achName, -1, name, sizeof(name), nullptr, nullptr);
            name[sizeof(name) - 1] = '\0';
            match = std::strstr(name, pattern) != nullptr;
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
