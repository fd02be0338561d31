// The parallel MP3 encoder natively: seconds of audio encoded a second with
// 1, 2, 4 and 8 instances, and the audio its chunk overlaps encode twice.
//   parallel_encoder_bench RAW_S16LE_STEREO_44100 [kbps|vbr]
#include <lame/lame.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "parallel_encoder.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: parallel_encoder_bench RAW_S16LE_STEREO_44100 [kbps|vbr]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    const bool vbr = argc > 2 && std::strcmp(argv[2], "vbr") == 0;
    const int kbps = argc > 2 && !vbr ? std::atoi(argv[2]) : 128;
    const double seconds = static_cast<double>(pcm.size()) / 2 / 44100;
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
        for (size_t at = 0; ok && at < pcm.size() / 2; at += 4410)
            ok = enc.Encode(pcm.data() + at * 2, std::min<size_t>(4410, pcm.size() / 2 - at), out);
        ok = ok && enc.Finish(out, tag);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("  %u instance%s: %7.1f s of audio per s (%.2f s for %.0f s)%s, overlap %.1f %%\n", instances,
                    instances == 1 ? " " : "s", seconds / wall, wall, seconds, ok ? "" : " FAILED",
                    enc.OverlapPercent());
    }
    return 0;
}
