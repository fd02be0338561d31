// The RealMedia media core on its own: reading through a pull source,
// demuxing, reference files and decoding, on media made by ffmpeg at test
// time and on files from real RealMedia encoders.
#include "audio_decoder.h"
#include "avio_bridge.h"
#include "media_opener.h"
#include "ram_file.h"
#include "rm_demuxer.h"
#include "surestream.h"
#include "test_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>

using namespace vellumo::realmedia;
using realmedia_test::DominantFrequency;
using realmedia_test::Media;

namespace {

std::vector<uint8_t> Bytes(const std::string& s)
{
    return {s.begin(), s.end()};
}

std::vector<uint8_t> FileBytes(const std::wstring& path)
{
    auto file = FileByteSource::Open(path);
    if (!file) return {};
    return ReadHead(*file, static_cast<int32_t>(file->Length()));
}

// A source that hands out at most a few bytes per read, as a pull interface
// with small buffers would.
class DribblingSource : public ByteSource {
public:
    DribblingSource(std::vector<uint8_t> bytes, int32_t chunk) : inner_(std::move(bytes)), chunk_(chunk) {}
    int64_t Length() override { return inner_.Length(); }
    int32_t ReadAt(int64_t offset, uint8_t* buffer, int32_t size) override
    {
        ++reads;
        return inner_.ReadAt(offset, buffer, std::min(size, chunk_));
    }
    int reads = 0;

private:
    MemoryByteSource inner_;
    int32_t chunk_;
};

// A source whose reads fail past a given offset.
class FailingSource : public ByteSource {
public:
    FailingSource(std::vector<uint8_t> bytes, int64_t failFrom) : inner_(std::move(bytes)), failFrom_(failFrom) {}
    int64_t Length() override { return inner_.Length(); }
    int32_t ReadAt(int64_t offset, uint8_t* buffer, int32_t size) override
    {
        if (offset + size > failFrom_) return -1;
        return inner_.ReadAt(offset, buffer, size);
    }

private:
    MemoryByteSource inner_;
    int64_t failFrom_;
};

std::unique_ptr<RmDemuxer> OpenFile(const std::wstring& path)
{
    return OpenRealMedia(FileByteSource::Open(path));
}

struct Decoded {
    int rate = 0, channels = 0;
    std::vector<int16_t> pcm;
    int packets = 0, damaged = 0;
    bool readError = false;
    double Seconds() const { return rate ? static_cast<double>(pcm.size()) / channels / rate : 0; }
};

// Demuxes and decodes the chosen audio stream; packets can be damaged on the
// way by a callback.
Decoded DecodeAll(RmDemuxer& demuxer, void (*damage)(int, std::vector<uint8_t>&) = nullptr)
{
    Decoded d;
    int a = demuxer.AudioStream();
    if (a < 0) return d;
    AudioDecoder decoder;
    if (!decoder.Open(demuxer.Streams()[static_cast<size_t>(a)].audio)) return d;
    d.rate = decoder.SampleRate();
    d.channels = decoder.Channels();
    MediaPacket p;
    for (;;) {
        auto status = demuxer.Read(p);
        if (status != RmDemuxer::ReadStatus::Packet) {
            d.readError = status == RmDemuxer::ReadStatus::Error;
            break;
        }
        if (p.stream != a) continue;
        if (damage) damage(d.packets, p.data);
        ++d.packets;
        decoder.Decode(p.data.data(), p.data.size(), d.pcm);
    }
    decoder.Drain(d.pcm);
    d.damaged = decoder.DamagedPackets();
    return d;
}

// ---------------------------------------------------------------------------
// Reading through the pull source

TEST(MemoryByteSource, ShortReadAtTheEndAndNothingPastIt)
{
    MemoryByteSource s(Bytes("0123456789"));
    uint8_t buf[8];
    EXPECT_EQ(10, s.Length());
    EXPECT_EQ(4, s.ReadAt(6, buf, 8));
    EXPECT_EQ(0, std::memcmp(buf, "6789", 4));
    EXPECT_EQ(0, s.ReadAt(10, buf, 8));
    EXPECT_EQ(0, s.ReadAt(99, buf, 8));
    EXPECT_EQ(-1, s.ReadAt(-1, buf, 8));
}

TEST(FileByteSource, MissingFilesAndFoldersDoNotOpen)
{
    EXPECT_EQ(nullptr, FileByteSource::Open(Media(L"no such file.rm")));
    EXPECT_EQ(nullptr, FileByteSource::Open(realmedia_test::MediaDir()));
    auto f = FileByteSource::Open(Media(L"sine1000_ac3.rm"));
    ASSERT_NE(nullptr, f);
    EXPECT_GT(f->Length(), 10000);
}

TEST(RmDemuxer, DemuxesTheSameThroughTinyReadsAsThroughAFile)
{
    auto bytes = FileBytes(Media(L"sine1000_ac3.rm"));
    ASSERT_FALSE(bytes.empty());
    auto dribble = std::make_unique<DribblingSource>(bytes, 700);
    auto* counter = dribble.get();
    RmDemuxer a, b;
    ASSERT_TRUE(a.Open(std::move(dribble)));
    ASSERT_TRUE(b.Open(std::make_unique<MemoryByteSource>(bytes)));
    Decoded da = DecodeAll(a), db = DecodeAll(b);
    EXPECT_GT(counter->reads, 100);
    EXPECT_EQ(db.packets, da.packets);
    EXPECT_EQ(db.pcm, da.pcm);
    EXPECT_FALSE(da.readError);
}

TEST(RmDemuxer, AReadErrorEndsTheStreamAsAnError)
{
    auto bytes = FileBytes(Media(L"sine1000_ac3.rm"));
    RmDemuxer d;
    ASSERT_TRUE(d.Open(std::make_unique<FailingSource>(bytes, static_cast<int64_t>(bytes.size() / 2))));
    Decoded r = DecodeAll(d);
    EXPECT_TRUE(r.readError);
    EXPECT_GT(r.packets, 0);
}

// ---------------------------------------------------------------------------
// Media made by ffmpeg

struct Generated {
    const wchar_t* name;
    uint32_t fourcc;
    int rate, channels;
    double seconds;
    double sine;  // Hz
    size_t streams;
};

class GeneratedMedia : public testing::TestWithParam<Generated> {};

TEST_P(GeneratedMedia, OpensDecodesAndSoundsLikeWhatWentIn)
{
    const Generated& g = GetParam();
    auto demuxer = OpenFile(Media(g.name));
    ASSERT_NE(nullptr, demuxer);
    EXPECT_EQ(g.streams, demuxer->Streams().size());
    int a = demuxer->AudioStream();
    ASSERT_GE(a, 0);
    const StreamInfo& s = demuxer->Streams()[static_cast<size_t>(a)];
    EXPECT_EQ(StreamKind::Audio, s.kind);
    EXPECT_EQ(g.fourcc, s.audio.fourcc);
    EXPECT_EQ(g.rate, s.audio.sampleRate);
    EXPECT_EQ(g.channels, s.audio.channels);
    EXPECT_NEAR(g.seconds, demuxer->Duration() / 1e7, g.seconds * 0.02);

    Decoded d = DecodeAll(*demuxer);
    EXPECT_EQ(g.rate, d.rate);
    EXPECT_EQ(g.channels, d.channels);
    EXPECT_FALSE(d.readError);
    EXPECT_EQ(0, d.damaged);
    EXPECT_NEAR(g.seconds, d.Seconds(), g.seconds * 0.02 + 0.05);
    EXPECT_NEAR(g.sine, DominantFrequency(d.pcm, d.channels, d.rate), 10.0);
    EXPECT_GT(realmedia_test::Rms(d.pcm), 1000.0);
}

INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, GeneratedMedia,
    testing::Values(Generated{L"sine440_144.ra", MakeFourcc('l', 'p', 'c', 'J'), 8000, 1, 5.0, 440, 1},
                    Generated{L"sine440_144.rm", MakeFourcc('l', 'p', 'c', 'J'), 8000, 1, 5.0, 440, 1},
                    Generated{L"sine1000_ac3.rm", MakeFourcc('d', 'n', 'e', 't'), 44100, 2, 6.0, 1000, 1},
                    Generated{L"video_ac3.rmvb", MakeFourcc('d', 'n', 'e', 't'), 44100, 2, 4.0, 440, 2},
                    Generated{L"video_rv10.rm", MakeFourcc('l', 'p', 'c', 'J'), 8000, 1, 3.0, 660, 2}));

