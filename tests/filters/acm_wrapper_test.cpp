// The platform's ACM wrapper with a PCM source, and the pack's stand-in:
// IAMStreamConfig, real resampling, sample sizes.
#include <gtest/gtest.h>

#include <cstdio>

#include "base/media_type.h"
#include "filter_interfaces.h"
#include "filter_test_support.h"

namespace filter_tests {
namespace {

using vellumo::filters::DeleteMediaType;
using vellumo::filters::MediaType;
using vellumo::filters::PcmMediaType;
using vellumo::filters::WaveFormatOf;

// What the platform's own ACM wrapper does with 16-bit PCM connected: the
// registration probe of the pack decides on the same observable behaviour.
TEST(SystemAcmWrapper, WithPcmSourceConnected)
{
    testing_support::ComApartment com;
    TestGraph g;
    auto source = MakeSine({});
    auto acm = Create(CLSID_ACMWrapper);
    ASSERT_TRUE(acm);
    ASSERT_EQ(S_OK, g.Add(source.Get(), L"Sine"));
    ASSERT_EQ(S_OK, g.Add(acm.Get(), L"ACM Wrapper"));
    const HRESULT connectHr = g.Connect(source.Get(), acm.Get());
    ComPtr<IPin> out = PinOf(acm.Get(), PINDIR_OUTPUT);
    ComPtr<IAMStreamConfig> config;
    const HRESULT configHr = out ? out.As(config) : E_POINTER;
    HRESULT setHr = E_NOINTERFACE;
    if (config) {
        MediaType wanted = PcmMediaType(22050, 1, 16);
        setHr = config->SetFormat(wanted.Get());
    }
    std::printf("platform ACM wrapper with PCM: connect 0x%08lx, output pin %s, IAMStreamConfig 0x%08lx, "
                "SetFormat 0x%08lx\n",
                static_cast<unsigned long>(connectHr), out ? "present" : "missing",
                static_cast<unsigned long>(configHr), static_cast<unsigned long>(setHr));
    const bool works = SUCCEEDED(connectHr) && SUCCEEDED(configHr) && SUCCEEDED(setHr);
    if (testing_support::IsWine()) {
        EXPECT_FALSE(works) << "Wine's ACM wrapper now converts PCM with a chosen format: the stand-in is no longer needed";
    } else {
        EXPECT_TRUE(works);
    }
}

class AcmStandIn : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, pack_.Result());
        acm_ = Create(CLSID_ACMWrapper);
        ASSERT_TRUE(acm_);
        CLSID clsid{};
        ComPtr<IPersist> persist;
        ASSERT_EQ(S_OK, acm_.As(persist));
        persist->GetClassID(&clsid);
        ASSERT_EQ(S_OK, PinOf(acm_.Get(), PINDIR_OUTPUT).As(config_));
    }

    // sine -> ACM (format) -> WAV writer -> File Writer; returns the file.
    WavInfo Convert(const SineFormat& in, const MediaType* format, const wchar_t* name)
    {
        TestGraph g;
        auto source = MakeSine(in);
        auto wav = Create(corvane::CLSID_WavDest);
        auto writer = Create(CLSID_FileWriter);
        EXPECT_TRUE(wav && writer);
        if (!wav || !writer) return {};
        const std::wstring path = OutputPath(name);
        ComPtr<IFileSinkFilter> sink;
        EXPECT_EQ(S_OK, writer.As(sink));
        EXPECT_EQ(S_OK, sink->SetFileName(path.c_str(), nullptr));
        g.Add(source.Get(), L"Sine");
        g.Add(acm_.Get(), L"ACM Wrapper KQ");
        g.Add(wav.Get(), L"TestFilter Class");
        g.Add(writer.Get(), L"File Writer");
        EXPECT_EQ(S_OK, g.Connect(source.Get(), acm_.Get()));
        if (format) {
            EXPECT_EQ(S_OK, config_->SetFormat(const_cast<AM_MEDIA_TYPE*>(format->Get())));
        }
        EXPECT_EQ(S_OK, g.Connect(acm_.Get(), wav.Get()));
        EXPECT_EQ(S_OK, g.Connect(wav.Get(), writer.Get()));
        EXPECT_TRUE(g.RunToCompletion());
        EXPECT_EQ(1, g.completes);
        return ParseWav(ReadAll(path));
    }

    testing_support::ComApartment com_;
    testing_support::FilterPackRegistration pack_;
    ComPtr<IBaseFilter> acm_;
    ComPtr<IAMStreamConfig> config_;
};

