// The RealMedia splitter and RealAudio decoder of the pack in the platform's
// filter graph manager: connections and media types, streaming to the end,
// duration, seeking and reference files.
#include "dshow_uuids.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "capture_sink.h"
#include "codec_setup.h"
#include "com_ptr.h"
#include "filter_ids.h"
#include "filter_pack.h"
#include "test_media.h"
#include "test_platform.h"

using corvane::ComPtr;
using realmedia_test::CaptureSink;
using realmedia_test::Media;
using vellumo::realmedia::MakeFourcc;

namespace {

constexpr DWORD kRunTimeoutMs = 60000;

std::string PinName(IPin* pin)
{
    PIN_INFO info{};
    pin->QueryPinInfo(&info);
    if (info.pFilter) info.pFilter->Release();
    char name[128] = {};
    WideCharToMultiByte(CP_ACP, 0, info.achName, -1, name, sizeof name, nullptr, nullptr);
    return name;
}

std::vector<ComPtr<IPin>> Pins(IBaseFilter* filter, PIN_DIRECTION direction)
{
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> e;
    if (FAILED(filter->EnumPins(e.Put()))) return pins;
    ComPtr<IPin> pin;
    while (e->Next(1, pin.Put(), nullptr) == S_OK) {
        PIN_DIRECTION d;
        pin->QueryDirection(&d);
        if (d == direction) pins.push_back(pin);
    }
    return pins;
}

ComPtr<IPin> PinNamed(IBaseFilter* filter, const char* part)
{
    for (auto& pin : Pins(filter, PINDIR_OUTPUT)) {
        if (PinName(pin.Get()).find(part) != std::string::npos) return pin;
    }
    return nullptr;
}

class SplitterGraph : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(com_.Result()));
        ASSERT_EQ(S_OK, pack_.Result());
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph_.PutVoid()));
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         reader_.PutVoid()));
        ASSERT_EQ(S_OK, CoCreateInstance(corvane::CLSID_RealSplitter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         splitter_.PutVoid()));
        ASSERT_EQ(S_OK, CoCreateInstance(corvane::CLSID_RealAudioDecoder, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IBaseFilter, decoder_.PutVoid()));
        ASSERT_EQ(S_OK, graph_->AddFilter(reader_.Get(), L"File Reader"));
        ASSERT_EQ(S_OK, graph_->AddFilter(splitter_.Get(), L"Real Spliter"));
        ASSERT_EQ(S_OK, graph_->AddFilter(decoder_.Get(), L"Real ADecoder"));
    }
    void TearDown() override
    {
        if (graph_) {
            ComPtr<IMediaControl> control;
            if (SUCCEEDED(graph_.As(control))) control->Stop();
        }
        sink_ = nullptr;
        decoder_ = nullptr;
        splitter_ = nullptr;
        reader_ = nullptr;
        graph_ = nullptr;
    }

    // Loads the file into the reader and connects reader -> splitter.
    HRESULT Load(const std::wstring& path)
    {
        ComPtr<IFileSourceFilter> source;
        HRESULT hr = reader_.As(source);
        if (FAILED(hr)) return hr;
        hr = source->Load(path.c_str(), nullptr);
        if (FAILED(hr)) return hr;
        auto out = Pins(reader_.Get(), PINDIR_OUTPUT);
        auto in = Pins(splitter_.Get(), PINDIR_INPUT);
        if (out.empty() || in.size() != 1) return E_UNEXPECTED;
        return graph_->ConnectDirect(out[0].Get(), in[0].Get(), nullptr);
    }

    // Splitter audio -> decoder -> capture sink.
    HRESULT ConnectDecoder()
    {
        ComPtr<IPin> audio = PinNamed(splitter_.Get(), "udio");
        if (!audio) return VFW_E_NOT_FOUND;
        HRESULT hr = graph_->ConnectDirect(audio.Get(), Pins(decoder_.Get(), PINDIR_INPUT)[0].Get(), nullptr);
        if (FAILED(hr)) return hr;
        sink_ = ComPtr<CaptureSink>::Attach(new CaptureSink());
        hr = graph_->AddFilter(sink_.Get(), L"Capture");
        if (FAILED(hr)) return hr;
        return graph_->ConnectDirect(Pins(decoder_.Get(), PINDIR_OUTPUT)[0].Get(), sink_->Input(), nullptr);
    }

    bool RunToEnd()
    {
        ComPtr<IMediaControl> control;
        if (FAILED(graph_.As(control)) || FAILED(control->Run())) return false;
        bool ended = sink_->WaitForEnd(kRunTimeoutMs);
        control->Stop();
        return ended;
    }

    WAVEFORMATEX PcmFormat()
    {
        AM_MEDIA_TYPE mt{};
        WAVEFORMATEX wf{};
        if (SUCCEEDED(Pins(decoder_.Get(), PINDIR_OUTPUT)[0]->ConnectionMediaType(&mt))) {
            if (mt.pbFormat && mt.cbFormat >= sizeof(WAVEFORMATEX)) std::memcpy(&wf, mt.pbFormat, sizeof wf);
            CoTaskMemFree(mt.pbFormat);
            if (mt.pUnk) mt.pUnk->Release();
        }
        return wf;
    }

    double CapturedSeconds()
    {
        WAVEFORMATEX wf = PcmFormat();
        return wf.nAvgBytesPerSec ? static_cast<double>(sink_->Bytes().size()) / wf.nAvgBytesPerSec : 0;
    }

    std::vector<int16_t> CapturedPcm()
    {
        auto bytes = sink_->Bytes();
        std::vector<int16_t> pcm(bytes.size() / 2);
        std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
        return pcm;
    }

    testing_support::ComApartment com_{COINIT_MULTITHREADED};
    testing_support::FilterPackRegistration pack_{testing_support::PackFilterClasses()};
    ComPtr<IGraphBuilder> graph_;
    ComPtr<IBaseFilter> reader_, splitter_, decoder_;
    ComPtr<CaptureSink> sink_;
};