TEST(RmDemuxer, VideoStreamsAreListedButNotChosen)
{
    auto demuxer = OpenFile(Media(L"video_ac3.rmvb"));
    ASSERT_NE(nullptr, demuxer);
    int videos = 0;
    for (const auto& s : demuxer->Streams()) {
        if (s.kind == StreamKind::Video) {
            ++videos;
            EXPECT_FALSE(s.decodable);
            EXPECT_EQ(160, s.width);
        }
    }
    EXPECT_EQ(1, videos);
    EXPECT_EQ(StreamKind::Audio, demuxer->Streams()[static_cast<size_t>(demuxer->AudioStream())].kind);
}

TEST(RmDemuxer, VideoOnlyFileOpensWithoutAnAudioStream)
{
    auto demuxer = OpenFile(Media(L"video_only.rm"));
    ASSERT_NE(nullptr, demuxer);
    EXPECT_EQ(-1, demuxer->AudioStream());
}

TEST(RmDemuxer, BadBytesDoNotOpen)
{
    for (const wchar_t* name : {L"empty.rm", L"random.rm", L"header_cut.rm",
                                L"damaged_headerless_dnet__SymbianSource-sf.os.mm__Corrupt.rm",
                                L"damaged_headeronly_cook_44k_stereo__exiftool-exiftool__Real.rm"}) {
        EXPECT_EQ(nullptr, OpenFile(Media(name))) << realmedia_test::Widen("") << name;
    }
    EXPECT_EQ(nullptr, OpenFile(Media(L"missing.rm")));
}

