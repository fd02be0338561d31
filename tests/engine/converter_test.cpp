// The converter: members, pipelines, events and completion, with test-double
// filters in the platform's filter graph manager and a real window for the
// graph's notification message.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "atl_halvex.h"
#include "com_ptr.h"
#include "event_recorder.h"
#include "event_window.h"
#include "fake_filters.h"
#include "test_platform.h"

using corvane::AtlHalvex;
using corvane::ComPtr;
using Strings = std::vector<std::string>;

namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// A class object that refuses to create anything, to stand in for a filter
// graph manager that cannot be created.
class RefusingFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** out) override
    {
        if (out) *out = nullptr;
        return E_OUTOFMEMORY;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};
#pragma GCC diagnostic pop

class Bstr {
public:
    explicit Bstr(const wchar_t* text) : b_(text ? SysAllocString(text) : nullptr) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return b_; }

private:
    BSTR b_;
};

class ConverterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lab_.Register());
        converter_ = std::make_unique<AtlHalvex>();
        window_ = std::make_unique<corvane::GraphEventWindow>(*converter_);
        ASSERT_TRUE(IsWindow(window_->Handle())) << "CreateWindowEx failed: " << GetLastError();
        ASSERT_EQ(1u, converter_->Sinks().Add(&events_));
    }
    void TearDown() override
    {
        window_.reset();
        converter_.reset();
        EXPECT_EQ(0, lab_.LiveFilters());
        EXPECT_EQ(1, events_.refs);
    }

    LONG Load(const wchar_t* path = L"C:\\music\\song.rm")
    {
        LONG result = -1;
        EXPECT_EQ(S_OK, converter_->get_LoadFile(Bstr(path), &result));
        return result;
    }
    void Prepare(const wchar_t* output = L"C:\\out\\song.mp3")
    {
        converter_->put_SaveFile(Bstr(output));
        Load();
        lab_.ClearLog();
        events_.Clear();
    }
    Strings Convert()
    {
        events_.Clear();
        converter_->Convert();
        return events_.Names();
    }
    // Pumps messages until done() or the deadline.
    bool PumpUntil(const std::function<bool()>& done, DWORD ms = 5000)
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
    void PumpFor(DWORD ms)
    {
        PumpUntil([] { return false; }, ms);
    }
    ComPtr<IMediaEventSink> EventSink()
    {
        ComPtr<IMediaEventSink> sink;
        IFilterGraph* graph = lab_.LastGraph();
        if (graph) graph->QueryInterface(IID_IMediaEventSink, sink.PutVoid());
        return sink;
    }
    OAFilterState GraphState()
    {
        ComPtr<IMediaControl> control;
        IFilterGraph* graph = lab_.LastGraph();
        if (!graph || FAILED(graph->QueryInterface(IID_IMediaControl, control.PutVoid()))) return -1;
        OAFilterState state = -1;
        control->GetState(1000, &state);
        return state;
    }
    // EC_COMPLETE as the file writer (the graph's only renderer) reports it.
    void WriterCompletes()
    {
        ComPtr<IMediaEventSink> sink = EventSink();
        ASSERT_TRUE(sink);
        ASSERT_TRUE(SUCCEEDED(sink->Notify(EC_COMPLETE, S_OK, 0)));
    }

    testing_support::ComApartment com_;
    fakes::FakeLab lab_;
    fakes::EventRecorder events_;
    std::unique_ptr<AtlHalvex> converter_;
    std::unique_ptr<corvane::GraphEventWindow> window_;
};

// --- Properties ------------------------------------------------------------

TEST_F(ConverterTest, NewObjectReportsItsInitialValues)
{
    SHORT s = -1;
    LONG l = -1;
    converter_->get_Format(&s);             EXPECT_EQ(1, s);
    converter_->get_MP3_Frequency(&s);      EXPECT_EQ(0, s);
    converter_->get_MP3_Channels(&s);       EXPECT_EQ(0, s);
    converter_->get_MP3_Bitrate(&s);        EXPECT_EQ(8, s);
    converter_->get_MP3_VBR(&l);            EXPECT_EQ(0, l);
    converter_->get_MP3_VBR_MinBitrate(&s); EXPECT_EQ(3, s);
    converter_->get_MP3_VBR_MaxBitrate(&s); EXPECT_EQ(9, s);
    converter_->get_WAV_Frequency(&s);      EXPECT_EQ(0, s);
    converter_->get_WAV_Channels(&s);       EXPECT_EQ(2, s);
    converter_->get_WAV_Bits(&s);           EXPECT_EQ(1, s);
    l = -1;
    EXPECT_EQ(S_OK, converter_->get_TotalLength(&l));   EXPECT_EQ(0, l);
    l = -1;
    EXPECT_EQ(S_OK, converter_->get_CurrentLength(&l)); EXPECT_EQ(0, l);
    BSTR path = nullptr;
    EXPECT_EQ(S_OK, converter_->get_SaveFile(&path));
    ASSERT_NE(nullptr, path);
    EXPECT_EQ(0u, SysStringLen(path));
    SysFreeString(path);
    EXPECT_TRUE(lab_.Entries().empty());
}

