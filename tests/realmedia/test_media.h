// Where the RealMedia tests find their media (made by make_test_media.sh in
// build/test-media/realmedia) and small signal checks on decoded audio.
#pragma once

#include <windows.h>

#include "test_platform.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace realmedia_test {

// The build tree (the test programs run from its bin folder).
inline std::wstring BuildDir()
{
    wchar_t exe[MAX_PATH];
    std::wstring path(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
    path = path.substr(0, path.find_last_of(L"\\/"));  // bin
    return path.substr(0, path.find_last_of(L"\\/"));
}

inline std::wstring MediaDir() { return BuildDir() + L"\\test-media\\realmedia"; }
inline std::wstring Media(const std::wstring& name) { return MediaDir() + L"\\" + name; }

// build/test-output/<name>, made if missing.
inline std::wstring OutputDir(const std::wstring& name)
{
    CreateDirectoryW((BuildDir() + L"\\test-output").c_str(), nullptr);
    const std::wstring dir = BuildDir() + L"\\test-output\\" + name;
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

// Sources that hold no local RealMedia: empty, random, cut in the header,
// missing, damaged headers, reference files that lead to nothing local.
inline const wchar_t* const kNoMedia[] = {
    L"empty.rm", L"random.rm", L"header_cut.rm", L"missing.rm", L"nowhere.ram",
    L"damaged_headerless_dnet__SymbianSource-sf.os.mm__Corrupt.rm",
    L"damaged_headeronly_cook_44k_stereo__exiftool-exiftool__Real.rm",
    L"ram_rtsp_1line__exiftool-exiftool__Real.ram",
    L"ram_rtsp_6lines__SymbianSource-sf.mw.mmappfw__multiple_streaming_link.ram",
    L"ram_rtsp_blankline__SymbianSource-sf.mw.mmappfw__test_singleLink.ram",
    L"ram_rtsp+file_mixed__SymbianSource-sf.mw.mmappfw__test_hybridlink.ram",
    L"ram_file_2lines__SymbianSource-sf.app.videoplayer__test_multilocal.ram"};

using testing_support::Narrow;
using testing_support::ReadAll;
using testing_support::Widen;

// The frequency (Hz, 5 Hz steps between lo and hi) with the most energy in
// the first channel of interleaved 16-bit audio, over up to one second taken
// from the middle.
inline double DominantFrequency(const std::vector<int16_t>& pcm, int channels, int rate, double lo = 100,
                                double hi = 4000)
{
    size_t frames = pcm.size() / static_cast<size_t>(channels);
    size_t take = std::min<size_t>(frames, static_cast<size_t>(rate));
    size_t first = (frames - take) / 2;
    double best = 0, bestPower = -1;
    for (double f = lo; f <= hi && f < rate / 2.0; f += 5) {
        double w = 2.0 * 3.14159265358979323846 * f / rate, coeff = 2.0 * std::cos(w), s1 = 0, s2 = 0;
        for (size_t i = 0; i < take; ++i) {
            double s0 = pcm[(first + i) * static_cast<size_t>(channels)] + coeff * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        if (double power = s1 * s1 + s2 * s2 - coeff * s1 * s2; power > bestPower) bestPower = power, best = f;
    }
    return best;
}

inline double Rms(const std::vector<int16_t>& pcm)
{
    double sum = 0;
    for (int16_t s : pcm) sum += static_cast<double>(s) * s;
    return std::sqrt(sum / std::max<double>(1, pcm.size()));
}

}  // namespace realmedia_test
