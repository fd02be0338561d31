// The filter wrappers and FindPin, with test doubles in a real graph.
#include <gtest/gtest.h>

#include "com_ptr.h"
#include "fake_filters.h"
#include "filter_wrappers.h"
#include "find_pin.h"
#include "graph_runner.h"
#include "test_platform.h"

using corvane::ComPtr;
using corvane::FindPin;

namespace {

class FilterWrapperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lab_.Register());
        ASSERT_TRUE(runner_.Create());
        lab_.ClearLog();
    }

    std::string PinName(IPin* pin)
    {
        if (!pin) return "(none)";
        PIN_INFO info{};
        pin->QueryPinInfo(&info);
        if (info.pFilter) info.pFilter->Release();
        return fakes::Narrow(info.achName);
    }

    testing_support::ComApartment com_;
    fakes::FakeLab lab_;
    corvane::GraphRunner runner_;
};

TEST_F(FilterWrapperTest, FindPinMatchesThePatternCaseSensitively)
{
    lab_.Splitter().pins = {{L"Input", PINDIR_INPUT}, {L"AUDIO", PINDIR_OUTPUT}, {L"Video", PINDIR_OUTPUT},
                            {L"audio 1", PINDIR_OUTPUT}, {L"Audio", PINDIR_OUTPUT}};
    corvane::FilterWrapper splitter(runner_.Graph(), corvane::CLSID_RealSplitter, "Real Spliter");
    ASSERT_TRUE(splitter.Create());
    EXPECT_EQ("audio 1", PinName(splitter.OutputPin("udio")));
    EXPECT_EQ("AUDIO", PinName(splitter.OutputPin()));
    EXPECT_EQ("Input", PinName(splitter.InputPin()));
    EXPECT_EQ(nullptr, splitter.OutputPin("UDIO!"));
    EXPECT_EQ(nullptr, FindPin(nullptr, PINDIR_OUTPUT));

    lab_.Splitter().pins = {{L"Input", PINDIR_INPUT}, {L"AUDIO", PINDIR_OUTPUT}, {L"Audio", PINDIR_OUTPUT}};
    corvane::FilterWrapper second(runner_.Graph(), corvane::CLSID_RealSplitter, "Real Spliter 2");
    ASSERT_TRUE(second.Create());
    EXPECT_EQ("Audio", PinName(second.OutputPin("udio")));
}

TEST_F(FilterWrapperTest, FindPinOnAFilterWithoutPinsOfThatDirection)
{
    corvane::FileWriterFilter writer(runner_.Graph());
    ASSERT_TRUE(writer.Create());
    EXPECT_EQ(nullptr, writer.OutputPin());
    EXPECT_NE(nullptr, writer.InputPin());
}

TEST_F(FilterWrapperTest, FindPinHoldsNoReferenceOnThePin)
{
    corvane::FilterWrapper decoder(runner_.Graph(), corvane::CLSID_RealAudioDecoder, "Real ADecoder");
    ASSERT_TRUE(decoder.Create());
    IBaseFilter* filter = decoder.Filter();
    filter->AddRef();
    ULONG before = filter->Release();
    IPin* pin = decoder.OutputPin();
    ASSERT_NE(nullptr, pin);
    filter->AddRef();
    EXPECT_EQ(before, filter->Release());
}

TEST_F(FilterWrapperTest, CreateAddsTheFilterUnderItsNameAndReleaseRemovesIt)
{
    {
        corvane::FilterWrapper splitter(runner_.Graph(), corvane::CLSID_RealSplitter, "Real Spliter");
        ASSERT_TRUE(splitter.Create());
        ComPtr<IBaseFilter> found;
        EXPECT_EQ(S_OK, runner_.Graph()->FindFilterByName(L"Real Spliter", found.Put()));
        EXPECT_EQ(splitter.Filter(), found.Get());
        found.Reset();
        // A second Create on a held filter drops it and reports false.
        EXPECT_FALSE(splitter.Create());
        EXPECT_EQ(nullptr, splitter.Filter());
        EXPECT_EQ(0, lab_.LiveFilters());
    }
    std::vector<std::string> membership;
    for (const std::string& line : lab_.Entries())
        if (line.rfind("join", 0) == 0 || line.rfind("leave", 0) == 0) membership.push_back(line);
    EXPECT_EQ((std::vector<std::string>{"join splitter Real Spliter", "leave splitter"}), membership);
}

