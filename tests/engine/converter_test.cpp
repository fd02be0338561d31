// The converter, its graph runner and filter wrappers: test-double filters in
// the platform's filter graph manager, and a real notification window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <tuple>
#include <utility>

#include "com_ptr.h"
#include "converter_session.h"
#include "fake_filters.h"
#include "filter_wrappers.h"
#include "graph_runner.h"

using corvane::AtlHalvex;
using corvane::ComPtr;
using corvane::GraphRunner;
using fakes::PumpFor;
using fakes::PumpUntil;
using Event = fakes::EventRecorder::Event;
using L = fakes::FakeLab;
using Strings = std::vector<std::string>;
using testing_support::Bstr;

namespace {

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
        EXPECT_EQ(0, lab_.liveFilters);
        EXPECT_EQ(1, events_.refs);
        EXPECT_EQ(0, events_.malformed);
    }

    LONG Load(const wchar_t* path = L"C:\\music\\song.rm")
    {
        LONG result = -1;
        EXPECT_EQ(S_OK, converter_->get_LoadFile(Bstr(path), &result));
        return result;
    }
    // Output path set, source loaded, log and events cleared.
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
    LONG Total() { LONG v = -1; EXPECT_EQ(S_OK, converter_->get_TotalLength(&v)); return v; }
    LONG Current() { LONG v = -1; EXPECT_EQ(S_OK, converter_->get_CurrentLength(&v)); return v; }
    ComPtr<IMediaEventSink> EventSink()
    {
        ComPtr<IMediaEventSink> sink;
        if (lab_.lastGraph) lab_.lastGraph->QueryInterface(IID_IMediaEventSink, sink.PutVoid());
        return sink;
    }
    OAFilterState GraphState()
    {
        ComPtr<IMediaControl> control;
        OAFilterState state = -1;
        if (lab_.lastGraph && SUCCEEDED(lab_.lastGraph->QueryInterface(IID_IMediaControl, control.PutVoid())))
            control->GetState(1000, &state);
        return state;
    }
    // EC_COMPLETE as the file writer (the graph's only renderer) reports it.
    void WriterCompletes() { ASSERT_HRESULT_SUCCEEDED(EventSink()->Notify(EC_COMPLETE, S_OK, 0)); }
    // Position of a line in the log (its size when absent).
    long At(const std::string& line)
    {
        const Strings& log = lab_.Entries();
        return static_cast<long>(std::find(log.begin(), log.end(), line) - log.begin());
    }

    testing_support::ComApartment com_;
    L lab_;
    fakes::EventRecorder events_;
    std::unique_ptr<AtlHalvex> converter_;
    std::unique_ptr<corvane::GraphEventWindow> window_;
};

// SaveFile keeps a copy and builds nothing.
TEST_F(ConverterTest, PathsAreKeptALongOneReachesTheFiltersEmptyAndNoGraphIsError80000)
{
    EXPECT_EQ(S_OK, converter_->put_SaveFile(Bstr(L"C:\\out dir\\caf\x00e9 \x97f3.mp3")));
    BSTR path = nullptr;
    converter_->get_SaveFile(&path);
    EXPECT_STREQ(L"C:\\out dir\\caf\x00e9 \x97f3.mp3", path);
    SysFreeString(path);
    converter_->put_SaveFile(nullptr);
    converter_->get_SaveFile(&path);
    EXPECT_EQ(0u, SysStringLen(path));
    SysFreeString(path);
    EXPECT_EQ(0, Total());
    EXPECT_EQ(0, Current());
    EXPECT_TRUE(lab_.Entries().empty());

    // Too long for the filters' 260-character buffer: empty, neither cut nor unterminated.
    Load(std::wstring(400, L'a').c_str());
    EXPECT_EQ((Strings{"load "}), lab_.With("load"));

    // No filter graph: error 80000, LoadFile's result unwritten, nothing to run or stop.
    fakes::FilterSetup& graphs = lab_.Setup(CLSID_FilterGraph);
    graphs.role = "graph manager";
    graphs.failCreate = true;
    ASSERT_TRUE(lab_.Register(CLSID_FilterGraph));
    lab_.ClearLog();
    events_.Clear();
    LONG result = 1234;
    converter_->get_LoadFile(Bstr(L"C:\\a.rm"), &result);
    EXPECT_EQ(1234, result);
    EXPECT_EQ((Strings{"error 80000"}), events_.Names());
    EXPECT_EQ((Strings{"error 80000"}), Convert());
    SetLastError(ERROR_INVALID_HANDLE);  // stale: not reported
    converter_->Play();
    converter_->Stop();
    EXPECT_EQ((Strings{"error 80000"}), events_.Names());
    EXPECT_EQ((Strings{"refuse graph manager", "refuse graph manager"}), lab_.With("refuse"));
    EXPECT_TRUE(lab_.With("create").empty());
}

