// The WAV writer in a real graph: RIFF header bytes, odd sizes, pass-through,
// GetTime, seeking through it, and its byte-position output written by both
// the platform's File Writer and the pack's.
#include <gtest/gtest.h>

#include "filter_interfaces.h"
#include "filter_test_support.h"

namespace filter_tests {
namespace {

class WavDest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, pack_.Result());
        wav_ = Create(corvane::CLSID_WavDest);
        ASSERT_TRUE(wav_);
        ASSERT_EQ(S_OK, wav_.As(control_));
    }

    // sine -> WAV writer -> writer; returns the file's bytes.
    std::vector<uint8_t> Write(const SineFormat& in, LONG waveOutput, const wchar_t* name, IBaseFilter* writer = nullptr)
    {
        ComPtr<IBaseFilter> ownWriter;
        if (!writer) {
            ownWriter = Create(CLSID_FileWriter);
            writer = ownWriter.Get();
        }
        EXPECT_TRUE(writer);
        if (!writer) return {};
        TestGraph g;
        auto source = MakeSine(in);
        const std::wstring path = OutputPath(name);
        ComPtr<IFileSinkFilter> sink;
        EXPECT_EQ(S_OK, writer->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()));
        EXPECT_EQ(S_OK, sink->SetFileName(path.c_str(), nullptr));
        EXPECT_EQ(S_OK, control_->SetWaveOutput(waveOutput));
        g.Add(source.Get(), L"Sine");
        g.Add(wav_.Get(), L"TestFilter Class");
        g.Add(writer, L"File Writer");
        EXPECT_EQ(S_OK, g.Connect(source.Get(), wav_.Get()));
        EXPECT_EQ(S_OK, g.Connect(wav_.Get(), writer));
        AM_MEDIA_TYPE mt{};
        EXPECT_EQ(S_OK, PinOf(wav_.Get(), PINDIR_OUTPUT)->ConnectionMediaType(&mt));
        EXPECT_EQ(MEDIATYPE_Stream, mt.majortype);
        vellumo::filters::FreeMediaTypeContents(mt);
        EXPECT_TRUE(g.RunToCompletion());
        EXPECT_EQ(1, g.completes);
        return ReadAll(path);
    }

    testing_support::ComApartment com_;
    testing_support::FilterPackRegistration pack_;
    ComPtr<IBaseFilter> wav_;
    ComPtr<IWavDestControl> control_;
};

TEST_F(WavDest, WritesRiffHeaderWithFinalSizes)
{
    const auto bytes = Write({44100, 2, 16, 1000.0, 0.5, 88200}, 1, L"wavdest-44100-2-16.wav");
    ASSERT_EQ(44u + 88200u * 4, bytes.size());
    const std::vector<uint8_t> expected = {
        'R', 'I', 'F', 'F', 0x44, 0x62, 0x05, 0x00, 'W', 'A', 'V', 'E',   // 36 + 352800
        'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,                        // PCM, 2 channels
        0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0x00, 4, 0, 16, 0,              // 44100, 176400, 4, 16
        'd', 'a', 't', 'a', 0x20, 0x62, 0x05, 0x00};                        // 352800
    EXPECT_EQ(expected, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 44));
    const WavInfo w = ParseWav(bytes);
    ASSERT_TRUE(w.ok);
    EXPECT_NEAR(1000.0, ZeroCrossingFrequency(w.channel0, 44100), 1.0);

    LONGLONG time = 0;
    EXPECT_EQ(S_OK, control_->GetTime(&time));
    EXPECT_EQ(20000000, time);
}

TEST_F(WavDest, PadsOddDataAndCountsThePad)
{
    const auto bytes = Write({22050, 1, 8, 440.0, 0.5, 22051}, 1, L"wavdest-22050-1-8-odd.wav");
    ASSERT_EQ(44u + 22051u + 1u, bytes.size());
    const WavInfo w = ParseWav(bytes);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(22051u, w.dataSize);
    EXPECT_EQ(36u + 22051u + 1u, w.riffSize);
    EXPECT_EQ(8, w.bits);
    EXPECT_EQ(1, w.channels);
    EXPECT_EQ(22050u, w.byteRate);
    EXPECT_EQ(0, bytes.back());
}

