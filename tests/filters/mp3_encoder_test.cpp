// The MP3 encoder in a real graph: the converter's slot calls reach LAME
// (frame headers show bitrate, rate and channel mode), the Xing/Info frame is
// rewritten at the start of the file, and times flow to the WAV writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "base/media_type.h"
#include "filter_interfaces.h"
#include "filter_test_support.h"

namespace filter_tests {
namespace {

// The converter calls the encoder by slot number: call the same way.
HRESULT CallSlot(IAudioEncoderProperties* props, int slot, DWORD value)
{
    using Setter = HRESULT(STDMETHODCALLTYPE*)(IAudioEncoderProperties*, DWORD);
    void** vtable = *reinterpret_cast<void***>(props);
    return reinterpret_cast<Setter>(vtable[slot])(props, value);
}

struct XingTag {
    bool found = false;
    bool vbr = false;  // "Xing" rather than "Info"
    uint32_t frames = 0, bytes = 0;
    bool hasToc = false;
};

XingTag ReadXing(const std::vector<uint8_t>& file, const Mp3Frame& first)
{
    XingTag tag;
    const size_t sideInfo = first.version == 1 ? (first.mode == 3 ? 17 : 32) : (first.mode == 3 ? 9 : 17);
    const size_t at = first.offset + 4 + sideInfo;
    if (at + 16 > file.size()) return tag;
    const std::string id(file.begin() + at, file.begin() + at + 4);
    if (id != "Xing" && id != "Info") return tag;
    tag.found = true;
    tag.vbr = id == "Xing";
    const uint32_t flags = Be32(file, at + 4);
    size_t field = at + 8;
    if (flags & 1) { tag.frames = Be32(file, field); field += 4; }
    if (flags & 2) { tag.bytes = Be32(file, field); field += 4; }
    tag.hasToc = (flags & 4) != 0;
    return tag;
}

class Mp3Encoder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, pack_.Result());
        encoder_ = Create(corvane::CLSID_Mp3Encoder);
        ASSERT_TRUE(encoder_);
        ASSERT_EQ(S_OK, encoder_.As(props_));
        wav_ = Create(corvane::CLSID_WavDest);
        writer_ = Create(CLSID_FileWriter);
        ASSERT_TRUE(wav_ && writer_);
        ASSERT_EQ(S_OK, wav_.As(wavControl_));
    }

    // Builds sine -> encoder; `configure` runs between the encoder's input
    // and output connections, as the converter does; then runs to the end.
    template <class Configure>
    std::vector<uint8_t> Encode(const SineFormat& in, const wchar_t* name, Configure&& configure)
    {
        TestGraph g;
        auto source = MakeSine(in);
        const std::wstring path = OutputPath(name);
        ComPtr<IFileSinkFilter2> sink;
        EXPECT_EQ(S_OK, writer_.As(sink));
        EXPECT_EQ(S_OK, sink->SetFileName(path.c_str(), nullptr));
        EXPECT_EQ(S_OK, sink->SetMode(AM_FILE_OVERWRITE));
        EXPECT_EQ(S_OK, wavControl_->SetWaveOutput(0));
        g.Add(source.Get(), L"Sine");
        g.Add(encoder_.Get(), L"Mpeg Layer-3 KQ");
        g.Add(wav_.Get(), L"TestFilter Class");
        g.Add(writer_.Get(), L"File Writer");
        EXPECT_EQ(S_OK, g.Connect(source.Get(), encoder_.Get()));
        configure();
        EXPECT_EQ(S_OK, g.Connect(encoder_.Get(), wav_.Get()));
        EXPECT_EQ(S_OK, g.Connect(wav_.Get(), writer_.Get()));
        AM_MEDIA_TYPE mt{};
        EXPECT_EQ(S_OK, PinOf(encoder_.Get(), PINDIR_OUTPUT)->ConnectionMediaType(&mt));
        outputType_.Set(mt);
        vellumo::filters::FreeMediaTypeContents(mt);
        EXPECT_TRUE(g.RunToCompletion());
        EXPECT_EQ(1, g.completes);
        return ReadAll(path);
    }

    testing_support::ComApartment com_;
    testing_support::FilterPackRegistration pack_;
    ComPtr<IBaseFilter> encoder_, wav_, writer_;
    ComPtr<IAudioEncoderProperties> props_;
    ComPtr<IWavDestControl> wavControl_;
    vellumo::filters::MediaType outputType_;
};

