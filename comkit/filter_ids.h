// Class identifiers of the installed filters the converter builds its graphs
// from. The system's own filters (file source, ACM wrapper, file writer) come
// from <uuids.h>; these four are the RealMedia and encoder filters.
#pragma once

#include <guiddef.h>

namespace corvane {

// {E21BE468-5C18-43EB-B0CC-DB93A847D769}
inline constexpr GUID CLSID_RealSplitter =
    {0xe21be468, 0x5c18, 0x43eb, {0xb0, 0xcc, 0xdb, 0x93, 0xa8, 0x47, 0xd7, 0x69}};
// {941A4793-A705-4312-8DFC-C11CA05F397E}
inline constexpr GUID CLSID_RealAudioDecoder =
    {0x941a4793, 0xa705, 0x4312, {0x8d, 0xfc, 0xc1, 0x1c, 0xa0, 0x5f, 0x39, 0x7e}};
// {B8D27088-DF5F-4B7C-98DC-0E91A1696286}
inline constexpr GUID CLSID_Mp3Encoder =
    {0xb8d27088, 0xdf5f, 0x4b7c, {0x98, 0xdc, 0x0e, 0x91, 0xa1, 0x69, 0x62, 0x86}};
// {3C78B8E2-6C4D-11D1-ADE2-0000F8754B99}
inline constexpr GUID CLSID_WavDest =
    {0x3c78b8e2, 0x6c4d, 0x11d1, {0xad, 0xe2, 0x00, 0x00, 0xf8, 0x75, 0x4b, 0x99}};

}  // namespace corvane
