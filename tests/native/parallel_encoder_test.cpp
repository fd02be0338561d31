// The parallel MP3 encoder, natively: its joined streams decode cleanly with
// ffmpeg's strict checks and with mpg123, keep the bitrate, back-pointer and
// CRC rules (checked by the frame walker of bench/mp3_stream_check), are gapless, and
// sound as good as one context's, overall and around every join. Short
// streams come out exactly as one LAME context makes them. Failures and
// cancelling end the work without a hang or a thread left behind.
#include <gtest/gtest.h>
#include <lame/lame.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "mp3_stream_check.h"
#include "parallel_encoder.h"

namespace {

using vellumo::filters::mp3::ParallelEncoder;
namespace fs = std::filesystem;

struct Settings {
    int rate, channels, kbps, vbrMin, vbrMax;  // vbrMax 0: CBR at kbps
    bool crc;
    int outRate = 0;                           // 0: the input's
};

lame_global_flags* Open(const Settings& s, bool tag)
{
    lame_global_flags* gf = lame_init();
    lame_set_num_channels(gf, s.channels);
    lame_set_in_samplerate(gf, s.rate);
    if (s.outRate) lame_set_out_samplerate(gf, s.outRate);
    lame_set_mode(gf, s.channels == 1 ? MONO : JOINT_STEREO);
    lame_set_quality(gf, 3);
    if (s.vbrMax) {
        lame_set_VBR(gf, vbr_default);
        lame_set_VBR_min_bitrate_kbps(gf, s.vbrMin);
        lame_set_VBR_max_bitrate_kbps(gf, s.vbrMax);
        lame_set_VBR_hard_min(gf, 1);
    } else {
        lame_set_brate(gf, s.kbps);
    }
    lame_set_error_protection(gf, s.crc);
    lame_set_bWriteVbrTag(gf, tag);
    if (lame_init_params(gf) < 0) { lame_close(gf); return nullptr; }
    return gf;
}

std::vector<int16_t> Pcm(const std::string& input, int rate, int channels)
{
    const std::string format = rate ? " -ac " + std::to_string(channels) + " -ar " + std::to_string(rate) : "";
    const std::string raw = mp3check::Run("ffmpeg -nostdin -v error " + input + " -f s16le" + format + " - 2>/dev/null");
    std::vector<int16_t> pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    return pcm;
}

// The stream as a file: the Xing/Info frame in its place.
// With joins: the first frame kept of every chunk after the first.
std::vector<uint8_t> Encode(const Settings& s, const std::vector<int16_t>& pcm, unsigned instances,
                            ParallelEncoder::Layout layout, std::string* note = nullptr,
                            std::vector<int64_t>* joins = nullptr)
{
    ParallelEncoder enc([s](bool tag) { return Open(s, tag); }, instances, layout);
    std::vector<uint8_t> out, tag;
    EXPECT_TRUE(enc.Start());
    const size_t frames = pcm.size() / s.channels, piece = 4410;  // as the decoder delivers it
    for (size_t at = 0; at < frames; at += piece)
        EXPECT_TRUE(enc.Encode(pcm.data() + at * s.channels, std::min(piece, frames - at), out));
    EXPECT_TRUE(enc.Finish(out, tag));
    if (!tag.empty()) std::copy(tag.begin(), tag.end(), out.begin());
    if (note) *note = std::to_string(enc.Switches()[0]) + " switches settled, " + std::to_string(enc.Switches()[1]) + " in priming";
    if (joins) *joins = enc.Joins();
    if (note) {
        *note += "; chunks";
        int64_t at = 0;
        for (const int64_t j : enc.Joins()) *note += " " + std::to_string(j - at), at = j;
    }
    return out;
}

// Decodes with ffmpeg's strict checks and with mpg123, which must say nothing; the PCM ffmpeg made.
std::vector<int16_t> Decode(const std::vector<uint8_t>& mp3, const std::string& what)
{
    const fs::path file = fs::temp_directory_path() / ("parallel_encoder_" + std::to_string(getpid()) + ".mp3");
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(mp3.data()), static_cast<std::streamsize>(mp3.size()));
    mp3check::Decoded d = mp3check::Decode(file.string(), true);
    EXPECT_EQ("", d.ffmpeg) << what;
    EXPECT_EQ("", d.mpg123) << what;
    fs::remove(file);
    return std::move(d.pcm);
}

