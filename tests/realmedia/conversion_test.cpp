// Whole conversions through the converter object with the pack's filters in
// the platform's filter graph manager: RealMedia in, MP3 or WAV out. Each
// finished output gets a ".expect" file beside it; check_outputs.py then
// checks the outputs with ffprobe and by their sound.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "atl_halvex.h"
#include "event_recorder.h"
#include "event_window.h"
#include "filter_ids.h"
#include "filter_pack.h"
#include "test_media.h"
#include "test_platform.h"

using corvane::AtlHalvex;
using realmedia_test::Media;

namespace {

constexpr DWORD kConversionTimeoutMs = 180000;

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : b_(SysAllocString(text.c_str())) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return b_; }

private:
    BSTR b_;
};

std::wstring OutputDir()
{
    std::wstring media = realmedia_test::MediaDir();
    std::wstring root = media.substr(0, media.find(L"\\test-media\\"));
    std::wstring dir = root + L"\\test-output";
    CreateDirectoryW(dir.c_str(), nullptr);
    dir += L"\\realmedia";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

// True when the pack DLL carries a filter class.
bool PackCarries(const CLSID& clsid)
{
    HMODULE module = testing_support::FilterPackModule();
    if (!module) return false;
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    IUnknown* factory = nullptr;
    if (!get || FAILED(get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return false;
    factory->Release();
    return true;
}

LONGLONG FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string Narrow(const std::wstring& w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
    return s;
}

// Converter parameters of one job.
struct Settings {
    const char* label;
    SHORT format;  // 0 WAV, 1 MP3
    SHORT mp3Frequency = 0, mp3Channels = 0, mp3Bitrate = 8;
    LONG mp3Vbr = 0;
    SHORT vbrMin = 3, vbrMax = 9;
    SHORT wavFrequency = 0, wavChannels = 2, wavBits = 1;
    // What the output must be.
    const char* codec;
    int rate, channels, bits;
    int minKbps = 0, maxKbps = 0;
};

const Settings kMp3Cbr128{"mp3_cbr128", 1, 0, 0, 8, 0, 3, 9, 0, 2, 1, "mp3", 44100, 2, 0, 120, 136};
const Settings kMp3Vbr{"mp3_vbr56-160", 1, 0, 0, 8, 1, 3, 9, 0, 2, 1, "mp3", 44100, 2, 0, 40, 170};
const Settings kMp3Mono22{"mp3_22k_mono", 1, 1, 3, 6, 0, 3, 9, 0, 2, 1, "mp3", 22050, 1, 0, 50, 62};
const Settings kWav16{"wav_44k_2ch_16", 0, 0, 0, 8, 0, 3, 9, 0, 2, 1, "pcm_s16le", 44100, 2, 16};
const Settings kWav22Mono16{"wav_22k_1ch_16", 0, 0, 0, 8, 0, 3, 9, 1, 1, 1, "pcm_s16le", 22050, 1, 16};
const Settings kWav8{"wav_22k_1ch_8", 0, 0, 0, 8, 0, 3, 9, 1, 1, 0, "pcm_u8", 22050, 1, 8};

class Conversion : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(com_.Result()));
        ASSERT_NE(nullptr, testing_support::FilterPackModule());
        converter_ = std::make_unique<AtlHalvex>();
        window_ = std::make_unique<corvane::GraphEventWindow>(*converter_);
        ASSERT_EQ(1u, converter_->Sinks().Add(&events_));
    }
    void TearDown() override
    {
        window_.reset();
        converter_.reset();
    }

    void SkipUnlessPackCarriesTheOutputFilters(SHORT format)
    {
        for (const CLSID& c : {corvane::CLSID_WavDest, CLSID_FileWriter, CLSID_ACMWrapper}) {
            if (!PackCarries(c) && (c != CLSID_FileWriter || testing_support::IsWine())) {
                GTEST_SKIP() << "the pack does not carry every output filter yet";
            }
        }
        if (format == 1 && !PackCarries(corvane::CLSID_Mp3Encoder)) GTEST_SKIP() << "no MP3 encoder in the pack yet";
    }

    LONG Load(const std::wstring& path)
    {
        LONG result = -1;
        EXPECT_EQ(S_OK, converter_->get_LoadFile(Bstr(path), &result));
        return result;
    }
    LONG Total()
    {
        LONG v = -1;
        converter_->get_TotalLength(&v);
        return v;
    }
    LONG Current()
    {
        LONG v = -1;
        converter_->get_CurrentLength(&v);
        return v;
    }

    bool PumpUntil(const std::function<bool()>& done, DWORD ms)
    {
        DWORD start = GetTickCount();
        while (!done()) {
            if (GetTickCount() - start > ms) return false;
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        return true;
    }

    void Apply(const Settings& s)
    {
        converter_->put_Format(s.format);
        converter_->put_MP3_Frequency(s.mp3Frequency);
        converter_->put_MP3_Channels(s.mp3Channels);
        converter_->put_MP3_Bitrate(s.mp3Bitrate);
        converter_->put_MP3_VBR(s.mp3Vbr);
        converter_->put_MP3_VBR_MinBitrate(s.vbrMin);
        converter_->put_MP3_VBR_MaxBitrate(s.vbrMax);
        converter_->put_WAV_Frequency(s.wavFrequency);
        converter_->put_WAV_Channels(s.wavChannels);
        converter_->put_WAV_Bits(s.wavBits);
    }

    // Converts source with settings; returns the output path, empty on failure.
    std::wstring Convert(const std::wstring& source, const std::wstring& stem, const Settings& s, double seconds,
                         double sine)
    {
        const std::wstring out = OutputDir() + L"\\" + stem + L"." + realmedia_test::Widen(s.label) +
                                 (s.format == 1 ? L".mp3" : L".wav");
        const std::wstring expect = out + L".expect";
        DeleteFileW(out.c_str());
        DeleteFileW(expect.c_str());

        Apply(s);
        EXPECT_EQ(0, Load(source));
        EXPECT_NEAR(seconds, Total(), 1.01) << "TotalLength after LoadFile";
        converter_->put_SaveFile(Bstr(out));
        events_.Clear();
        converter_->Convert();
        EXPECT_TRUE(events_.Names().empty()) << (events_.Names().empty() ? "" : events_.Names()[0]);
        EXPECT_NEAR(seconds, Total(), 1.01) << "TotalLength after Convert";
        converter_->Play();
        LONG progressSeen = 0;
        bool ended = PumpUntil(
            [&] {
                progressSeen = std::max(progressSeen, Current());
                return !events_.Events().empty();
            },
            kConversionTimeoutMs);
        EXPECT_TRUE(ended) << "no event within the time limit";
        std::vector<std::string> names = events_.Names();
        EXPECT_EQ(std::vector<std::string>{"finished"}, names);
        EXPECT_NEAR(seconds, Current(), 1.01 + seconds * 0.02) << "CurrentLength at the end";
        EXPECT_GT(FileSize(out), 0);
        if (!ended || names != std::vector<std::string>{"finished"}) return {};

        FILE* f = _wfopen(expect.c_str(), L"w");
        if (f) {
            std::fprintf(f,
                         "{\"file\": \"%s\", \"codec\": \"%s\", \"rate\": %d, \"channels\": %d, \"bits\": %d, "
                         "\"duration\": %.3f, \"sine\": %.1f, \"min_kbps\": %d, \"max_kbps\": %d}\n",
                         Narrow(stem + L"." + realmedia_test::Widen(s.label) + (s.format == 1 ? L".mp3" : L".wav")).c_str(),
                         s.codec, s.rate, s.channels, s.bits, seconds, sine, s.minKbps, s.maxKbps);
            std::fclose(f);
        }
        return out;
    }

    testing_support::ComApartment com_;
    testing_support::FilterPackRegistration pack_;
    std::unique_ptr<AtlHalvex> converter_;
    std::unique_ptr<corvane::GraphEventWindow> window_;
    fakes::EventRecorder events_;
};

// ---------------------------------------------------------------------------

struct Source {
    const wchar_t* name;
    const wchar_t* stem;
    double seconds;
    double sine;
};

const Source kGenerated[] = {
    {L"sine440_144.ra", L"ra144_ra", 5.0, 440},
    {L"sine440_144.rm", L"ra144_rm", 5.0, 440},
    {L"sine1000_ac3.rm", L"ac3_rm", 6.0, 1000},
    {L"relative.ram", L"ram_ac3", 6.0, 1000},
    {L"video_ac3.rmvb", L"rmvb_ac3", 4.0, 440},
};

const Source kSamples[] = {
    {L"cook_44k_stereo__douidou75-pfm__music.rm", L"cook44s", 204.33, 0},
    {L"cook_8k_mono+rv30__SymbianSource-sf.mw.mmappfw__Battle_160x100_30kbps.rm", L"cook8m_rv30", 119.54, 0},
    {L"raac_44k_stereo__SymbianSource-sf.app.files__Video.rm", L"raac44s", 30.04, 0},
    {L"ffmpegmux_dnet_32k_mono+rv10__sindresorhus-file-type__fixture-realmedia-video.rm", L"dnet32m_rv10", 5.62, 0},
    {L"cook_44k_mono__vstinner-hachoir__firstrun.rm", L"cook44m", 18.20, 0},
    // Bytes lost in the middle: all 401 frames' time comes out (ffmpeg alone stops at 13.4 s).
    {L"ra4-dnet_32k_stereo__SymbianSource-sf.os.mm__valid_casadual.ra", L"dnet32s_ra4", 19.25, 0},
    {L"surestream_cook_11k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_11kbps_Music.ra", L"surestream_music", 208.98,
     0},
    {L"surestream_sipr_8k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_5kbps_Voice.ra", L"surestream_voice", 208.98, 0},
};

class GeneratedConversion : public Conversion, public testing::WithParamInterface<std::tuple<Source, Settings>> {};

TEST_P(GeneratedConversion, ComesOutComplete)
{
    const auto& [src, settings] = GetParam();
    SkipUnlessPackCarriesTheOutputFilters(settings.format);
    if (IsSkipped()) return;
    Convert(Media(src.name), src.stem, settings, src.seconds, src.sine);
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, GeneratedConversion,
                         testing::Combine(testing::ValuesIn(kGenerated),
                                          testing::Values(kMp3Cbr128, kMp3Vbr, kMp3Mono22, kWav16, kWav8)));

class SampleConversion : public Conversion, public testing::WithParamInterface<std::tuple<Source, Settings>> {};

TEST_P(SampleConversion, ComesOutComplete)
{
    const auto& [src, settings] = GetParam();
    SkipUnlessPackCarriesTheOutputFilters(settings.format);
    if (IsSkipped()) return;
    Convert(Media(src.name), src.stem, settings, src.seconds, src.sine);
}

INSTANTIATE_TEST_SUITE_P(Encoders, SampleConversion,
                         testing::Combine(testing::ValuesIn(kSamples), testing::Values(kMp3Cbr128, kWav16)));

// Multi-rate files also in their best encoding's own format (22.05 kHz mono).
const Source kMultiRate[] = {
    {L"surestream_cook_11k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_11kbps_Music.ra", L"surestream_music", 208.98,
     0},
    {L"surestream_sipr_8k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_5kbps_Voice.ra", L"surestream_voice", 208.98, 0},
};

INSTANTIATE_TEST_SUITE_P(MultiRate, SampleConversion,
                         testing::Combine(testing::ValuesIn(kMultiRate), testing::Values(kMp3Mono22, kWav22Mono16)));

// ---------------------------------------------------------------------------
// Bad input

TEST_F(Conversion, SourcesThatCannotBeReadStopAtTheConnectionStage)
{
    for (const wchar_t* name :
         {L"empty.rm", L"random.rm", L"header_cut.rm", L"video_only.rm", L"no such file.rm", L"nowhere.ram",
          L"ram_rtsp_1line__exiftool-exiftool__Real.ram",
          L"ram_rtsp+file_mixed__SymbianSource-sf.mw.mmappfw__test_hybridlink.ram",
          L"damaged_headerless_dnet__SymbianSource-sf.os.mm__Corrupt.rm",
          L"damaged_headeronly_cook_44k_stereo__exiftool-exiftool__Real.rm"}) {
        events_.Clear();
        EXPECT_EQ(3, Load(Media(name))) << Narrow(name);
        EXPECT_EQ(std::vector<std::string>{"error 80003"}, events_.Names()) << Narrow(name);
        EXPECT_EQ(0, Total()) << Narrow(name);
    }
}

TEST_F(Conversion, LoadFileReportsTheLengthOfGoodSources)
{
    for (const auto& src : kGenerated) {
        EXPECT_EQ(0, Load(Media(src.name))) << Narrow(src.name);
        EXPECT_NEAR(src.seconds, Total(), 1.01) << Narrow(src.name);
    }
}

TEST_F(Conversion, DamagedSourcesEndWithAnEventAndNoHang)
{
    SkipUnlessPackCarriesTheOutputFilters(1);
    if (IsSkipped()) return;
    for (const wchar_t* name : {L"truncated.rm", L"damaged_headeronly_ra4-dnet_22k_mono__exiftool-exiftool__Real.ra",
                                L"damaged_truncated_cook_8k_mono+rv30__SymbianSource-sf.os.mm__valid_80X140.rm"}) {
        Apply(kMp3Cbr128);
        if (Load(Media(name)) != 0) continue;  // refused at loading: fine
        const std::wstring out = OutputDir() + L"\\damaged.mp3";
        converter_->put_SaveFile(Bstr(out));
        events_.Clear();
        converter_->Convert();
        converter_->Play();
        EXPECT_TRUE(PumpUntil([&] { return !events_.Events().empty(); }, 60000)) << Narrow(name);
        converter_->Stop();
    }
}

}  // namespace