struct StageCase {
    const char* name;
    std::function<void(L&)> setup;
    LONG result;      // of LoadFile, which reports it as error 8000<result>
    Strings convert{};  // events of Convert when the source chain was built
};

// Each failure is reported by the stage it stopped at; Convert adds the
// output chain's code for every step that could not be done.
TEST_F(ConverterTest, LoadFileAndConvertReportTheFailingStage)
{
    const std::string e4 = "error 80004", e5 = "error 80005", e6 = "error 80006";
    const StageCase cases[] = {
        {"reader refused", [](L& l) { l.Reader().failCreate = true; }, 1},
        {"reader without IFileSourceFilter", [](L& l) { l.Reader().missingExtra = true; }, 1},
        {"splitter refused", [](L& l) { l.Splitter().failCreate = true; }, 2},
        {"decoder not added", [](L& l) { l.Decoder().failJoin = true; }, 2},
        {"splitter refuses the reader", [](L& l) { l.Splitter().pins[0].refuseConnection = true; }, 3},
        {"no output named like audio",
         [](L& l) { l.Splitter().pins = {{L"Input", PINDIR_INPUT}, {L"AUDIO", PINDIR_OUTPUT}}; }, 3},
        {"decoder refuses the audio", [](L& l) { l.Decoder().pins[0].refuseConnection = true; }, 3},
        {"reader without output pin", [](L& l) { l.Reader().pins.clear(); }, 3},
        {"file writer refused", [](L& l) { l.Writer().failCreate = true; }, 0, {e6, e6}},
        {"file writer without sink", [](L& l) { l.Writer().missingExtra = true; }, 0, {e6, e6}},
        {"wav writer refused", [](L& l) { l.WavDest().failCreate = true; }, 0, {e6, e6}},
        {"wav writer without control", [](L& l) { l.WavDest().missingExtra = true; }, 0, {e6, e6}},
        {"acm wrapper refused", [](L& l) { l.Acm().failCreate = true; }, 0, {e4, e6, e6}},
        {"encoder refused", [](L& l) { l.Encoder().failCreate = true; }, 0, {e5, e6, e6}},
        // Stays in the graph and the chain still connects: only the output chain step reports it.
        {"encoder without properties", [](L& l) { l.Encoder().missingExtra = true; }, 0, {e5, e6}},
        {"decoder to acm refused", [](L& l) { l.Acm().pins[0].refuseConnection = true; }, 0, {e6}},
        {"acm to encoder refused", [](L& l) { l.Encoder().pins[0].refuseConnection = true; }, 0, {e6}},
        {"encoder to wav writer refused", [](L& l) { l.WavDest().pins[0].refuseConnection = true; }, 0, {e6}},
        {"wav writer to file writer refused", [](L& l) { l.Writer().pins[0].refuseConnection = true; }, 0, {e6}},
        {"acm wrapper without output", [](L& l) { l.Acm().pins.pop_back(); }, 0, {e6}},
        {"decoder without output", [](L& l) { l.Decoder().pins.pop_back(); }, 0, {e6}},
        {"a pin that gives no information is released and passed over",
         [](L& l) { l.Splitter().pins.insert(l.Splitter().pins.begin(), {L"Info", PINDIR_OUTPUT, false, true}); }, 0},
    };
    converter_->put_SaveFile(Bstr(L"C:\\out\\song.mp3"));
    for (const StageCase& c : cases) {
        SCOPED_TRACE(c.name);
        lab_.ResetSetups();
        c.setup(lab_);
        events_.Clear();
        EXPECT_EQ(c.result, Load());
        const Strings stage = c.result ? Strings{"error 8000" + std::to_string(c.result)} : Strings{};
        EXPECT_EQ(stage, events_.Names());
        EXPECT_EQ((c.result ? Strings{stage[0], e6} : c.convert), Convert());
        EXPECT_EQ(0, Current());
    }
}

