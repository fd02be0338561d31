// The graph runner and the filter wrappers in the platform's filter graph
// manager, with test doubles and with the platform's own reader and writer.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>

#include "com_ptr.h"
#include "fake_filters.h"
#include "filter_wrappers.h"
#include "graph_runner.h"
#include "test_platform.h"

using corvane::ComPtr;
using corvane::FilterWrapper;
using corvane::GraphObserver;
using corvane::GraphRunner;
using corvane::GraphSubject;

namespace {

class RecordingObserver : public GraphObserver {
public:
    void OnNotify(LONG code, GraphSubject* subject, LONG extra) override
    {
        codes.push_back(code);
        if (onNotify) onNotify(code);
        GraphObserver::OnNotify(code, subject, extra);
    }
    std::vector<LONG> codes;
    std::function<void(LONG)> onNotify;
};

class GraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lab_.Register());
        ASSERT_TRUE(runner_.Create());
        lab_.ClearLog();
    }
    static std::string PinName(IPin* pin)
    {
        if (!pin) return "(none)";
        PIN_INFO info{};
        pin->QueryPinInfo(&info);
        info.pFilter->Release();
        return fakes::Narrow(info.achName);
    }

    testing_support::ComApartment com_;
    fakes::FakeLab lab_;
    GraphRunner runner_;
};

TEST_F(GraphTest, AnObserverThatDestroysTheRunnerEndsTheDrain)
{
    // The runner lives in storage the test overwrites once it is destroyed,
    // so that any later use of it by the drain would fault.
    alignas(GraphRunner) unsigned char storage[sizeof(GraphRunner)];
    auto* runner = new (storage) GraphRunner;
    ASSERT_TRUE(runner->Create());
    RecordingObserver observer;
    runner->AttachObserver(&observer);
    // The first abort drains again from inside the observer; the second
    // destroys the runner, which must end both drains.
    observer.onNotify = [&](LONG code) {
        if (code != 88890) return;
        if (observer.codes.size() == 1) return runner->OnGraphEvent();
        runner->~GraphRunner();
        memset(storage, 0xAB, sizeof(storage));
    };
    ComPtr<IMediaEventSink> sink;
    ASSERT_EQ(S_OK, runner->Graph()->QueryInterface(IID_IMediaEventSink, sink.PutVoid()));
    for (int i = 0; i < 3; ++i) sink->Notify(EC_ERRORABORT, 0, 0);
    sink.Reset();
    runner->OnGraphEvent();
    // Two aborts, then the departure notice; the third was never fetched.
    EXPECT_EQ((std::vector<LONG>{88890, 88890, 0}), observer.codes);
    EXPECT_TRUE(observer.Subjects().empty());
}

// Stop succeeds only when the graph manager stopped the graph.
TEST_F(GraphTest, StopReportsAFilterThatRefusesToStop)
{
    for (HRESULT refusal : {S_OK, VFW_E_WRONG_STATE}) {
        lab_.Writer().failStop = refusal;
        FilterWrapper writer(runner_.Graph(), CLSID_FileWriter, "File Writer");
        ASSERT_TRUE(writer.Create());
        ASSERT_TRUE(runner_.Run());
        EXPECT_EQ(refusal == S_OK, runner_.Stop());
    }
}

TEST_F(GraphTest, FindPinMatchesThePatternCaseSensitively)
{
    lab_.Splitter().pins = {{L"Input", PINDIR_INPUT}, {L"AUDIO", PINDIR_OUTPUT}, {L"Video", PINDIR_OUTPUT},
                            {L"audio 1", PINDIR_OUTPUT}, {L"Audio", PINDIR_OUTPUT}};
    FilterWrapper splitter(runner_.Graph(), corvane::CLSID_RealSplitter, "Real Spliter");
    ASSERT_TRUE(splitter.Create());
    EXPECT_EQ("audio 1", PinName(splitter.OutputPin(L"udio")));
    EXPECT_EQ("AUDIO", PinName(splitter.OutputPin()));
    EXPECT_EQ("Input", PinName(splitter.InputPin()));
    EXPECT_EQ(nullptr, splitter.OutputPin(L"UDIO!"));
    corvane::FileWriterFilter writer(runner_.Graph());
    ASSERT_TRUE(writer.Create());
    EXPECT_EQ(nullptr, writer.OutputPin());
}

TEST_F(GraphTest, OptionalInterfacesOfTheOutputFiltersMayBeMissing)
{
    // A file writer without IFileSinkFilter2 and a current file: no mode, no name.
    lab_.Writer().oldWriter = true;
    corvane::FileWriterFilter writer(runner_.Graph());
    EXPECT_TRUE(writer.Create());
    writer.SetOutputFile(L"C:\\out.mp3");
    EXPECT_TRUE(lab_.With("mode").empty());
    EXPECT_TRUE(lab_.With("setfile").empty());

    // An ACM wrapper format block too small for PCM, or no IAMStreamConfig:
    // no format is set.
    lab_.Acm().offeredFormatSize = 8;
    corvane::AcmWrapperFilter small(runner_.Graph());
    ASSERT_TRUE(small.Create());
    EXPECT_FALSE(small.ApplyFormat());  // output pin not looked up yet
    ASSERT_NE(nullptr, small.OutputPin());
    EXPECT_FALSE(small.ApplyFormat());
    lab_.Acm().missingExtra = true;
    corvane::AcmWrapperFilter noConfig(runner_.Graph());
    ASSERT_TRUE(noConfig.Create());
    ASSERT_NE(nullptr, noConfig.OutputPin());
    EXPECT_FALSE(noConfig.ApplyFormat());
    EXPECT_TRUE(lab_.With("acm format").empty());
}

// The wrappers around the platform's own reader and writer, without doubles.
TEST(SystemFilterTest, AsyncReaderLoadsTheSourceAndFileWriterComesAndGoes)
{
    testing_support::ComApartment com;
    GraphRunner runner;
    ASSERT_TRUE(runner.Create());
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    // A name that no single ANSI code page spells.
    const std::wstring path = std::wstring(temp) + L"engine reader \u97f3\u4e50 \u041c\u0443\u0437 \u00f1.rm";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, ".RMF\0\0\0\x12", 8, &written, nullptr);
    CloseHandle(file);
    {
        corvane::FileReaderFilter reader(runner.Graph());
        ASSERT_TRUE(reader.Create());
        reader.LoadSource(path.c_str());
        ComPtr<IFileSourceFilter> source;
        ASSERT_EQ(S_OK, ComPtr<IBaseFilter>(reader.Filter()).As(source));
        LPOLESTR current = nullptr;
        ASSERT_EQ(S_OK, source->GetCurFile(&current, nullptr));
        EXPECT_STREQ(path.c_str(), current);
        CoTaskMemFree(current);
        EXPECT_NE(nullptr, reader.OutputPin());
    }
    DeleteFileW(path.c_str());

    corvane::FileWriterFilter writer(runner.Graph());
    ASSERT_TRUE(writer.Create());
    EXPECT_NE(nullptr, writer.InputPin());
    writer.Release();
    ComPtr<IBaseFilter> found;
    EXPECT_NE(S_OK, runner.Graph()->FindFilterByName(L"File Writer", found.Put()));
}

}  // namespace