TEST_F(Mp3Encoder, SlotsMatchTheConverterContract)
{
    DWORD v = 0;
    EXPECT_EQ(S_OK, CallSlot(props_.Get(), 6, 192));
    EXPECT_EQ(S_OK, props_->get_Bitrate(&v));
    EXPECT_EQ(192u, v);
    EXPECT_EQ(S_OK, CallSlot(props_.Get(), 8, 1));
    EXPECT_EQ(S_OK, props_->get_Variable(&v));
    EXPECT_EQ(1u, v);
    EXPECT_EQ(S_OK, CallSlot(props_.Get(), 10, 56));
    EXPECT_EQ(S_OK, props_->get_VariableMin(&v));
    EXPECT_EQ(56u, v);
    EXPECT_EQ(S_OK, CallSlot(props_.Get(), 12, 160));
    EXPECT_EQ(S_OK, props_->get_VariableMax(&v));
    EXPECT_EQ(160u, v);
    EXPECT_EQ(S_OK, CallSlot(props_.Get(), 20, 22050));
    EXPECT_EQ(S_OK, props_->get_SampleRate(&v));
    EXPECT_EQ(22050u, v);
    EXPECT_EQ(S_OK, CallSlot(props_.Get(), 22, 3));
    EXPECT_EQ(S_OK, props_->get_ChannelMode(&v));
    EXPECT_EQ(3u, v);
    // Values LAME cannot honour are refused rather than silently changed.
    EXPECT_EQ(E_INVALIDARG, props_->set_SampleRate(44000));
    EXPECT_EQ(E_INVALIDARG, props_->set_ChannelMode(4));
    EXPECT_EQ(E_INVALIDARG, props_->set_Bitrate(0));
}

TEST_F(Mp3Encoder, ConstantBitrateStereo)
{
    const auto file = Encode({44100, 2, 16, 1000.0, 0.5, 88200}, L"mp3-cbr128-44100-stereo.mp3", [&] {
        EXPECT_EQ(S_OK, props_->set_SampleRate(44100));
        EXPECT_EQ(S_OK, props_->set_ChannelMode(0));
        EXPECT_EQ(S_OK, props_->set_Variable(0));
        EXPECT_EQ(S_OK, props_->set_Bitrate(128));
    });
    const auto frames = Mp3Frames(file);
    ASSERT_GT(frames.size(), 70u);
    EXPECT_EQ(file.size(), frames.back().offset + frames.back().size);
    for (const Mp3Frame& f : frames) {
        EXPECT_EQ(1, f.version);
        EXPECT_EQ(44100, f.rate);
        EXPECT_EQ(128, f.kbps);
        EXPECT_EQ(0, f.mode);
    }
    const XingTag tag = ReadXing(file, frames[0]);
    ASSERT_TRUE(tag.found);
    EXPECT_FALSE(tag.vbr);
    EXPECT_EQ(frames.size() - 1, tag.frames);
    EXPECT_EQ(file.size(), tag.bytes);

    const WAVEFORMATEX* wfx = outputType_.WaveFormat();
    ASSERT_TRUE(wfx);
    EXPECT_EQ(WAVE_FORMAT_MPEGLAYER3, wfx->wFormatTag);
    EXPECT_EQ(44100u, wfx->nSamplesPerSec);
    EXPECT_EQ(2, wfx->nChannels);
    EXPECT_EQ(16000u, wfx->nAvgBytesPerSec);

    LONGLONG time = 0;
    EXPECT_EQ(S_OK, wavControl_->GetTime(&time));
    EXPECT_EQ(20000000, time);
}