TEST_F(ConverterTest, LoadFileBuildsTheSourceChainAndMp3ConversionSevenFiltersInOrder)
{
    const wchar_t* source = L"C:\\\u97f3\u4e50 \u041c\u0443\u0437\u044b\u043a\u0430\\caf\u00e9 'live' \"1\".rm";
    const wchar_t* output = L"D:\\\u8f93\u51fa \u00c7a \u00f1\\\u0424\u0430\u0439\u043b \u00f6.mp3";
    Load(L"C:\\first.rm");
    lab_.ClearLog();
    EXPECT_EQ(0, Load(source));
    EXPECT_TRUE(events_.Names().empty());
    EXPECT_EQ((Strings{"load " + fakes::Narrow(source)}), lab_.With("load"));
    EXPECT_EQ((Strings{"join reader File Reader", "join splitter Real Spliter", "join decoder Real ADecoder"}),
              lab_.With("join"));
    EXPECT_EQ((Strings{"connect reader:Output -> splitter:Input", "connect splitter:Audio -> decoder:In"}),
              lab_.With("connect"));
    EXPECT_EQ(59, Total());  // 59.9 s

    converter_->put_SaveFile(Bstr(output));
    lab_.ClearLog();
    EXPECT_TRUE(Convert().empty());
    EXPECT_EQ((Strings{"create reader", "create splitter", "create decoder", "create writer", "create wavdest",
                       "create acm", "create encoder"}),
              lab_.With("create"));
    EXPECT_EQ((Strings{"connect reader:Output -> splitter:Input", "connect splitter:Audio -> decoder:In",
                       "connect decoder:Out -> acm:Input", "connect acm:Output -> encoder:In",
                       "connect encoder:Out -> wavdest:In", "connect wavdest:Out -> writer:in"}),
              lab_.With("connect"));
    EXPECT_EQ((Strings{"load " + fakes::Narrow(source)}), lab_.With("load"));  // the last LoadFile's path
    EXPECT_EQ((Strings{"setfile " + fakes::Narrow(output) + " stream-type"}), lab_.With("setfile"));
    EXPECT_EQ((Strings{"mode 1"}), lab_.With("mode"));
    EXPECT_EQ((Strings{"wave 1", "wave 0"}), lab_.With("wave"));
    // The settings reach the encoder after its input and before its output is connected.
    EXPECT_LT(At("connect acm:Output -> encoder:In"), At("encoder SampleRate 44100"));
    EXPECT_LT(At("encoder Bitrate 128"), At("connect encoder:Out -> wavdest:In"));
}