TEST_F(WavDest, PassThroughWritesTheBytesUnchanged)
{
    const SineFormat in{8000, 1, 16, 500.0, 0.5, 8000};
    const auto bytes = Write(in, 0, L"wavdest-passthrough.raw");
    ASSERT_EQ(16000u, bytes.size());
    // The first samples of the sine, as the source made them.
    EXPECT_EQ(0, static_cast<int16_t>(Le16(bytes, 0)));
    EXPECT_EQ(static_cast<int16_t>(std::lround(32767.0 * 0.5 * std::sin(2 * 3.14159265358979323846 * 500 / 8000))),
              static_cast<int16_t>(Le16(bytes, 2)));
    LONGLONG time = 0;
    EXPECT_EQ(S_OK, control_->GetTime(&time));
    EXPECT_EQ(10000000, time);
}

TEST_F(WavDest, PlatformFileWriterWritesTheSameFile)
{
    // The byte-position contract with the system's own writer (created
    // outside the pack's in-process registration).
    testing_support::FilterPackRegistration none(std::vector<CLSID>{});
    ComPtr<IClassFactory> factory;
    ComPtr<IBaseFilter> writer;
    HMODULE qcap = LoadLibraryW(L"qcap.dll");  // the platform's File Writer
    ASSERT_TRUE(qcap);
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(qcap, "DllGetClassObject")));
    ASSERT_TRUE(get);
    ASSERT_EQ(S_OK, get(CLSID_FileWriter, IID_IClassFactory, factory.PutVoid()));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter, writer.PutVoid()));
    const auto bytes = Write({44100, 2, 16, 1000.0, 0.5, 44101}, 1, L"wavdest-platform-writer.wav", writer.Get());
    const WavInfo w = ParseWav(bytes);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(44101u * 4, w.dataSize);
    EXPECT_EQ(36u + 44101u * 4, w.riffSize);
    EXPECT_EQ(44u + 44101u * 4, bytes.size());
}

TEST_F(WavDest, ModeChangesOnlyWhileStopped)
{
    EXPECT_EQ(E_INVALIDARG, control_->SetWaveOutput(2));
    EXPECT_EQ(S_OK, control_->SetWaveOutput(0));
    EXPECT_EQ(S_OK, control_->SetWaveOutput(1));
    LONGLONG time = -1;
    EXPECT_EQ(S_OK, control_->GetTime(&time));
    EXPECT_EQ(0, time);
    EXPECT_EQ(E_POINTER, control_->GetTime(nullptr));
}

TEST_F(WavDest, SeekingAndDurationPassUpstream)
{
    TestGraph g;
    SineSource* sine = new SineSource({44100, 2, 16, 1000.0, 0.5, 44100 * 3});
    auto source = ComPtr<IBaseFilter>::Attach(sine);
    auto writer = Create(CLSID_FileWriter);
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, writer.As(sink));
    ASSERT_EQ(S_OK, sink->SetFileName(OutputPath(L"wavdest-seeking.wav").c_str(), nullptr));
    g.Add(source.Get(), L"Sine");
    g.Add(wav_.Get(), L"TestFilter Class");
    g.Add(writer.Get(), L"File Writer");
    ASSERT_EQ(S_OK, g.Connect(source.Get(), wav_.Get()));
    ASSERT_EQ(S_OK, g.Connect(wav_.Get(), writer.Get()));

    // Filter level (asked by Wine's graph), pin level (Windows' renderers
    // ask upstream through pins), and the graph's own answer.
    ComPtr<IMediaSeeking> filterSeeking;
    ASSERT_EQ(S_OK, wav_.As(filterSeeking));
    LONGLONG duration = 0;
    EXPECT_EQ(S_OK, filterSeeking->GetDuration(&duration));
    EXPECT_EQ(30000000, duration);
    ComPtr<IMediaSeeking> pinSeeking;
    ASSERT_EQ(S_OK, PinOf(wav_.Get(), PINDIR_OUTPUT).As(pinSeeking));
    duration = 0;
    EXPECT_EQ(S_OK, pinSeeking->GetDuration(&duration));
    EXPECT_EQ(30000000, duration);
    ComPtr<IMediaSeeking> writerSeeking;
    ASSERT_EQ(S_OK, writer.As(writerSeeking));
    duration = 0;
    EXPECT_EQ(S_OK, writerSeeking->GetDuration(&duration));
    EXPECT_EQ(30000000, duration);
    duration = 0;
    EXPECT_EQ(S_OK, g.seeking->GetDuration(&duration));
    EXPECT_EQ(30000000, duration);

    const long before = sine->SetPositionsCalls();
    LONGLONG zero = 0;
    EXPECT_EQ(S_OK, g.seeking->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning));
    EXPECT_GT(sine->SetPositionsCalls(), before);
}

}  // namespace
}  // namespace filter_tests