TEST_F(ConverterTest, ParametersAreStoredAsWrittenWithoutValidation)
{
    converter_->put_Format(7);
    converter_->put_MP3_VBR(-5);
    converter_->put_WAV_Channels(-2);
    SHORT s = 0;
    LONG l = 0;
    converter_->get_Format(&s);       EXPECT_EQ(7, s);
    converter_->get_MP3_VBR(&l);      EXPECT_EQ(-5, l);
    converter_->get_WAV_Channels(&s); EXPECT_EQ(-2, s);
    EXPECT_TRUE(events_.Names().empty());
}

TEST_F(ConverterTest, SaveFileKeepsACopyAndNullStoresAnEmptyPath)
{
    {
        Bstr in(L"C:\\out dir\\caf\x00e9.mp3");
        EXPECT_EQ(S_OK, converter_->put_SaveFile(in));
    }
    BSTR path = nullptr;
    converter_->get_SaveFile(&path);
    EXPECT_STREQ(L"C:\\out dir\\caf\x00e9.mp3", path);
    SysFreeString(path);
    converter_->put_SaveFile(nullptr);
    converter_->get_SaveFile(&path);
    EXPECT_EQ(0u, SysStringLen(path));
    SysFreeString(path);
    EXPECT_TRUE(lab_.Entries().empty());  // no file touched, no filter made
}

// --- LoadFile --------------------------------------------------------------

TEST_F(ConverterTest, LoadFileBuildsTheSourceChainOnly)
{
    EXPECT_EQ(0, Load(L"C:\\music\\my song.rm"));
    EXPECT_TRUE(events_.Names().empty());
    EXPECT_EQ((Strings{"create reader", "create splitter", "create decoder"}), lab_.With("create"));
    EXPECT_EQ((Strings{"join reader File Reader", "join splitter Real Spliter", "join decoder Real ADecoder"}),
              lab_.With("join"));
    EXPECT_EQ((Strings{"load C:\\music\\my song.rm"}), lab_.With("load"));
    EXPECT_EQ((Strings{"connect reader:Output -> splitter:Input", "connect splitter:Audio -> decoder:In"}),
              lab_.With("connect"));
    LONG l = 0;
    converter_->get_TotalLength(&l);
    EXPECT_EQ(59, l);  // 59.9 s
    converter_->get_CurrentLength(&l);
    EXPECT_EQ(0, l);
}

TEST_F(ConverterTest, PathsReachTheFiltersThroughTheAnsiCodePage)
{
    const wchar_t* source = L"C:\\My Music\\caf\x00e9 'live' \"1\".rm";
    const wchar_t* output = L"D:\\out put\\caf\x00e9 'live' \"1\".mp3";
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, source, -1, nullptr, 0, nullptr, &lossy);
    if (lossy) GTEST_SKIP() << "the ANSI code page has no e-acute";
    converter_->put_SaveFile(Bstr(output));
    EXPECT_EQ(0, Load(source));
    converter_->Convert();
    EXPECT_EQ((Strings{"load " + fakes::Narrow(source), "load " + fakes::Narrow(source)}), lab_.With("load"));
    EXPECT_EQ((Strings{"setfile " + fakes::Narrow(output) + " stream-type"}), lab_.With("setfile"));
    EXPECT_TRUE(events_.Names().empty());
}

struct LoadCase {
    const char* name;
    std::function<void(fakes::FakeLab&)> setup;
    LONG result;
    Strings events;
};

TEST_F(ConverterTest, LoadFileReportsTheFailingStage)
{
    const LoadCase cases[] = {
        {"reader refused", [](fakes::FakeLab& l) { l.Reader().failCreate = true; }, 1, {"error 80001"}},
        {"reader not added", [](fakes::FakeLab& l) { l.Reader().failJoin = true; }, 1, {"error 80001"}},
        {"reader without IFileSourceFilter", [](fakes::FakeLab& l) { l.Reader().missingExtra = true; }, 1,
         {"error 80001"}},
        {"splitter refused", [](fakes::FakeLab& l) { l.Splitter().failCreate = true; }, 2, {"error 80002"}},
        {"decoder not added", [](fakes::FakeLab& l) { l.Decoder().failJoin = true; }, 2, {"error 80002"}},
        {"splitter refuses the reader",
         [](fakes::FakeLab& l) { l.Splitter().pins[0].refuseConnection = true; }, 3, {"error 80003"}},
        {"no audio output",
         [](fakes::FakeLab& l) { l.Splitter().pins = {{L"Input", PINDIR_INPUT}, {L"AUDIO", PINDIR_OUTPUT}}; }, 3,
         {"error 80003"}},
        {"decoder refuses the audio",
         [](fakes::FakeLab& l) { l.Decoder().pins[0].refuseConnection = true; }, 3, {"error 80003"}},
        {"reader without output pin", [](fakes::FakeLab& l) { l.Reader().pins.clear(); }, 3, {"error 80003"}},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.name);
        lab_.ResetSetups();
        c.setup(lab_);
        events_.Clear();
        EXPECT_EQ(c.result, Load());
        EXPECT_EQ(c.events, events_.Names());
    }
}