TEST_F(ConverterTest, Mp3ParametersReachTheEncoder)
{
    const std::string rate44 = "encoder SampleRate 44100", rate22 = "encoder SampleRate 22050",
                      rate11 = "encoder SampleRate 11025", stereo = "encoder ChannelMode 0",
                      cbr = "encoder Variable 0", vbr = "encoder Variable 1";
    // Format, frequency, channels, bitrate, VBR flag, VBR minimum and maximum, and the encoder's calls.
    const std::tuple<const char*, SHORT, SHORT, SHORT, SHORT, LONG, SHORT, SHORT, Strings> cases[] = {
        {"defaults: MPEG-1 at 128", 1, 0, 0, 8, 0, 3, 9, {rate44, stereo, cbr, "encoder Bitrate 128"}},
        {"variable: maximum before minimum", 1, 0, 0, 8, 1, 3, 9,
         {rate44, stereo, vbr, "encoder VariableMax 160", "encoder VariableMin 56"}},
        {"variable flag passed unchanged", 1, 2, 0, 8, 7, 0, 13,
         {rate11, stereo, "encoder Variable 7", "encoder VariableMax 160", "encoder VariableMin 8"}},
        {"negative channel mode", 1, 0, -1, 8, 0, 3, 9, {rate44, "encoder ChannelMode -1", cbr, "encoder Bitrate 128"}},
        // Indices outside the tables make no call for that value.
        {"unknown frequency", 1, 3, 0, 8, 0, 3, 9, {stereo, cbr}},
        {"negative frequency", 1, -1, 0, 8, 1, 3, 9, {stereo, vbr}},
        {"bitrate past the table", 1, 0, 0, 14, 0, 3, 9, {rate44, stereo, cbr}},
        {"negative bitrate", 1, 1, 0, -1, 0, 3, 9, {rate22, stereo, cbr}},
        {"variable range past the table", 1, 0, 0, 8, 1, -3, 300, {rate44, stereo, vbr}},
        {"variable maximum past the table", 1, 0, 0, 8, 1, 0, 14, {rate44, stereo, vbr, "encoder VariableMin 32"}},
        // A format outside the range builds the MP3 chain and sets nothing.
        {"format 2", 2, 0, 0, 8, 0, 3, 9, {}},
    };
    Prepare();
    for (const auto& [name, format, frequency, channels, bitrate, variable, vbrMin, vbrMax, calls] : cases) {
        SCOPED_TRACE(name);
        converter_->put_Format(format);
        converter_->put_MP3_Frequency(frequency);
        converter_->put_MP3_Channels(channels);
        converter_->put_MP3_Bitrate(bitrate);
        converter_->put_MP3_VBR(variable);
        converter_->put_MP3_VBR_MinBitrate(vbrMin);
        converter_->put_MP3_VBR_MaxBitrate(vbrMax);
        lab_.ClearLog();
        EXPECT_TRUE(Convert().empty());
        EXPECT_EQ(1u, lab_.With("create encoder").size());
        EXPECT_EQ(calls, lab_.With("encoder"));
        EXPECT_TRUE(lab_.With("acm format").empty());
    }
    // Each index of both tables, as the encoder's rate in kbps.
    const int mpeg1[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};  // 44100 Hz
    const int mpeg2[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};      // 22050, 11025 Hz
    converter_->put_Format(1);
    converter_->put_MP3_VBR(0);
    for (SHORT frequency = 0; frequency < 3; ++frequency) {
        converter_->put_MP3_Frequency(frequency);
        for (SHORT i = 0; i < 14; ++i) {
            converter_->put_MP3_Bitrate(i);
            lab_.ClearLog();
            EXPECT_TRUE(Convert().empty());
            EXPECT_EQ(Strings{"encoder Bitrate " + std::to_string(frequency ? mpeg2[i] : mpeg1[i])},
                      lab_.With("encoder Bitrate"));
        }
    }
}

TEST_F(ConverterTest, WavConversionSetsTheAcmFormatAndNeverCreatesTheEncoder)
{
    lab_.Encoder().failCreate = true;  // would raise 80005 if it were asked for
    lab_.WavDest().elapsed = -30000000;  // GetTime fails: no length rather than garbage
    converter_->put_Format(0);
    Prepare(L"C:\\out\\song.wav");
    EXPECT_TRUE(Convert().empty());
    EXPECT_EQ(0, Current());
    EXPECT_TRUE(lab_.With("refuse").empty());
    EXPECT_EQ((Strings{"wave 1"}), lab_.With("wave"));
    EXPECT_EQ((Strings{"connect reader:Output -> splitter:Input", "connect splitter:Audio -> decoder:In",
                       "connect decoder:Out -> acm:Input", "connect acm:Output -> wavdest:In",
                       "connect wavdest:Out -> writer:in"}),
              lab_.With("connect"));
    const std::string defaults = "acm format 44100 2 16 4 176400 tag 1";
    EXPECT_LT(At("connect decoder:Out -> acm:Input"), At(defaults));
    EXPECT_LT(At(defaults), At("connect acm:Output -> wavdest:In"));

    const std::tuple<const char*, SHORT, SHORT, SHORT, const char*> cases[] = {
        {"22050 mono 8 bits", 1, 1, 0, "acm format 22050 1 8 1 22050 tag 1"},
        // Out of the tables: the wrapper's own values (44100 Hz, 16 bits) stay.
        {"unknown frequency", 3, 2, 1, "acm format 44100 2 16 4 176400 tag 1"},
        {"unknown sample size", 1, 2, 2, "acm format 22050 2 16 4 88200 tag 1"},
        {"negative indices", -1, 1, -1, "acm format 44100 1 16 2 88200 tag 1"},
    };
    for (const auto& [name, frequency, channels, bits, format] : cases) {
        SCOPED_TRACE(name);
        converter_->put_WAV_Frequency(frequency);
        converter_->put_WAV_Channels(channels);
        converter_->put_WAV_Bits(bits);
        lab_.ClearLog();
        EXPECT_TRUE(Convert().empty());
        EXPECT_EQ((Strings{format}), lab_.With("acm format"));
    }
}

