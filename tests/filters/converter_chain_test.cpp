// The pack's filters driven the way the converter drives them: its filter
// wrappers, its connection order (parameters reach the ACM wrapper and the
// encoder between their input and output connections), its progress and
// duration queries. A sine source stands in for the RealAudio decoder.
#include <gtest/gtest.h>

#include "filter_test_support.h"
#include "filter_wrappers.h"

namespace filter_tests {
namespace {

std::string Ansi(const std::wstring& w)
{
    char buffer[MAX_PATH * 2] = {};
    WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, buffer, sizeof(buffer), nullptr, nullptr);
    return buffer;
}

class ConverterChain : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, pack_.Result());
        source_ = MakeSine({44100, 2, 16, 1000.0, 0.5, 88200});
        ASSERT_EQ(S_OK, g_.Add(source_.Get(), L"Real ADecoder"));
    }
    testing_support::ComApartment com_;
    testing_support::FilterPackRegistration pack_;
    TestGraph g_;
    ComPtr<IBaseFilter> source_;
};

TEST_F(ConverterChain, WavAtTwentyTwoKilohertzMonoEightBit)
{
    const std::wstring path = OutputPath(L"chain-22050-1-8.wav");
    corvane::FileWriterFilter writer(g_.graph.Get());
    ASSERT_TRUE(writer.Create());
    writer.SetOutputFile(Ansi(path).c_str());
    corvane::WavDestFilter wav(g_.graph.Get());
    ASSERT_TRUE(wav.Create());
    wav.SetWaveOutput(1);
    corvane::AcmWrapperFilter acm(g_.graph.Get());
    ASSERT_TRUE(acm.Create());

    ASSERT_EQ(S_OK, g_.graph->ConnectDirect(PinOf(source_.Get(), PINDIR_OUTPUT).Get(), acm.InputPin(), nullptr));
    IPin* current = acm.OutputPin();
    ASSERT_TRUE(current);
    acm.SetSampleRate(22050);
    acm.SetChannels(1);
    acm.SetBitsPerSample(8);
    ASSERT_TRUE(acm.ApplyFormat());
    ASSERT_EQ(S_OK, g_.graph->ConnectDirect(current, wav.InputPin(), nullptr));
    ASSERT_EQ(S_OK, g_.graph->ConnectDirect(wav.OutputPin(), writer.InputPin(), nullptr));

    LONGLONG duration = 0;
    EXPECT_EQ(S_OK, g_.seeking->GetDuration(&duration));
    EXPECT_EQ(20000000, duration);
    EXPECT_EQ(0.0, wav.ElapsedSeconds());
    ASSERT_TRUE(g_.RunToCompletion()) << std::hex << g_.runResult << " abort " << g_.abortCode;
    EXPECT_EQ(1, g_.completes);
    EXPECT_EQ(2.0, wav.ElapsedSeconds());

    const WavInfo w = ParseWav(ReadAll(path));
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(22050u, w.rate);
    EXPECT_EQ(1, w.channels);
    EXPECT_EQ(8, w.bits);
    EXPECT_NEAR(44100.0, static_cast<double>(w.dataSize), 50.0);
    EXPECT_NEAR(1000.0, ZeroCrossingFrequency(w.channel0, 22050), 2.0);
}

TEST_F(ConverterChain, Mp3VariableBitrateAtTwentyTwoKilohertzMono)
{
    const std::wstring path = OutputPath(L"chain-vbr-22050-mono.mp3");
    corvane::FileWriterFilter writer(g_.graph.Get());
    ASSERT_TRUE(writer.Create());
    writer.SetOutputFile(Ansi(path).c_str());
    corvane::WavDestFilter wav(g_.graph.Get());
    ASSERT_TRUE(wav.Create());
    wav.SetWaveOutput(1);
    corvane::AcmWrapperFilter acm(g_.graph.Get());
    ASSERT_TRUE(acm.Create());
    wav.SetWaveOutput(0);
    corvane::Mp3EncoderFilter encoder(g_.graph.Get());
    ASSERT_TRUE(encoder.Create());

    ASSERT_EQ(S_OK, g_.graph->ConnectDirect(PinOf(source_.Get(), PINDIR_OUTPUT).Get(), acm.InputPin(), nullptr));
    ASSERT_EQ(S_OK, g_.graph->ConnectDirect(acm.OutputPin(), encoder.InputPin(), nullptr));
    IPin* current = encoder.OutputPin();
    EXPECT_TRUE(encoder.SetSampleRate(22050));
    EXPECT_TRUE(encoder.SetChannelMode(3));
    EXPECT_TRUE(encoder.SetVariable(1));
    EXPECT_TRUE(encoder.SetVariableMax(160));
    EXPECT_TRUE(encoder.SetVariableMin(56));
    ASSERT_EQ(S_OK, g_.graph->ConnectDirect(current, wav.InputPin(), nullptr));
    ASSERT_EQ(S_OK, g_.graph->ConnectDirect(wav.OutputPin(), writer.InputPin(), nullptr));

    LONGLONG duration = 0;
    EXPECT_EQ(S_OK, g_.seeking->GetDuration(&duration));
    EXPECT_EQ(20000000, duration);
    ASSERT_TRUE(g_.RunToCompletion()) << std::hex << g_.runResult << " abort " << g_.abortCode;
    EXPECT_EQ(1, g_.completes);
    EXPECT_EQ(2.0, wav.ElapsedSeconds());

    const auto file = ReadAll(path);
    const auto frames = Mp3Frames(file);
    ASSERT_GT(frames.size(), 70u);
    EXPECT_EQ(file.size(), frames.back().offset + frames.back().size);
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_EQ(22050, frames[i].rate);
        EXPECT_EQ(3, frames[i].mode);
        EXPECT_GE(frames[i].kbps, 56);
        EXPECT_LE(frames[i].kbps, 160);
    }
    const size_t tag = frames[0].offset + 4 + 9;  // MPEG-2 mono side information
    EXPECT_EQ("Xing", std::string(file.begin() + tag, file.begin() + tag + 4));
}

}  // namespace
}  // namespace filter_tests
