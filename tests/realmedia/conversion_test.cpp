// Whole conversions through the converter object with the pack's filters:
// RealMedia in, MP3 or WAV out. Each finished output gets a ".expect" file
// beside it for check_outputs.py (ffprobe, the sound, the source's tags).
#include <gtest/gtest.h>

#include <cstdio>

#include "converter_session.h"
#include "filter_pack.h"
#include "test_media.h"
#include "test_platform.h"

using realmedia_test::Media;
using realmedia_test::Narrow;

namespace {

constexpr DWORD kConversionTimeoutMs = 180000;

// Converter parameters of one job, and what its output must be.
struct Settings {
    const char* label;
    SHORT format;  // 0 WAV, 1 MP3
    SHORT mp3Frequency, mp3Channels, mp3Bitrate;
    LONG mp3Vbr;
    SHORT wavFrequency, wavChannels, wavBits;
    const char* codec;
    int rate, channels, bits, minKbps, maxKbps;
};
void PrintTo(const Settings& s, std::ostream* os) { *os << s.label; }

const Settings kMp3Cbr128{"mp3_cbr128", 1, 0, 0, 8, 0, 0, 2, 1, "mp3", 44100, 2, 0, 120, 136};
const Settings kMp3Vbr{"mp3_vbr56-160", 1, 0, 0, 8, 1, 0, 2, 1, "mp3", 44100, 2, 0, 40, 170};
const Settings kMp3Mono22{"mp3_22k_mono", 1, 1, 3, 6, 0, 0, 2, 1, "mp3", 22050, 1, 0, 50, 62};
const Settings kWav16{"wav_44k_2ch_16", 0, 0, 0, 8, 0, 0, 2, 1, "pcm_s16le", 44100, 2, 16, 0, 0};
const Settings kWav22Mono16{"wav_22k_1ch_16", 0, 0, 0, 8, 0, 1, 1, 1, "pcm_s16le", 22050, 1, 16, 0, 0};
const Settings kWav8{"wav_22k_1ch_8", 0, 0, 0, 8, 0, 1, 1, 0, "pcm_u8", 22050, 1, 8, 0, 0};

struct Source {
    const wchar_t* name;
    const wchar_t* stem;
    double seconds;
    double sine = 0;            // Hz; 0: not a sine
    const char* tags = "{}";    // what ffprobe must read back (JSON, UTF-8)
    int codePage = 0;           // the tags' bytes: 0 UTF-8, else this ANSI code page (checked where it is the system's)
};
void PrintTo(const Source& s, std::ostream* os) { *os << Narrow(s.stem); }

class Conversion : public testing::TestWithParam<std::tuple<Source, Settings>> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(com_.Result()));
        ASSERT_EQ(S_OK, pack_.Result());
    }
    LONG Length(HRESULT (corvane::AtlHalvex::*get)(LONG*))
    {
        LONG v = -1;
        (session_.converter.get()->*get)(&v);
        return v;
    }

    testing_support::ComApartment com_;
    testing_support::FilterPackRegistration pack_;
    testing_support::ConverterSession session_;
};

TEST_P(Conversion, ComesOutComplete)
{
    const auto& [src, s] = GetParam();
    wchar_t codePage[8] = {};
    GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, codePage, 8);
    const int systemCodePage = _wtoi(codePage);
    // Runs in a process of another code page leave their outputs beside the usual ones.
    const std::wstring suffix = systemCodePage == 1252 ? L"" : L"_cp" + std::to_wstring(systemCodePage);
    const std::wstring file = std::wstring(src.stem) + suffix + L"." + realmedia_test::Widen(s.label) + (s.format ? L".mp3" : L".wav");
    const std::wstring out = realmedia_test::OutputDir(L"realmedia") + L"\\" + file;
    DeleteFileW(out.c_str());
    DeleteFileW((out + L".expect").c_str());
    corvane::AtlHalvex& c = *session_.converter;
    c.put_Format(s.format);
    c.put_MP3_Frequency(s.mp3Frequency);
    c.put_MP3_Channels(s.mp3Channels);
    c.put_MP3_Bitrate(s.mp3Bitrate);
    c.put_MP3_VBR(s.mp3Vbr);
    c.put_MP3_VBR_MinBitrate(3);
    c.put_MP3_VBR_MaxBitrate(9);
    c.put_WAV_Frequency(s.wavFrequency);
    c.put_WAV_Channels(s.wavChannels);
    c.put_WAV_Bits(s.wavBits);

    ASSERT_EQ(0, session_.Load(Media(src.name)));
    EXPECT_NEAR(src.seconds, Length(&corvane::AtlHalvex::get_TotalLength), 1.01) << "TotalLength after LoadFile";
    LONG progress = 0;
    const auto names = session_.Run(
        out, kConversionTimeoutMs,
        [&] { EXPECT_NEAR(src.seconds, Length(&corvane::AtlHalvex::get_TotalLength), 1.01) << "after Convert"; },
        [&] { progress = std::max(progress, Length(&corvane::AtlHalvex::get_CurrentLength)); });
    ASSERT_EQ(std::vector<std::string>{"finished"}, names);
    EXPECT_NEAR(src.seconds, progress, 1.01 + src.seconds * 0.02) << "CurrentLength at the end";

    FILE* f = _wfopen((out + L".expect").c_str(), L"w");
    ASSERT_TRUE(f);
    const bool tagsKnown = src.codePage == 0 || src.codePage == systemCodePage;
    std::fprintf(f,
                 "{\"file\": \"%s\", \"codec\": \"%s\", \"rate\": %d, \"channels\": %d, \"bits\": %d, "
                 "\"duration\": %.3f, \"sine\": %.1f, \"min_kbps\": %d, \"max_kbps\": %d%s%s}\n",
                 Narrow(file).c_str(), s.codec, s.rate, s.channels, s.bits, src.seconds, src.sine, s.minKbps, s.maxKbps,
                 tagsKnown ? ", \"tags\": " : "", tagsKnown ? src.tags : "");
    std::fclose(f);
}

