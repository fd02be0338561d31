// The pack's stand-ins for the platform's ACM wrapper and File Writer, the probes that decide whether
// they are needed, failures that end a run, input types refused, and the DLL's lifetime.
#include "filter_test_support.h"
#include "standins/platform_probe.h"

namespace filter_tests {
namespace {

using vellumo::filters::DeleteMediaType;
using vellumo::filters::PcmMediaType;
using vellumo::filters::WaveFormatOf;

using AcmStandIn = PackTest;

// (The probe that decides on registration takes a filter that behaves, the
// stand-in registered in-process under the platform's class, for one.)
TEST_F(AcmStandIn, OffersTheInputFormatUntilOneIsChosen)
{
    EXPECT_TRUE(vellumo::filters::SystemAcmWrapperWorks());
    auto acm = Create(CLSID_ACMWrapper);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, PinOf(acm.Get(), PINDIR_OUTPUT).As(config));
    AM_MEDIA_TYPE* mt = nullptr;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, config->GetFormat(&mt));
    TestGraph g;
    auto source = ComPtr<IBaseFilter>::Attach(new SineSource({48000, 2, 16}));
    ASSERT_EQ(S_OK, g.Chain({source.Get(), acm.Get()}));
    ASSERT_EQ(S_OK, config->GetFormat(&mt));
    auto* w = reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat);
    ASSERT_TRUE(WaveFormatOf(*mt));
    EXPECT_EQ((std::tuple{48000ul, 2, 16}), std::tuple(w->nSamplesPerSec, w->nChannels, w->wBitsPerSample));

    // Changed in place and set back, as the converter does: inconsistent block
    // alignment and unsupported sizes are refused.
    w->nBlockAlign = 3;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(mt));
    *w = {w->wFormatTag, 2, 22050, 6 * 22050, 6, 24, w->cbSize};
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(mt));
    DeleteMediaType(mt);

    // Chosen once the output is connected, the format reconnects it.
    auto wav = WavDest(1);
    g.graph->AddFilter(wav.Get(), L"TestFilter Class");
    ASSERT_EQ(S_OK, g.Connect(acm.Get(), wav.Get()));
    EXPECT_TRUE(SUCCEEDED(config->SetFormat(PcmMediaType(11025, 1, 8).Get())));
    const auto connected = ConnectionType(PinOf(acm.Get(), PINDIR_OUTPUT).Get());
    ASSERT_TRUE(connected.WaveFormat());
    EXPECT_EQ((std::tuple{11025ul, 8}), std::tuple(connected.WaveFormat()->nSamplesPerSec, connected.WaveFormat()->wBitsPerSample));
}

TEST_F(AcmStandIn, ConvertsToTheChosenFormat)
{
    const double sineRms = 0.5 / std::sqrt(2.0);
    const struct {
        SineFormat in;
        DWORD rate;  // 0: no format chosen
        WORD channels, bits;
        const wchar_t* file;
        double rms;  // of channel 0
    } cases[] = {
        {{44100, 2, 16, 1000.0, 0.5, 88200}, 22050, 1, 16, L"acm-22050-mono-16.wav", sineRms},
        // 15 kHz does not fit under 11.025 kHz: a resampler removes it, while
        // dropping every other sample would fold it down to 7.05 kHz at full level.
        {{44100, 1, 16, 15000.0, 0.5, 44100}, 22050, 1, 16, L"acm-15khz-to-22050.wav", 0.0},
        {{22050, 1, 16, 440.0, 0.5, 22050}, 11025, 2, 8, L"acm-11025-stereo-8.wav", sineRms},
        {{44100, 2, 16, 1000.0, 0.5, 44100}, 0, 2, 16, L"acm-unchanged.wav", sineRms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing_support::Narrow(c.file));
        auto acm = Create(CLSID_ACMWrapper), wav = WavDest(1), writer = Create(CLSID_FileWriter);
        ComPtr<IAMStreamConfig> config;
        ASSERT_EQ(S_OK, PinOf(acm.Get(), PINDIR_OUTPUT).As(config));
        const WavInfo w = ParseWav(Write(c.in, {acm.Get(), wav.Get(), writer.Get()}, c.file, [&] {
            if (c.rate) { EXPECT_EQ(S_OK, config->SetFormat(PcmMediaType(c.rate, c.channels, c.bits).Get())); }
        }));
        ASSERT_TRUE(w.ok);
        const DWORD rate = c.rate ? c.rate : c.in.rate;
        EXPECT_EQ((std::tuple{rate, c.channels, c.bits, c.channels * c.bits / 8}),
                  std::tuple(w.rate, w.channels, w.bits, int{w.blockAlign}));
        // Unchanged, the sound goes through as it is.
        EXPECT_NEAR(static_cast<double>(c.in.frames) * rate / c.in.rate, static_cast<double>(w.channel0.size()),
                    c.rate ? 50.0 : 0.0);
        EXPECT_NEAR(c.rms, w.Rms(1000), 0.02);
    }
}