double Snr(const std::vector<int16_t>& ref, const std::vector<int16_t>& got, size_t from, size_t to)
{
    double s = 1e-9, e = 1e-9;
    for (size_t i = from; i < std::min({to, ref.size(), got.size()}); ++i) {
        s += double(ref[i]) * ref[i];
        e += (double(got[i]) - ref[i]) * (double(got[i]) - ref[i]);
    }
    return 10 * std::log10(s / e);
}

std::string Samples()
{
    // scripts/test-native.sh sets it (scripts/samples-dir.sh).
    const char* env = std::getenv("VELLUMO_SAMPLES");
    if (!env || !*env) ADD_FAILURE() << "VELLUMO_SAMPLES is not set: run through scripts/test-native.sh";
    return env ? env : "";
}

struct Case {
    const char* name;
    std::string source;  // ffmpeg input arguments
    Settings s;
};

class ParallelStreams : public testing::TestWithParam<Case> {};

TEST_P(ParallelStreams, DecodeCleanlyGaplessAndSoundAsGoodAsOneContext)
{
    const Case& c = GetParam();
    const Settings& s = c.s;
    const std::vector<int16_t> pcm = Pcm(c.source, s.rate, s.channels);
    ASSERT_GT(pcm.size(), size_t(20 * s.rate));
    // Short chunks, then longer ones, and the rest shared at the end: joins of every kind.
    const ParallelEncoder::Layout layout{48, 16, 8, 2, 360};
    std::string note;
    std::vector<int64_t> joins;
    const auto one = Encode(s, pcm, 1, layout), many = Encode(s, pcm, 4, layout, &note, &joins);
    ASSERT_NE(one, many) << "not cut";
    EXPECT_EQ("", mp3check::WalkFrames(many.data(), many.size(), {s.kbps, s.vbrMin, s.vbrMax}).fault) << c.name;
    const auto decodedOne = Decode(one, std::string(c.name) + " one"), decoded = Decode(many, c.name);
    const int out = s.outRate ? s.outRate : s.rate;
    // Gapless: the source's length, to the sample.
    EXPECT_EQ(decodedOne.size(), decoded.size()) << c.name;
    if (s.outRate) {  // resampled: one context's output is the reference
        EXPECT_GT(Snr(decodedOne, decoded, 0, decoded.size()), 20.0) << c.name;
        return;
    }
    EXPECT_EQ(pcm.size(), decoded.size()) << c.name;

    const double overall = Snr(pcm, decoded, 0, pcm.size()), overallOne = Snr(pcm, decodedOne, 0, pcm.size());
    EXPECT_GE(overall, overallOne - 0.2) << c.name;
    // Around every join: from the earliest switch to the latest, two frames either side.
    const size_t frame = (out >= 32000 ? 1152 : 576) * s.channels;
    double worst = -1e9;
    size_t worstAt = 0;
    for (size_t k = 1; k <= joins.size() && (joins[k - 1] + layout.window + 2) * frame < pcm.size(); ++k) {
        const size_t from = (joins[k - 1] - layout.prime - 2) * frame, to = (joins[k - 1] + layout.window + 2) * frame;
        const double loss = Snr(pcm, decodedOne, from, to) - Snr(pcm, decoded, from, to);
        if (loss > worst) worst = loss, worstAt = k;
    }
    std::printf("%-28s SNR %.2f dB (one context %.2f dB); worst join %zu: %.2f dB below one context (%s)\n", c.name,
                overall, overallOne, worstAt, worst, note.c_str());
    EXPECT_LE(worst, 3.0) << c.name << " join " << worstAt;
}

std::string Sine(int rate) { return "-f lavfi -i sine=f=440:d=24:sample_rate=" + std::to_string(rate); }
std::string Music() { return "-t 40 -i '" + Samples() + "/cook_44k_stereo__douidou75-pfm__music.rm'"; }