const Source kGenerated[] = {
    {L"sine440_144.ra", L"ra144_ra", 5.0, 440},   {L"sine440_144.rm", L"ra144_rm", 5.0, 440},
    {L"sine1000_ac3.rm", L"ac3_rm", 6.0, 1000},   {L"relative.ram", L"ram_ac3", 6.0, 1000},
    {L"video_ac3.rmvb", L"rmvb_ac3", 4.0, 440},
};
INSTANTIATE_TEST_SUITE_P(Ffmpeg, Conversion,
                         testing::Combine(testing::ValuesIn(kGenerated),
                                          testing::Values(kMp3Cbr128, kMp3Vbr, kMp3Mono22, kWav16, kWav8)));

// Tags as ffmpeg's users write them (UTF-8) and as old Windows tools did
// (Windows-1252 bytes), those of an old bare RealAudio file reached through
// a reference file, and a damaged tag block; as ID3 tags of MP3 files (constant and variable
// bitrate, whose VBR header sits behind the tag) and INFO chunks of WAV files.
const Source kTagged[] = {
    {L"tags_ascii.rm", L"tags_ascii", 2.0, 1000,
     R"({"title": "Radio Play 7", "artist": "J. Smith", "copyright": "(c) 1999 Example Radio", "comment": "Episode one"})"},
    {L"tags_accents.rm", L"tags_accents", 2.0, 1000,
     u8R"({"title": "Crème brûlée", "artist": "Zoë Ångström", "copyright": "© 2001 Société Radio",
           "comment": "Über die Brücke — déjà vu, 3e partie"})"},
    {L"tags_chinese.rm", L"tags_chinese", 2.0, 1000,
     u8R"({"title": "广播剧：红楼梦", "artist": "曹雪芹", "copyright": "© 2003 中央人民广播电台", "comment": "第一集"})"},
    {L"tags_cp1252.rm", L"tags_cp1252", 2.0, 1000,
     u8R"({"title": "Café del Mar", "artist": "Hélène", "copyright": "© 2000 RealNetworks", "comment": "“quoted” € 5"})",
     1252},
    {L"tags_ra.ram", L"tags_ra", 19.25, 0,
     u8R"({"title": "The Little Dobe Casa", "copyright": "** institut für universelle zusammenhänge"})", 1252},
    // Lengths past the tag block: the tags are lost, the sound is not.
    {L"tags_damaged.rm", L"tags_damaged", 2.0, 1000},
};
INSTANTIATE_TEST_SUITE_P(Tags, Conversion,
                         testing::Combine(testing::ValuesIn(kTagged), testing::Values(kMp3Cbr128, kMp3Vbr, kWav16)));
// Chinese tags as Chinese Windows tools wrote them (GBK bytes): read right
// where the system's code page is 936 (ctest runs these once more so).
const Source kGbk{L"tags_gbk.rm", L"tags_gbk", 2.0, 1000,
                  u8R"({"title": "红楼梦", "artist": "曹雪芹", "copyright": "版权所有 2003 中央人民广播电台",
                        "comment": "第一集"})", 936};
INSTANTIATE_TEST_SUITE_P(TagsGbk, Conversion, testing::Combine(testing::Values(kGbk), testing::Values(kMp3Cbr128, kWav16)));