TEST(RmDemuxer, TruncatedFileGivesWhatIsThereAndEnds)
{
    auto demuxer = OpenFile(Media(L"truncated.rm"));
    ASSERT_NE(nullptr, demuxer);
    auto t0 = std::chrono::steady_clock::now();
    Decoded d = DecodeAll(*demuxer);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
    EXPECT_GT(d.Seconds(), 0.5);
    EXPECT_LT(d.Seconds(), 6.0);
}

TEST(RmDemuxer, SeekingLandsAtTheAskedTimeAndBackAtTheStart)
{
    auto demuxer = OpenFile(Media(L"sine1000_ac3.rm"));
    ASSERT_NE(nullptr, demuxer);
    MediaPacket first;
    ASSERT_EQ(RmDemuxer::ReadStatus::Packet, demuxer->Read(first));

    ASSERT_TRUE(demuxer->Seek(30000000));  // 3 s
    MediaPacket p;
    ASSERT_EQ(RmDemuxer::ReadStatus::Packet, demuxer->Read(p));
    ASSERT_NE(kNoTime, p.start);
    EXPECT_NEAR(3.0, p.start / 1e7, 0.3);

    ASSERT_TRUE(demuxer->Seek(0));
    ASSERT_EQ(RmDemuxer::ReadStatus::Packet, demuxer->Read(p));
    EXPECT_EQ(first.start, p.start);
    EXPECT_EQ(first.data, p.data);
}

TEST(RmDemuxer, TimestampsOfAStreamAdvance)
{
    auto demuxer = OpenFile(Media(L"cook_44k_mono__vstinner-hachoir__firstrun.rm"));
    ASSERT_NE(nullptr, demuxer);
    MediaPacket p;
    int64_t last = -1;
    int timed = 0;
    while (demuxer->Read(p) == RmDemuxer::ReadStatus::Packet) {
        if (p.stream != demuxer->AudioStream() || p.start == kNoTime) continue;
        EXPECT_GE(p.start, last);
        last = p.start;
        ++timed;
    }
    EXPECT_GT(timed, 100);
    EXPECT_NEAR(18.2, last / 1e7, 0.3);
}