TEST_F(ConverterTest, NoFilterGraphMeansError80000AndAnUnwrittenResult)
{
    RefusingFactory refusing;
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, CoRegisterClassObject(CLSID_FilterGraph, &refusing, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                          &cookie));
    LONG result = 1234;
    converter_->get_LoadFile(Bstr(L"C:\\a.rm"), &result);
    EXPECT_EQ(1234, result);
    EXPECT_EQ((Strings{"error 80000"}), events_.Names());
    EXPECT_EQ((Strings{"error 80000"}), Convert());
    converter_->Play();
    EXPECT_EQ((Strings{"error 80000"}), events_.Names());
    converter_->Stop();  // no graph: no onStopped
    EXPECT_EQ((Strings{"error 80000"}), events_.Names());
    CoRevokeClassObject(cookie);
    EXPECT_TRUE(lab_.Entries().empty());
}

// --- Convert ---------------------------------------------------------------

TEST_F(ConverterTest, Mp3ConversionBuildsSevenFiltersInOrder)
{
    Prepare(L"C:\\out\\my song.mp3");
    EXPECT_TRUE(Convert().empty());
    EXPECT_EQ((Strings{"create reader", "create splitter", "create decoder", "create writer", "create wavdest",
                       "create acm", "create encoder"}),
              lab_.With("create"));
    EXPECT_EQ((Strings{"connect reader:Output -> splitter:Input", "connect splitter:Audio -> decoder:In",
                       "connect decoder:Out -> acm:Input", "connect acm:Output -> encoder:In",
                       "connect encoder:Out -> wavdest:In", "connect wavdest:Out -> writer:in"}),
              lab_.With("connect"));
    EXPECT_EQ((Strings{"load C:\\music\\song.rm"}), lab_.With("load"));
    EXPECT_EQ((Strings{"setfile C:\\out\\my song.mp3 stream-type"}), lab_.With("setfile"));
    EXPECT_EQ((Strings{"mode 1"}), lab_.With("mode"));
    EXPECT_EQ((Strings{"wave 1", "wave 0"}), lab_.With("wave"));
    // Default parameters; the ACM wrapper keeps its offered format.
    EXPECT_EQ((Strings{"encoder SampleRate 44100", "encoder ChannelMode 0", "encoder Variable 0",
                       "encoder Bitrate 128"}),
              lab_.With("encoder"));
    EXPECT_TRUE(lab_.With("acm format").empty());

    // The settings reach the encoder after its input and before its output is connected.
    const Strings& log = lab_.Entries();
    auto at = [&](const std::string& line) { return std::find(log.begin(), log.end(), line) - log.begin(); };
    EXPECT_LT(at("connect acm:Output -> encoder:In"), at("encoder SampleRate 44100"));
    EXPECT_LT(at("encoder Bitrate 128"), at("connect encoder:Out -> wavdest:In"));
}

TEST_F(ConverterTest, WavConversionNeverCreatesTheEncoder)
{
    lab_.Encoder().failCreate = true;  // would raise 80005 if it were asked for
    converter_->put_Format(0);
    converter_->put_WAV_Frequency(1);
    converter_->put_WAV_Channels(1);
    converter_->put_WAV_Bits(0);
    Prepare(L"C:\\out\\song.wav");
    EXPECT_TRUE(Convert().empty());
    EXPECT_TRUE(lab_.With("create encoder").empty());
    EXPECT_TRUE(lab_.With("refuse").empty());
    EXPECT_EQ((Strings{"wave 1"}), lab_.With("wave"));
    EXPECT_EQ((Strings{"acm format 22050 1 8 1 22050 tag 1"}), lab_.With("acm format"));
    EXPECT_EQ((Strings{"connect reader:Output -> splitter:Input", "connect splitter:Audio -> decoder:In",
                       "connect decoder:Out -> acm:Input", "connect acm:Output -> wavdest:In",
                       "connect wavdest:Out -> writer:in"}),
              lab_.With("connect"));
    const Strings& log = lab_.Entries();
    auto at = [&](const std::string& line) { return std::find(log.begin(), log.end(), line) - log.begin(); };
    EXPECT_LT(at("connect decoder:Out -> acm:Input"), at("acm format 22050 1 8 1 22050 tag 1"));
    EXPECT_LT(at("acm format 22050 1 8 1 22050 tag 1"), at("connect acm:Output -> wavdest:In"));
}

TEST_F(ConverterTest, DefaultWavFormatIs44100StereoSixteenBits)
{
    converter_->put_Format(0);
    Prepare();
    EXPECT_TRUE(Convert().empty());
    EXPECT_EQ((Strings{"acm format 44100 2 16 4 176400 tag 1"}), lab_.With("acm format"));
}