const Source kMultiRate[] = {
    {L"surestream_cook_11k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_11kbps_Music.ra", L"surestream_music", 208.98},
    {L"surestream_sipr_8k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_5kbps_Voice.ra", L"surestream_voice", 208.98},
};
const Source kSamples[] = {
    {L"cook_44k_stereo__douidou75-pfm__music.rm", L"cook44s", 204.33, 0,
     u8R"({"title": "Mixdown", "artist": "David Lubecki", "copyright": "©2003"})", 1252},
    {L"cook_8k_mono+rv30__SymbianSource-sf.mw.mmappfw__Battle_160x100_30kbps.rm", L"cook8m_rv30", 119.54},
    {L"raac_44k_stereo__SymbianSource-sf.app.files__Video.rm", L"raac44s", 30.04},
    {L"ffmpegmux_dnet_32k_mono+rv10__sindresorhus-file-type__fixture-realmedia-video.rm", L"dnet32m_rv10", 5.62},
    {L"cook_44k_mono__vstinner-hachoir__firstrun.rm", L"cook44m", 18.20, 0, u8R"({"copyright": "©2000 RealNetworks"})", 1252},
    // Bytes lost in the middle: all 401 frames' time comes out (ffmpeg alone stops at 13.4 s).
    {L"ra4-dnet_32k_stereo__SymbianSource-sf.os.mm__valid_casadual.ra", L"dnet32s_ra4", 19.25, 0,
     u8R"({"title": "The Little Dobe Casa", "copyright": "** institut für universelle zusammenhänge"})", 1252},
    kMultiRate[0],
    kMultiRate[1],
};
INSTANTIATE_TEST_SUITE_P(Encoders, Conversion,
                         testing::Combine(testing::ValuesIn(kSamples), testing::Values(kMp3Cbr128, kWav16)));
// Multi-rate files also in their best encoding's own format (22.05 kHz mono).
INSTANTIATE_TEST_SUITE_P(MultiRate, Conversion,
                         testing::Combine(testing::ValuesIn(kMultiRate), testing::Values(kMp3Mono22, kWav22Mono16)));

// The real cook sample with garbled packet payloads: all garbled, nothing
// decodes and the run fails, leaving no output; the second half garbled, it
// converts and says how much it could not decode; intact, nothing.
TEST_F(Conversion, GarbledSourcesSayWhatCouldNotBeDecodedAndAllGarbledFails)
{
    const struct {
        const wchar_t* name;
        const char* event;
        LONG minDamaged, maxDamaged;
    } cases[] = {{L"garbled_all.rm", "error 88890", 203, 205},
                 {L"garbled_half.rm", "finished", 90, 115},
                 {L"cook_44k_stereo__douidou75-pfm__music.rm", "finished", 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        const std::wstring out = realmedia_test::OutputDir(L"realmedia") + L"\\garbled.wav";
        session_.converter->put_Format(0);
        ASSERT_EQ(0, session_.Load(Media(c.name)));
        EXPECT_EQ(std::vector<std::string>{c.event}, session_.Run(out, kConversionTimeoutMs, {}, {}, 300));
        LONG damaged = -1;
        session_.converter->get_DamagedSeconds(&damaged);
        EXPECT_GE(damaged, c.minDamaged);
        EXPECT_LE(damaged, c.maxDamaged);
        EXPECT_EQ(c.minDamaged < 200, GetFileAttributesW(out.c_str()) != INVALID_FILE_ATTRIBUTES);
        DeleteFileW(out.c_str());
    }
}

TEST_F(Conversion, SourcesThatCannotBeReadStopAtTheConnectionStage)
{
    // Empty, random, cut in the header, missing, damaged headers, reference
    // files that lead to nothing local, and video without audio.
    for (const wchar_t* name :
         {L"empty.rm", L"random.rm", L"header_cut.rm", L"missing.rm", L"nowhere.ram", L"video_only.rm",
          L"damaged_headerless_dnet__SymbianSource-sf.os.mm__Corrupt.rm",
          L"damaged_headeronly_cook_44k_stereo__exiftool-exiftool__Real.rm",
          L"ram_rtsp_1line__exiftool-exiftool__Real.ram",
          L"ram_rtsp_6lines__SymbianSource-sf.mw.mmappfw__multiple_streaming_link.ram",
          L"ram_rtsp_blankline__SymbianSource-sf.mw.mmappfw__test_singleLink.ram",
          L"ram_rtsp+file_mixed__SymbianSource-sf.mw.mmappfw__test_hybridlink.ram",
          L"ram_file_2lines__SymbianSource-sf.app.videoplayer__test_multilocal.ram"}) {
        SCOPED_TRACE(Narrow(name));
        session_.events.Clear();
        EXPECT_EQ(3, session_.Load(Media(name)));
        EXPECT_EQ(std::vector<std::string>{"error 80003"}, session_.events.Names());
        EXPECT_EQ(0, Length(&corvane::AtlHalvex::get_TotalLength));
    }
}

}  // namespace