using FileWriterStandIn = PackTest;

// The sink interfaces as the converter uses them. What comes is written as it
// comes (the WAV writer passing bytes on); with overwrite an old file is
// truncated, without it is written over in place, as the platform's writer does.
TEST_F(FileWriterStandIn, WritesWhatComesOverAnExistingFileTruncatedInOverwriteMode)
{
    EXPECT_TRUE(vellumo::filters::SystemFileWriterWorks());  // as the ACM wrapper's probe above
    auto writer = Create(CLSID_FileWriter);
    ComPtr<IFileSinkFilter2> sink;
    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(S_OK, writer.As(sink));
    ASSERT_EQ(S_OK, writer.As(flags));
    EXPECT_EQ(static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_RENDERER), flags->GetMiscFlags());
    // No name yet: success with no name, as the converter expects of Windows' writer.
    LPOLESTR name = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(S_OK, sink->GetCurFile(&name, nullptr));
    EXPECT_EQ(nullptr, name);
    EXPECT_EQ(E_POINTER, sink->SetFileName(nullptr, nullptr));
    EXPECT_EQ(E_INVALIDARG, sink->SetMode(0x10));
    const std::wstring named = OutputPath(L"name with spaces \x00e9\x4e2d.bin");
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(S_OK, sink->SetFileName(named.c_str(), nullptr));
    ASSERT_EQ(S_OK, sink->GetCurFile(&name, &mt));
    EXPECT_EQ(named, name);
    CoTaskMemFree(name);

    const std::wstring path = OutputPath(L"filewriter-overwrite.raw");
    for (const auto& [mode, size] : {std::pair{DWORD(AM_FILE_OVERWRITE), 16000u}, std::pair{DWORD(0), 40000u}}) {
        const std::vector<uint8_t> old(40000, 0xAB);
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(h, old.data(), static_cast<DWORD>(old.size()), &written, nullptr));
        CloseHandle(h);
        ASSERT_EQ(S_OK, sink->SetMode(mode));
        auto wav = WavDest(0);
        const auto bytes = Write({8000, 1, 16, 500.0, 0.5, 8000}, {wav.Get(), writer.Get()}, L"filewriter-overwrite.raw");
        ASSERT_EQ(size, bytes.size());
        if (size > 16000) { EXPECT_EQ(0xAB, bytes[16000]); }
        // The first samples of the sine, as the source made them.
        EXPECT_EQ(std::lround(32767.0 * 0.5 * std::sin(2 * 3.14159265358979323846 * 500 / 8000)),
                  static_cast<int16_t>(Le16(bytes, 2)));
    }
}