struct ConvertCase {
    const char* name;
    std::function<void(fakes::FakeLab&)> setup;
    Strings events;
};

TEST_F(ConverterTest, ConvertRaisesTheEventsOfItsFailureTable)
{
    const ConvertCase cases[] = {
        {"file reader refused", [](fakes::FakeLab& l) { l.Reader().failCreate = true; }, {"error 80001", "error 80006"}},
        {"splitter refused", [](fakes::FakeLab& l) { l.Splitter().failCreate = true; }, {"error 80002", "error 80006"}},
        {"decoder refused", [](fakes::FakeLab& l) { l.Decoder().failCreate = true; }, {"error 80002", "error 80006"}},
        {"reader to splitter refused", [](fakes::FakeLab& l) { l.Splitter().pins[0].refuseConnection = true; },
         {"error 80003", "error 80006"}},
        {"splitter to decoder refused", [](fakes::FakeLab& l) { l.Decoder().pins[0].refuseConnection = true; },
         {"error 80003", "error 80006"}},
        {"file writer refused", [](fakes::FakeLab& l) { l.Writer().failCreate = true; }, {"error 80006", "error 80006"}},
        {"file writer without sink", [](fakes::FakeLab& l) { l.Writer().missingExtra = true; },
         {"error 80006", "error 80006"}},
        {"wav writer refused", [](fakes::FakeLab& l) { l.WavDest().failCreate = true; }, {"error 80006", "error 80006"}},
        {"wav writer without control", [](fakes::FakeLab& l) { l.WavDest().missingExtra = true; },
         {"error 80006", "error 80006"}},
        {"acm wrapper refused", [](fakes::FakeLab& l) { l.Acm().failCreate = true; },
         {"error 80004", "error 80006", "error 80006"}},
        {"acm wrapper not added", [](fakes::FakeLab& l) { l.Acm().failJoin = true; },
         {"error 80004", "error 80006", "error 80006"}},
        {"encoder refused", [](fakes::FakeLab& l) { l.Encoder().failCreate = true; },
         {"error 80005", "error 80006", "error 80006"}},
        // The encoder without its interface stays in the graph and the chain
        // still connects: only the output chain step reports it.
        {"encoder without properties", [](fakes::FakeLab& l) { l.Encoder().missingExtra = true; },
         {"error 80005", "error 80006"}},
        {"decoder to acm refused", [](fakes::FakeLab& l) { l.Acm().pins[0].refuseConnection = true; }, {"error 80006"}},
        {"acm to encoder refused", [](fakes::FakeLab& l) { l.Encoder().pins[0].refuseConnection = true; },
         {"error 80006"}},
        {"encoder to wav writer refused", [](fakes::FakeLab& l) { l.WavDest().pins[0].refuseConnection = true; },
         {"error 80006"}},
        {"wav writer to file writer refused", [](fakes::FakeLab& l) { l.Writer().pins[0].refuseConnection = true; },
         {"error 80006"}},
        {"acm wrapper without output", [](fakes::FakeLab& l) { l.Acm().pins.pop_back(); }, {"error 80006"}},
        {"decoder without output", [](fakes::FakeLab& l) { l.Decoder().pins.pop_back(); }, {"error 80006"}},
    };
    converter_->put_SaveFile(Bstr(L"C:\\out\\song.mp3"));
    for (const ConvertCase& c : cases) {
        SCOPED_TRACE(c.name);
        lab_.ResetSetups();
        c.setup(lab_);
        EXPECT_EQ(c.events, Convert());
    }
}

TEST_F(ConverterTest, ConvertUsesThePathOfTheLastLoadFile)
{
    Load(L"C:\\first.rm");
    Load(L"C:\\second.rm");
    lab_.ClearLog();
    Convert();
    EXPECT_EQ((Strings{"load C:\\second.rm"}), lab_.With("load"));
}

TEST_F(ConverterTest, FormatWrittenAfterConvertOnlyAffectsTheNextConvert)
{
    Prepare();
    Convert();
    converter_->put_Format(0);
    EXPECT_EQ(4u, lab_.With("encoder").size());
    EXPECT_TRUE(lab_.With("acm format").empty());
    lab_.ClearLog();
    Convert();
    EXPECT_TRUE(lab_.With("create encoder").empty());
    EXPECT_EQ(1u, lab_.With("acm format").size());
}

TEST_F(ConverterTest, RebuildReleasesTheFiltersInOrder)
{
    Prepare();
    Convert();
    lab_.ClearLog();
    Load();
    Strings leaves = lab_.With("leave");
    EXPECT_EQ((Strings{"leave reader", "leave encoder", "leave acm", "leave writer", "leave splitter",
                       "leave decoder", "leave wavdest"}),
              Strings(leaves.begin(), leaves.begin() + std::min<size_t>(7, leaves.size())));
    // CurrentLength is 0 again: the WAV writer went with the old graph.
    LONG l = -1;
    converter_->get_CurrentLength(&l);
    EXPECT_EQ(0, l);
}

