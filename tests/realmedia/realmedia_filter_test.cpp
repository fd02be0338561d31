// The RealMedia splitter and RealAudio decoder of the pack in the platform's
// filter graph manager, feeding a capture renderer: pins and media types,
// streaming to the end with continuous times, duration, seeking and tags.
#include <mutex>

#include "base/media_tags.h"
#include "filter_ids.h"
#include "filter_test_support.h"
#include "test_media.h"

using corvane::ComPtr;
using filter_tests::PinOf;
using filter_tests::Pins;
using realmedia_test::Media;

namespace {

constexpr DWORD kRunTimeoutMs = 60000;

using filter_tests::CaptureSink;

// The first output pin whose name contains `part`.
ComPtr<IPin> PinNamed(IBaseFilter* filter, const wchar_t* part)
{
    for (auto& pin : Pins(filter, PINDIR_OUTPUT)) {
        PIN_INFO info{};
        pin->QueryPinInfo(&info);
        if (info.pFilter) info.pFilter->Release();
        if (std::wcsstr(info.achName, part)) return pin;
    }
    return nullptr;
}

class SplitterGraph : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(com_.Result()));
        ASSERT_EQ(S_OK, pack_.Result());
        ASSERT_TRUE(g_.seeking);
        for (auto [clsid, filter, name] : {std::tuple{CLSID_AsyncReader, &reader_, L"File Reader"},
                                           std::tuple{corvane::CLSID_RealSplitter, &splitter_, L"Real Spliter"},
                                           std::tuple{corvane::CLSID_RealAudioDecoder, &decoder_, L"Real ADecoder"}}) {
            ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter->PutVoid()));
            ASSERT_EQ(S_OK, graph_->AddFilter(filter->Get(), name));
        }
        ASSERT_EQ(S_OK, graph_->AddFilter(sink_.Get(), L"Capture"));
    }
    // Loads the file into the reader and connects reader -> splitter.
    HRESULT Load(const std::wstring& path)
    {
        ComPtr<IFileSourceFilter> source;
        HRESULT hr = reader_.As(source);
        if (SUCCEEDED(hr)) hr = source->Load(path.c_str(), nullptr);
        return FAILED(hr) ? hr : g_.Connect(reader_.Get(), splitter_.Get());
    }
    // Splitter audio -> decoder -> capture sink.
    HRESULT ConnectDecoder()
    {
        ComPtr<IPin> audio = PinNamed(splitter_.Get(), L"Audio");
        const HRESULT hr =
            audio ? graph_->ConnectDirect(audio.Get(), PinOf(decoder_.Get(), PINDIR_INPUT).Get(), nullptr) : VFW_E_NOT_FOUND;
        return FAILED(hr) ? hr : g_.Connect(decoder_.Get(), sink_.Get());
    }
    bool RunToEnd()
    {
        if (FAILED(control_->Run())) return false;
        const bool ended = sink_->WaitForEnd(kRunTimeoutMs);
        control_->Stop();
        return ended;
    }
    HRESULT SeekTo(LONGLONG start)
    {
        return g_.seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    }
    WAVEFORMATEX PcmFormat()
    {
        const auto type = filter_tests::ConnectionType(PinOf(decoder_.Get(), PINDIR_OUTPUT).Get());
        return type.WaveFormat() ? *type.WaveFormat() : WAVEFORMATEX{};
    }
    double CapturedSeconds() { return static_cast<double>(sink_->Bytes().size()) / PcmFormat().nAvgBytesPerSec; }
    std::vector<int16_t> CapturedPcm()
    {
        const auto bytes = sink_->Bytes();
        const auto* pcm = reinterpret_cast<const int16_t*>(bytes.data());
        return {pcm, pcm + bytes.size() / 2};
    }

    testing_support::ComApartment com_{COINIT_MULTITHREADED};
    testing_support::FilterPackRegistration pack_{testing_support::PackFilterClasses()};
    filter_tests::TestGraph g_;  // stops the graph when the test ends
    IGraphBuilder* graph_ = g_.graph.Get();
    IMediaControl* control_ = g_.control.Get();
    ComPtr<IBaseFilter> reader_, splitter_, decoder_;
    ComPtr<CaptureSink> sink_ = ComPtr<CaptureSink>::Attach(new CaptureSink());
};

