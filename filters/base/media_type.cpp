#include "media_type.h"


#include <cstring>
#include <new>

namespace vellumo::filters {

void FreeMediaTypeContents(AM_MEDIA_TYPE& mt)
{
    if (mt.cbFormat != 0 || mt.pbFormat) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

HRESULT CopyMediaTypeContents(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src)
{
    dst = src;
    dst.pbFormat = nullptr;
    dst.cbFormat = 0;
    if (src.cbFormat && src.pbFormat) {
        dst.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src.cbFormat));
        if (!dst.pbFormat) {
            dst.pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(dst.pbFormat, src.pbFormat, src.cbFormat);
        dst.cbFormat = src.cbFormat;
    }
    if (dst.pUnk) dst.pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& src)
{
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!mt) return nullptr;
    if (FAILED(CopyMediaTypeContents(*mt, src))) {
        CoTaskMemFree(mt);
        return nullptr;
    }
    return mt;
}

void DeleteMediaType(AM_MEDIA_TYPE* mt)
{
    if (!mt) return;
    FreeMediaTypeContents(*mt);
    CoTaskMemFree(mt);
}

MediaType::MediaType() noexcept : mt_{} {}

MediaType::MediaType(const AM_MEDIA_TYPE& mt) : mt_{}
{
    if (FAILED(CopyMediaTypeContents(mt_, mt))) mt_ = AM_MEDIA_TYPE{};
}

MediaType::MediaType(const MediaType& o) : MediaType(o.mt_) {}

MediaType::MediaType(MediaType&& o) noexcept : mt_(o.mt_) { o.mt_ = AM_MEDIA_TYPE{}; }

MediaType& MediaType::operator=(const MediaType& o)
{
    if (this != &o) Set(o.mt_);
    return *this;
}

MediaType& MediaType::operator=(MediaType&& o) noexcept
{
    if (this != &o) {
        Clear();
        mt_ = o.mt_;
        o.mt_ = AM_MEDIA_TYPE{};
    }
    return *this;
}

MediaType::~MediaType() { Clear(); }

HRESULT MediaType::Set(const AM_MEDIA_TYPE& mt)
{
    if (&mt == &mt_) return S_OK;
    AM_MEDIA_TYPE copy{};
    HRESULT hr = CopyMediaTypeContents(copy, mt);
    if (FAILED(hr)) return hr;
    Clear();
    mt_ = copy;
    return S_OK;
}

void MediaType::Clear() noexcept
{
    FreeMediaTypeContents(mt_);
    mt_ = AM_MEDIA_TYPE{};
}

HRESULT MediaType::SetFormat(const GUID& formatType, const void* data, ULONG size)
{
    BYTE* block = nullptr;
    if (size) {
        block = static_cast<BYTE*>(CoTaskMemAlloc(size));
        if (!block) return E_OUTOFMEMORY;
        std::memcpy(block, data, size);
    }
    CoTaskMemFree(mt_.pbFormat);
    mt_.pbFormat = block;
    mt_.cbFormat = size;
    mt_.formattype = formatType;
    return S_OK;
}

const WAVEFORMATEX* MediaType::WaveFormat() const noexcept { return WaveFormatOf(mt_); }

bool MediaType::Equals(const AM_MEDIA_TYPE& o) const noexcept
{
    return mt_.majortype == o.majortype && mt_.subtype == o.subtype && mt_.formattype == o.formattype &&
           mt_.cbFormat == o.cbFormat &&
           (mt_.cbFormat == 0 || std::memcmp(mt_.pbFormat, o.pbFormat, mt_.cbFormat) == 0);
}

const WAVEFORMATEX* WaveFormatOf(const AM_MEDIA_TYPE& mt) noexcept
{
    if (mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat || mt.cbFormat < sizeof(WAVEFORMATEX))
        return nullptr;
    const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    if (sizeof(WAVEFORMATEX) + wfx->cbSize > mt.cbFormat) return nullptr;
    return wfx;
}

bool MatchesPartial(const AM_MEDIA_TYPE& mt, const AM_MEDIA_TYPE& partial) noexcept
{
    if (partial.majortype != GUID_NULL && partial.majortype != mt.majortype) return false;
    if (partial.subtype != GUID_NULL && partial.subtype != mt.subtype) return false;
    if (partial.formattype != GUID_NULL && partial.formattype != mt.formattype) return false;
    return true;
}

GUID AudioSubtypeFromTag(WORD formatTag) noexcept
{
    GUID g = MEDIASUBTYPE_PCM;  // {00000001-0000-0010-8000-00AA00389B71}
    g.Data1 = formatTag;
    return g;
}

MediaType AudioMediaType(const WAVEFORMATEX& wfx)
{
    MediaType mt;
    mt->majortype = MEDIATYPE_Audio;
    mt->subtype = AudioSubtypeFromTag(wfx.wFormatTag);
    if (wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE && wfx.cbSize >= 22)
        mt->subtype = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(wfx).SubFormat;
    mt->bFixedSizeSamples = wfx.wFormatTag == WAVE_FORMAT_PCM;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = wfx.wFormatTag == WAVE_FORMAT_PCM ? wfx.nBlockAlign : 0;
    if (FAILED(mt.SetFormat(FORMAT_WaveFormatEx, &wfx, sizeof(WAVEFORMATEX) + wfx.cbSize))) mt.Clear();
    return mt;
}

MediaType PcmMediaType(DWORD samplesPerSec, WORD channels, WORD bitsPerSample)
{
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = channels;
    wfx.nSamplesPerSec = samplesPerSec;
    wfx.wBitsPerSample = bitsPerSample;
    wfx.nBlockAlign = static_cast<WORD>(channels * ((bitsPerSample + 7) / 8));
    wfx.nAvgBytesPerSec = samplesPerSec * wfx.nBlockAlign;
    wfx.cbSize = 0;
    return AudioMediaType(wfx);
}

bool IsIntegerPcm(const WAVEFORMATEX& wfx) noexcept
{
    if (wfx.wFormatTag == WAVE_FORMAT_PCM) return true;
    if (wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE && wfx.cbSize >= 22)
        return reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(wfx).SubFormat == MEDIASUBTYPE_PCM;
    return false;
}

}  // namespace vellumo::filters