// --- Parameters that reach the filters -------------------------------------

struct Mp3Case {
    const char* name;
    SHORT frequency, channels, bitrate;
    LONG vbr;
    SHORT vbrMin, vbrMax;
    Strings calls;
};

TEST_F(ConverterTest, Mp3ParametersReachTheEncoder)
{
    const Mp3Case cases[] = {
        {"MPEG-1 at 128", 0, 0, 8, 0, 3, 9,
         {"encoder SampleRate 44100", "encoder ChannelMode 0", "encoder Variable 0", "encoder Bitrate 128"}},
        {"MPEG-2 at 80", 1, 3, 8, 0, 3, 9,
         {"encoder SampleRate 22050", "encoder ChannelMode 3", "encoder Variable 0", "encoder Bitrate 80"}},
        {"11025 Hz at the top rate", 2, 0, 13, 0, 3, 9,
         {"encoder SampleRate 11025", "encoder ChannelMode 0", "encoder Variable 0", "encoder Bitrate 160"}},
        {"variable: maximum before minimum", 0, 0, 8, 1, 3, 9,
         {"encoder SampleRate 44100", "encoder ChannelMode 0", "encoder Variable 1", "encoder VariableMax 160",
          "encoder VariableMin 56"}},
        {"variable flag passed unchanged", 2, 0, 8, 7, 0, 13,
         {"encoder SampleRate 11025", "encoder ChannelMode 0", "encoder Variable 7", "encoder VariableMax 160",
          "encoder VariableMin 8"}},
        // Indices outside the tables make no call for that value.
        {"unknown frequency", 3, 0, 8, 0, 3, 9, {"encoder ChannelMode 0", "encoder Variable 0"}},
        {"negative frequency", -1, 0, 8, 1, 3, 9, {"encoder ChannelMode 0", "encoder Variable 1"}},
        {"bitrate past the table", 0, 0, 14, 0, 3, 9,
         {"encoder SampleRate 44100", "encoder ChannelMode 0", "encoder Variable 0"}},
        {"negative bitrate", 1, 0, -1, 0, 3, 9,
         {"encoder SampleRate 22050", "encoder ChannelMode 0", "encoder Variable 0"}},
        {"variable range past the table", 0, 0, 8, 1, -3, 300,
         {"encoder SampleRate 44100", "encoder ChannelMode 0", "encoder Variable 1"}},
        {"variable maximum past the table", 0, 0, 8, 1, 0, 14,
         {"encoder SampleRate 44100", "encoder ChannelMode 0", "encoder Variable 1", "encoder VariableMin 32"}},
    };
    Prepare();
    for (const Mp3Case& c : cases) {
        SCOPED_TRACE(c.name);
        converter_->put_MP3_Frequency(c.frequency);
        converter_->put_MP3_Channels(c.channels);
        converter_->put_MP3_Bitrate(c.bitrate);
        converter_->put_MP3_VBR(c.vbr);
        converter_->put_MP3_VBR_MinBitrate(c.vbrMin);
        converter_->put_MP3_VBR_MaxBitrate(c.vbrMax);
        lab_.ClearLog();
        EXPECT_TRUE(Convert().empty());
        EXPECT_EQ(c.calls, lab_.With("encoder"));
    }
}

struct WavCase {
    const char* name;
    SHORT frequency, channels, bits;
    const char* format;
};

TEST_F(ConverterTest, WavParametersReachTheAcmWrapper)
{
    const WavCase cases[] = {
        {"22050 mono 8 bits", 1, 1, 0, "acm format 22050 1 8 1 22050 tag 1"},
        {"11025 stereo 16 bits", 2, 2, 1, "acm format 11025 2 16 4 44100 tag 1"},
        // Out of the tables: the wrapper's own values (44100 Hz, 16 bits) stay.
        {"unknown frequency", 3, 2, 1, "acm format 44100 2 16 4 176400 tag 1"},
        {"unknown sample size", 1, 2, 2, "acm format 22050 2 16 4 88200 tag 1"},
        {"negative indices", -1, 1, -1, "acm format 44100 1 16 2 88200 tag 1"},
    };
    converter_->put_Format(0);
    Prepare();
    for (const WavCase& c : cases) {
        SCOPED_TRACE(c.name);
        converter_->put_WAV_Frequency(c.frequency);
        converter_->put_WAV_Channels(c.channels);
        converter_->put_WAV_Bits(c.bits);
        lab_.ClearLog();
        EXPECT_TRUE(Convert().empty());
        EXPECT_EQ((Strings{c.format}), lab_.With("acm format"));
    }
}

TEST_F(ConverterTest, FormatOutsideTheRangeBuildsAnMp3ChainWithoutSettings)
{
    converter_->put_Format(2);
    Prepare();
    EXPECT_TRUE(Convert().empty());
    EXPECT_EQ(1u, lab_.With("create encoder").size());
    EXPECT_TRUE(lab_.With("encoder").empty());
    EXPECT_TRUE(lab_.With("acm format").empty());
}

