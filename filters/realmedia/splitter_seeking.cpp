#include "splitter_seeking.h"

#include "real_splitter.h"

namespace vellumo::filters {

namespace {
constexpr DWORD kCaps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                        AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetCurrentPos;
}  // namespace

HRESULT SplitterSeeking::GetCapabilities(DWORD* caps)
{
    if (!caps) return E_POINTER;
    *caps = kCaps;
    return S_OK;
}

HRESULT SplitterSeeking::CheckCapabilities(DWORD* caps)
{
    if (!caps) return E_POINTER;
    const DWORD asked = *caps;
    *caps &= kCaps;
    if (*caps == asked) return S_OK;
    return *caps ? S_FALSE : E_FAIL;
}

HRESULT SplitterSeeking::IsFormatSupported(const GUID* format)
{
    if (!format) return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT SplitterSeeking::QueryPreferredFormat(GUID* format)
{
    if (!format) return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT SplitterSeeking::GetTimeFormat(GUID* format) { return QueryPreferredFormat(format); }

HRESULT SplitterSeeking::IsUsingTimeFormat(const GUID* format)
{
    if (!format) return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT SplitterSeeking::SetTimeFormat(const GUID* format)
{
    if (!format) return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME || *format == TIME_FORMAT_NONE ? S_OK : E_INVALIDARG;
}

HRESULT SplitterSeeking::GetDuration(LONGLONG* duration)
{
    if (!duration) return E_POINTER;
    *duration = splitter_.Duration();
    return splitter_.HasMedia() ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT SplitterSeeking::GetStopPosition(LONGLONG* stop)
{
    if (!stop) return E_POINTER;
    splitter_.Positions(nullptr, stop);
    return S_OK;
}

HRESULT SplitterSeeking::GetCurrentPosition(LONGLONG* current)
{
    if (!current) return E_POINTER;
    splitter_.Positions(current, nullptr);
    return S_OK;
}

HRESULT SplitterSeeking::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                       const GUID* sourceFormat)
{
    if (!target) return E_POINTER;
    auto media = [](const GUID* f) { return !f || *f == TIME_FORMAT_MEDIA_TIME; };
    if (!media(targetFormat) || !media(sourceFormat)) return E_INVALIDARG;
    *target = source;
    return S_OK;
}

HRESULT SplitterSeeking::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags)
{
    return splitter_.Reposition(current, currentFlags, stop, stopFlags);
}

HRESULT SplitterSeeking::GetPositions(LONGLONG* current, LONGLONG* stop)
{
    splitter_.Positions(current, stop);
    return S_OK;
}

HRESULT SplitterSeeking::GetAvailable(LONGLONG* earliest, LONGLONG* latest)
{
    if (earliest) *earliest = 0;
    if (latest) *latest = splitter_.Duration();
    return S_OK;
}

HRESULT SplitterSeeking::SetRate(double rate) { return rate == 1.0 ? S_OK : E_INVALIDARG; }

HRESULT SplitterSeeking::GetRate(double* rate)
{
    if (!rate) return E_POINTER;
    *rate = 1.0;
    return S_OK;
}

HRESULT SplitterSeeking::GetPreroll(LONGLONG* preroll)
{
    if (!preroll) return E_POINTER;
    *preroll = 0;
    return S_OK;
}

}  // namespace vellumo::filters