// ---------------------------------------------------------------------------
// Files from real encoders

struct Sample {
    const char* name;  // UTF-8
    uint32_t fourcc;
    int rate, channels;
    double seconds;
    double minRms = 100.0;  // one of them is digital silence
};

class RealSamples : public testing::TestWithParam<Sample> {};

TEST_P(RealSamples, DecodeCompletely)
{
    const Sample& s = GetParam();
    auto demuxer = OpenFile(Media(realmedia_test::Widen(s.name)));
    ASSERT_NE(nullptr, demuxer);
    int a = demuxer->AudioStream();
    ASSERT_GE(a, 0);
    EXPECT_EQ(s.fourcc, demuxer->Streams()[static_cast<size_t>(a)].audio.fourcc);
    EXPECT_NEAR(s.seconds, demuxer->Duration() / 1e7, s.seconds * 0.02);
    Decoded d = DecodeAll(*demuxer);
    EXPECT_EQ(s.rate, d.rate);
    EXPECT_EQ(s.channels, d.channels);
    EXPECT_NEAR(s.seconds, d.Seconds(), s.seconds * 0.02 + 0.05);
    EXPECT_GE(realmedia_test::Rms(d.pcm), s.minRms);
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, RealSamples,
    testing::Values(
        Sample{"cook_44k_mono__vstinner-hachoir__firstrun.rm", MakeFourcc('c', 'o', 'o', 'k'), 44100, 1, 18.20},
        Sample{"cook_44k_stereo__douidou75-pfm__music.rm", MakeFourcc('c', 'o', 'o', 'k'), 44100, 2, 204.33},
        Sample{"cook_8k_mono+rv30__SymbianSource-sf.mw.mmappfw__Battle_160x100_30kbps.rm",
               MakeFourcc('c', 'o', 'o', 'k'), 8000, 1, 119.54},
        Sample{"cook_22k_mono+rv30__allomani-media250__test.rm", MakeFourcc('c', 'o', 'o', 'k'), 22050, 1, 6.27,
               0.0},
        Sample{"raac_44k_stereo__SymbianSource-sf.app.files__Video.rm", MakeFourcc('r', 'a', 'a', 'c'), 44100, 2,
               30.04},
        Sample{"ffmpegmux_dnet_44k_stereo__sindresorhus-file-type__fixture-realmedia-audio.rm",
               MakeFourcc('d', 'n', 'e', 't'), 44100, 2, 0.80},
        Sample{"ffmpegmux_dnet_32k_mono+rv10__sindresorhus-file-type__fixture-realmedia-video.rm",
               MakeFourcc('d', 'n', 'e', 't'), 32000, 1, 5.62}));

// 401 AC3 frames of 480 bytes, the 261st cut short by 175 bytes: every later
// frame sits off the word grid the demuxer swaps by, and from the 180000th
// byte on the demuxer stops swapping (FFmpeg's parser takes the scrambled
// bytes for E-AC3; after the length scan, the first 1000 bytes come
// unswapped too). The frames across those points come half swapped, half
// not. All of it is found again (ffmpeg alone stops at 13.4 s); only the cut
// frame sounds as silence.
TEST(RealSamplesDamaged, BareRealAudioWithLostBytesDecodesCompletely)
{
    auto demuxer = OpenFile(Media(L"ra4-dnet_32k_stereo__SymbianSource-sf.os.mm__valid_casadual.ra"));
    ASSERT_NE(nullptr, demuxer);
    EXPECT_NEAR(19.23, demuxer->Duration() / 1e7, 0.4);
    Decoded d = DecodeAll(*demuxer);
    EXPECT_EQ(32000, d.rate);
    EXPECT_EQ(2, d.channels);
    EXPECT_NEAR(401 * 1536 / 32000.0, d.Seconds(), 0.001);
    EXPECT_EQ(1, d.damaged);
}