TEST_F(ConverterTest, RebuildAndDestructionFromASinkReleaseTheGraphAndItsFiltersInOrder)
{
    Prepare();
    IFilterGraph* old = lab_.lastGraph;
    old->AddRef();
    Convert();
    EXPECT_NE(old, lab_.lastGraph);
    EXPECT_EQ(0u, old->Release());
    EXPECT_EQ(7, lab_.liveFilters);
    // Events queued by a graph that is replaced before its message is handled are never seen.
    converter_->Play();
    ASSERT_TRUE(SUCCEEDED(EventSink()->Notify(EC_ERRORABORT, E_FAIL, 0)));
    lab_.ClearLog();
    EXPECT_EQ(0, Load());
    PumpFor(300);
    EXPECT_TRUE(events_.Names().empty());
    Strings leaves = lab_.With("leave");
    leaves.resize(std::min<size_t>(7, leaves.size()));
    EXPECT_EQ((Strings{"leave reader", "leave encoder", "leave acm", "leave writer", "leave splitter",
                       "leave decoder", "leave wavdest"}),
              leaves);

    // Destroyed by a sink's handler while the graph runs: delivery ends there,
    // nothing more is raised, and the graph and its filters go.
    Strings order;
    fakes::EventRecorder first(&order, "first"), second(&order, "second");
    converter_->Sinks().Remove(1);
    converter_->Sinks().Add(&first);
    converter_->Sinks().Add(&second);
    Convert();
    converter_->Play();
    IFilterGraph* last = lab_.lastGraph;
    last->AddRef();
    first.onEvent = [&](const Event&) {
        window_.reset();
        converter_.reset();
    };
    ASSERT_TRUE(SUCCEEDED(EventSink()->Notify(EC_ERRORABORT, E_FAIL, 0)));
    EXPECT_TRUE(PumpUntil([&] { return !converter_; }));
    PumpFor(100);
    EXPECT_EQ((Strings{"first error 88890"}), order);
    EXPECT_EQ(1, first.refs);
    EXPECT_EQ(1, second.refs);
    EXPECT_EQ(0, lab_.liveFilters);
    EXPECT_EQ(0u, last->Release());
}

TEST_F(ConverterTest, StopRewindsAndPlayRunsTheGraphOnce)
{
    Prepare();
    Convert();
    converter_->Stop();  // never run: the converter rewinds, the graph is not stopped again
    EXPECT_EQ((Strings{"stopped"}), events_.Names());
    EXPECT_EQ((Strings{"seek 0 5 none 0"}), lab_.With("seek"));
    events_.Clear();
    SetLastError(ERROR_ACCESS_DENIED);  // stale: not reported
    converter_->Play();
    EXPECT_EQ(State_Running, GraphState());
    SetLastError(ERROR_FILE_NOT_FOUND);
    converter_->Play();  // already running: no second run request
    EXPECT_TRUE(events_.Names().empty());
    lab_.ClearLog();
    converter_->Stop();
    EXPECT_EQ(State_Stopped, GraphState());
    EXPECT_EQ((Strings{"stopped"}), events_.Names());
    // Rewound once stopped: a seek while streaming would send the file again
    // from its start into the output before the stop.
    const Strings seeks = lab_.With("seek");
    EXPECT_EQ(1, std::count(seeks.begin(), seeks.end(), "seek 0 5 none 0")) << ::testing::PrintToString(seeks);
    EXPECT_TRUE(std::none_of(seeks.begin(), seeks.end(), [](const std::string& s) { return s.find("streaming") != std::string::npos; }));
}