TEST_F(AcmStandIn, OffersTheInputFormatUntilOneIsChosen)
{
    AM_MEDIA_TYPE* mt = nullptr;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, config_->GetFormat(&mt));

    TestGraph g;
    auto source = MakeSine({48000, 2, 16});
    g.Add(source.Get(), L"Sine");
    g.Add(acm_.Get(), L"ACM Wrapper KQ");
    ASSERT_EQ(S_OK, g.Connect(source.Get(), acm_.Get()));
    ASSERT_EQ(S_OK, config_->GetFormat(&mt));
    const WAVEFORMATEX* wfx = WaveFormatOf(*mt);
    ASSERT_TRUE(wfx);
    EXPECT_EQ(48000u, wfx->nSamplesPerSec);
    EXPECT_EQ(2, wfx->nChannels);
    EXPECT_EQ(16, wfx->wBitsPerSample);

    // The converter's way: change the fields in place and set it back.
    auto* w = reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat);
    w->nSamplesPerSec = 22050;
    w->nChannels = 2;
    w->wBitsPerSample = 8;
    w->nBlockAlign = 2;
    w->nAvgBytesPerSec = 44100;
    EXPECT_EQ(S_OK, config_->SetFormat(mt));
    DeleteMediaType(mt);
    ASSERT_EQ(S_OK, config_->GetFormat(&mt));
    EXPECT_EQ(22050u, WaveFormatOf(*mt)->nSamplesPerSec);
    EXPECT_EQ(8, WaveFormatOf(*mt)->wBitsPerSample);

    // Inconsistent block alignment and unsupported sizes are refused.
    w = reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat);
    w->nBlockAlign = 3;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config_->SetFormat(mt));
    w->nBlockAlign = 6;
    w->wBitsPerSample = 24;
    w->nAvgBytesPerSec = 6 * 22050;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config_->SetFormat(mt));
    DeleteMediaType(mt);

    int count = 0, size = 0;
    EXPECT_EQ(S_OK, config_->GetNumberOfCapabilities(&count, &size));
    EXPECT_EQ(1, count);
    EXPECT_EQ(static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS)), size);
    AUDIO_STREAM_CONFIG_CAPS caps{};
    ASSERT_EQ(S_OK, config_->GetStreamCaps(0, &mt, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(MEDIATYPE_Audio, caps.guid);
    EXPECT_LE(caps.MinimumSampleFrequency, 11025u);
    EXPECT_GE(caps.MaximumSampleFrequency, 48000u);
    DeleteMediaType(mt);
}

TEST_F(AcmStandIn, ChoosingAFormatOnAConnectedOutputReconnectsIt)
{
    TestGraph g;
    auto source = MakeSine({44100, 2, 16});
    auto wav = Create(corvane::CLSID_WavDest);
    g.Add(source.Get(), L"Sine");
    g.Add(acm_.Get(), L"ACM Wrapper KQ");
    g.Add(wav.Get(), L"TestFilter Class");
    ASSERT_EQ(S_OK, g.Connect(source.Get(), acm_.Get()));
    ASSERT_EQ(S_OK, g.Connect(acm_.Get(), wav.Get()));
    MediaType format = PcmMediaType(11025, 1, 8);
    EXPECT_TRUE(SUCCEEDED(config_->SetFormat(format.Get())));
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(S_OK, PinOf(acm_.Get(), PINDIR_OUTPUT)->ConnectionMediaType(&mt));
    ASSERT_TRUE(WaveFormatOf(mt));
    EXPECT_EQ(11025u, WaveFormatOf(mt)->nSamplesPerSec);
    EXPECT_EQ(8, WaveFormatOf(mt)->wBitsPerSample);
    vellumo::filters::FreeMediaTypeContents(mt);
}

TEST_F(AcmStandIn, ResamplesToTheChosenRateAndChannels)
{
    const MediaType format = PcmMediaType(22050, 1, 16);
    const WavInfo w = Convert({44100, 2, 16, 1000.0, 0.5, 88200}, &format, L"acm-22050-mono-16.wav");
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(22050u, w.rate);
    EXPECT_EQ(1, w.channels);
    EXPECT_EQ(16, w.bits);
    EXPECT_NEAR(44100.0, static_cast<double>(w.channel0.size()), 50.0);
    EXPECT_NEAR(1000.0, ZeroCrossingFrequency(w.channel0, 22050), 2.0);
    EXPECT_NEAR(0.5 / std::sqrt(2.0), Rms(w.channel0, 1000), 0.02);
}

TEST_F(AcmStandIn, FiltersWhatTheNewRateCannotCarry)
{
    // 15 kHz does not fit under 11.025 kHz: a resampler removes it, while
    // dropping every other sample would fold it down to 7.05 kHz at full level.
    const MediaType format = PcmMediaType(22050, 1, 16);
    const WavInfo w = Convert({44100, 1, 16, 15000.0, 0.5, 44100}, &format, L"acm-15khz-to-22050.wav");
    ASSERT_TRUE(w.ok);
    EXPECT_LT(Rms(w.channel0, 1000), 0.02);
}

TEST_F(AcmStandIn, WritesEightBitStereo)
{
    const MediaType format = PcmMediaType(11025, 2, 8);
    const WavInfo w = Convert({22050, 1, 16, 440.0, 0.5, 22050}, &format, L"acm-11025-stereo-8.wav");
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(11025u, w.rate);
    EXPECT_EQ(2, w.channels);
    EXPECT_EQ(8, w.bits);
    EXPECT_EQ(2, w.blockAlign);
    EXPECT_NEAR(440.0, ZeroCrossingFrequency(w.channel0, 11025), 2.0);
}

TEST_F(AcmStandIn, PassesTheInputFormatWhenNoneIsChosen)
{
    const WavInfo w = Convert({44100, 2, 16, 1000.0, 0.5, 44100}, nullptr, L"acm-unchanged.wav");
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(44100u, w.rate);
    EXPECT_EQ(2, w.channels);
    EXPECT_NEAR(44100.0, static_cast<double>(w.channel0.size()), 20.0);
}

}  // namespace
}  // namespace filter_tests