TEST_F(SplitterGraph, OutputPinsAppearOnlyOnceTheInputIsConnected)
{
    EXPECT_TRUE(Pins(splitter_.Get(), PINDIR_OUTPUT).empty());
    ASSERT_EQ(S_OK, Load(Media(L"video_ac3.rmvb")));
    auto outs = Pins(splitter_.Get(), PINDIR_OUTPUT);
    ASSERT_EQ(2u, outs.size());
    int audio = 0;
    for (auto& pin : outs) {
        if (PinName(pin.Get()).find("udio") != std::string::npos) ++audio;
    }
    EXPECT_EQ(1, audio);
    EXPECT_NE(nullptr, PinNamed(splitter_.Get(), "Video").Get());
}

TEST_F(SplitterGraph, AudioPinCarriesTheCodecAndItsSetupData)
{
    ASSERT_EQ(S_OK, Load(Media(L"cook_44k_stereo__douidou75-pfm__music.rm")));
    ComPtr<IPin> audio = PinNamed(splitter_.Get(), "Audio");
    ASSERT_TRUE(audio);
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, audio->EnumMediaTypes(types.Put()));
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, types->Next(1, &mt, nullptr));
    EXPECT_EQ(MEDIATYPE_Audio, mt->majortype);
    EXPECT_EQ(MakeFourcc('c', 'o', 'o', 'k'), mt->subtype.Data1);
    EXPECT_EQ(FORMAT_WaveFormatEx, mt->formattype);
    ASSERT_GE(mt->cbFormat, sizeof(WAVEFORMATEX));
    const auto* wf = reinterpret_cast<const WAVEFORMATEX*>(mt->pbFormat);
    EXPECT_EQ(44100u, wf->nSamplesPerSec);
    EXPECT_EQ(2, wf->nChannels);
    EXPECT_GT(wf->nBlockAlign, 0);
    EXPECT_GT(wf->cbSize, 0) << "cook needs its setup data";
    EXPECT_EQ(sizeof(WAVEFORMATEX) + wf->cbSize, mt->cbFormat);
    CoTaskMemFree(mt->pbFormat);
    CoTaskMemFree(mt);
}