TEST_F(SplitterGraph, OutputPinsFollowTheInputConnection)
{
    EXPECT_TRUE(Pins(splitter_.Get(), PINDIR_OUTPUT).empty());
    ASSERT_EQ(S_OK, Load(Media(L"video_ac3.rmvb")));
    EXPECT_EQ(2u, Pins(splitter_.Get(), PINDIR_OUTPUT).size());
    ComPtr<IPin> video = PinNamed(splitter_.Get(), L"Video");
    ASSERT_TRUE(video);
    // The decoder takes RealAudio only.
    EXPECT_TRUE(FAILED(graph_->ConnectDirect(video.Get(), PinOf(decoder_.Get(), PINDIR_INPUT).Get(), nullptr)));
    ASSERT_EQ(S_OK, ConnectDecoder());
    // Disconnecting the input takes the outputs away, and their connections with them.
    ASSERT_EQ(S_OK, graph_->Disconnect(PinOf(splitter_.Get(), PINDIR_INPUT).Get()));
    graph_->Disconnect(PinOf(reader_.Get(), PINDIR_OUTPUT).Get());
    EXPECT_TRUE(Pins(splitter_.Get(), PINDIR_OUTPUT).empty());
    ComPtr<IPin> decoderIn;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, PinOf(decoder_.Get(), PINDIR_INPUT)->ConnectedTo(decoderIn.Put()));
}

