// The WAV writer in a real graph: RIFF header bytes and final sizes, odd
// sizes, the written time, seeking through it, and its output written by the
// platform's own File Writer as by the pack's.
#include "filter_test_support.h"

namespace filter_tests {
namespace {

using WavDestTest = PackTest;

TEST_F(WavDestTest, WritesTheRiffHeaderWithTheFinalSizes)
{
    ComPtr<IWavDestControl> control;
    auto wav = WavDest(1, &control), writer = Create(CLSID_FileWriter);
    auto bytes = Write({44100, 2, 16, 1000.0, 0.5, 88200}, {wav.Get(), writer.Get()}, L"wavdest-44100-2-16.wav");
    ASSERT_EQ(44u + 88200u * 4, bytes.size());
    const std::vector<uint8_t> expected = {
        'R', 'I', 'F', 'F', 0x44, 0x62, 0x05, 0x00, 'W', 'A', 'V', 'E',  // 36 + 352800
        'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,                       // PCM, 2 channels
        0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0x00, 4, 0, 16, 0,             // 44100, 176400, 4, 16
        'd', 'a', 't', 'a', 0x20, 0x62, 0x05, 0x00};                       // 352800
    EXPECT_EQ(expected, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 44));
    EXPECT_EQ(MEDIATYPE_Stream, firstOutputType_->majortype);
    LONGLONG time = 0;
    EXPECT_EQ(S_OK, control->GetTime(&time));
    EXPECT_EQ(20000000, time);
    EXPECT_EQ(E_INVALIDARG, control->SetWaveOutput(2));

    // Odd data is padded to an even size, and the pad counted in the RIFF size.
    wav = WavDest(1);
    bytes = Write({22050, 1, 8, 440.0, 0.5, 22051}, {wav.Get(), writer.Get()}, L"wavdest-22050-1-8-odd.wav");
    ASSERT_EQ(44u + 22051u + 1u, bytes.size());
    const WavInfo w = ParseWav(bytes);
    EXPECT_EQ((std::tuple{true, 22051u, 36u + 22051u + 1u, 22050u}), std::tuple(w.ok, w.dataSize, w.riffSize, w.byteRate));
    EXPECT_EQ(0, bytes.back());
}

// The system's own File Writer, from its own DLL (the pack's stand-in may be
// registered under its class).
ComPtr<IBaseFilter> PlatformFileWriter()
{
    auto get = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"qcap.dll"), "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    ComPtr<IBaseFilter> writer;
    if (get && SUCCEEDED(get(CLSID_FileWriter, IID_IClassFactory, factory.PutVoid())))
        factory->CreateInstance(nullptr, IID_IBaseFilter, writer.PutVoid());
    return writer;
}

TEST_F(WavDestTest, AGraphStoppedHalfWayLeavesAWholeFile)
{
    // The source holds after 1.5 s of its 3 s, as a conversion cancelled half way: the
    // header has the sizes of what was written, with the pack's writer and with the system's.
    for (const bool platform : {false, true}) {
        SCOPED_TRACE(platform ? "platform writer" : "pack writer");
        TestGraph g;
        auto source = ComPtr<IBaseFilter>::Attach(new SineSource({44100, 2, 16, 1000.0, 0.5, 44100 * 3, 66150}));
        ComPtr<IWavDestControl> control;
        auto wav = WavDest(1, &control), writer = platform ? PlatformFileWriter() : Create(CLSID_FileWriter);
        ASSERT_TRUE(writer);
        const std::wstring path = OutputPath(platform ? L"wavdest-stopped-platform.wav" : L"wavdest-stopped-pack.wav");
        ASSERT_EQ(S_OK, g.Chain({source.Get(), wav.Get(), writer.Get()}, path));
        ASSERT_EQ(S_OK, g.control->Run());
        LONGLONG time = 0;
        for (int i = 0; i < 1000 && time < 15000000; ++i, Sleep(10)) control->GetTime(&time);
        ASSERT_EQ(15000000, time);
        ASSERT_EQ(S_OK, g.control->Stop());
        EXPECT_EQ(0, g.QueuedAborts()) << "a stop is no failure";
        const WavInfo w = ParseWav(ReadAll(path));
        EXPECT_EQ((std::tuple{true, 66150u * 4, 36u + 66150u * 4}), std::tuple(w.ok, w.dataSize, w.riffSize));
    }
}