TEST_F(SplitterGraph, DecoderOutputsSixteenBitPcmAtTheSourceFormat)
{
    ASSERT_EQ(S_OK, Load(Media(L"sine1000_ac3.rm")));
    ASSERT_EQ(S_OK, ConnectDecoder());
    WAVEFORMATEX wf = PcmFormat();
    EXPECT_EQ(WAVE_FORMAT_PCM, wf.wFormatTag);
    EXPECT_EQ(44100u, wf.nSamplesPerSec);
    EXPECT_EQ(2, wf.nChannels);
    EXPECT_EQ(16, wf.wBitsPerSample);
    EXPECT_EQ(4, wf.nBlockAlign);
}

TEST_F(SplitterGraph, DecoderRefusesWhatIsNotRealAudio)
{
    ASSERT_EQ(S_OK, Load(Media(L"video_ac3.rmvb")));
    ComPtr<IPin> video = PinNamed(splitter_.Get(), "Video");
    ASSERT_TRUE(video);
    EXPECT_TRUE(FAILED(graph_->ConnectDirect(video.Get(), Pins(decoder_.Get(), PINDIR_INPUT)[0].Get(), nullptr)));
}

struct Played {
    const wchar_t* name;
    int rate, channels;
    double seconds;
    double sine;  // 0: not a sine
};

class PlayThrough : public SplitterGraph, public testing::WithParamInterface<Played> {};

TEST_P(PlayThrough, StreamsTheWholeFileWithContinuousTimes)
{
    const Played& p = GetParam();
    ASSERT_EQ(S_OK, Load(Media(p.name)));
    ASSERT_EQ(S_OK, ConnectDecoder());
    ASSERT_TRUE(RunToEnd()) << "no end of stream";
    WAVEFORMATEX wf = PcmFormat();
    EXPECT_EQ(static_cast<DWORD>(p.rate), wf.nSamplesPerSec);
    EXPECT_EQ(p.channels, wf.nChannels);
    EXPECT_NEAR(p.seconds, CapturedSeconds(), p.seconds * 0.02 + 0.05);
    auto starts = sink_->Starts();
    ASSERT_FALSE(starts.empty());
    EXPECT_NEAR(0, starts.front(), 1000000);
    for (size_t i = 1; i < starts.size(); ++i) ASSERT_GT(starts[i], starts[i - 1]) << i;
    if (p.sine > 0) {
        EXPECT_NEAR(p.sine, realmedia_test::DominantFrequency(CapturedPcm(), p.channels, p.rate), 10.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Media, PlayThrough,
    testing::Values(Played{L"sine440_144.ra", 8000, 1, 5.0, 440}, Played{L"sine1000_ac3.rm", 44100, 2, 6.0, 1000},
                    Played{L"video_ac3.rmvb", 44100, 2, 4.0, 440}, Played{L"video_rv10.rm", 8000, 1, 3.0, 660},
                    Played{L"raac_44k_stereo__SymbianSource-sf.app.files__Video.rm", 44100, 2, 30.04, 0},
                    Played{L"cook_8k_mono+rv30__SymbianSource-sf.mw.mmappfw__Battle_160x100_30kbps.rm", 8000, 1,
                           119.54, 0},
                    Played{L"surestream_sipr_8k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_5kbps_Voice.ra", 22050, 1,
                           208.98, 0}));

TEST_F(SplitterGraph, GraphReportsTheDurationThroughTheFilters)
{
    ASSERT_EQ(S_OK, Load(Media(L"sine1000_ac3.rm")));
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, graph_.As(seeking));
    LONGLONG duration = 0;
    ASSERT_EQ(S_OK, seeking->GetDuration(&duration));
    EXPECT_NEAR(6.0, duration / 1e7, 0.12);

    // Asked on the splitter's audio pin, as a renderer passing upstream would.
    ComPtr<IMediaSeeking> pinSeeking;
    ASSERT_EQ(S_OK, PinNamed(splitter_.Get(), "Audio").As(pinSeeking));
    duration = 0;
    ASSERT_EQ(S_OK, pinSeeking->GetDuration(&duration));
    EXPECT_NEAR(6.0, duration / 1e7, 0.12);

    // And through the decoder, which passes the question upstream.
    ASSERT_EQ(S_OK, ConnectDecoder());
    ComPtr<IMediaSeeking> decoderSeeking;
    ASSERT_EQ(S_OK, decoder_.As(decoderSeeking));
    duration = 0;
    ASSERT_EQ(S_OK, decoderSeeking->GetDuration(&duration));
    EXPECT_NEAR(6.0, duration / 1e7, 0.12);
}

TEST_F(SplitterGraph, DurationOfAFileWhoseHeadersLeaveItOut)
{
    ASSERT_EQ(S_OK, Load(Media(L"sine440_144.rm")));
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, graph_.As(seeking));
    LONGLONG duration = 0;
    ASSERT_EQ(S_OK, seeking->GetDuration(&duration));
    EXPECT_NEAR(5.0, duration / 1e7, 0.1);
}

