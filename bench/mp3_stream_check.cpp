#include "mp3_stream_check.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace mp3check {

Walk WalkFrames(const uint8_t* f, size_t n, const BitrateRule& rule)
{
    static const int kbpsTable[2][16] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
                                         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
    Walk w;
    auto fail = [&](const std::string& what) {
        w.fault = "frame " + std::to_string(w.frames) + ": " + what;
        return w;
    };
    // CRC-16/ARC, a bit at a time, as the LAME tag uses it.
    auto arc = [](uint16_t crc, const uint8_t* p, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            crc ^= p[i];
            for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
        }
        return crc;
    };
    const uint8_t* lameTag = nullptr;  // in the first frame
    uint16_t music = 0;
    size_t at = 0, mdTotal = 0, mainEnd = 0;
    while (at + 4 <= n) {
        if (f[at] != 0xFF || (f[at + 1] & 0xE6) != 0xE2 || (f[at + 2] >> 4) == 0 || (f[at + 2] >> 4) == 15 ||
            ((f[at + 2] >> 2) & 3) == 3)
            return fail("no layer III header at byte " + std::to_string(at));
        const bool lsf = !(f[at + 1] & 8), prot = !(f[at + 1] & 1), mono = (f[at + 3] >> 6) == 3;
        const int kbps = kbpsTable[lsf][f[at + 2] >> 4];
        const int rates[3] = {44100, 48000, 32000};
        const int rate = rates[(f[at + 2] >> 2) & 3] >> (lsf ? 1 : 0);
        const size_t size = (lsf ? 72000 : 144000) * kbps / rate + ((f[at + 2] >> 1) & 1);
        const size_t side = lsf ? (mono ? 9 : 17) : (mono ? 17 : 32), head = 4 + (prot ? 2 : 0);
        if (at + size > n) return fail("cut short at the end of the stream");
        if (rule.vbrMax && w.frames > 0 && (kbps < rule.vbrMin || kbps > rule.vbrMax))
            return fail(std::to_string(kbps) + " kbit/s outside " + std::to_string(rule.vbrMin) + ".." + std::to_string(rule.vbrMax));
        if (!rule.vbrMax && kbps != rule.kbps) return fail(std::to_string(kbps) + " kbit/s, not " + std::to_string(rule.kbps));
        const uint8_t* si = &f[at + head];
        auto bits = [&](size_t pos, int count) {
            unsigned v = 0;
            for (int i = 0; i < count; ++i, ++pos) v = (v << 1) | ((si[pos / 8] >> (7 - pos % 8)) & 1);
            return v;
        };
        const unsigned back = bits(0, lsf ? 8 : 9);
        size_t main = 0;
        for (int g = 0; g < (lsf ? 1 : 2) * (mono ? 1 : 2); ++g)
            main += bits((lsf ? (mono ? 9 : 10) : (mono ? 18 : 20)) + g * (lsf ? 63 : 59), 12);
        main = (main + 7) / 8;
        if (w.frames > 0) {  // in bytes of the audio frames' data areas
            const size_t data = size - head - side;
            if (back > mdTotal) return fail("main_data_begin " + std::to_string(back) + " before the first audio frame");
            if (mdTotal - back < mainEnd) return fail("main data overlaps the previous frame's");
            if (main > back + data) return fail("main data past its own frame");
            mainEnd = mdTotal - back + main;
            mdTotal += data;
        }
        if (prot && w.frames > 0) {
            uint16_t crc = 0xFFFF;
            auto add = [&](uint8_t b) {
                for (int i = 7; i >= 0; --i) crc = ((crc >> 15) ^ ((b >> i) & 1)) ? (crc << 1) ^ 0x8005 : crc << 1;
            };
            add(f[at + 2]);
            add(f[at + 3]);
            for (size_t i = 0; i < side; ++i) add(f[at + 6 + i]);
            if (crc != ((f[at + 4] << 8) | f[at + 5])) return fail("CRC wrong");
        }
        if (w.frames == 0) {
            // The LAME tag sits where the Xing/Info header would be without a CRC.
            const uint8_t* x = &f[at + 4 + side];
            if (4 + side + 156 <= size && (!std::memcmp(x, "Xing", 4) || !std::memcmp(x, "Info", 4)) &&
                !std::memcmp(x + 120, "LAME", 4)) {
                lameTag = x;
                if (arc(0, &f[at], 4 + side + 154) != ((x[154] << 8) | x[155])) return fail("LAME tag CRC wrong");
            }
        } else if (lameTag) {
            music = arc(music, &f[at], size);
        }
        at += size;
        ++w.frames;
    }
    if (at != n) return fail(std::to_string(n - at) + " bytes after the last frame");
    if (lameTag && music != ((lameTag[152] << 8) | lameTag[153])) return fail("LAME tag's music CRC wrong");
    return w;
}

std::string Run(const std::string& cmd)
{
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[65536];
    for (size_t got; (got = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, got);
    pclose(p);
    return out;
}

std::string Quote(const std::string& path)
{
    std::string q = "'";
    for (const char c : path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Decoded Decode(const std::string& mp3File, bool keepPcm)
{
    namespace fs = std::filesystem;
    Decoded d;
    const std::string f = Quote(mp3File);
    const fs::path errors = fs::temp_directory_path() / ("mp3check_" + std::to_string(getpid()) + ".txt");
    d.channels = std::atoi(Run("ffprobe -v error -select_streams a:0 -show_entries stream=channels -of csv=p=0 " + f).c_str());
    const std::string cmd = "ffmpeg -nostdin -v error -err_detect crccheck+bitstream+buffer -i " + f + " -f s16le - 2>" + Quote(errors.string());
    if (FILE* p = popen(cmd.c_str(), "r")) {
        std::vector<char> buf(1 << 20);
        uint64_t bytes = 0;
        for (size_t got; (got = fread(buf.data(), 1, buf.size(), p)) > 0;) {
            if (keepPcm) {
                const size_t at = d.pcm.size();
                d.pcm.resize(at + got / 2);
                std::memcpy(d.pcm.data() + at, buf.data(), got / 2 * 2);
            }
            bytes += got;
        }
        pclose(p);
        d.frames = d.channels > 0 ? bytes / 2 / static_cast<uint64_t>(d.channels) : 0;
    }
    std::ifstream in(errors);
    d.ffmpeg.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    fs::remove(errors);
    d.mpg123 = Run("mpg123 -q -t " + f + " 2>&1");
    return d;
}

}  // namespace mp3check
