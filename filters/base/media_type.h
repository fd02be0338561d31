// MediaType: an owned AM_MEDIA_TYPE whose format block and pUnk are freed
// exactly once, plus the small helpers every pin needs.
#pragma once

#include "dshow_uuids.h"
#include <mmreg.h>

namespace vellumo::filters {

// Frees the format block (CoTaskMemFree) and releases pUnk; zeroes both.
void FreeMediaTypeContents(AM_MEDIA_TYPE& mt);
// Deep copy of src into dst (dst's old contents are not freed).
HRESULT CopyMediaTypeContents(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src);
// A CoTaskMemAlloc'ed deep copy, as IEnumMediaTypes hands them out.
AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& src);
// Frees a media type allocated by CreateMediaTypeCopy or a DirectShow call.
void DeleteMediaType(AM_MEDIA_TYPE* mt);

class MediaType {
public:
    MediaType() noexcept;
    explicit MediaType(const AM_MEDIA_TYPE& mt);
    MediaType(const MediaType& o);
    MediaType(MediaType&& o) noexcept;
    MediaType& operator=(const MediaType& o);
    MediaType& operator=(MediaType&& o) noexcept;
    ~MediaType();

    HRESULT Set(const AM_MEDIA_TYPE& mt);
    void Clear() noexcept;
    bool IsEmpty() const noexcept { return mt_.majortype == GUID_NULL; }

    AM_MEDIA_TYPE* Get() noexcept { return &mt_; }
    const AM_MEDIA_TYPE* Get() const noexcept { return &mt_; }
    AM_MEDIA_TYPE* operator->() noexcept { return &mt_; }
    const AM_MEDIA_TYPE* operator->() const noexcept { return &mt_; }
    const AM_MEDIA_TYPE& operator*() const noexcept { return mt_; }

    // Replaces the format block with a copy of size bytes at data.
    HRESULT SetFormat(const GUID& formatType, const void* data, ULONG size);
    // The WAVEFORMATEX format block, or null when there is none (or it is too short).
    const WAVEFORMATEX* WaveFormat() const noexcept;

    // Major type, subtype and format block identical.
    bool Equals(const AM_MEDIA_TYPE& other) const noexcept;

private:
    AM_MEDIA_TYPE mt_;
};

// The WAVEFORMATEX of a media type (FORMAT_WaveFormatEx, block long enough), or null.
const WAVEFORMATEX* WaveFormatOf(const AM_MEDIA_TYPE& mt) noexcept;
// GUID_NULL fields of `partial` match anything.
bool MatchesPartial(const AM_MEDIA_TYPE& mt, const AM_MEDIA_TYPE& partial) noexcept;
// The audio subtype for a WAVE_FORMAT tag (the FOURCC-based GUID family).
GUID AudioSubtypeFromTag(WORD formatTag) noexcept;
// A MEDIATYPE_Audio type carrying wfx (and its cbSize extra bytes).
MediaType AudioMediaType(const WAVEFORMATEX& wfx);
// 8/16/24/32-bit integer PCM with the usual block alignment.
MediaType PcmMediaType(DWORD samplesPerSec, WORD channels, WORD bitsPerSample);
// True for integer PCM (WAVE_FORMAT_PCM, or WAVE_FORMAT_EXTENSIBLE with the PCM subformat).
bool IsIntegerPcm(const WAVEFORMATEX& wfx) noexcept;

}  // namespace vellumo::filters
