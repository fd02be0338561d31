// The MP3 encoder in a real graph: the converter's slot calls reach LAME (frame headers show bitrate,
// rate and channel mode), the Xing/Info frame is rewritten at the start, and the written time advances.
#include <algorithm>

#include "filter_test_support.h"
#include "process_counts.h"

namespace filter_tests {
namespace {

class Mp3Encoder : public PackTest {
protected:
    void SetUp() override
    {
        PackTest::SetUp();
        ASSERT_EQ(S_OK, encoder_.As(props_));
    }
    ComPtr<IWavDestControl> control_;
    ComPtr<IBaseFilter> encoder_ = Create(corvane::CLSID_Mp3Encoder), wav_ = WavDest(0, &control_);
    ComPtr<IBaseFilter> writer_ = Create(CLSID_FileWriter);
    ComPtr<IAudioEncoderProperties> props_;
};

TEST_F(Mp3Encoder, SlotsMatchTheConverterContract)
{
    // The converter calls the encoder by slot number: call the same way.
    using Setter = HRESULT(STDMETHODCALLTYPE*)(IAudioEncoderProperties*, DWORD);
    const struct {
        int slot;
        DWORD value;
        decltype(&IAudioEncoderProperties::get_Bitrate) get;
    } slots[] = {{6, 192, &IAudioEncoderProperties::get_Bitrate},     {8, 1, &IAudioEncoderProperties::get_Variable},
                 {10, 56, &IAudioEncoderProperties::get_VariableMin}, {12, 160, &IAudioEncoderProperties::get_VariableMax},
                 {20, 22050, &IAudioEncoderProperties::get_SampleRate}, {22, 3, &IAudioEncoderProperties::get_ChannelMode}};
    for (const auto& s : slots) {
        DWORD v = 0;
        EXPECT_EQ(S_OK, reinterpret_cast<Setter>((*reinterpret_cast<void***>(props_.Get()))[s.slot])(props_.Get(), s.value));
        EXPECT_EQ(S_OK, (props_.Get()->*s.get)(&v));
        EXPECT_EQ(s.value, v) << "slot " << s.slot;
    }
    // Values LAME cannot honour are refused rather than silently changed.
    EXPECT_EQ(E_INVALIDARG, props_->set_SampleRate(44000));
    EXPECT_EQ(E_INVALIDARG, props_->set_ChannelMode(4));
    EXPECT_EQ(E_INVALIDARG, props_->set_Bitrate(0));
}

struct Encoding {
    SineFormat in;
    const wchar_t* file;
    int rate, mode, vbr;      // settings; -1: left as they are
    int minKbps, maxKbps;     // the bitrate (CBR when equal; 0: left as it is) and what the frames show
    int version, outRate, outMode;
};
void PrintTo(const Encoding& e, std::ostream* os) { *os << testing_support::Narrow(e.file); }

class Mp3Encodes : public Mp3Encoder, public testing::WithParamInterface<Encoding> {};

TEST_P(Mp3Encodes, FramesShowTheSettingsAndTheTagFrameCountsThem)
{
    const Encoding& e = GetParam();
    const auto file = Write(e.in, {encoder_.Get(), wav_.Get(), writer_.Get()}, e.file, [&] {
        if (e.rate >= 0) { EXPECT_EQ(S_OK, props_->set_SampleRate(e.rate)); }
        if (e.mode >= 0) { EXPECT_EQ(S_OK, props_->set_ChannelMode(e.mode)); }
        if (e.vbr >= 0) { EXPECT_EQ(S_OK, props_->set_Variable(e.vbr)); }
        if (e.vbr == 1) { EXPECT_EQ(S_OK, props_->set_VariableMax(e.maxKbps)); }
        if (e.vbr == 1) { EXPECT_EQ(S_OK, props_->set_VariableMin(e.minKbps)); }
        if (e.vbr == 0) { EXPECT_EQ(S_OK, props_->set_Bitrate(e.minKbps)); }
    });
    const auto frames = Mp3Frames(file);
    ASSERT_GT(frames.size(), 10u);
    EXPECT_EQ(file.size(), frames.back().offset + frames.back().size);
    // The sound's frames (1152 samples each in MPEG-1, 576 in MPEG-2), the tag frame and LAME's padding.
    EXPECT_NEAR(static_cast<double>(e.in.frames) * e.outRate / e.in.rate / (e.version == 1 ? 1152 : 576) + 2,
                static_cast<double>(frames.size()), 4.0);
    for (size_t i = 1; i < frames.size(); ++i) {
        const Mp3Frame& f = frames[i];
        EXPECT_EQ((std::tuple{e.version, e.outRate, e.outMode}), std::tuple(f.version, f.rate, f.mode)) << i;
        if (e.maxKbps) { EXPECT_TRUE(f.kbps >= e.minKbps && f.kbps <= e.maxKbps) << i << ": " << f.kbps; }
    }
    // The Xing (VBR) or Info (CBR) tag in the first frame, after the side information.
    const size_t tag = 4 + (e.version == 1 ? (e.outMode == 3 ? 17 : 32) : (e.outMode == 3 ? 9 : 17));
    ASSERT_GT(file.size(), tag + 16);
    EXPECT_EQ(e.vbr == 1 ? "Xing" : "Info", std::string(file.begin() + tag, file.begin() + tag + 4));
    const uint32_t fields = e.vbr == 1 ? 7u : 3u;  // frames, bytes, and for VBR the seek table
    EXPECT_EQ(fields, Be32(file, tag + 4) & fields);
    EXPECT_EQ(frames.size() - 1, Be32(file, tag + 8));
    EXPECT_EQ(file.size(), Be32(file, tag + 12));

    const WAVEFORMATEX* wfx = firstOutputType_.WaveFormat();
    ASSERT_TRUE(wfx);
    EXPECT_EQ((std::tuple{WAVE_FORMAT_MPEGLAYER3, e.outRate, e.outMode == 3 ? 1 : 2}),
              std::tuple(int{wfx->wFormatTag}, static_cast<int>(wfx->nSamplesPerSec), int{wfx->nChannels}));
    LONGLONG time = 0;
    EXPECT_EQ(S_OK, control_->GetTime(&time));
    EXPECT_EQ(e.in.frames * 10000000 / e.in.rate, time);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, Mp3Encodes,
    testing::Values(
        Encoding{{44100, 2, 16, 1000.0, 0.5, 88200}, L"mp3-cbr128-44100-stereo.mp3", 44100, 0, 0, 128, 128, 1, 44100, 0},
        Encoding{{44100, 2, 16, 1000.0, 0.5, 132300}, L"mp3-vbr56-160-44100.mp3", 44100, 0, 1, 56, 160, 1, 44100, 0},
        // Long enough to be encoded on several cores and joined.
        Encoding{{44100, 2, 16, 1000.0, 0.5, 44100 * 25}, L"mp3-vbr56-160-joined.mp3", 44100, 0, 1, 56, 160, 1, 44100, 0},
        Encoding{{44100, 2, 16, 1000.0, 0.5, 220500}, L"mp3-cbr80-22050-mono.mp3", 22050, 3, 0, 80, 80, 2, 22050, 3},
        Encoding{{44100, 2, 16, 1000.0, 0.5, 22050}, L"mp3-joint.mp3", -1, 1, -1, 0, 0, 1, 44100, 1},
        // A mono source still makes stereo when asked; rate 0 keeps the source's.
        Encoding{{22050, 1, 16, 1000.0, 0.5, 22050}, L"mp3-mono-source-stereo.mp3", 0, 0, -1, 0, 0, 2, 22050, 0},
        // More than two channels are mixed down, to joint stereo by default.
        Encoding{{48000, 6, 16, 1000.0, 0.3, 144000}, L"mp3-6ch-downmix.mp3", -1, -1, -1, 0, 0, 1, 48000, 1}));

TEST_F(Mp3Encoder, WrittenTimeAdvancesDuringTheRun)
{
    std::vector<LONGLONG> seen;
    Write({44100, 2, 16, 1000.0, 0.5, 44100 * 60}, {encoder_.Get(), wav_.Get(), writer_.Get()}, L"mp3-progress.mp3", {},
          [&](long) { control_->GetTime(&seen.emplace_back()); });
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    // The encoder runs behind a queue: on a busy machine the source may see
    // only a few of its steps, but one at least before the end.
    EXPECT_GT(std::count_if(seen.begin(), seen.end(), [](LONGLONG t) { return t > 0 && t < 600000000; }), 0);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(600000000, seen.back());
}

TEST_F(Mp3Encoder, FlushAndStopWhileEncodingNeitherHangNorLeaveItsThread)
{
    // The encoder works on its own thread behind a queue: a flush or a stop in
    // the middle of the stream must empty the queue and end that thread.
    TestGraph g;
    auto source = ComPtr<IBaseFilter>::Attach(new SineSource({44100, 2, 16, 1000.0, 0.5, 44100 * 600}));
    ASSERT_EQ(S_OK, g.Chain({source.Get(), encoder_.Get(), wav_.Get(), writer_.Get()}, OutputPath(L"mp3-interrupted.mp3")));
    DWORD threads = 0;  // after the first round: the platform's graph keeps threads of its own
    ComPtr<IPin> input = PinOf(encoder_.Get(), PINDIR_INPUT);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(SUCCEEDED(g.control->Run()));
        Sleep(150 + 50 * round);
        if (round % 2) {
            EXPECT_EQ(S_OK, input->BeginFlush());
            EXPECT_EQ(S_OK, input->EndFlush());
        }
        const DWORD before = GetTickCount();
        EXPECT_EQ(S_OK, g.control->Stop());
        EXPECT_LT(GetTickCount() - before, 10000u);
        if (round == 0) threads = testing_support::MeasureProcess().threads;
    }
    EXPECT_EQ(0, g.QueuedAborts()) << "a flush or a stop is no failure";
    EXPECT_LE(testing_support::MeasureProcess().threads, threads);
}

}  // namespace
}  // namespace filter_tests