TEST_F(ConverterTest, PlayReportsARefusedRunAndStopsWhatItHadPaused)
{
    // A writer that cannot create its file refuses the run by a system error code, reported
    // whatever the thread holds; any other refusal by the thread's error, or by itself.
    const std::tuple<HRESULT, DWORD, std::string> cases[] = {
        {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), ERROR_ACCESS_DENIED, "error 3"},
        {HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION), ERROR_SUCCESS, "error 1"},
        {E_UNEXPECTED, ERROR_ACCESS_DENIED, "error 5"},
        {E_UNEXPECTED, ERROR_SUCCESS, "error " + std::to_string(static_cast<LONG>(E_UNEXPECTED))},
    };
    for (const auto& [refusal, threadError, error] : cases) {
        SCOPED_TRACE(error);
        lab_.Writer().failPause = refusal;
        lab_.Writer().pauseError = threadError;
        Prepare();
        Convert();
        converter_->Play();
        EXPECT_EQ(Strings{error}, events_.Names());
        // What the refused run had paused is stopped again, so that the graph can be taken apart.
        EXPECT_EQ(0, lab_.activeFilters);
    }

    // The writer replaces an earlier file, leaving "already exists" (183, a code hosts ignore) on the
    // thread; then a filter upstream refuses the run by a code of its own, or by 183: never reported as 183.
    wchar_t folder[MAX_PATH] = {};
    const std::wstring earlier = std::wstring(folder, GetTempPathW(MAX_PATH, folder)) + L"refused run.mp3";
    lab_.Writer() = {"writer", {{L"in", PINDIR_INPUT}}};
    lab_.Writer().writesFile = lab_.Decoder().keepThreadError = true;
    for (HRESULT refusal : {E_FAIL, HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)}) {
        CloseHandle(CreateFileW(earlier.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        lab_.Decoder().failPause = refusal;
        Prepare(earlier.c_str());
        Convert();
        converter_->Play();
        EXPECT_EQ(Strings{"error 88890"}, events_.Names()) << refusal;
    }
    Load();
    EXPECT_TRUE(DeleteFileW(earlier.c_str())) << "the writer replaced the earlier file";
}

// A writer that lost writes without a word leaves a file shorter than what the
// WAV writer delivered: that completion is error 88890; a whole file finishes.
TEST_F(ConverterTest, CompletionWithAFileShorterThanDeliveredIsError88890)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"vellumo-short-output.wav";
    lab_.WavDest().outputLength = 1000;
    for (const size_t size : {1000u, 999u}) {
        FILE* file = _wfopen(path.c_str(), L"wb");
        ASSERT_TRUE(file && fwrite(std::string(size, 'x').data(), 1, size, file) == size && fclose(file) == 0);
        Prepare(path.c_str());
        Convert();
        converter_->Play();
        WriterCompletes();
        EXPECT_TRUE(PumpUntil([&] { return !events_.Events().empty(); }));
        EXPECT_EQ((Strings{size == 1000 ? "finished" : "error 88890"}), events_.Names());
    }
    DeleteFileW(path.c_str());
}

