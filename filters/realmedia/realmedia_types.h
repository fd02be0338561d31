// The media types the splitter offers and the decoder accepts: compressed
// RealAudio as MEDIATYPE_Audio with the codec's tag in a FOURCC subtype and
// the WAVEFORMATEX + setup-data block of codec_setup.h; RealVideo as
// MEDIATYPE_Video with a VIDEOINFOHEADER.
#pragma once

#include "dshow_uuids.h"

#include "base/media_type.h"
#include "base/module.h"
#include "codec_setup.h"

namespace vellumo::filters {

// The stream subtype that the platform's File Source (Async) gives RealMedia
// (".RMF") and RealAudio (".ra" 0xFD) files, through the pack's signature.
extern const GUID kRealMediaStreamSubtype;

// For the filter mapper: what the splitter's output offers, the RealAudio
// codecs' subtypes (the first kRealAudioPinTypeCount, which the decoder
// takes) and then the RealVideo ones.
extern const REGPINTYPES kRealMediaPinTypes[];
extern const UINT kRealMediaPinTypeCount;
extern const UINT kRealAudioPinTypeCount;

// {fourcc-0000-0010-8000-00AA00389B71}
GUID FourccSubtype(uint32_t fourcc);
// The subtype's tag when it is a FOURCC subtype, else 0.
uint32_t FourccOfSubtype(const GUID& subtype);

MediaType RealAudioMediaType(const realmedia::AudioCodecSetup& setup);
MediaType RealVideoMediaType(uint32_t fourcc, int width, int height, int64_t bitRate);
// True when mt is compressed RealAudio that the pack decodes; fills setup.
bool RealAudioSetupOf(const AM_MEDIA_TYPE& mt, realmedia::AudioCodecSetup& setup);

}  // namespace vellumo::filters