// --- Play and Stop ---------------------------------------------------------

TEST_F(ConverterTest, StopRaisesOnStoppedOnlyWithAGraph)
{
    converter_->Stop();
    EXPECT_TRUE(events_.Names().empty());
    Prepare();
    Convert();
    lab_.ClearLog();
    converter_->Stop();
    EXPECT_EQ((Strings{"stopped"}), events_.Names());
    EXPECT_EQ((Strings{"seek 0 5 none 0"}), lab_.With("seek"));
}

TEST_F(ConverterTest, PlayRunsTheGraphAndIgnoresAStaleLastError)
{
    Prepare();
    Convert();
    SetLastError(ERROR_ACCESS_DENIED);
    converter_->Play();
    EXPECT_TRUE(events_.Names().empty());
    EXPECT_EQ(State_Running, GraphState());
    SetLastError(ERROR_FILE_NOT_FOUND);
    converter_->Play();  // already running: no second run request
    EXPECT_TRUE(events_.Names().empty());
    converter_->Stop();
    EXPECT_EQ(State_Stopped, GraphState());
    EXPECT_EQ((Strings{"stopped"}), events_.Names());
}

TEST_F(ConverterTest, PlayReportsTheSystemErrorOfAFailedRun)
{
    lab_.Writer().failPauseError = ERROR_SHARING_VIOLATION;
    Prepare();
    Convert();
    converter_->Play();
    EXPECT_EQ((Strings{"error 32"}), events_.Names());
    // Filters the refused run had already paused are stopped again, so the
    // graph can be taken apart (a graph manager cannot disconnect them).
    EXPECT_EQ(0, lab_.ActiveFilters());
}

TEST_F(ConverterTest, PlayReportsARefusedRunThatLeftNoSystemError)
{
    // A writer that cannot create its file refuses the run; the host must
    // hear of it even though the thread holds no system error afterwards.
    lab_.Writer().failPauseResult = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    Prepare();
    Convert();
    converter_->Play();
    EXPECT_EQ((Strings{"error 3"}), events_.Names());
    converter_->Stop();

    // Any other refusal is reported too, never taken for success.
    events_.Clear();
    lab_.Writer().failPauseResult = E_UNEXPECTED;
    Prepare();
    Convert();
    converter_->Play();
    EXPECT_EQ(1u, events_.Names().size());
}

TEST_F(ConverterTest, PlayWithoutGraphReportsNothing)
{
    SetLastError(ERROR_INVALID_HANDLE);
    converter_->Play();
    EXPECT_TRUE(events_.Names().empty());
}

// --- Completion and abort --------------------------------------------------

TEST_F(ConverterTest, CompletionStopsTheGraphThenRaisesOneOnFinished)
{
    lab_.WavDest().elapsed = 25999999;
    Prepare();
    Convert();
    converter_->Play();
    ASSERT_EQ(State_Running, GraphState());
    OAFilterState stateAtEvent = -1;
    events_.onEvent = [&](const fakes::EventRecorder::Event&) { stateAtEvent = GraphState(); };

    ComPtr<IMediaEventSink> sink = EventSink();
    sink->Notify(EC_USER + 3, 0, 0);
    WriterCompletes();
    sink->Notify(EC_USER + 4, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return !events_.Events().empty(); }));
    PumpFor(200);
    EXPECT_EQ((Strings{"finished"}), events_.Names());
    EXPECT_EQ(State_Stopped, stateAtEvent);
    EXPECT_EQ(State_Stopped, GraphState());

    // The stopped graph stays: lengths remain readable.
    LONG l = 0;
    converter_->get_CurrentLength(&l);
    EXPECT_EQ(2, l);
    converter_->get_TotalLength(&l);
    EXPECT_EQ(59, l);

    // Stopping afterwards raises onStopped after onFinished.
    events_.onEvent = nullptr;
    converter_->Stop();
    EXPECT_EQ((Strings{"finished", "stopped"}), events_.Names());
}

TEST_F(ConverterTest, AbortRaisesError88890AndLeavesTheGraphRunning)
{
    Prepare();
    Convert();
    converter_->Play();
    ASSERT_TRUE(SUCCEEDED(EventSink()->Notify(EC_ERRORABORT, E_FAIL, 0)));
    EXPECT_TRUE(PumpUntil([&] { return !events_.Events().empty(); }));
    PumpFor(100);
    EXPECT_EQ((Strings{"error 88890"}), events_.Names());
    EXPECT_EQ(State_Running, GraphState());
    converter_->Stop();
}

TEST_F(ConverterTest, OtherGraphEventsRaiseNothing)
{
    Prepare();
    Convert();
    converter_->Play();
    ComPtr<IMediaEventSink> sink = EventSink();
    sink->Notify(EC_USER + 9, 0, 0);
    sink->Notify(EC_STREAM_ERROR_STILLPLAYING, E_FAIL, 0);
    PumpFor(300);
    EXPECT_TRUE(events_.Names().empty());
    converter_->Stop();
}

