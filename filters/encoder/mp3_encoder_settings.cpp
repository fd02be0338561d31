// The MP3 encoder's settings (IAudioEncoderProperties): read and changed
// while the filter is stopped; a connected output follows a change of format.
#include "encoder/mp3_encoder.h"

namespace vellumo::filters {

namespace {

bool IsMp3Rate(DWORD hz)
{
    switch (hz) {
    case 8000: case 11025: case 12000: case 16000: case 22050: case 24000: case 32000: case 44100: case 48000:
        return true;
    default:
        return false;
    }
}

bool ValidKbps(DWORD kbps) { return kbps >= 8 && kbps <= 320; }

}  // namespace

// ---------------------------------------------------------------- settings

template <class F>
HRESULT Mp3EncoderFilter::Change(F&& apply)
{
    std::lock_guard<RecursiveLock> lock(FilterLock());
    if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
    const Settings before = settings_;
    HRESULT hr = apply(settings_);
    if (FAILED(hr)) return hr;
    // A connected output follows settings that change its format.
    OutputPin& out = Output();
    if (out.IsConnected()) {
        MediaType now;
        if (GetOutputType(0, now) == S_OK && !out.ConnectionType().Equals(*now)) {
            if (out.Peer()->QueryAccept(now.Get()) != S_OK || !Graph() || FAILED(Graph()->Reconnect(&out))) {
                settings_ = before;
                return VFW_E_CHANGING_FORMAT;
            }
        }
    }
    return S_OK;
}

#define VELLUMO_GETTER(name, field)                                 \
    HRESULT Mp3EncoderFilter::get_##name(DWORD* value)              \
    {                                                               \
        if (!value) return E_POINTER;                               \
        std::lock_guard<RecursiveLock> lock(FilterLock());   \
        *value = settings_.field;                                   \
        return S_OK;                                                \
    }

VELLUMO_GETTER(PESOutputEnabled, pes)
VELLUMO_GETTER(Bitrate, bitrate)
VELLUMO_GETTER(Variable, variable)
VELLUMO_GETTER(VariableMin, variableMin)
VELLUMO_GETTER(VariableMax, variableMax)
VELLUMO_GETTER(Quality, quality)
VELLUMO_GETTER(VariableQ, variableQ)
VELLUMO_GETTER(CRCFlag, crc)
VELLUMO_GETTER(CopyrightFlag, copyright)
VELLUMO_GETTER(OriginalFlag, original)
#undef VELLUMO_GETTER

HRESULT Mp3EncoderFilter::set_PESOutputEnabled(DWORD enabled)
{
    // Elementary stream only: PES packets are for MPEG-2 systems streams.
    if (enabled) return E_NOTIMPL;
    return Change([](Settings& s) { s.pes = 0; return S_OK; });
}

HRESULT Mp3EncoderFilter::set_Bitrate(DWORD kbps)
{
    if (!ValidKbps(kbps)) return E_INVALIDARG;
    return Change([kbps](Settings& s) { s.bitrate = kbps; return S_OK; });
}

HRESULT Mp3EncoderFilter::set_Variable(DWORD vbr)
{
    return Change([vbr](Settings& s) { s.variable = vbr ? 1 : 0; return S_OK; });
}

HRESULT Mp3EncoderFilter::set_VariableMin(DWORD kbps)
{
    if (!ValidKbps(kbps)) return E_INVALIDARG;
    return Change([kbps](Settings& s) { s.variableMin = kbps; return S_OK; });
}

HRESULT Mp3EncoderFilter::set_VariableMax(DWORD kbps)
{
    if (!ValidKbps(kbps)) return E_INVALIDARG;
    return Change([kbps](Settings& s) { s.variableMax = kbps; return S_OK; });
}

HRESULT Mp3EncoderFilter::set_Quality(DWORD quality)
{
    if (quality > 9) return E_INVALIDARG;
    return Change([quality](Settings& s) { s.quality = quality; return S_OK; });
}

HRESULT Mp3EncoderFilter::set_VariableQ(DWORD quality)
{
    if (quality > 9) return E_INVALIDARG;
    return Change([quality](Settings& s) { s.variableQ = quality; return S_OK; });
}

HRESULT Mp3EncoderFilter::get_SourceSampleRate(DWORD* hz)
{
    if (!hz) return E_POINTER;
    std::lock_guard<RecursiveLock> lock(FilterLock());
    const WAVEFORMATEX* wfx = Input().ConnectionType().WaveFormat();
    *hz = wfx && Input().IsConnected() ? wfx->nSamplesPerSec : 0;
    return wfx ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT Mp3EncoderFilter::get_SourceChannels(DWORD* channels)
{
    if (!channels) return E_POINTER;
    std::lock_guard<RecursiveLock> lock(FilterLock());
    const WAVEFORMATEX* wfx = Input().ConnectionType().WaveFormat();
    *channels = wfx && Input().IsConnected() ? wfx->nChannels : 0;
    return wfx ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT Mp3EncoderFilter::get_SampleRate(DWORD* hz)
{
    if (!hz) return E_POINTER;
    std::lock_guard<RecursiveLock> lock(FilterLock());
    *hz = settings_.sampleRate;
    if (*hz == 0) {
        MediaType out;
        if (GetOutputType(0, out) == S_OK && out.WaveFormat()) *hz = out.WaveFormat()->nSamplesPerSec;
    }
    return S_OK;
}

HRESULT Mp3EncoderFilter::set_SampleRate(DWORD hz)
{
    if (hz != 0 && !IsMp3Rate(hz)) return E_INVALIDARG;
    return Change([hz](Settings& s) { s.sampleRate = hz; return S_OK; });
}

HRESULT Mp3EncoderFilter::get_ChannelMode(DWORD* mode)
{
    if (!mode) return E_POINTER;
    std::lock_guard<RecursiveLock> lock(FilterLock());
    const WAVEFORMATEX* wfx = Input().ConnectionType().WaveFormat();
    *mode = EffectiveChannelMode(wfx ? wfx->nChannels : 2);
    return S_OK;
}

HRESULT Mp3EncoderFilter::set_ChannelMode(DWORD mode)
{
    if (mode > kMono) return E_INVALIDARG;
    return Change([mode](Settings& s) { s.channelMode = mode; return S_OK; });
}

HRESULT Mp3EncoderFilter::set_CRCFlag(DWORD crc)
{
    return Change([crc](Settings& s) { s.crc = crc ? 1 : 0; return S_OK; });
}

HRESULT Mp3EncoderFilter::set_CopyrightFlag(DWORD flag)
{
    return Change([flag](Settings& s) { s.copyright = flag ? 1 : 0; return S_OK; });
}

HRESULT Mp3EncoderFilter::set_OriginalFlag(DWORD flag)
{
    return Change([flag](Settings& s) { s.original = flag ? 1 : 0; return S_OK; });
}

DWORD Mp3EncoderFilter::EffectiveChannelMode(const Settings& settings, WORD sourceChannels)
{
    if (settings.channelMode <= kMono) return settings.channelMode;
    return sourceChannels == 1 ? kMono : kJointStereo;
}

}  // namespace vellumo::filters