TEST_F(FilterWrapperTest, CreateFailures)
{
    corvane::FilterWrapper noGraph(nullptr, corvane::CLSID_RealSplitter, "Real Spliter");
    EXPECT_FALSE(noGraph.Create());
    EXPECT_TRUE(lab_.With("create").empty());

    lab_.Splitter().failCreate = true;
    corvane::FilterWrapper refused(runner_.Graph(), corvane::CLSID_RealSplitter, "Real Spliter");
    EXPECT_FALSE(refused.Create());
    EXPECT_EQ(nullptr, refused.Filter());

    lab_.Decoder().failJoin = true;
    corvane::FilterWrapper notAdded(runner_.Graph(), corvane::CLSID_RealAudioDecoder, "Real ADecoder");
    EXPECT_FALSE(notAdded.Create());
    EXPECT_EQ(nullptr, notAdded.Filter());
    EXPECT_EQ(0, lab_.LiveFilters());
}

TEST_F(FilterWrapperTest, MissingExtraInterfaceFailsCreateButLeavesTheFilterUntilRelease)
{
    lab_.Encoder().missingExtra = true;
    corvane::Mp3EncoderFilter encoder(runner_.Graph());
    EXPECT_FALSE(encoder.Create());
    ComPtr<IBaseFilter> found;
    EXPECT_EQ(S_OK, runner_.Graph()->FindFilterByName(L"Mpeg Layer-3 KQ", found.Put()));
    found.Reset();
    EXPECT_FALSE(encoder.SetBitrate(128));
    encoder.Release();
    EXPECT_NE(S_OK, runner_.Graph()->FindFilterByName(L"Mpeg Layer-3 KQ", found.Put()));
    EXPECT_EQ(0, lab_.LiveFilters());
}

TEST_F(FilterWrapperTest, FileWriterSetsOverwriteModeAndTheOutputFile)
{
    {
        corvane::FileWriterFilter writer(runner_.Graph());
        ASSERT_TRUE(writer.Create());
        // A name with a character outside ASCII, written in the ANSI code page.
        const wchar_t* wide = L"C:\\out dir\\\x00e9t\x00e9 \"1\".mp3";
        char narrow[MAX_PATH] = {};
        BOOL lossy = FALSE;
        WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof(narrow), nullptr, &lossy);
        if (lossy) GTEST_SKIP() << "the ANSI code page has no e-acute";
        writer.SetOutputFile(narrow);
        EXPECT_EQ((std::vector<std::string>{"mode 1"}), lab_.With("mode"));
        // The path arrives as UTF-16 from the ANSI code page, with the type GetCurFile gave.
        EXPECT_EQ((std::vector<std::string>{"setfile " + fakes::Narrow(wide) + " stream-type"}), lab_.With("setfile"));
    }
    EXPECT_EQ((std::vector<std::string>{"leave writer"}), lab_.With("leave"));
    EXPECT_EQ(0, lab_.LiveFilters());
}

TEST_F(FilterWrapperTest, FileWriterWithoutSecondSinkInterfaceStillWorks)
{
    lab_.Writer().missingSink2 = true;
    lab_.Writer().getCurFileFails = true;
    corvane::FileWriterFilter writer(runner_.Graph());
    EXPECT_TRUE(writer.Create());
    writer.SetOutputFile("C:\\out.mp3");
    EXPECT_TRUE(lab_.With("mode").empty());
    // No current file: the name is not set.
    EXPECT_TRUE(lab_.With("setfile").empty());

    lab_.Writer().missingExtra = true;
    corvane::FileWriterFilter noSink(runner_.Graph());
    EXPECT_FALSE(noSink.Create());
}

TEST_F(FilterWrapperTest, ReaderLoadsTheSourceWithoutMediaType)
{
    corvane::FileReaderFilter reader(runner_.Graph());
    reader.LoadSource("C:\\no graph yet.rm");  // no interface yet: nothing happens
    EXPECT_TRUE(lab_.With("load").empty());
    ASSERT_TRUE(reader.Create());
    reader.LoadSource("C:\\music\\song one.rm");
    EXPECT_EQ((std::vector<std::string>{"load C:\\music\\song one.rm"}), lab_.With("load"));

    // A path too long for the 260-character buffer arrives empty, not cut or unterminated.
    lab_.ClearLog();
    reader.LoadSource(std::string(400, 'a').c_str());
    EXPECT_EQ((std::vector<std::string>{"load "}), lab_.With("load"));
}