TEST(RealSamplesDamaged, TruncatedFileEndsWithoutHanging)
{
    auto demuxer = OpenFile(Media(L"damaged_truncated_cook_8k_mono+rv30__SymbianSource-sf.os.mm__valid_80X140.rm"));
    if (!demuxer) return;  // refusing it is as good as reading what is there
    auto t0 = std::chrono::steady_clock::now();
    Decoded d = DecodeAll(*demuxer);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
    EXPECT_LT(d.Seconds(), 10.0);
}

TEST(RealSamplesDamaged, HeaderOnlyBareRealAudioGivesNoAudio)
{
    auto demuxer = OpenFile(Media(L"damaged_headeronly_ra4-dnet_22k_mono__exiftool-exiftool__Real.ra"));
    if (!demuxer) return;
    Decoded d = DecodeAll(*demuxer);
    EXPECT_EQ(0u, d.pcm.size());
}

// ---------------------------------------------------------------------------
// Decoding

TEST(AudioDecoder, RefusesCodecsThatAreNotOurs)
{
    AudioDecoder d;
    AudioCodecSetup s;
    s.fourcc = MakeFourcc('R', 'V', '1', '0');
    s.sampleRate = 8000;
    s.channels = 1;
    EXPECT_FALSE(d.Open(s));
    AudioDecoder e;
    s.fourcc = MakeFourcc('c', 'o', 'o', 'k');
    s.sampleRate = 0;
    EXPECT_FALSE(e.Open(s));
}

TEST(AudioDecoder, EveryRealAudioTagHasADecoder)
{
    for (uint32_t tag : {MakeFourcc('c', 'o', 'o', 'k'), MakeFourcc('s', 'i', 'p', 'r'), MakeFourcc('a', 't', 'r', 'c'),
                         MakeFourcc('l', 'p', 'c', 'J'), MakeFourcc('2', '8', '_', '8'), MakeFourcc('r', 'a', 'a', 'c'),
                         MakeFourcc('r', 'a', 'c', 'p'), MakeFourcc('d', 'n', 'e', 't'), MakeFourcc('L', 'S', 'D', ':')}) {
        EXPECT_TRUE(IsDecodableFourcc(tag));
    }
}

void Scramble(int index, std::vector<uint8_t>& data)
{
    if (index % 5 == 2) {
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(data[i] * 37 + 11 + i);
    }
}

TEST(AudioDecoder, DamagedPacketsAreConcealedAndTheStreamGoesOn)
{
    for (const wchar_t* name : {L"sine1000_ac3.rm", L"cook_44k_mono__vstinner-hachoir__firstrun.rm"}) {
        auto clean = OpenFile(Media(name));
        auto dirty = OpenFile(Media(name));
        ASSERT_NE(nullptr, clean);
        Decoded good = DecodeAll(*clean);
        Decoded bad = DecodeAll(*dirty, &Scramble);
        EXPECT_EQ(good.packets, bad.packets) << name;
        EXPECT_NEAR(good.Seconds(), bad.Seconds(), good.Seconds() * 0.02) << name;
    }
}

TEST(AudioDecoder, ResetAfterASeekDecodesOn)
{
    auto demuxer = OpenFile(Media(L"sine1000_ac3.rm"));
    ASSERT_NE(nullptr, demuxer);
    AudioDecoder decoder;
    ASSERT_TRUE(decoder.Open(demuxer->Streams()[0].audio));
    std::vector<int16_t> pcm;
    MediaPacket p;
    for (int i = 0; i < 10 && demuxer->Read(p) == RmDemuxer::ReadStatus::Packet; ++i) {
        decoder.Decode(p.data.data(), p.data.size(), pcm);
    }
    ASSERT_TRUE(demuxer->Seek(20000000));
    decoder.Reset();
    pcm.clear();
    while (demuxer->Read(p) == RmDemuxer::ReadStatus::Packet) decoder.Decode(p.data.data(), p.data.size(), pcm);
    EXPECT_NEAR(1000.0, DominantFrequency(pcm, 2, 44100), 10.0);
    EXPECT_NEAR(4.0, static_cast<double>(pcm.size()) / 2 / 44100, 0.3);
}