// The end is reported once, and only while running: an end reached while
// paused on Run. With nothing connected there is nothing to wait for (and no
// file to make).
TEST_F(FileWriterStandIn, ReportsTheEndOnceAndOnlyWhileRunning)
{
    const std::wstring path = OutputPath(L"filewriter-paused.raw"), unconnected = OutputPath(L"filewriter-none.raw");
    for (const bool paused : {true, false}) {
        SCOPED_TRACE(paused ? "ended while paused" : "ended while running");
        TestGraph g;
        auto source = ComPtr<IBaseFilter>::Attach(new SineSource({8000, 1, 16, 500.0, 0.5, 800}));
        auto writer = Create(CLSID_FileWriter);
        ASSERT_EQ(S_OK, g.Chain({source.Get(), writer.Get()}, path));
        if (paused) {
            ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
            const DWORD deadline = GetTickCount() + 10000;
            while (ReadAll(path).size() < 1600 && static_cast<LONG>(deadline - GetTickCount()) > 0) Sleep(20);
            EXPECT_EQ(1600u, ReadAll(path).size());
            EXPECT_FALSE(g.WaitForCompletion(300)) << "EC_COMPLETE while paused";
        }
        EXPECT_TRUE(g.RunToCompletion(10000));
        ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
        EXPECT_FALSE(g.RunToCompletion(300));
        EXPECT_EQ(1, g.completes);
    }
    DeleteFileW(unconnected.c_str());
    TestGraph g;
    ASSERT_EQ(S_OK, g.Chain({Create(CLSID_FileWriter).Get()}, unconnected));
    EXPECT_TRUE(g.RunToCompletion(5000));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(unconnected.c_str()));
}

using FilterPack = PackTest;

// A failure ends the run as a failure: one EC_ERRORABORT with the failing
// code, no end of stream below it and nothing delivered after it, when a sink
// fails without a word (as the platform's File Writer on a full disk) after
// the encoder, the ACM stand-in or the WAV writer, or refuses the WAV writer's tail.
TEST_F(FilterPack, AFailureEndsTheRunWithOneAbortNoEndAndNothingAfter)
{
    const HRESULT kDiskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    const auto fromThird = [](size_t index, long) { return index >= 3; };
    const GUID kWav = GUID_NULL, kMp3 = corvane::CLSID_Mp3Encoder;  // the WAV writer in WAV mode; the encoder
    const struct {
        std::vector<GUID> chain;  // CLSID_WavDest: the WAV writer in MP3 mode
        std::function<bool(size_t, long)> refuse;
        SineFormat in = {44100, 2, 16, 1000.0, 0.5, 441000};
    } cases[] = {
        {{kMp3}, fromThird}, {{CLSID_ACMWrapper}, fromThird}, {{kWav}, fromThird},
        {{kMp3, corvane::CLSID_WavDest}, fromThird},  // the WAV writer reports: the encoder only stops
        {{kWav}, [](size_t, long length) { return length == 1; }, {22050, 1, 8, 440.0, 0.5, 22051}},  // the pad byte
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        TestGraph g;
        auto source = ComPtr<IBaseFilter>::Attach(new SineSource(c.in));
        auto sink = ComPtr<CaptureSink>::Attach(new CaptureSink());
        sink->Refuse(c.refuse, kDiskFull);
        std::vector<ComPtr<IBaseFilter>> chain;
        std::vector<IBaseFilter*> filters{source.Get()};
        for (const GUID& clsid : c.chain)
            filters.push_back(chain.emplace_back(clsid == kWav ? WavDest(1) : clsid == corvane::CLSID_WavDest ? WavDest(0) : Create(clsid)).Get());
        filters.push_back(sink.Get());
        ASSERT_EQ(S_OK, g.Chain(filters));
        EXPECT_FALSE(g.RunToCompletion(30000)) << "completed";
        EXPECT_EQ(kDiskFull, g.abortCode);
        Sleep(300);  // a second abort, a late end of stream or sample would come now
        EXPECT_EQ(S_OK, g.control->Stop());
        EXPECT_EQ(0, g.QueuedAborts()) << "a second abort";
        EXPECT_FALSE(sink->WaitForEnd(0)) << "end of stream after a failure";
        EXPECT_EQ(1, sink->Refused()) << "samples after the failure";
    }
}

