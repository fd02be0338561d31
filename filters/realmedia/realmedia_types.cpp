#include "realmedia_types.h"

#include <cstring>

namespace vellumo::filters {

const GUID kRealMediaStreamSubtype = {0x3926b280, 0x0998, 0x4fef, {0xa9, 0x3b, 0xa3, 0x04, 0xa4, 0xb3, 0xfa, 0x38}};

namespace {

constexpr GUID Subtype(char a, char b, char c, char d)
{
    return {realmedia::MakeFourcc(a, b, c, d), 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

constexpr GUID kAudioSubtypes[] = {Subtype('c', 'o', 'o', 'k'), Subtype('s', 'i', 'p', 'r'), Subtype('a', 't', 'r', 'c'),
                                   Subtype('l', 'p', 'c', 'J'), Subtype('2', '8', '_', '8'), Subtype('r', 'a', 'a', 'c'),
                                   Subtype('r', 'a', 'c', 'p'), Subtype('d', 'n', 'e', 't'), Subtype('L', 'S', 'D', ':')};
constexpr GUID kVideoSubtypes[] = {Subtype('R', 'V', '1', '0'), Subtype('R', 'V', '2', '0'), Subtype('R', 'V', '3', '0'),
                                   Subtype('R', 'V', '4', '0')};

const wchar_t* const kSignatureChecks[] = {L"0,4,FFFFFFFF,2E524D46", L"0,4,FFFFFFFF,2E7261FD"};
const MediaSignature kSignature = {&kRealMediaStreamSubtype, kSignatureChecks, 2};
const MediaSignatureEntry kSignatureEntry(kSignature);

}  // namespace

const REGPINTYPES kRealMediaPinTypes[] = {
    {&MEDIATYPE_Audio, &kAudioSubtypes[0]}, {&MEDIATYPE_Audio, &kAudioSubtypes[1]}, {&MEDIATYPE_Audio, &kAudioSubtypes[2]},
    {&MEDIATYPE_Audio, &kAudioSubtypes[3]}, {&MEDIATYPE_Audio, &kAudioSubtypes[4]}, {&MEDIATYPE_Audio, &kAudioSubtypes[5]},
    {&MEDIATYPE_Audio, &kAudioSubtypes[6]}, {&MEDIATYPE_Audio, &kAudioSubtypes[7]}, {&MEDIATYPE_Audio, &kAudioSubtypes[8]},
    {&MEDIATYPE_Video, &kVideoSubtypes[0]}, {&MEDIATYPE_Video, &kVideoSubtypes[1]}, {&MEDIATYPE_Video, &kVideoSubtypes[2]},
    {&MEDIATYPE_Video, &kVideoSubtypes[3]}};
const UINT kRealMediaPinTypeCount = 13;
const UINT kRealAudioPinTypeCount = 9;

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