TEST_F(ConverterTest, CompletionStopsTheGraphThenRaisesOneOnFinishedAndAnAbortRaises88890)
{
    lab_.WavDest().elapsed = 25999999;
    Prepare();
    Convert();
    converter_->Play();
    OAFilterState stateAtEvent = -1;
    events_.onEvent = [&](const Event&) { stateAtEvent = GraphState(); };
    ComPtr<IMediaEventSink> sink = EventSink();
    sink->Notify(EC_USER + 3, 0, 0);
    WriterCompletes();
    sink->Notify(EC_STREAM_ERROR_STILLPLAYING, E_FAIL, 0);  // other events raise nothing
    EXPECT_TRUE(PumpUntil([&] { return !events_.Events().empty(); }));
    PumpFor(200);
    EXPECT_EQ((Strings{"finished"}), events_.Names());
    EXPECT_EQ(State_Stopped, stateAtEvent);
    EXPECT_EQ(State_Stopped, GraphState());

    // The stopped graph stays: lengths remain readable (whole seconds).
    EXPECT_EQ(2, Current());
    EXPECT_EQ(59, Total());
    events_.onEvent = nullptr;
    converter_->Stop();
    EXPECT_EQ((Strings{"finished", "stopped"}), events_.Names());

    // An error or user abort raises 88890 and leaves the graph running; a
    // sink that pumps messages inside its handler does not see an event twice.
    events_.Clear();
    converter_->Play();
    int errors = 0;
    events_.onEvent = [&](const Event& e) {
        if (e.id == 3 && ++errors == 1) {
            sink->Notify(EC_USERABORT, 0, 0);
            PumpUntil([&] { return errors >= 2; }, 1000);
        }
    };
    sink->Notify(EC_ERRORABORT, E_FAIL, 0);
    EXPECT_TRUE(PumpUntil([&] { return errors >= 2; }));
    PumpFor(200);
    EXPECT_EQ((Strings{"error 88890", "error 88890"}), events_.Names());
    EXPECT_EQ(State_Running, GraphState());
    converter_->Stop();

    // Every other event that means the run failed ends it the same way, once.
    for (long code : {long(EC_ERRORABORTEX), long(EC_STREAM_ERROR_STOPPED), long(EC_FILE_CLOSED)}) {
        events_.onEvent = nullptr;
        events_.Clear();
        converter_->Play();
        sink->Notify(code, E_FAIL, 0);
        EXPECT_TRUE(PumpUntil([&] { return !events_.Events().empty(); })) << code;
        PumpFor(100);
        EXPECT_EQ((Strings{"error 88890"}), events_.Names()) << code;
        converter_->Stop();
    }
    // A completion that carries a failure status (the graph passes a renderer's
    // on) is a failure too.
    EXPECT_TRUE(corvane::GraphRunner::MeansFailure(EC_COMPLETE, E_FAIL));
    EXPECT_FALSE(corvane::GraphRunner::MeansFailure(EC_COMPLETE, S_OK));
    EXPECT_FALSE(corvane::GraphRunner::MeansFailure(EC_STREAM_ERROR_STILLPLAYING, E_FAIL));
}