// Input pins refuse types they cannot take (the encoder: 8-bit PCM too) and
// lend one allocator, the encoder offers no type before its input is
// connected, and a transform with nothing on its output takes no samples
// (S_FALSE) while paused.
TEST_F(FilterPack, InputPinsRefuseWhatTheyCannotTake)
{
    vellumo::filters::MediaType video = PcmMediaType(44100, 2, 16), shortBlock = PcmMediaType(44100, 2, 16);
    video->majortype = MEDIATYPE_Video;
    shortBlock->cbFormat = 8;
    for (const GUID& clsid : {corvane::CLSID_WavDest, corvane::CLSID_Mp3Encoder, CLSID_ACMWrapper,
                              corvane::CLSID_RealAudioDecoder}) {
        auto filter = Create(clsid);
        ComPtr<IPin> in = PinOf(filter.Get(), PINDIR_INPUT);
        ASSERT_TRUE(in);
        EXPECT_EQ((std::pair{S_FALSE, S_FALSE}), std::pair(in->QueryAccept(video.Get()), in->QueryAccept(shortBlock.Get())));
        // An upstream that asks for an allocator gets one, the same each time.
        ComPtr<IMemInputPin> memory;
        ComPtr<IMemAllocator> first, second;
        ASSERT_EQ(S_OK, in->QueryInterface(IID_IMemInputPin, memory.PutVoid()));
        EXPECT_EQ((std::pair{S_OK, S_OK}), std::pair(memory->GetAllocator(first.Put()), memory->GetAllocator(second.Put())));
        EXPECT_TRUE(first && first.Get() == second.Get());
    }
    auto encoder = Create(corvane::CLSID_Mp3Encoder);
    EXPECT_EQ(S_FALSE, PinOf(encoder.Get(), PINDIR_INPUT)->QueryAccept(PcmMediaType(22050, 1, 8).Get()));
    ComPtr<IEnumMediaTypes> types;
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, PinOf(encoder.Get(), PINDIR_OUTPUT)->EnumMediaTypes(types.Put()));
    EXPECT_NE(S_OK, types->Next(1, &mt, nullptr)) << "an output type without an input";
    TestGraph g;
    auto* sine = new SineSource({44100, 2, 16});
    auto source = ComPtr<IBaseFilter>::Attach(sine);
    ASSERT_EQ(S_OK, g.Chain({source.Get(), encoder.Get()}));
    ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
    for (int i = 0; i < 500 && sine->LastDelivery() == E_PENDING; ++i) Sleep(10);
    EXPECT_EQ(S_FALSE, sine->LastDelivery());
}

TEST(FilterPackModule, UnloadsOnlyWithoutLiveObjects)
{
    testing_support::ComApartment com;
    auto get = testing_support::PackExport<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
    auto canUnload = testing_support::PackExport<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow");
    ASSERT_TRUE(get && canUnload);
    EXPECT_EQ(S_OK, canUnload());
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, get(corvane::CLSID_Mp3Encoder, IID_IClassFactory, factory.PutVoid()));
    ComPtr<IBaseFilter> encoder;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(factory.Get(), IID_IUnknown, encoder.PutVoid()));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter, encoder.PutVoid()));
    factory.Reset();
    EXPECT_EQ(S_FALSE, canUnload());
    // Pins and seeking share the filter's lifetime: the last release frees all.
    ComPtr<IPin> out = PinOf(encoder.Get(), PINDIR_OUTPUT);
    ComPtr<IMediaSeeking> pinSeeking, filterSeeking;
    ASSERT_EQ(S_OK, out.As(pinSeeking));
    ASSERT_EQ(S_OK, encoder.As(filterSeeking));
    pinSeeking.Reset();
    filterSeeking.Reset();
    out.Reset();
    EXPECT_EQ(0u, encoder.Detach()->Release());
    EXPECT_EQ(S_OK, canUnload());
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, get(GUID_NULL, IID_IClassFactory, factory.PutVoid()));
}

}  // namespace
}  // namespace filter_tests
