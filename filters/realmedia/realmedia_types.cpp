#include "realmedia_types.h"

#include <cstring>

namespace vellumo::filters {

GUID FourccSubtype(uint32_t fourcc)
{
    GUID g = MEDIASUBTYPE_PCM;  // {00000001-0000-0010-8000-00AA00389B71}
    g.Data1 = fourcc;
    return g;
}

uint32_t FourccOfSubtype(const GUID& subtype)
{
    GUID base = subtype;
    base.Data1 = MEDIASUBTYPE_PCM.Data1;
    return base == MEDIASUBTYPE_PCM ? static_cast<uint32_t>(subtype.Data1) : 0;
}

MediaType RealAudioMediaType(const realmedia::AudioCodecSetup& setup)
{
    MediaType mt;
    const std::vector<uint8_t> block = realmedia::WaveFormatBlock(setup);
    if (block.empty()) return mt;
    mt->majortype = MEDIATYPE_Audio;
    mt->subtype = FourccSubtype(setup.fourcc);
    mt->bFixedSizeSamples = FALSE;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = 0;
    if (FAILED(mt.SetFormat(FORMAT_WaveFormatEx, block.data(), static_cast<ULONG>(block.size())))) mt.Clear();
    return mt;
}

MediaType RealVideoMediaType(uint32_t fourcc, int width, int height, int64_t bitRate)
{
    MediaType mt;
    VIDEOINFOHEADER vih{};
    vih.dwBitRate = static_cast<DWORD>(bitRate);
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biCompression = fourcc;
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = FourccSubtype(fourcc);
    mt->bFixedSizeSamples = FALSE;
    mt->bTemporalCompression = TRUE;
    if (FAILED(mt.SetFormat(FORMAT_VideoInfo, &vih, sizeof vih))) mt.Clear();
    return mt;
}

bool RealAudioSetupOf(const AM_MEDIA_TYPE& mt, realmedia::AudioCodecSetup& setup)
{
    if (mt.majortype != MEDIATYPE_Audio || mt.formattype != FORMAT_WaveFormatEx) return false;
    const uint32_t fourcc = FourccOfSubtype(mt.subtype);
    if (!realmedia::IsDecodableFourcc(fourcc)) return false;
    return realmedia::ParseWaveFormatBlock(mt.pbFormat, mt.cbFormat, fourcc, setup);
}

}  // namespace vellumo::filters