TEST(CodecSetup, FormatBlockCarriesTheSetupDataBothWays)
{
    AudioCodecSetup s;
    s.fourcc = MakeFourcc('c', 'o', 'o', 'k');
    s.sampleRate = 22050;
    s.channels = 2;
    s.blockAlign = 372;
    s.bitRate = 32000;
    s.extradata = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    auto block = WaveFormatBlock(s);
    ASSERT_EQ(18u + 9u, block.size());
    AudioCodecSetup back;
    ASSERT_TRUE(ParseWaveFormatBlock(block.data(), block.size(), s.fourcc, back));
    EXPECT_EQ(s.sampleRate, back.sampleRate);
    EXPECT_EQ(s.channels, back.channels);
    EXPECT_EQ(s.blockAlign, back.blockAlign);
    EXPECT_EQ(s.bitRate, back.bitRate);
    EXPECT_EQ(s.extradata, back.extradata);
    // A block that announces more setup data than it holds is refused.
    EXPECT_FALSE(ParseWaveFormatBlock(block.data(), block.size() - 1, s.fourcc, back));
    EXPECT_FALSE(ParseWaveFormatBlock(block.data(), 10, s.fourcc, back));
}

// ---------------------------------------------------------------------------
// Reference files

TEST(RamFile, ListsLocalEntriesInOrder)
{
    auto e = LocalRamEntries(Bytes("rtsp://a/b.rm\r\n\r\n# note\r\nfile:///C:/Music/My%20Song.rm?start=3\r\n"
                                   "file://c:\\data\\x.rm\nfile://localhost/D:/y.ra\n"
                                   "sub/rel.rm\n  C:\\abs.rm  \nfile://server/share/z.rm\n"),
                             L"C:\\lists");
    ASSERT_EQ(6u, e.size());
    EXPECT_EQ(L"C:\\Music\\My Song.rm", e[0]);
    EXPECT_EQ(L"c:\\data\\x.rm", e[1]);
    EXPECT_EQ(L"D:\\y.ra", e[2]);
    EXPECT_EQ(L"C:\\lists\\sub\\rel.rm", e[3]);
    EXPECT_EQ(L"C:\\abs.rm", e[4]);
    EXPECT_EQ(L"\\\\server\\share\\z.rm", e[5]);
}

TEST(RamFile, NetworkOnlyListsAndBinaryBytesGiveNothing)
{
    EXPECT_TRUE(LocalRamEntries(Bytes("rtsp://a/b.rm\npnm://c/d.ra\nhttp://e/f.rm\n\n"), L"C:\\x").empty());
    EXPECT_TRUE(LocalRamEntries(Bytes(""), L"C:\\x").empty());
    EXPECT_TRUE(LocalRamEntries(Bytes(std::string(".RMF\0\0\0\x12", 8)), L"C:\\x").empty());
    EXPECT_FALSE(LooksLikeRamFile(std::vector<uint8_t>(70000, 'a')));
}

TEST(RamFile, NonAsciiEntriesAreReadAsUtf8)
{
    auto e = LocalRamEntries(Bytes("file:///C:/M%C3%BAsica/caf\xC3\xA9.rm\n"), L"");
    ASSERT_EQ(1u, e.size());
    EXPECT_EQ(L"C:\\M\u00fasica\\caf\u00e9.rm", e[0]);
}

TEST(RamFile, FolderOfAPath)
{
    EXPECT_EQ(L"C:\\a\\b", FolderOf(L"C:\\a\\b\\c.ram"));
    EXPECT_EQ(L"C:\\", FolderOf(L"C:\\c.ram"));
    EXPECT_EQ(L"", FolderOf(L"c.ram"));
}