// A host that answers a failure of Convert by loading and converting the next
// file from its onError handler: the failed call ends there and reports
// nothing about the graph that replaced its own.
TEST_F(ConverterTest, SinkThatRebuildsFromAnErrorInsideConvertEndsTheOuterCall)
{
    const std::pair<const char*, std::function<void(L&)>> cases[] = {
        {"error 80002", [](L& l) { l.Splitter().failCreate = true; }},
        {"error 80004", [](L& l) { l.Acm().failCreate = true; }},
        {"error 80005", [](L& l) { l.Encoder().failCreate = true; }},
        {"error 80006", [](L& l) { l.Writer().failCreate = true; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        lab_.ResetSetups();
        Prepare();
        c.second(lab_);
        bool rebuilt = false;
        events_.onEvent = [&](const Event&) {
            if (std::exchange(rebuilt, true)) return;
            lab_.ResetSetups();
            EXPECT_EQ(0, Load(L"C:\\next.rm"));
            converter_->Convert();
        };
        EXPECT_EQ((Strings{c.first}), Convert());
        converter_->Play();
        EXPECT_EQ(State_Running, GraphState());
        WriterCompletes();
        EXPECT_TRUE(PumpUntil([&] { return events_.Names().size() > 1; }));
        EXPECT_EQ((Strings{c.first, "finished"}), events_.Names());
        events_.onEvent = nullptr;
    }
}

TEST_F(ConverterTest, BatchLoopPumpingInsideOnFinishedRunsTheNextJobToItsEnd)
{
    // A host that starts the next file from onFinished and waits for it by pumping, inside the first drain.
    Prepare();
    Convert();
    converter_->Play();
    int finished = 0;
    events_.onEvent = [&](const Event& e) {
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

// The graph runner and the filter wrappers on their own.
class GraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lab_.Register());
        ASSERT_TRUE(runner_.Create());
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
    L lab_;
    GraphRunner runner_;
};

TEST_F(GraphTest, AnObserverThatDestroysTheRunnerEndsTheDrainAndOneThatGoesFirstLeavesIt)
{
    // Storage overwritten once the runner is destroyed: a later use by the drain would fault.
    alignas(GraphRunner) unsigned char storage[sizeof(GraphRunner)];
    auto* runner = new (storage) GraphRunner;
    ASSERT_TRUE(runner->Create());
    // The first abort drains again from inside the observer; the second
    // destroys the runner, which must end both drains.
    struct Observer : corvane::GraphObserver {
        GraphRunner* runner;
        std::vector<LONG> codes;
        void OnNotify(LONG code, corvane::GraphSubject* subject, LONG extra) override
        {
            codes.push_back(code);
            corvane::GraphObserver::OnNotify(code, subject, extra);
            if (code != 88890) return;
            if (codes.size() == 1) return runner->OnGraphEvent();
            runner->~GraphRunner();
            memset(static_cast<void*>(runner), 0xAB, sizeof(GraphRunner));
        }
    } observer;
    observer.runner = runner;
    runner->AttachObserver(&observer);
    ComPtr<IMediaEventSink> sink;
    ASSERT_EQ(S_OK, runner->Graph()->QueryInterface(IID_IMediaEventSink, sink.PutVoid()));
    for (int i = 0; i < 3; ++i) sink->Notify(EC_ERRORABORT, 0, 0);
    sink.Reset();
    runner->OnGraphEvent();
    // Two aborts, then the departure notice; the third was never fetched.
    EXPECT_EQ((std::vector<LONG>{88890, 88890, 0}), observer.codes);
    EXPECT_TRUE(observer.Subjects().empty());

    auto gone = std::make_unique<corvane::GraphObserver>();
    runner_.AttachObserver(gone.get());
    gone.reset();  // an observer that goes first leaves its subject
    EXPECT_EQ(0u, runner_.ObserverCount());
}

TEST_F(GraphTest, WrappersFindPinsDoWithoutOptionalInterfacesAndTheRunnerReportsARefusedStop)
{
    lab_.Splitter().pins = {{L"Input", PINDIR_INPUT}, {L"AUDIO", PINDIR_OUTPUT}, {L"Video", PINDIR_OUTPUT},
                            {L"audio 1", PINDIR_OUTPUT}, {L"Audio", PINDIR_OUTPUT}};
    corvane::FilterWrapper splitter(runner_.Graph(), corvane::CLSID_RealSplitter, "Real Spliter");
    ASSERT_TRUE(splitter.Create());
    EXPECT_EQ("audio 1", PinName(splitter.OutputPin(L"udio")));
    EXPECT_EQ("AUDIO", PinName(splitter.OutputPin()));
    EXPECT_EQ("Input", PinName(splitter.InputPin()));
    EXPECT_EQ(nullptr, splitter.OutputPin(L"UDIO!"));

    // A file writer (no output pin) without IFileSinkFilter2 and a current file: no mode, no name.
    lab_.Writer().oldWriter = true;
    corvane::FileWriterFilter writer(runner_.Graph());
    EXPECT_TRUE(writer.Create());
    EXPECT_EQ(nullptr, writer.OutputPin());
    writer.SetOutputFile(L"C:\\out.mp3");
    EXPECT_TRUE(lab_.With("mode").empty());
    EXPECT_TRUE(lab_.With("setfile").empty());

    // An ACM wrapper format block too small for PCM, or no IAMStreamConfig: no format is set.
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

    // Stop succeeds only when the graph manager stopped the graph.
    for (HRESULT refusal : {S_OK, VFW_E_WRONG_STATE}) {
        lab_.Writer().failStop = refusal;
        corvane::FilterWrapper stopping(runner_.Graph(), CLSID_FileWriter, "Stopping Writer");
        ASSERT_TRUE(stopping.Create());
        ASSERT_TRUE(runner_.Run());
        EXPECT_EQ(refusal == S_OK, runner_.Stop());
    }
}

}  // namespace