TEST_F(ConverterTest, EventsOfAReplacedGraphAreNeverSeen)
{
    Prepare();
    Convert();
    converter_->Play();
    ASSERT_TRUE(SUCCEEDED(EventSink()->Notify(EC_ERRORABORT, E_FAIL, 0)));
    // The message is posted; the graph is replaced before it is handled.
    EXPECT_EQ(0, Load());
    PumpFor(300);
    EXPECT_TRUE(events_.Names().empty());
}

TEST_F(ConverterTest, GraphBuiltWithoutWindowReportsNoCompletion)
{
    window_.reset();
    EXPECT_EQ(nullptr, converter_->Window());
    Prepare();
    Convert();
    converter_->Play();
    WriterCompletes();
    PumpFor(300);
    EXPECT_TRUE(events_.Names().empty());
}

TEST_F(ConverterTest, SinkThatLoadsTheNextFileDuringTheDrainReplacesTheGraphSafely)
{
    Prepare();
    Convert();
    converter_->Play();
    ComPtr<IMediaEventSink> sink = EventSink();
    LONG loaded = -1;
    int calls = 0;
    events_.onEvent = [&](const fakes::EventRecorder::Event& e) {
        if (e.id == 3 && calls++ == 0) {
            sink.Reset();
            loaded = Load(L"C:\\next.rm");
        }
    };
    // Both aborts are queued before the message is handled: the second must
    // not be fetched from the destroyed graph.
    sink->Notify(EC_ERRORABORT, E_FAIL, 0);
    sink->Notify(EC_ERRORABORT, E_FAIL, 0);
    EXPECT_TRUE(PumpUntil([&] { return !events_.Events().empty(); }));
    PumpFor(300);
    EXPECT_EQ((Strings{"error 88890"}), events_.Names());
    EXPECT_EQ(0, loaded);
    LONG l = 0;
    converter_->get_TotalLength(&l);
    EXPECT_EQ(59, l);
}

TEST_F(ConverterTest, SinkThatConvertsAgainFromOnFinishedGetsAFreshGraph)
{
    Prepare();
    Convert();
    converter_->Play();
    int finished = 0;
    events_.onEvent = [&](const fakes::EventRecorder::Event& e) {
        if (e.id == 2 && finished++ == 0) {
            converter_->Convert();
            converter_->Play();
        }
    };
    WriterCompletes();
    EXPECT_TRUE(PumpUntil([&] { return finished >= 1; }));
    PumpFor(200);
    EXPECT_EQ((Strings{"finished"}), events_.Names());
    EXPECT_EQ(State_Running, GraphState());
    // The new graph completes on its own.
    WriterCompletes();
    EXPECT_TRUE(PumpUntil([&] { return finished >= 2; }));
    EXPECT_EQ(State_Stopped, GraphState());
}

TEST_F(ConverterTest, BatchLoopPumpingInsideOnFinishedRunsTheNextJobToItsEnd)
{
    // A host that starts the next file from onFinished and waits for it by
    // pumping messages, nested inside the first graph's drain.
    Prepare();
    Convert();
    converter_->Play();
    int finished = 0;
    events_.onEvent = [&](const fakes::EventRecorder::Event& e) {
        if (e.id != 2 || ++finished != 1) return;
        EXPECT_EQ(0, Load(L"C:\\next.rm"));
        converter_->Convert();
        converter_->Play();
        WriterCompletes();
        EXPECT_TRUE(PumpUntil([&] { return finished >= 2; }));
    };
    ComPtr<IMediaEventSink> sink = EventSink();
    sink->Notify(EC_COMPLETE, S_OK, 0);
    sink->Notify(EC_ERRORABORT, E_FAIL, 0);  // queued behind completion: never seen
    sink.Reset();
    EXPECT_TRUE(PumpUntil([&] { return finished >= 2; }));
    PumpFor(200);
    EXPECT_EQ((Strings{"finished", "finished"}), events_.Names());
    EXPECT_EQ(State_Stopped, GraphState());
}

TEST_F(ConverterTest, NestedDrainOfTheSameGraphDeliversEachEventOnce)
{
    Prepare();
    Convert();
    converter_->Play();
    ComPtr<IMediaEventSink> sink = EventSink();
    int errors = 0;
    events_.onEvent = [&](const fakes::EventRecorder::Event& e) {
        if (e.id == 3 && ++errors == 1) {
            sink->Notify(EC_ERRORABORT, E_FAIL, 0);
            PumpUntil([&] { return errors >= 2; }, 1000);
        }
    };
    sink->Notify(EC_ERRORABORT, E_FAIL, 0);
    EXPECT_TRUE(PumpUntil([&] { return errors >= 2; }));
    PumpFor(200);
    EXPECT_EQ((Strings{"error 88890", "error 88890"}), events_.Names());
    converter_->Stop();
}