TEST(MediaOpener, FollowsTheFirstLocalEntryOfAReferenceFile)
{
    struct Case {
        const wchar_t* ram;
        uint32_t fourcc;
    } cases[] = {{L"relative.ram", MakeFourcc('d', 'n', 'e', 't')},
                 {L"url.ram", MakeFourcc('d', 'n', 'e', 't')},
                 {L"absolute.ram", MakeFourcc('l', 'p', 'c', 'J')},
                 {L"nested.ram", MakeFourcc('d', 'n', 'e', 't')}};
    for (const auto& c : cases) {
        auto demuxer = OpenFile(Media(c.ram));
        ASSERT_NE(nullptr, demuxer) << c.ram;
        ASSERT_GE(demuxer->AudioStream(), 0);
        EXPECT_EQ(c.fourcc, demuxer->Streams()[static_cast<size_t>(demuxer->AudioStream())].audio.fourcc) << c.ram;
    }
}

TEST(MediaOpener, ReferenceFilesNamingNothingLocalOpenNothing)
{
    for (const wchar_t* name : {L"nowhere.ram", L"ram_rtsp_1line__exiftool-exiftool__Real.ram",
                                L"ram_rtsp_6lines__SymbianSource-sf.mw.mmappfw__multiple_streaming_link.ram",
                                L"ram_rtsp_blankline__SymbianSource-sf.mw.mmappfw__test_singleLink.ram",
                                L"ram_rtsp+file_mixed__SymbianSource-sf.mw.mmappfw__test_hybridlink.ram",
                                L"ram_file_2lines__SymbianSource-sf.app.videoplayer__test_multilocal.ram"}) {
        EXPECT_EQ(nullptr, OpenFile(Media(name))) << name;
    }
}

TEST(MediaOpener, AReferenceFileListingItselfEnds)
{
    std::vector<std::wstring> asked;
    FileOpener loop = [&](const std::wstring& path) -> std::unique_ptr<ByteSource> {
        asked.push_back(path);
        return std::make_unique<MemoryByteSource>(Bytes("self.ram\n"), L"C:\\x\\self.ram");
    };
    EXPECT_EQ(nullptr, OpenRealMedia(std::make_unique<MemoryByteSource>(Bytes("self.ram\n"), L"C:\\x\\self.ram"), loop));
    EXPECT_LE(asked.size(), 8u);
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(L"C:\\x\\self.ram", asked[0]);
}

// ---------------------------------------------------------------------------
// Multi-rate files

const wchar_t* const kSureStream[] = {
    L"surestream_cook_11k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_11kbps_Music.ra",
    L"surestream_sipr_8k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_5kbps_Voice.ra",
};

TEST(SureStream, LayoutListsEveryEncodingWithItsPackets)
{
    for (const wchar_t* name : kSureStream) {
        auto file = FileByteSource::Open(Media(name));
        ASSERT_NE(nullptr, file);
        MultiRateLayout layout;
        ASSERT_TRUE(ReadMultiRateLayout(*file, layout));
        ASSERT_EQ(2u, layout.encodings.size());
        for (const auto& e : layout.encodings) {
            EXPECT_GT(e.packets.size(), 400u);
            EXPECT_TRUE(e.packets.front().keyframe);
        }
    }
}

TEST(SureStream, SingleRateFilesAreNotMultiRate)
{
    for (const wchar_t* name : {L"sine1000_ac3.rm", L"cook_44k_stereo__douidou75-pfm__music.rm", L"random.rm",
                                L"ra4-dnet_32k_stereo__SymbianSource-sf.os.mm__valid_casadual.ra"}) {
        auto file = FileByteSource::Open(Media(name));
        ASSERT_NE(nullptr, file);
        MultiRateLayout layout;
        EXPECT_FALSE(ReadMultiRateLayout(*file, layout)) << realmedia_test::Widen("") << name;
    }
}