TEST_F(SplitterGraph, StartingFromASeekPositionGivesTheRest)
{
    ASSERT_EQ(S_OK, Load(Media(L"sine1000_ac3.rm")));
    ASSERT_EQ(S_OK, ConnectDecoder());
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, graph_.As(seeking));
    LONGLONG start = 40000000;  // 4 s of 6
    ASSERT_TRUE(SUCCEEDED(
        seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning)));
    ASSERT_TRUE(RunToEnd());
    EXPECT_NEAR(2.0, CapturedSeconds(), 0.15);

    // Back to the start: the whole file again.
    sink_->ResetCapture();
    start = 0;
    ASSERT_TRUE(SUCCEEDED(
        seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning)));
    ASSERT_TRUE(RunToEnd());
    EXPECT_NEAR(6.0, CapturedSeconds(), 0.15);
}

TEST_F(SplitterGraph, SeekingWhileRunningRestartsTheStream)
{
    ASSERT_EQ(S_OK, Load(Media(L"cook_44k_stereo__douidou75-pfm__music.rm")));
    ASSERT_EQ(S_OK, ConnectDecoder());
    ComPtr<IMediaControl> control;
    ASSERT_EQ(S_OK, graph_.As(control));
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    Sleep(200);
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, graph_.As(seeking));
    LONGLONG start = 2000000000;  // 200 s of 204.3
    ASSERT_TRUE(SUCCEEDED(
        seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning)));
    sink_->ResetCapture();
    ASSERT_TRUE(sink_->WaitForEnd(kRunTimeoutMs));
    control->Stop();
    EXPECT_LT(CapturedSeconds(), 10.0);
}

TEST_F(SplitterGraph, UnconnectedVideoDoesNotHoldTheAudioBack)
{
    ASSERT_EQ(S_OK, Load(Media(L"cook_8k_mono+rv30__SymbianSource-sf.mw.mmappfw__Battle_160x100_30kbps.rm")));
    ASSERT_NE(nullptr, PinNamed(splitter_.Get(), "Video").Get());
    ASSERT_EQ(S_OK, ConnectDecoder());
    ASSERT_TRUE(RunToEnd());
    EXPECT_NEAR(119.54, CapturedSeconds(), 2.4);
}