// --- Event delivery --------------------------------------------------------

TEST_F(ConverterTest, EveryEventReachesEverySinkFirstConnectedFirst)
{
    Strings order;
    fakes::EventRecorder first(&order, "first"), second(&order, "second");
    converter_->Sinks().Remove(1);
    DWORD a = converter_->Sinks().Add(&first);
    DWORD b = converter_->Sinks().Add(&second);
    EXPECT_EQ(1u, a);
    EXPECT_EQ(2u, b);

    lab_.Reader().failCreate = true;
    Load();
    lab_.Reader().failCreate = false;
    Prepare();
    Convert();
    converter_->Play();
    WriterCompletes();
    EXPECT_TRUE(PumpUntil([&] { return order.size() >= 4; }));
    converter_->Stop();
    EXPECT_EQ((Strings{"first error 80001", "second error 80001", "first finished", "second finished",
                       "first stopped", "second stopped"}),
              order);
    EXPECT_EQ(0, first.malformed);
    EXPECT_EQ(0, second.malformed);
    EXPECT_TRUE(converter_->Sinks().Remove(a));
    EXPECT_TRUE(converter_->Sinks().Remove(b));
    EXPECT_FALSE(converter_->Sinks().Remove(b));
    EXPECT_EQ(1, first.refs);
    EXPECT_EQ(1, second.refs);
}

TEST_F(ConverterTest, AFailingSinkDoesNotStopTheNext)
{
    Strings order;
    fakes::EventRecorder failing(&order, "failing"), next(&order, "next");
    failing.result = DISP_E_MEMBERNOTFOUND;
    converter_->Sinks().Remove(1);
    converter_->Sinks().Add(&failing);
    converter_->Sinks().Add(&next);
    Prepare();
    Convert();
    converter_->Stop();
    EXPECT_EQ((Strings{"failing stopped", "next stopped"}), order);
    converter_->Sinks().Clear();
    EXPECT_EQ(1, failing.refs);
    EXPECT_EQ(1, next.refs);
}

TEST_F(ConverterTest, SinkListReusesFreedSlotsAndGrowsOneFourEight)
{
    corvane::EventSinkList list;
    fakes::EventRecorder sinks[9];
    EXPECT_EQ(0u, list.Add(nullptr));
    EXPECT_EQ(1u, list.Add(&sinks[0]));
    EXPECT_EQ(1u, list.SlotCount());
    EXPECT_EQ(2u, list.Add(&sinks[1]));
    EXPECT_EQ(4u, list.SlotCount());
    for (int i = 2; i < 5; ++i) list.Add(&sinks[i]);
    EXPECT_EQ(8u, list.SlotCount());
    EXPECT_TRUE(list.Remove(2));
    EXPECT_EQ(nullptr, list.At(1));
    EXPECT_EQ(2u, list.Add(&sinks[5]));
    EXPECT_FALSE(list.Remove(0));
    EXPECT_FALSE(list.Remove(99));
    list.Clear();
    for (auto& s : sinks) EXPECT_EQ(1, s.refs);
}

// --- Lifetime --------------------------------------------------------------

TEST_F(ConverterTest, SinkThatDestroysTheConverterFromOnFinishedEndsDeliveryCleanly)
{
    Strings order;
    fakes::EventRecorder first(&order, "first"), second(&order, "second");
    converter_->Sinks().Remove(1);
    converter_->Sinks().Add(&first);
    converter_->Sinks().Add(&second);
    Prepare();
    Convert();
    converter_->Play();
    first.onEvent = [&](const fakes::EventRecorder::Event& e) {
        if (e.id == 2) {
            window_.reset();
            converter_.reset();
        }
    };
    WriterCompletes();
    EXPECT_TRUE(PumpUntil([&] { return !converter_; }));
    PumpFor(100);
    EXPECT_EQ((Strings{"first finished"}), order);
    EXPECT_EQ(1, first.refs);
    EXPECT_EQ(1, second.refs);
}

TEST_F(ConverterTest, DestroyingTheConverterReleasesTheGraphAndEveryFilter)
{
    Prepare();
    Convert();
    converter_->Play();
    IFilterGraph* graph = lab_.LastGraph();
    ASSERT_NE(nullptr, graph);
    EXPECT_EQ(7, lab_.LiveFilters());
    graph->AddRef();
    window_.reset();
    converter_.reset();
    EXPECT_EQ(0, lab_.LiveFilters());
    EXPECT_EQ(0u, graph->Release());
    EXPECT_TRUE(events_.Names().empty());  // destruction raises nothing
}

TEST_F(ConverterTest, EachRebuildReleasesThePreviousGraph)
{
    Prepare();
    IFilterGraph* first = lab_.LastGraph();
    first->AddRef();
    Convert();
    EXPECT_NE(first, lab_.LastGraph());
    EXPECT_EQ(0u, first->Release());
    EXPECT_EQ(7, lab_.LiveFilters());
}

}  // namespace
