// Where the RealMedia tests find their media (made by make_test_media.sh in
// build/test-media/realmedia) and small signal checks on decoded audio.
#pragma once

#include <windows.h>

#include "test_platform.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
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

constexpr uint32_t Fourcc(const char* s)
{
    return static_cast<uint8_t>(s[0]) | static_cast<uint8_t>(s[1]) << 8 | static_cast<uint8_t>(s[2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

// The media the core and filter tests decode whole, and what each holds: the
// chosen audio stream's codec and format, its length (by the headers within
// `tolerance`; decoded within 2% + 50 ms, or to a millisecond of `exact`),
// the sine it carries, its loudness and the packets the decoder conceals.
struct MediaCase {
    const wchar_t* name;
    uint32_t fourcc;
    int rate, channels;
    double seconds;
    double sine = 0;      // Hz; 0: not a sine
    double minRms = 100;  // one of them is digital silence
    double tolerance = 0.02;
    int damaged = 0;
    double exact = 0;
};
inline void PrintTo(const MediaCase& m, std::ostream* os) { *os << Narrow(m.name); }

inline const MediaCase kMedia[] = {
    // Made by ffmpeg (sine440_144.rm's headers leave the duration out).
    {L"sine440_144.ra", Fourcc("lpcJ"), 8000, 1, 5.0, 440, 1000}, {L"sine440_144.rm", Fourcc("lpcJ"), 8000, 1, 5.0, 440, 1000},
    {L"sine1000_ac3.rm", Fourcc("dnet"), 44100, 2, 6.0, 1000, 1000},
    {L"video_ac3.rmvb", Fourcc("dnet"), 44100, 2, 4.0, 440, 1000}, {L"video_rv10.rm", Fourcc("lpcJ"), 8000, 1, 3.0, 660, 1000},
    // A tag block whose lengths reach past it costs the tags only.
    {L"tags_damaged.rm", Fourcc("dnet"), 44100, 2, 2.0, 1000, 1000},
    // Reference files lead to their first local entry (url.ram: a file:// URL
    // to a non-ASCII path with spaces).
    {L"relative.ram", Fourcc("dnet"), 44100, 2, 6.0, 1000, 1000}, {L"url.ram", Fourcc("dnet"), 44100, 2, 6.0, 1000, 1000},
    {L"absolute.ram", Fourcc("lpcJ"), 8000, 1, 5.0, 440, 1000}, {L"nested.ram", Fourcc("dnet"), 44100, 2, 6.0, 1000, 1000},
    // From real encoders.
    {L"cook_44k_mono__vstinner-hachoir__firstrun.rm", Fourcc("cook"), 44100, 1, 18.20},
    {L"cook_44k_stereo__douidou75-pfm__music.rm", Fourcc("cook"), 44100, 2, 204.33},
    {L"cook_8k_mono+rv30__SymbianSource-sf.mw.mmappfw__Battle_160x100_30kbps.rm", Fourcc("cook"), 8000, 1, 119.54},
    {L"cook_22k_mono+rv30__allomani-media250__test.rm", Fourcc("cook"), 22050, 1, 6.27, 0, 0.0},
    {L"raac_44k_stereo__SymbianSource-sf.app.files__Video.rm", Fourcc("raac"), 44100, 2, 30.04},
    {L"ffmpegmux_dnet_44k_stereo__sindresorhus-file-type__fixture-realmedia-audio.rm", Fourcc("dnet"), 44100, 2, 0.80},
    {L"ffmpegmux_dnet_32k_mono+rv10__sindresorhus-file-type__fixture-realmedia-video.rm", Fourcc("dnet"), 32000, 1, 5.62},
    // 401 AC3 frames, the 261st cut short by 175 bytes: later frames sit off
    // the word grid the demuxer swaps by, and FFmpeg's demuxer stops swapping
    // from the 180000th byte on. All are found again (ffmpeg alone stops at
    // 13.4 s); only the cut frame is concealed.
    {L"ra4-dnet_32k_stereo__SymbianSource-sf.os.mm__valid_casadual.ra", Fourcc("dnet"), 32000, 2, 19.248, 0, 100, 0.09, 1,
     401 * 1536 / 32000.0},
    // Multi-rate: the best encoding is the one decoded.
    {L"surestream_cook_11k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_11kbps_Music.ra", Fourcc("cook"), 22050, 1, 208.98, 0,
     300},
    {L"surestream_sipr_8k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_5kbps_Voice.ra", Fourcc("cook"), 22050, 1, 208.98, 0,
     300},
};

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
