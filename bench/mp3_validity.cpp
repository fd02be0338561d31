// One MP3 stream of the validity matrix: raw PCM (s16le) encoded by the
// parallel MP3 encoder with LAME set as the MP3 encoder filter sets it (the
// program's channel modes 0 stereo and 3 mono, quality 3, VBR quality 4,
// "original" set), cut into the product's chunks on several instances, then
// checked from outside: the frame walker, ffmpeg's strict decode and mpg123
// (both silent), and the samples decoded against the samples put in.
//   mp3_validity IN.raw RATE CHANNELS OUT.mp3 RULE OUTRATE MODE CRC [INSTANCES [CHUNK,PRIME,WINDOW,LOOKAHEAD]]
//     RULE: cbrKBPS or vbrMIN-MAX; MODE: mono or stereo; CRC: 0 or 1
// or the same checks of a file the converter made (its ID3 tags skipped):
//   mp3_validity --check FILE.mp3 RULE SAMPLES_EXPECTED
// Prints one line of key=value figures ending in PASS or FAIL; exit 0 on PASS.
#include <lame/lame.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mp3_stream_check.h"
#include "parallel_encoder.h"

namespace {

using vellumo::filters::mp3::ParallelEncoder;

struct Options {
    int rate = 0, channels = 0, outRate = 0;
    mp3check::BitrateRule rule;
    bool mono = false, crc = false;
    unsigned instances = 4;
    ParallelEncoder::Layout layout = ParallelEncoder::DefaultLayout();
};

// The filter's LAME settings for these options.
lame_global_flags* Open(const Options& o, bool tagFrame)
{
    lame_global_flags* gf = lame_init();
    if (!gf) return nullptr;
    lame_set_num_channels(gf, o.mono ? o.channels : 2);
    lame_set_in_samplerate(gf, o.rate);
    lame_set_out_samplerate(gf, o.outRate);
    lame_set_mode(gf, o.mono ? MONO : STEREO);
    lame_set_quality(gf, 3);
    if (o.rule.vbrMax) {
        lame_set_VBR(gf, vbr_default);
        lame_set_VBR_quality(gf, 4.0f);
        lame_set_VBR_min_bitrate_kbps(gf, o.rule.vbrMin);
        lame_set_VBR_max_bitrate_kbps(gf, o.rule.vbrMax);
        lame_set_VBR_hard_min(gf, 1);
    } else {
        lame_set_VBR(gf, vbr_off);
        lame_set_brate(gf, o.rule.kbps);
    }
    lame_set_error_protection(gf, o.crc ? 1 : 0);
    lame_set_copyright(gf, 0);
    lame_set_original(gf, 1);
    lame_set_bWriteVbrTag(gf, tagFrame ? 1 : 0);
    lame_set_write_id3tag_automatic(gf, 0);
    if (lame_init_params(gf) < 0) {
        lame_close(gf);
        return nullptr;
    }
    return gf;
}

bool ParseRule(const char* text, mp3check::BitrateRule& rule)
{
    return std::sscanf(text, "cbr%d", &rule.kbps) == 1 || std::sscanf(text, "vbr%d-%d", &rule.vbrMin, &rule.vbrMax) == 2;
}

// The checks from outside; prints the rest of the line and the faults found.
// slack: samples the decoded length may be off (LAME's resampler rounds a
// length that is not whole its own way).
bool Check(const std::string& file, const std::vector<uint8_t>& mp3, const mp3check::BitrateRule& rule, uint64_t expected,
           uint64_t slack = 0)
{
    // The frames between an ID3v2 tag at the start and an ID3v1 tag at the end.
    size_t from = 0, to = mp3.size();
    if (to >= 10 && std::memcmp(mp3.data(), "ID3", 3) == 0)
        from = std::min(to, 10 + (size_t{mp3[6]} << 21 | size_t{mp3[7]} << 14 | size_t{mp3[8]} << 7 | mp3[9]));
    if (to - from >= 128 && std::memcmp(mp3.data() + to - 128, "TAG", 3) == 0) to -= 128;
    const mp3check::Walk walk = mp3check::WalkFrames(mp3.data() + from, to - from, rule);
    const mp3check::Decoded decoded = mp3check::Decode(file, false);
    const bool pass = walk.fault.empty() && decoded.ffmpeg.empty() && decoded.mpg123.empty() &&
                      decoded.frames + slack >= expected && decoded.frames <= expected + slack;
    std::printf("kbps=%d frames=%zu bytes=%zu ffmpeg=%s mpg123=%s walker=%s expected=%" PRIu64 "%s out=%" PRIu64 " %s\n",
                rule.vbrMax ? rule.vbrMax : rule.kbps, walk.frames, mp3.size(), decoded.ffmpeg.empty() ? "silent" : "SPOKE",
                decoded.mpg123.empty() ? "silent" : "SPOKE", walk.fault.empty() ? "ok" : "FAULT", expected, slack ? "~" : "", decoded.frames,
                pass ? "PASS" : "FAIL");
    if (!walk.fault.empty()) std::printf("  walker: %s\n", walk.fault.c_str());
    if (!decoded.ffmpeg.empty()) std::printf("  ffmpeg: %.600s\n", decoded.ffmpeg.c_str());
    if (!decoded.mpg123.empty()) std::printf("  mpg123: %.600s\n", decoded.mpg123.c_str());
    return pass;
}

bool ParseArgs(int argc, char** argv, Options& o)
{
    if (argc < 9) return false;
    o.rate = std::atoi(argv[2]);
    o.channels = std::atoi(argv[3]);
    if (!ParseRule(argv[5], o.rule)) return false;
    o.outRate = std::atoi(argv[6]);
    o.mono = std::strcmp(argv[7], "mono") == 0;
    o.crc = std::atoi(argv[8]) != 0;
    if (argc > 9) o.instances = static_cast<unsigned>(std::atoi(argv[9]));
    if (argc > 10 && std::sscanf(argv[10], "%d,%d,%d,%d", &o.layout.chunk, &o.layout.prime, &o.layout.window, &o.layout.lookahead) != 4)
        return false;
    return o.rate >= 8000 && (o.channels == 1 || o.channels == 2) && o.outRate > 0 && o.instances > 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--check") == 0) {
        std::ifstream in(argv[2], std::ios::binary);
        const std::vector<uint8_t> mp3((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        mp3check::BitrateRule rule;
        if (!in || !ParseRule(argv[3], rule)) {
            std::fprintf(stderr, "cannot read %s or the rule %s\n", argv[2], argv[3]);
            return 2;
        }
        return Check(argv[2], mp3, rule, std::strtoull(argv[4], nullptr, 10)) ? 0 : 1;
    }
    Options o;
    if (!ParseArgs(argc, argv, o)) {
        std::fprintf(stderr, "usage: mp3_validity IN.raw RATE CHANNELS OUT.mp3 cbrKBPS|vbrMIN-MAX OUTRATE mono|stereo CRC "
                             "[INSTANCES [CHUNK,PRIME,WINDOW,LOOKAHEAD]]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    ParallelEncoder enc([&o](bool tag) { return Open(o, tag); }, o.instances, o.layout);
    if (!enc.Start()) {
        std::printf("error=LAME refuses the settings FAIL\n");
        return 1;
    }
    // The bitrates LAME settled on (320 kbit/s is 160 at the MPEG-2 rates), as the filter reports them.
    mp3check::BitrateRule rule = o.rule;
    if (rule.vbrMax) {
        rule.vbrMin = lame_get_VBR_min_bitrate_kbps(enc.Primary());
        rule.vbrMax = lame_get_VBR_max_bitrate_kbps(enc.Primary());
    } else {
        rule.kbps = lame_get_brate(enc.Primary());
    }
    // LAME gets a mono source twice for stereo, as the filter gives it.
    const int lameChannels = lame_get_num_channels(enc.Primary());
    const size_t piece = 4410;  // as the decoder delivers it
    std::vector<int16_t> raw(piece * static_cast<size_t>(o.channels)), pcm;
    std::vector<uint8_t> mp3, tag;
    uint64_t framesIn = 0;
    bool ok = true;
    while (ok && in) {
        in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size() * 2));
        const size_t frames = static_cast<size_t>(in.gcount()) / 2 / static_cast<size_t>(o.channels);
        if (frames == 0) break;
        if (lameChannels == o.channels) {
            pcm.assign(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(frames * static_cast<size_t>(o.channels)));
        } else {
            pcm.resize(frames * 2);
            for (size_t i = 0; i < frames; ++i) pcm[2 * i] = pcm[2 * i + 1] = raw[i];
        }
        ok = enc.Encode(pcm.data(), frames, mp3);
        framesIn += frames;
    }
    ok = ok && enc.Finish(mp3, tag);
    if (!ok) {
        std::printf("error=the encoder failed FAIL\n");
        return 1;
    }
    if (!tag.empty() && tag.size() <= mp3.size()) std::copy(tag.begin(), tag.end(), mp3.begin());
    std::ofstream(argv[4], std::ios::binary).write(reinterpret_cast<const char*>(mp3.data()), static_cast<std::streamsize>(mp3.size()));

    const int outRate = lame_get_out_samplerate(enc.Primary());
    // The samples a gapless decoder gives back: the input's, at the output's rate.
    const uint64_t scaled = framesIn * static_cast<uint64_t>(outRate), inRate = static_cast<uint64_t>(o.rate);
    const uint64_t expected = (scaled + inRate / 2) / inRate;
    const int* switches = enc.Switches();
    std::printf("joins=%d (%d settled, %d in priming) instances=%u%s%s samples_in=%" PRIu64 " ", switches[0] + switches[1],
                switches[0], switches[1], enc.InstancesUsed(), *enc.SingleReason() ? " single=" : "", enc.SingleReason(), framesIn);
    return Check(argv[4], mp3, rule, expected, scaled % inRate ? 2 : 0) ? 0 : 1;
}
