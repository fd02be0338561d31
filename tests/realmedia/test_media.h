// Where the RealMedia tests find their media (made by make_test_media.sh in
// the build tree's test-media/realmedia folder, next to bin/) and small
// signal checks on decoded audio.
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
        double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
        if (power > bestPower) {
            bestPower = power;
            best = f;
        }
    }
    return best;
}

inline double Rms(const std::vector<int16_t>& pcm)
{
    double sum = 0;
    for (int16_t s : pcm) sum += static_cast<double>(s) * s;
    return pcm.empty() ? 0 : std::sqrt(sum / static_cast<double>(pcm.size()));
}

}  // namespace realmedia_test
