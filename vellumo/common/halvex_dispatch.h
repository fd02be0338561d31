// Late-bound access to an AtlHalvex converter: IDispatch::Invoke by dispatch
// identifier, with the automation types of each member.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "com_ptr.h"
#include "halvex_dispids.h"

namespace vellumo {

// Dispatch identifiers of IAtlHalvex.
enum HalvexDispId : DISPID {
    DispConvert = 2,
    DispSaveFile = 3,
    DispPlay = 4,
    DispStop = 6,
    DispLoadFile = 11,
    DispTotalLength = 12,
    DispCurrentLength = 13,
    DispFormat = 14,
    DispMP3Frequency = 15,
    DispMP3Channels = 16,
    DispMP3Bitrate = 17,
    DispMP3VBR = 18,
    DispMP3VBRMinBitrate = 19,
    DispMP3VBRMaxBitrate = 20,
    DispWAVFrequency = 21,
    DispWAVChannels = 22,
    DispWAVBits = 23,
    // Late-bound only, beyond the type library: seconds the last run could
    // not decode.
    DispDamagedSeconds = corvane::kDispDamagedSeconds,
};

class HalvexDispatch {
public:
    HalvexDispatch() = default;
    explicit HalvexDispatch(corvane::ComPtr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}

    bool IsValid() const { return static_cast<bool>(dispatch_); }
    IDispatch* Get() const { return dispatch_.Get(); }

    // Property get of a whole-number property, converted to a 32-bit value.
    HRESULT GetLong(DISPID id, LONG* value) const;
    // Property puts: 16-bit (VT_I2) and 32-bit (VT_I4) values.
    HRESULT PutShort(DISPID id, SHORT value) const;
    HRESULT PutLong(DISPID id, LONG value) const;
    HRESULT PutString(DISPID id, const std::wstring& value) const;
    HRESULT GetString(DISPID id, std::wstring* value) const;
    // LoadFile: property get with a string argument and a 32-bit result.
    HRESULT GetLongWithString(DISPID id, const std::wstring& argument, LONG* value) const;
    // Method without arguments.
    HRESULT Call(DISPID id) const;

private:
    HRESULT Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) const;
    HRESULT Put(DISPID id, VARIANT* value) const;
    // Invoke whose result is converted to a 32-bit value.
    HRESULT InvokeForLong(DISPID id, WORD flags, DISPPARAMS* params, LONG* value) const;

    corvane::ComPtr<IDispatch> dispatch_;
};

}  // namespace vellumo
