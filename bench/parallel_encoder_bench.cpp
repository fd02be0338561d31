// The parallel MP3 encoder: seconds of audio encoded a second with 1, 2, 4
// and 8 instances, the audio its chunk overlaps encode twice, and the
// private memory the process held at most (the PCM is read from the file as
// a decoder hands it over, faster than the contexts encode it: the chunks in
// flight are at their bound). Built natively and for each Windows target.
//   parallel_encoder_bench RAW_S16LE_STEREO_44100 [kbps|vbr]
#include <lame/lame.h>
#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "parallel_encoder.h"

namespace {

// Private bytes now (Wine gives no peak: they are sampled).
double PrivateMb()
{
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS_EX m{};
    m.cb = sizeof m;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m);
    return static_cast<double>(std::max({m.PeakPagefileUsage, m.PagefileUsage, m.PrivateUsage})) / (1 << 20);
#else
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("RssAnon:", 0) == 0) return std::atof(line.c_str() + 8) / 1024;
    return 0;
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: parallel_encoder_bench RAW_S16LE_STEREO_44100 [kbps|vbr]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary | std::ios::ate);
    const auto frames = static_cast<size_t>(in.tellg()) / 4;
    const bool vbr = argc > 2 && std::strcmp(argv[2], "vbr") == 0;
    const int kbps = argc > 2 && !vbr ? std::atoi(argv[2]) : 128;
    const double seconds = static_cast<double>(frames) / 44100;
    std::vector<int16_t> piece(2 * 4410);
    for (const unsigned instances : {1u, 2u, 4u, 8u}) {
        auto open = [&](bool tag) {
            lame_global_flags* gf = lame_init();
            lame_set_num_channels(gf, 2);
            lame_set_in_samplerate(gf, 44100);
            lame_set_mode(gf, STEREO);
            lame_set_quality(gf, 3);
            if (vbr) {
                lame_set_VBR(gf, vbr_default);
                lame_set_VBR_min_bitrate_kbps(gf, 56);
                lame_set_VBR_max_bitrate_kbps(gf, 160);
                lame_set_VBR_hard_min(gf, 1);
            } else {
                lame_set_brate(gf, kbps);
            }
            lame_set_bWriteVbrTag(gf, tag);
            if (lame_init_params(gf) < 0) { lame_close(gf); return static_cast<lame_global_flags*>(nullptr); }
            return gf;
        };
        vellumo::filters::mp3::ParallelEncoder enc(open, instances, vellumo::filters::mp3::ParallelEncoder::DefaultLayout());
        std::vector<uint8_t> out, tag;
        const auto t0 = std::chrono::steady_clock::now();
        bool ok = enc.Start();
        in.clear();
        in.seekg(0);
        double peak = PrivateMb();
        for (size_t at = 0, k = 0; ok && at < frames; at += 4410, ++k) {
            const size_t n = std::min<size_t>(4410, frames - at);
            in.read(reinterpret_cast<char*>(piece.data()), static_cast<std::streamsize>(n * 4));
            ok = enc.Encode(piece.data(), n, out);
            out.clear();  // written out as it comes
            if (k % 32 == 0) peak = std::max(peak, PrivateMb());
        }
        ok = ok && enc.Finish(out, tag);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("  %u instance%s: %7.1f s of audio per s (%.2f s for %.0f s)%s, overlap %.1f %%, peak private %.0f MB\n",
                    instances, instances == 1 ? " " : "s", seconds / wall, wall, seconds, ok ? "" : " FAILED",
                    enc.OverlapPercent(), peak);
    }
    return 0;
}