TEST_F(Mp3Encoder, VariableBitrateWithinTheLimitsAndXingHeader)
{
    const auto file = Encode({44100, 2, 16, 1000.0, 0.5, 44100 * 3}, L"mp3-vbr56-160-44100.mp3", [&] {
        EXPECT_EQ(S_OK, props_->set_SampleRate(44100));
        EXPECT_EQ(S_OK, props_->set_ChannelMode(0));
        EXPECT_EQ(S_OK, props_->set_Variable(1));
        EXPECT_EQ(S_OK, props_->set_VariableMax(160));
        EXPECT_EQ(S_OK, props_->set_VariableMin(56));
    });
    const auto frames = Mp3Frames(file);
    ASSERT_GT(frames.size(), 100u);
    EXPECT_EQ(file.size(), frames.back().offset + frames.back().size);
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_GE(frames[i].kbps, 56);
        EXPECT_LE(frames[i].kbps, 160);
    }
    const XingTag tag = ReadXing(file, frames[0]);
    ASSERT_TRUE(tag.found);
    EXPECT_TRUE(tag.vbr);
    EXPECT_TRUE(tag.hasToc);
    EXPECT_EQ(frames.size() - 1, tag.frames);
    EXPECT_EQ(file.size(), tag.bytes);
}

TEST_F(Mp3Encoder, ResamplesToMonoAtTwentyTwoKilohertz)
{
    const auto file = Encode({44100, 2, 16, 1000.0, 0.5, 44100 * 5}, L"mp3-cbr80-22050-mono.mp3", [&] {
        EXPECT_EQ(S_OK, props_->set_SampleRate(22050));
        EXPECT_EQ(S_OK, props_->set_ChannelMode(3));
        EXPECT_EQ(S_OK, props_->set_Variable(0));
        EXPECT_EQ(S_OK, props_->set_Bitrate(80));
    });
    const auto frames = Mp3Frames(file);
    ASSERT_GT(frames.size(), 180u);
    for (const Mp3Frame& f : frames) {
        EXPECT_EQ(2, f.version);
        EXPECT_EQ(22050, f.rate);
        EXPECT_EQ(80, f.kbps);
        EXPECT_EQ(3, f.mode);
    }
    // 5 s of MPEG-2 frames (576 samples each at 22050 Hz), plus the tag frame and LAME's padding.
    EXPECT_NEAR(5.0 * 22050 / 576, static_cast<double>(frames.size()), 4.0);
    const WAVEFORMATEX* wfx = outputType_.WaveFormat();
    ASSERT_TRUE(wfx);
    EXPECT_EQ(22050u, wfx->nSamplesPerSec);
    EXPECT_EQ(1, wfx->nChannels);
}

TEST_F(Mp3Encoder, ChannelModesReachTheFrameHeaders)
{
    const auto joint = Encode({44100, 2, 16, 1000.0, 0.5, 22050}, L"mp3-joint.mp3", [&] {
        EXPECT_EQ(S_OK, props_->set_ChannelMode(1));
    });
    auto frames = Mp3Frames(joint);
    ASSERT_GT(frames.size(), 10u);
    EXPECT_EQ(1, frames[5].mode);

    const auto mono16k = Encode({22050, 1, 16, 1000.0, 0.5, 22050}, L"mp3-mono-source-stereo.mp3", [&] {
        EXPECT_EQ(S_OK, props_->set_ChannelMode(0));
        EXPECT_EQ(S_OK, props_->set_SampleRate(0));
    });
    frames = Mp3Frames(mono16k);
    ASSERT_GT(frames.size(), 10u);
    EXPECT_EQ(0, frames[5].mode);  // a mono source still makes stereo when asked
    EXPECT_EQ(22050, frames[5].rate);
}