INSTANTIATE_TEST_SUITE_P(
    Matrix, ParallelStreams,
    testing::Values(Case{"sine_44k_stereo_cbr128", Sine(44100), {44100, 2, 128, 0, 0, false}},
                    Case{"sine_44k_stereo_cbr320_crc", Sine(44100), {44100, 2, 320, 0, 0, true}},
                    Case{"sine_44k_mono_vbr80_160_crc", Sine(44100), {44100, 1, 0, 80, 160, true}},
                    Case{"sine_22k_stereo_cbr128_crc", Sine(22050), {22050, 2, 128, 0, 0, true}},
                    Case{"sine_22k_mono_vbr80_160", Sine(22050), {22050, 1, 0, 80, 160, false}},
                    // Upsampled fourfold at the top bitrate: more MP3 than the input's length suggests.
                    Case{"sine_11k_mono_to_44k_cbr320", Sine(11025), {11025, 1, 320, 0, 0, false, 44100}},
                    Case{"music_44k_stereo_cbr128_crc", Music(), {44100, 2, 128, 0, 0, true}},
                    Case{"music_44k_stereo_vbr80_160", Music(), {44100, 2, 0, 80, 160, false}},
                    Case{"music_44k_stereo_cbr320", Music(), {44100, 2, 320, 0, 0, false}},
                    Case{"music_22k_mono_vbr80_160_crc", Music(), {22050, 1, 0, 80, 160, true}},
                    Case{"music_44k_to_22k_cbr128", Music(), {44100, 2, 128, 0, 0, false, 22050}},
                    // Four input samples an output frame's: chunks shortened to bound their PCM.
                    Case{"sine_176k_stereo_to_44k_cbr128", Sine(176400), {176400, 2, 128, 0, 0, false, 44100}}),
    [](const testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

size_t Threads() { return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/task"), {})); }

// The shared frame walker must see what it is there to see: each fault made
// in the second audio frame of a clean joined stream (CBR 128, CRC on).
TEST(FrameWalker, FindsEveryFaultMadeInACleanStream)
{
    const Settings s{44100, 2, 128, 0, 0, true};
    const std::vector<uint8_t> clean = Encode(s, Pcm(Sine(44100), 44100, 2), 4, {48, 16, 8, 2});
    const mp3check::BitrateRule rule{128, 0, 0};
    ASSERT_EQ("", mp3check::WalkFrames(clean.data(), clean.size(), rule).fault);
    auto size = [&](size_t at) { return size_t{144000} * 128 / 44100 + ((clean[at + 2] >> 1) & 1); };
    const size_t second = size(0) + size(size(0));
    const std::vector<std::pair<const char*, std::function<void(std::vector<uint8_t>&)>>> faults{
        {"CRC wrong", [&](auto& f) { f[second + 4] ^= 1; }},
        {"before the first audio frame", [&](auto& f) { f[second + 6] = 0xFF, f[second + 7] |= 0x80; }},
        {"overlaps", [&](auto& f) {  // main data from the first audio frame's second byte
             const size_t back = size(size(0)) - 4 - 2 - 32 - 1;
             f[second + 6] = static_cast<uint8_t>(back >> 1), f[second + 7] = static_cast<uint8_t>((f[second + 7] & 0x7F) | (back & 1) << 7);
         }},
        {"no layer III header", [&](auto& f) { f[second] = 0; }},
        {"cut short", [&](auto& f) { f.pop_back(); }},
        {"kbit/s, not 128", [&](auto& f) { f[second + 2] = static_cast<uint8_t>((f[second + 2] & 0x0F) | 0xA0); }},
        {"LAME tag CRC wrong", [&](auto& f) { f[4 + 32 + 16 + 50] ^= 1; }},  // in the seek table
        {"music CRC wrong", [&](auto& f) { f[second + 6 + 32 + 10] ^= 1; }}};
    for (const auto& [what, make] : faults) {
        std::vector<uint8_t> f = clean;
        make(f);
        EXPECT_NE(std::string::npos, mp3check::WalkFrames(f.data(), f.size(), rule).fault.find(what)) << what;
    }
}

TEST(ParallelEncoder, ShortStreamsOneInstanceAndUncutRatesGiveOneContextsBytes)
{
    // Short: the default layout does not cut it; one instance; 48 kHz to
    // 44.1 kHz: the rates meet on a frame boundary too rarely to cut.
    const struct { Settings s; int seconds; unsigned instances; } cases[] = {
        {{44100, 2, 128, 0, 0, true}, 3, 4}, {{44100, 2, 128, 0, 0, true}, 30, 1}, {{48000, 2, 128, 0, 0, true, 44100}, 30, 4}};
    for (const auto& [s, seconds, instances] : cases) {
        const std::vector<int16_t> pcm = Pcm(Sine(s.rate).replace(Sine(s.rate).find("d=24"), 4, "d=" + std::to_string(seconds)), s.rate, 2);
        // One LAME context, fed at once.
        lame_global_flags* gf = Open(s, true);
        std::vector<uint8_t> ref(pcm.size() * 2 + 16384), tag(2880);
        int n = lame_encode_buffer_interleaved(gf, const_cast<short*>(pcm.data()), int(pcm.size() / 2), ref.data(), int(ref.size()));
        n += lame_encode_flush(gf, ref.data() + n, int(ref.size()) - n);
        ref.resize(size_t(n));
        tag.resize(lame_get_lametag_frame(gf, tag.data(), tag.size()));
        std::copy(tag.begin(), tag.end(), ref.begin());
        lame_close(gf);
        EXPECT_EQ(ref, Encode(s, pcm, instances, ParallelEncoder::DefaultLayout())) << s.rate << " Hz, " << seconds << " s";
    }
}

TEST(ParallelEncoder, FailureOrCancelEndsTheStreamWithNoThreadLeft)
{
    const Settings s{44100, 2, 128, 0, 0, false};
    const std::vector<int16_t> pcm = Pcm(Sine(44100), 44100, 2);
    const size_t threads = Threads();
    for (const bool cancel : {false, true}) {
        int opened = 0;
        ParallelEncoder enc([&](bool tag) { return ++opened == 3 && !cancel ? nullptr : Open(s, tag); }, 4, {48, 8, 8, 2});
        ASSERT_TRUE(enc.Start());
        std::thread canceller([&] { if (cancel) enc.Cancel(); });
        if (cancel) canceller.join();
        std::vector<uint8_t> out, tag;
        bool ok = true;
        for (size_t at = 0; ok && at < pcm.size() / 2; at += 4410) ok = enc.Encode(pcm.data() + at * 2, std::min<size_t>(4410, pcm.size() / 2 - at), out);
        ok = ok && enc.Finish(out, tag);
        if (!cancel) canceller.join();
        EXPECT_FALSE(ok) << cancel;
        EXPECT_TRUE(tag.empty()) << cancel;
    }
    EXPECT_EQ(threads, Threads());
}

// The PCM the encoder holds is bounded in bytes, not in chunks: with every
// context stalled, a 352.8 kHz stream to 44.1 kHz on eight instances (eight
// input samples an output frame) is taken only until about 80 MB wait.
TEST(ParallelEncoder, PcmInFlightStaysBoundedWhateverTheRatesAndInstances)
{
    const Settings s{352800, 2, 128, 0, 0, false, 44100};
    std::mutex lock;
    std::condition_variable wake;
    bool go = false;
    ParallelEncoder enc([&](bool tag) {
        std::unique_lock<std::mutex> hold(lock);
        if (!tag) wake.wait(hold, [&] { return go; });
        return Open(s, tag);
    }, 8, ParallelEncoder::DefaultLayout());
    ASSERT_TRUE(enc.Start());
    constexpr size_t kPiece = 4410, kStop = 200u << 20;
    std::atomic<size_t> taken{0};
    std::thread feeder([&] {
        std::vector<int16_t> pcm(kPiece * 2);
        std::vector<uint8_t> out;
        for (size_t i = 0; taken < kStop; ++i) {
            for (size_t k = 0; k < kPiece; ++k) pcm[2 * k] = pcm[2 * k + 1] = int16_t(8000 * std::sin(0.0078 * double(i * kPiece + k)));
            if (!enc.Encode(pcm.data(), kPiece, out)) return;
            taken += pcm.size() * 2;
        }
    });
    for (size_t last = ~size_t{0}; taken != last && taken < kStop;) {
        last = taken;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    {
        std::lock_guard<std::mutex> hold(lock);
        go = true;
    }
    wake.notify_all();
    const size_t held = taken;
    enc.Cancel();
    feeder.join();
    EXPECT_LT(held, size_t{110} << 20) << held / (1 << 20) << " MiB taken";
}

}  // namespace