TEST_F(SplitterGraph, ReferenceFilesLeadToTheirFirstLocalFile)
{
    ASSERT_EQ(S_OK, Load(Media(L"relative.ram")));
    ASSERT_EQ(S_OK, ConnectDecoder());
    ASSERT_TRUE(RunToEnd());
    EXPECT_NEAR(6.0, CapturedSeconds(), 0.15);
    EXPECT_NEAR(1000, realmedia_test::DominantFrequency(CapturedPcm(), 2, 44100), 10.0);
}

TEST_F(SplitterGraph, ReferenceFileWithAUrlToANonAsciiPathWithSpaces)
{
    ASSERT_EQ(S_OK, Load(Media(L"url.ram")));
    EXPECT_NE(nullptr, PinNamed(splitter_.Get(), "Audio").Get());
}

class RefusedInput : public SplitterGraph, public testing::WithParamInterface<const wchar_t*> {};

TEST_P(RefusedInput, DoesNotConnectAndLeavesNoPins)
{
    HRESULT hr = Load(Media(GetParam()));
    EXPECT_TRUE(FAILED(hr));
    EXPECT_TRUE(Pins(splitter_.Get(), PINDIR_OUTPUT).empty());
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, RefusedInput,
    testing::Values(L"empty.rm", L"random.rm", L"header_cut.rm", L"nowhere.ram",
                    L"ram_rtsp_6lines__SymbianSource-sf.mw.mmappfw__multiple_streaming_link.ram",
                    L"damaged_headerless_dnet__SymbianSource-sf.os.mm__Corrupt.rm",
                    L"damaged_headeronly_cook_44k_stereo__exiftool-exiftool__Real.rm"));

TEST_F(SplitterGraph, VideoOnlyFileHasNoAudioPin)
{
    ASSERT_EQ(S_OK, Load(Media(L"video_only.rm")));
    EXPECT_EQ(nullptr, PinNamed(splitter_.Get(), "udio").Get());
}

TEST_F(SplitterGraph, DamagedFilesEndWithoutHanging)
{
    for (const wchar_t* name : {L"truncated.rm",
                                L"damaged_truncated_cook_8k_mono+rv30__SymbianSource-sf.os.mm__valid_80X140.rm"}) {
        TearDown();
        SetUp();
        if (FAILED(Load(Media(name)))) continue;
        ASSERT_EQ(S_OK, ConnectDecoder()) << name;
        ComPtr<IMediaControl> control;
        ASSERT_EQ(S_OK, graph_.As(control));
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        ComPtr<IMediaEvent> events;
        ASSERT_EQ(S_OK, graph_.As(events));
        long code = 0;
        // Either the end of the stream or an abort, within the time limit.
        EXPECT_TRUE(sink_->WaitForEnd(kRunTimeoutMs) || SUCCEEDED(events->WaitForCompletion(1000, &code))) << name;
        control->Stop();
    }
}

TEST_F(SplitterGraph, ReconnectingTheInputReplacesTheOutputs)
{
    ASSERT_EQ(S_OK, Load(Media(L"video_ac3.rmvb")));
    ASSERT_EQ(2u, Pins(splitter_.Get(), PINDIR_OUTPUT).size());
    ASSERT_EQ(S_OK, ConnectDecoder());
    auto in = Pins(splitter_.Get(), PINDIR_INPUT)[0];
    ASSERT_EQ(S_OK, graph_->Disconnect(in.Get()));
    ComPtr<IPin> upstream;
    ASSERT_EQ(S_OK, Pins(reader_.Get(), PINDIR_OUTPUT)[0]->ConnectedTo(upstream.Put()));
    graph_->Disconnect(upstream.Get());
    EXPECT_TRUE(Pins(splitter_.Get(), PINDIR_OUTPUT).empty());
    ComPtr<IPin> decoderIn;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, Pins(decoder_.Get(), PINDIR_INPUT)[0]->ConnectedTo(decoderIn.Put()));
}

}  // namespace