TEST_F(Mp3Encoder, WrittenTimeAdvancesDuringTheRun)
{
    TestGraph g;
    auto source = MakeSine({44100, 2, 16, 1000.0, 0.5, 44100 * 60});
    ComPtr<IFileSinkFilter2> sink;
    ASSERT_EQ(S_OK, writer_.As(sink));
    ASSERT_EQ(S_OK, sink->SetFileName(OutputPath(L"mp3-progress.mp3").c_str(), nullptr));
    ASSERT_EQ(S_OK, wavControl_->SetWaveOutput(0));
    g.Add(source.Get(), L"Sine");
    g.Add(encoder_.Get(), L"Mpeg Layer-3 KQ");
    g.Add(wav_.Get(), L"TestFilter Class");
    g.Add(writer_.Get(), L"File Writer");
    ASSERT_EQ(S_OK, g.Connect(source.Get(), encoder_.Get()));
    ASSERT_EQ(S_OK, g.Connect(encoder_.Get(), wav_.Get()));
    ASSERT_EQ(S_OK, g.Connect(wav_.Get(), writer_.Get()));
    ASSERT_EQ(S_OK, g.control->Run());
    std::vector<LONGLONG> seen;
    const DWORD deadline = GetTickCount() + 60000;
    bool complete = false;
    while (!complete && static_cast<LONG>(deadline - GetTickCount()) > 0) {
        LONGLONG t = 0;
        wavControl_->GetTime(&t);
        seen.push_back(t);
        long code;
        LONG_PTR p1, p2;
        if (g.events->GetEvent(&code, &p1, &p2, 10) == S_OK) {
            complete = code == EC_COMPLETE;
            g.events->FreeEventParams(code, p1, p2);
        }
    }
    ASSERT_TRUE(complete);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    const auto between = std::count_if(seen.begin(), seen.end(), [](LONGLONG t) { return t > 0 && t < 600000000; });
    EXPECT_GT(between, 2);
    LONGLONG t = 0;
    wavControl_->GetTime(&t);
    EXPECT_EQ(600000000, t);
}

TEST_F(Mp3Encoder, DownmixesMoreThanTwoChannels)
{
    const auto file = Encode({48000, 6, 16, 1000.0, 0.3, 144000}, L"mp3-6ch-downmix.mp3", [&] {
        DWORD v = 0;
        EXPECT_EQ(S_OK, props_->get_SourceChannels(&v));
        EXPECT_EQ(6u, v);
    });
    const auto frames = Mp3Frames(file);
    ASSERT_GT(frames.size(), 100u);
    EXPECT_EQ(48000, frames[5].rate);
    EXPECT_EQ(1, frames[5].mode);  // joint stereo by default for a multichannel source
}

TEST_F(Mp3Encoder, SettingsChangeTheOfferedOutputType)
{
    TestGraph g;
    auto source = MakeSine({48000, 2, 16, 1000.0, 0.5, 4800});
    g.Add(source.Get(), L"Sine");
    g.Add(encoder_.Get(), L"Mpeg Layer-3 KQ");
    ASSERT_EQ(S_OK, g.Connect(source.Get(), encoder_.Get()));
    DWORD v = 0;
    EXPECT_EQ(S_OK, props_->get_SourceSampleRate(&v));
    EXPECT_EQ(48000u, v);
    EXPECT_EQ(S_OK, props_->get_SourceChannels(&v));
    EXPECT_EQ(2u, v);
    EXPECT_EQ(S_OK, props_->set_SampleRate(11025));
    EXPECT_EQ(S_OK, props_->set_ChannelMode(3));
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, PinOf(encoder_.Get(), PINDIR_OUTPUT)->EnumMediaTypes(types.Put()));
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, types->Next(1, &mt, nullptr));
    const WAVEFORMATEX* wfx = vellumo::filters::WaveFormatOf(*mt);
    ASSERT_TRUE(wfx);
    EXPECT_EQ(11025u, wfx->nSamplesPerSec);
    EXPECT_EQ(1, wfx->nChannels);
    vellumo::filters::DeleteMediaType(mt);
}

TEST_F(Mp3Encoder, RefusesInputItCannotEncode)
{
    TestGraph g;
    auto eightBit = MakeSine({22050, 1, 8, 1000.0, 0.5, 100});
    g.Add(eightBit.Get(), L"Sine");
    g.Add(encoder_.Get(), L"Mpeg Layer-3 KQ");
    EXPECT_TRUE(FAILED(g.Connect(eightBit.Get(), encoder_.Get())));
    // No output type without an input.
    ComPtr<IPin> out = PinOf(encoder_.Get(), PINDIR_OUTPUT);
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, out->EnumMediaTypes(types.Put()));
    AM_MEDIA_TYPE* mt = nullptr;
    EXPECT_NE(S_OK, types->Next(1, &mt, nullptr));
}

}  // namespace
}  // namespace filter_tests