TEST_F(FilterWrapperTest, AcmWrapperAppliesThePcmFormat)
{
    corvane::AcmWrapperFilter acm(runner_.Graph());
    ASSERT_TRUE(acm.Create());
    EXPECT_FALSE(acm.ApplyFormat());  // output pin not looked up yet
    ASSERT_NE(nullptr, acm.OutputPin());
    EXPECT_TRUE(acm.ApplyFormat());
    acm.SetSampleRate(22050);
    acm.SetChannels(2);
    acm.SetBitsPerSample(8);
    EXPECT_TRUE(acm.ApplyFormat());
    EXPECT_EQ((std::vector<std::string>{"acm format 44100 1 16 2 88200 tag 1", "acm format 22050 2 8 2 44100 tag 1"}),
              lab_.With("acm format"));
}

TEST_F(FilterWrapperTest, AcmWrapperRefusesAFormatBlockTooSmallForPcm)
{
    lab_.Acm().offeredFormatSize = 8;
    corvane::AcmWrapperFilter acm(runner_.Graph());
    ASSERT_TRUE(acm.Create());
    ASSERT_NE(nullptr, acm.OutputPin());
    EXPECT_FALSE(acm.ApplyFormat());
    EXPECT_TRUE(lab_.With("acm format").empty());
}

TEST_F(FilterWrapperTest, AcmWrapperWithoutStreamConfig)
{
    lab_.Acm().missingExtra = true;
    corvane::AcmWrapperFilter acm(runner_.Graph());
    ASSERT_TRUE(acm.Create());
    EXPECT_NE(nullptr, acm.OutputPin());
    EXPECT_FALSE(acm.ApplyFormat());
}

TEST_F(FilterWrapperTest, WavWriterElapsedSecondsTruncate)
{
    corvane::WavDestFilter wav(runner_.Graph());
    EXPECT_EQ(0.0, wav.ElapsedSeconds());
    ASSERT_TRUE(wav.Create());
    lab_.WavDest().elapsed = 25999999;
    corvane::WavDestFilter second(runner_.Graph());
    ASSERT_TRUE(second.Create());
    EXPECT_EQ(2.0, second.ElapsedSeconds());
    lab_.WavDest().getTimeFails = true;
    corvane::WavDestFilter failing(runner_.Graph());
    ASSERT_TRUE(failing.Create());
    EXPECT_EQ(0.0, failing.ElapsedSeconds());
    second.SetWaveOutput(1);
    EXPECT_EQ((std::vector<std::string>{"wave 1"}), lab_.With("wave"));
}

TEST_F(FilterWrapperTest, EncoderChannelModeIsSignExtendedFromSixteenBits)
{
    corvane::Mp3EncoderFilter encoder(runner_.Graph());
    ASSERT_TRUE(encoder.Create());
    EXPECT_TRUE(encoder.SetChannelMode(0x1FFFF));
    EXPECT_TRUE(encoder.SetChannelMode(3));
    EXPECT_EQ((std::vector<std::string>{"encoder ChannelMode -1", "encoder ChannelMode 3"}),
              lab_.With("encoder ChannelMode"));
}

}  // namespace

namespace {

// The wrappers around the platform's own filters, without test doubles.
class SystemFilterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(runner_.Create()); }

    testing_support::ComApartment com_;
    corvane::GraphRunner runner_;
};

TEST_F(SystemFilterTest, AsyncReaderLoadsTheSourceThroughItsCurrentFile)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string pathText = std::string(temp) + "engine reader test.rm";
    const char* path = pathText.c_str();
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, ".RMF\0\0\0\x12", 8, &written, nullptr);
    CloseHandle(file);

    {
        corvane::FileReaderFilter reader(runner_.Graph());
        ASSERT_TRUE(reader.Create());
        reader.LoadSource(path);
        ComPtr<IFileSourceFilter> source;
        ASSERT_EQ(S_OK, ComPtr<IBaseFilter>(reader.Filter()).As(source));
        LPOLESTR current = nullptr;
        ASSERT_EQ(S_OK, source->GetCurFile(&current, nullptr));
        ASSERT_NE(nullptr, current);
        EXPECT_EQ(std::string(path), fakes::Narrow(current));
        CoTaskMemFree(current);
        EXPECT_NE(nullptr, reader.OutputPin());
    }
    DeleteFileA(path);
}

TEST_F(SystemFilterTest, FileWriterIsCreatedAndReleased)
{
    IGraphBuilder* graph = runner_.Graph();
    corvane::FileWriterFilter writer(graph);
    ASSERT_TRUE(writer.Create());
    EXPECT_NE(nullptr, writer.InputPin());
    writer.Release();
    ComPtr<IBaseFilter> found;
    EXPECT_NE(S_OK, graph->FindFilterByName(L"File Writer", found.Put()));
}

}  // namespace