// What any DirectShow client reads of a file's tags (the writers read them
// through the vtable, which the conversions prove), late-bound by name too;
// fields the file does not have, and members with nothing behind them,
// answer errors.
TEST_F(SplitterGraph, TagsAreReadThroughIAMMediaContent)
{
    ComPtr<IAMMediaContent> content;
    ASSERT_EQ(S_OK, splitter_.As(content));
    auto read = [&](HRESULT (STDMETHODCALLTYPE IAMMediaContent::*get)(BSTR*), HRESULT want = S_OK) {
        BSTR text = nullptr;
        EXPECT_EQ(want, (content.Get()->*get)(&text));
        std::wstring out = text ? std::wstring(text, SysStringLen(text)) : L"";
        SysFreeString(text);
        return out;
    };
    EXPECT_EQ(L"", read(&IAMMediaContent::get_Title, VFW_E_NOT_FOUND)) << "nothing loaded";

    ASSERT_EQ(S_OK, Load(Media(L"tags_accents.rm")));
    EXPECT_EQ(L"Cr\u00e8me br\u00fbl\u00e9e", read(&IAMMediaContent::get_Title));
    EXPECT_EQ(L"", read(&IAMMediaContent::get_Rating, E_NOTIMPL));
    EXPECT_EQ(L"", read(&IAMMediaContent::get_MoreInfoText, E_NOTIMPL));

    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, splitter_.As(dispatch));
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"authorname"), const_cast<LPOLESTR>(L"NoSuchMember")};
    DISPID ids[2] = {};
    ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, ids));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, names + 1, 1, LOCALE_USER_DEFAULT, ids + 1));
    DISPPARAMS none{};
    VARIANT result{};
    ASSERT_EQ(S_OK, dispatch->Invoke(ids[0], IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    ASSERT_EQ(VT_BSTR, V_VT(&result));
    EXPECT_STREQ(L"Zo\u00eb \u00c5ngstr\u00f6m", V_BSTR(&result));
    VariantClear(&result);
    graph_->Disconnect(PinOf(splitter_.Get(), PINDIR_INPUT).Get());
    graph_->Disconnect(PinOf(reader_.Get(), PINDIR_OUTPUT).Get());
    EXPECT_EQ(L"", read(&IAMMediaContent::get_Title, VFW_E_NOT_FOUND)) << "input gone";
}

class PlayThrough : public SplitterGraph, public testing::WithParamInterface<realmedia_test::MediaCase> {};

TEST_P(PlayThrough, StreamsTheWholeFileAsPcmWithContinuousTimes)
{
    const realmedia_test::MediaCase& p = GetParam();
    ASSERT_EQ(S_OK, Load(Media(p.name)));
    ComPtr<IPin> audio = PinNamed(splitter_.Get(), L"Audio");
    ASSERT_EQ(S_OK, ConnectDecoder());
    // The coded type: the codec, and its setup data right behind the format.
    const auto coded = filter_tests::ConnectionType(audio.Get());
    ASSERT_TRUE(coded.WaveFormat());
    EXPECT_EQ(p.fourcc, coded->subtype.Data1);
    EXPECT_TRUE(!coded->bFixedSizeSamples && coded->lSampleSize == 0) << "coded packets vary in size";
    EXPECT_EQ(static_cast<DWORD>(p.rate), coded.WaveFormat()->nSamplesPerSec);
    EXPECT_EQ(p.channels, coded.WaveFormat()->nChannels);
    EXPECT_EQ(sizeof(WAVEFORMATEX) + coded.WaveFormat()->cbSize, coded->cbFormat);
    // The duration as the graph, a renderer asking upstream, and the decoder
    // passing the question on see it.
    for (IUnknown* asked : {static_cast<IUnknown*>(graph_), static_cast<IUnknown*>(audio.Get()),
                            static_cast<IUnknown*>(decoder_.Get())})
        EXPECT_NEAR(p.seconds, filter_tests::DurationOf(asked) / 1e7, p.seconds * p.tolerance);
    const WAVEFORMATEX wf = PcmFormat();
    EXPECT_EQ(WAVE_FORMAT_PCM, wf.wFormatTag);
    EXPECT_EQ(static_cast<DWORD>(p.rate), wf.nSamplesPerSec);
    EXPECT_EQ(p.channels, wf.nChannels);
    EXPECT_EQ(16, wf.wBitsPerSample);
    EXPECT_EQ(2 * p.channels, wf.nBlockAlign);

    ASSERT_TRUE(RunToEnd()) << "no end of stream";
    EXPECT_NEAR(p.exact ? p.exact : p.seconds, CapturedSeconds(), p.exact ? 0.001 : p.seconds * 0.02 + 0.05);
    const auto starts = sink_->Starts();
    ASSERT_FALSE(starts.empty());
    EXPECT_NEAR(0, starts.front(), 1000000);
    for (size_t i = 1; i < starts.size(); ++i) ASSERT_GT(starts[i], starts[i - 1]) << i;
    // The decoder fills its buffers (a quarter of a second each) before delivering them.
    EXPECT_LE(starts.size(), static_cast<size_t>(CapturedSeconds() * 4) + 2);
    const std::vector<int16_t> pcm = CapturedPcm();
    EXPECT_GE(realmedia_test::Rms(pcm), p.minRms);
    if (p.sine > 0) { EXPECT_NEAR(p.sine, realmedia_test::DominantFrequency(pcm, p.channels, p.rate), 10.0); }
}

// Video is left unconnected: it must not hold the audio back.
INSTANTIATE_TEST_SUITE_P(Media, PlayThrough, testing::ValuesIn(realmedia_test::kMedia));

TEST_F(SplitterGraph, StartingFromASeekPositionGivesTheRestAndBackAtTheStartTheWhole)
{
    ASSERT_EQ(S_OK, Load(Media(L"sine1000_ac3.rm")));
    ASSERT_EQ(S_OK, ConnectDecoder());
    for (const auto& [start, seconds] : {std::pair{40000000LL, 2.0}, std::pair{0LL, 6.0}}) {  // 4 s of 6, then 0
        sink_->Reset();
        ASSERT_TRUE(SUCCEEDED(SeekTo(start)));
        ASSERT_TRUE(RunToEnd());
        EXPECT_NEAR(seconds, CapturedSeconds(), 0.15);
        EXPECT_NEAR(1000, realmedia_test::DominantFrequency(CapturedPcm(), 2, 44100), 10.0);  // a decoder reset cleanly
    }
}

// A downstream that refuses a sample is sent nothing more: with S_FALSE it
// wants no more and gets the end; with an error the run failed, and the
// splitter raises the abort the sink did not, and sends no end.
TEST_F(SplitterGraph, ADownstreamThatRefusesASampleIsSentNothingMore)
{
    ASSERT_EQ(S_OK, Load(Media(L"sine1000_ac3.rm")));
    ASSERT_EQ(S_OK, graph_->ConnectDirect(PinNamed(splitter_.Get(), L"Audio").Get(), PinOf(sink_.Get(), PINDIR_INPUT).Get(), nullptr));
    ASSERT_EQ(S_OK, graph_->RemoveFilter(decoder_.Get()));  // not connected: it would refuse to run
    for (const HRESULT refusal : {S_FALSE, HRESULT_FROM_WIN32(ERROR_DISK_FULL)}) {
        SCOPED_TRACE(refusal);
        sink_->Reset();
        sink_->Refuse([](size_t index, long) { return index >= 3; }, refusal);
        g_.abortCode = S_OK;
        ASSERT_EQ(S_OK, control_->Run());
        EXPECT_EQ(refusal == S_FALSE, g_.WaitForCompletion(kRunTimeoutMs) && sink_->WaitForEnd(0));
        EXPECT_EQ(refusal == S_FALSE ? S_OK : refusal, g_.abortCode);
        control_->Stop();
        EXPECT_EQ(0, g_.QueuedAborts());
        EXPECT_EQ(sink_->Starts().size(), 3u);
        EXPECT_EQ(sink_->Refused(), 1);
    }
}

TEST_F(SplitterGraph, SeekingWhileRunningRestartsTheStream)
{
    ASSERT_EQ(S_OK, Load(Media(L"cook_44k_stereo__douidou75-pfm__music.rm")));
    ASSERT_EQ(S_OK, ConnectDecoder());
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    Sleep(200);
    ASSERT_TRUE(SUCCEEDED(SeekTo(2000000000)));  // 200 s of 204.3
    sink_->Reset();
    ASSERT_TRUE(sink_->WaitForEnd(kRunTimeoutMs));
    control_->Stop();
    EXPECT_LT(CapturedSeconds(), 10.0);
}

}  // namespace