TEST(SureStream, TheBestEncodingDecodesCompletely)
{
    for (const wchar_t* name : kSureStream) {
        auto demuxer = OpenFile(Media(name));
        ASSERT_NE(nullptr, demuxer);
        ASSERT_GE(demuxer->AudioStream(), 0);
        const auto& a = demuxer->Streams()[static_cast<size_t>(demuxer->AudioStream())].audio;
        EXPECT_EQ(MakeFourcc('c', 'o', 'o', 'k'), a.fourcc);
        EXPECT_EQ(22050, a.sampleRate);
        EXPECT_EQ(20671, a.bitRate);
        EXPECT_NEAR(208.98, demuxer->Duration() / 1e7, 0.5);
        Decoded d = DecodeAll(*demuxer);
        EXPECT_EQ(22050, d.rate);
        EXPECT_EQ(1, d.channels);
        EXPECT_NEAR(208.98, d.Seconds(), 208.98 * 0.02);
        EXPECT_EQ(0, d.damaged);
        EXPECT_GT(realmedia_test::Rms(d.pcm), 300.0);
    }
}

// Loudness per 100 ms.
std::vector<double> Envelope(const Decoded& d)
{
    std::vector<double> env;
    const size_t block = static_cast<size_t>(d.rate / 10) * static_cast<size_t>(d.channels);
    for (size_t at = 0; at + block <= d.pcm.size(); at += block) {
        double sum = 0;
        for (size_t i = at; i < at + block; ++i) sum += static_cast<double>(d.pcm[i]) * d.pcm[i];
        env.push_back(std::sqrt(sum / static_cast<double>(block)));
    }
    return env;
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b)
{
    const size_t n = std::min(a.size(), b.size());
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) ma += a[i], mb += b[i];
    ma /= static_cast<double>(n);
    mb /= static_cast<double>(n);
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < n; ++i) {
        ab += (a[i] - ma) * (b[i] - mb);
        aa += (a[i] - ma) * (a[i] - ma);
        bb += (b[i] - mb) * (b[i] - mb);
    }
    return ab / std::sqrt(aa * bb);
}

TEST(SureStream, EveryEncodingHoldsTheSamePiece)
{
    auto file = std::shared_ptr<ByteSource>(FileByteSource::Open(Media(kSureStream[0])));
    ASSERT_NE(nullptr, file);
    MultiRateLayout layout;
    ASSERT_TRUE(ReadMultiRateLayout(*file, layout));
    std::vector<std::vector<double>> envelopes;
    for (const auto& e : layout.encodings) {
        RmDemuxer demuxer;
        ASSERT_TRUE(demuxer.Open(SingleRateView(file, layout, e)));
        Decoded d = DecodeAll(demuxer);
        EXPECT_NEAR(208.5, d.Seconds(), 4.5);
        envelopes.push_back(Envelope(d));
    }
    ASSERT_EQ(2u, envelopes.size());
    EXPECT_GT(Correlation(envelopes[0], envelopes[1]), 0.9);
}

TEST(SureStream, DamagedCopiesFailCleanly)
{
    // Cut and scrambled copies of a multi-rate file: each one opens or not,
    // and what opens reads to its end.
    auto whole = FileBytes(Media(kSureStream[1]));
    ASSERT_FALSE(whole.empty());
    uint32_t seed = 12345;
    for (int round = 0; round < 40; ++round) {
        std::vector<uint8_t> copy = whole;
        seed = seed * 1103515245u + 12345u;
        if (round % 2 == 0) {
            copy.resize(static_cast<size_t>(seed % static_cast<uint32_t>(copy.size())));
        } else {
            for (int k = 0; k < 20; ++k) {
                seed = seed * 1103515245u + 12345u;
                copy[(seed >> 8) % std::min<size_t>(copy.size(), 4000)] ^= static_cast<uint8_t>(seed);
            }
        }
        auto demuxer = OpenRealMedia(std::make_unique<MemoryByteSource>(copy));
        if (demuxer) DecodeAll(*demuxer);
    }
}

}  // namespace