// Audio past what a RIFF header can describe (a limit only the test lowers):
// with the source's duration known, the whole file as RF64 (ffprobe reads
// it); without, a run that fails before the limit, its RIFF file true to what it holds.
TEST_F(WavDestTest, PastTheRiffLimitAnAnnouncedRunIsRf64AndAnotherFails)
{
    for (const bool announced : {true, false}) {
        TestGraph g;
        auto reader = Create(CLSID_AsyncReader), splitter = Create(corvane::CLSID_RealSplitter),
             decoder = Create(corvane::CLSID_RealAudioDecoder), wav = WavDest(1), writer = Create(CLSID_FileWriter);
        auto sine = ComPtr<IBaseFilter>::Attach(new SineSource({}));
        ComPtr<IFileSourceFilter> file;
        ComPtr<IWavDestOutput> output;
        ASSERT_TRUE(SUCCEEDED(wav.As(output)) && SUCCEEDED(output->SetRiffSizeLimit(300000)) && SUCCEEDED(reader.As(file)));
        ASSERT_EQ(S_OK, file->Load(MediaPath(L"sine1000_ac3.rm").c_str(), nullptr));
        const std::wstring path = OutputPath(announced ? L"wavdest-rf64.wav" : L"wavdest-past-riff.wav");
        ASSERT_EQ(S_OK, g.Chain(announced ? std::vector<IBaseFilter*>{reader.Get(), splitter.Get(), decoder.Get(), wav.Get(), writer.Get()}
                                          : std::vector<IBaseFilter*>{sine.Get(), wav.Get(), writer.Get()}, path));
        EXPECT_EQ(announced, g.RunToCompletion(60000));
        EXPECT_EQ(announced ? S_OK : HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), g.abortCode);
        g.control->Stop();
        const auto b = ReadAll(path);
        ULONGLONG length = 0;
        EXPECT_TRUE(SUCCEEDED(output->GetOutputLength(&length)) && length == b.size());
        const WavInfo w = ParseWav(b);
        auto le64 = [&](size_t at) { return Le32(b, at) | static_cast<uint64_t>(Le32(b, at + 4)) << 32; };
        if (!announced) {
            EXPECT_TRUE(w.ok && w.riffSize + 8u == b.size() && w.riffSize <= 300000) << w.riffSize;
            continue;
        }
        ASSERT_GT(b.size(), 1000080u);  // "RF64", then ds64: RIFF size, data size, frames; the data size field
        EXPECT_EQ((std::vector<uint64_t>{0x34364652u, b.size() - 8, b.size() - 80, (b.size() - 80) / 4, 0xFFFFFFFFu}),
                  (std::vector<uint64_t>{Le32(b, 0), le64(20), le64(28), le64(36), Le32(b, 76)}));
    }
}

// A RealMedia file through the pack: its duration reaches the WAV writer (at
// filter level, as Wine's graph asks, and at pin level, as Windows' renderers
// ask upstream), the File Writer and the graph, and a seek reaches the
// splitter, which writes back only the positions asked of it.
TEST_F(WavDestTest, SeekingAndDurationPassUpstream)
{
    TestGraph g;
    auto reader = Create(CLSID_AsyncReader), splitter = Create(corvane::CLSID_RealSplitter),
         decoder = Create(corvane::CLSID_RealAudioDecoder), wav = WavDest(1), writer = Create(CLSID_FileWriter);
    ComPtr<IFileSourceFilter> file;
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, reader.As(file));
    ASSERT_EQ(S_OK, splitter.As(seeking));
    ASSERT_EQ(S_OK, file->Load(MediaPath(L"sine1000_ac3.rm").c_str(), nullptr));
    ASSERT_EQ(S_OK, g.Chain({reader.Get(), splitter.Get(), decoder.Get(), wav.Get(), writer.Get()},
                            OutputPath(L"wavdest-seeking.wav")));
    ComPtr<IPin> out = PinOf(wav.Get(), PINDIR_OUTPUT);
    for (IUnknown* asked : {static_cast<IUnknown*>(wav.Get()), static_cast<IUnknown*>(out.Get()),
                            static_cast<IUnknown*>(writer.Get()), static_cast<IUnknown*>(g.graph.Get())})
        EXPECT_NEAR(6.0, DurationOf(asked) / 1e7, 0.12);
    LONGLONG current = 20000000, stop = 0;
    EXPECT_EQ(S_OK, g.seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning));
    ASSERT_EQ(S_OK, seeking->GetCurrentPosition(&current));
    EXPECT_EQ(20000000, current);
    current = 12345;
    EXPECT_EQ(S_OK, seeking->SetPositions(&current, AM_SEEKING_NoPositioning, &stop,
                                          AM_SEEKING_NoPositioning | AM_SEEKING_ReturnTime));
    EXPECT_EQ(12345, current);
    EXPECT_NEAR(6.0, stop / 1e7, 0.12);
}

}  // namespace
}  // namespace filter_tests
