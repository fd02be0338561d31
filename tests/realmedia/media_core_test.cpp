// The RealMedia media core on its own: reading through a pull source,
// demuxing, reference files and decoding, on media made by ffmpeg at test
// time and on files from real RealMedia encoders, whole, cut and damaged.
#include "audio_decoder.h"
#include "media_opener.h"
#include "process_counts.h"
#include "file_byte_source.h"
#include "ram_file.h"
#include "reference_path.h"
#include "rm_demuxer.h"
#include "surestream.h"
#include "tag_parser.h"
#include "test_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <utility>

using namespace vellumo::realmedia;
using realmedia_test::Media;
using realmedia_test::MediaDir;
using realmedia_test::Narrow;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Hands out at most `chunk` bytes per read, as a pull interface with small
// buffers would; reads reaching past `failFrom` fail.
struct ShapedSource : ByteSource {
    ShapedSource(std::vector<uint8_t> bytes, int32_t most, int64_t failAt = INT64_MAX)
        : inner(std::move(bytes)), chunk(most), failFrom(failAt) {}
    int64_t Length() override { return inner.Length(); }
    int32_t ReadAt(int64_t offset, uint8_t* buffer, int32_t size) override
    {
        ++reads;
        return offset + size > failFrom ? -1 : inner.ReadAt(offset, buffer, std::min(size, chunk));
    }
    MemoryByteSource inner;
    int32_t chunk;
    int64_t failFrom;
    int reads = 0;
};

std::unique_ptr<RmDemuxer> OpenFile(const std::wstring& path) { return OpenRealMedia(FileByteSource::Open(path), &FileByteSource::Open); }

struct Decoded {
    int rate = 0, channels = 0;
    std::vector<int16_t> pcm;
    int packets = 0, damaged = 0;
    size_t largestPiece = 0;  // frames the decoder handed on at once
    bool readError = false, timesInOrder = true;
    double Seconds() const { return rate ? static_cast<double>(pcm.size()) / channels / rate : 0; }
};

// Demuxes and decodes the chosen audio stream; packets can be damaged on the
// way by a callback.
Decoded DecodeAll(RmDemuxer& demuxer, void (*damage)(int, std::vector<uint8_t>&) = nullptr)
{
    Decoded d;
    const int a = demuxer.AudioStream();
    AudioDecoder decoder;
    if (a < 0 || !decoder.Open(demuxer.Streams()[static_cast<size_t>(a)].audio)) return d;
    d.rate = decoder.SampleRate();
    d.channels = decoder.Channels();
    const PcmSink sink = [&d](const int16_t* samples, size_t frames) {
        d.pcm.insert(d.pcm.end(), samples, samples + frames * static_cast<size_t>(d.channels));
        d.largestPiece = std::max(d.largestPiece, frames);
        return true;
    };
    MediaPacket p;
    int64_t last = kNoTime;
    RmDemuxer::ReadStatus status;
    while ((status = demuxer.Read(p)) == RmDemuxer::ReadStatus::Packet) {
        if (p.stream != a) continue;
        if (p.start != kNoTime) {
            d.timesInOrder = d.timesInOrder && p.start >= last;
            last = p.start;
        }
        if (damage) damage(d.packets, p.data);
        ++d.packets;
        decoder.Decode(p.data.data(), p.data.size(), sink);
    }
    d.readError = status == RmDemuxer::ReadStatus::Error;
    decoder.Drain(sink);
    d.damaged = decoder.DamagedPackets();
    return d;
}

TEST(RmDemuxer, TinyReadsDemuxAsAWholeFileAndAReadErrorEndsAsAnError)
{
    const auto bytes = realmedia_test::ReadAll(Media(L"sine1000_ac3.rm"));
    ASSERT_FALSE(bytes.empty());
    auto dribble = std::make_unique<ShapedSource>(bytes, 700);
    const ShapedSource* counter = dribble.get();
    RmDemuxer tiny, whole, failing;
    ASSERT_TRUE(tiny.Open(std::move(dribble)));
    ASSERT_TRUE(whole.Open(std::make_unique<MemoryByteSource>(bytes)));
    ASSERT_TRUE(failing.Open(std::make_unique<ShapedSource>(bytes, INT_MAX, static_cast<int64_t>(bytes.size() / 2))));
    const Decoded a = DecodeAll(tiny), b = DecodeAll(whole), c = DecodeAll(failing);
    EXPECT_GT(counter->reads, 100);
    EXPECT_EQ(b.packets, a.packets);
    EXPECT_EQ(b.pcm, a.pcm);
    EXPECT_FALSE(a.readError);
    EXPECT_TRUE(c.readError);
    EXPECT_GT(c.packets, 0);
}

// Each file of the media table demuxes to its end without a read error, with
// packet times that never go back and only the packets known to be damaged
// concealed (its format, length and sound: the graph tests, through the
// filters).
TEST(RmDemuxer, TheMediaTableDemuxesCleanly)
{
    for (const realmedia_test::MediaCase& e : realmedia_test::kMedia) {
        SCOPED_TRACE(Narrow(e.name));
        auto demuxer = OpenFile(Media(e.name));
        ASSERT_NE(nullptr, demuxer);
        const Decoded d = DecodeAll(*demuxer);
        EXPECT_GT(d.packets, 0);
        EXPECT_FALSE(d.readError);
        EXPECT_TRUE(d.timesInOrder);
        EXPECT_EQ(e.damaged, d.damaged);
    }
}

TEST(RmDemuxer, CutFilesGiveWhatIsThereAndEnd)
{
    const struct {
        const wchar_t* name;
        bool mustOpen;  // otherwise refusing it is as good as reading what is there
        double minSeconds, maxSeconds;
    } cases[] = {{L"truncated.rm", true, 0.5, 6.0},
                 {L"damaged_truncated_cook_8k_mono+rv30__SymbianSource-sf.os.mm__valid_80X140.rm", false, 0, 10.0},
                 {L"damaged_headeronly_ra4-dnet_22k_mono__exiftool-exiftool__Real.ra", false, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        auto demuxer = OpenFile(Media(c.name));
        if (!demuxer) {
            EXPECT_FALSE(c.mustOpen);
            continue;
        }
        const Decoded d = DecodeAll(*demuxer);
        EXPECT_GE(d.Seconds(), c.minSeconds);
        EXPECT_LE(d.Seconds(), c.maxSeconds);
    }
}

// Scrambled packets are concealed and the stream goes on; a megabyte lost
// from a 192 kbit/s AC3 stream sounds as the 44 s of silence it held, handed
// on piece by piece rather than all at once, and so does a megabyte of
// sync words; 3-byte packets of a 8 kbit/s stream sound as the 3 ms each
// stands for, not as the 20 ms of a whole one.
TEST(AudioDecoder, DamagedPacketsAreConcealedAndLostBytesSoundAsSilenceOfTheirLength)
{
    using Damage = void (*)(int, std::vector<uint8_t>&);
    const Damage scramble = [](int index, std::vector<uint8_t>& data) {
        if (index % 5 != 2) return;
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(data[i] * 37 + 11 + i);
    };
    const Damage loseAMegabyte = [](int index, std::vector<uint8_t>& data) {
        if (index == 3) data.assign(1u << 20, 0);
    };
    const Damage cutToThreeBytes = [](int index, std::vector<uint8_t>& data) {
        if (index >= 3) data.resize(3);
    };
    // AC3 sync words with the header of a 3840-byte frame every 14 bytes:
    // every one is a place to check, none is followed by another frame.
    const Damage aMegabyteOfSyncWords = [](int index, std::vector<uint8_t>& data) {
        if (index != 3) return;
        data.assign(1u << 20, 0);
        for (size_t i = 0; i + 6 <= data.size(); i += 14) std::memcpy(&data[i], "\x77\x0B\0\0\x40\xA5", 6);
    };
    const struct {
        const wchar_t* name;
        Damage damage;
        double gained, tolerance;  // seconds more than the intact file
    } cases[] = {{L"sine1000_ac3.rm", scramble, 0, 0.12},
                 {L"cook_44k_mono__vstinner-hachoir__firstrun.rm", scramble, 0, 0.36},
                 {L"sine1000_ac3.rm", loseAMegabyte, (1u << 20) / 24000.0, 1.0},
                 {L"sine1000_ac3.rm", aMegabyteOfSyncWords, (1u << 20) / 24000.0, 1.0},
                 {L"sine440_144.rm", cutToThreeBytes, -248 * (0.020 - 0.003), 0.03}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        auto clean = OpenFile(Media(c.name)), dirty = OpenFile(Media(c.name));
        ASSERT_TRUE(clean && dirty);
        const Decoded good = DecodeAll(*clean), bad = DecodeAll(*dirty, c.damage);
        EXPECT_EQ(good.packets, bad.packets);
        EXPECT_NEAR(good.Seconds() + c.gained, bad.Seconds(), c.tolerance);
        EXPECT_LE(bad.largestPiece, static_cast<size_t>(bad.rate));
    }
}

TEST(RamFile, ListsLocalEntriesInOrder)
{
    const std::vector<std::wstring> expected = {L"C:\\Music\\My Song.rm", L"C:\\data\\x.rm", L"D:\\y.ra",
                                                L"C:\\lists\\sub\\rel.rm", L"C:\\abs.rm", L"C:\\M\u00fasica\\caf\u00e9.rm"};
    EXPECT_EQ(expected, LocalRamEntries(Bytes("rtsp://a/b.rm\r\n\r\n# note\r\nfile:///C:/Music/My%20Song.rm?start=3\r\n"
                                              "file://c:\\data\\x.rm\nfile://localhost/D:/y.ra\nsub/rel.rm\n"
                                              "  C:\\abs.rm  \nfile://server/share/z.rm\n"
                                              "file:///C:/M%C3%BAsica/caf\xC3\xA9.rm\n"),
                                        L"C:\\lists"));
    // Network addresses only, another host's files, nothing, and the bytes of a RealMedia file.
    for (const std::string& text : {std::string("rtsp://a/b.rm\npnm://c/d.ra\nhttp://e/f.rm\n\n"),
                                    std::string("file://host/share/a.rm\nfile://host@SSL@443/dav/a.rm\n"
                                                "file:///%5C%5Chost%5Cshare%5Ca.rm\nfile:////host/share/a.rm\n"),
                                    std::string(), std::string(".RMF\0\0\0\x12", 8)}) {
        EXPECT_TRUE(LocalRamEntries(Bytes(text), L"C:\\x").empty()) << text;
    }
    EXPECT_FALSE(LooksLikeRamFile(std::vector<uint8_t>(70000, 'a')));
}

// What the shares of the platform test below cannot show: device names,
// streams, wildcards, climbing above a root, and folders that are no folder.
TEST(RamFile, EntriesLeadOnlyToTheUsersOwnDisks)
{
    const std::wstring local = L"C:\\lists\\x", share = L"\\\\host\\share\\lists";
    const std::pair<std::wstring, std::wstring> resolved[] = {
        {L"d:/music/./b/../a.rm", L"D:\\music\\a.rm"}, {L"..\\..\\..\\..\\a.rm", L"C:\\a.rm"},
        {L"\\music\\a.rm", L"C:\\music\\a.rm"}, {L"cond\\a.rm", L"C:\\lists\\x\\cond\\a.rm"}};
    for (const auto& [entry, path] : resolved) EXPECT_EQ(path, ResolveReference(entry, local)) << Narrow(entry);
    EXPECT_EQ(L"\\\\host\\share\\a.rm", ResolveReference(L"..\\..\\..\\a.rm", share));
    EXPECT_EQ(L"\\\\HOST\\Share\\a.rm", ResolveReference(L"//HOST/Share/a.rm", share));
    for (const wchar_t* entry : {L"CON", L"nul.rm", L"C:\\x\\Com1.ra", L"lpt9", L"AUX .rm", L"conin$", L"com\u00b9.rm",
                                 L"nul\\a.rm", L"con.d\\a.rm", L"C:a.rm", L"a.rm:hidden", L"a*.rm", L"a.rm\x01",
                                 L"...\\a.rm", L"C:\\", L"\\\\\\host\\share\\a.rm", L"\\\\host", L"//./pipe/x"}) {
        EXPECT_EQ(L"", ResolveReference(entry, local)) << Narrow(entry);
        EXPECT_EQ(L"", ResolveReference(entry, share)) << Narrow(entry);
    }
    for (const wchar_t* folder : {L"", L"lists", L"\\\\?\\C:\\lists", L"\\\\.\\pipe"})
        EXPECT_EQ(L"", ResolveReference(L"a.rm", folder)) << Narrow(folder);
}

// Tag blocks built byte by byte: a CONT chunk (16-bit lengths), old bare
// RealAudio headers of versions 3 and 4 (8-bit lengths, bounded by the header
// size they declare), with lengths inside and past their block.
std::string Be(uint32_t v, int bytes)
{
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(v >> (8 * i)));
    return out;
}
std::string Fields(int lengthBytes, std::initializer_list<std::string> texts)
{
    std::string out;
    for (const auto& t : texts) out += Be(static_cast<uint32_t>(t.size()), lengthBytes) + t;
    return out;
}
std::string Cont(const std::string& fields, int extraSize = 0, int version = 0)
{
    return "CONT" + Be(static_cast<uint32_t>(10 + fields.size() + extraSize), 4) + Be(version, 2) + fields;
}
std::string Ra3(const std::string& fields, int headerSize)
{
    return ".ra\xfd" + Be(3, 2) + Be(headerSize, 2) + std::string(14, '\0') + fields + "\x04lpcJ";
}
std::string Ra4(const std::string& fields, int extraSize = 0)
{
    std::string h = ".ra\xfd" + Be(4, 2) + Be(0, 2) + ".ra4" + Be(1000, 4) + Be(4, 2);
    const std::string rest = std::string(34, '\0') + "\x04Int0\x04" "dnet" + std::string(3, '\0') + fields;
    return h + Be(static_cast<uint32_t>(rest.size() + 6 + extraSize), 4) + rest;
}
std::string Rmf(const std::string& chunks) { return ".RMF" + Be(18, 4) + std::string(10, '\0') + "PROP" + Be(18, 4) + std::string(10, '\0') + chunks; }

TEST(TagParser, FieldsInsideTheirBlockAreReadAndBlocksReachingPastItAreRefused)
{
    const std::string four = Fields(2, {"Title", "", "\xA9" "2000 RealNetworks", "Note"});
    const std::string four8 = Fields(1, {"Title", "", "\xA9" "2000 RealNetworks", "Note"});
    const std::string title = Fields(2, {"Title"});
    const struct {
        const char* label;
        std::string bytes;
        bool read;
    } cases[] = {
        {"CONT", Rmf(Cont(four) + "DATA" + Be(18, 4)), true},
        {"CONT after other chunks, trailing bytes", Rmf("MDPR" + Be(12, 4) + "abcd" + Cont(four, 3) + "xyz"), true},
        {"CONT behind the data", Rmf("DATA" + Be(18, 4) + std::string(10, '\0') + Cont(four)), false},
        {"CONT: title length past the chunk", Rmf(Cont(title + Fields(2, {"", "", ""}), -7) + "DATA" + Be(18, 4)), false},
        {"CONT: comment length past the file", Rmf(Cont(four).substr(0, 10 + four.size() - 2)), false},
        {"CONT: a length of 65535", Rmf(Cont(Be(0xFFFF, 2) + "x")), false},
        {"CONT of another version", Rmf(Cont(four, 0, 1)), false},
        {"CONT: chunk size 0 ends the walk", Rmf("MDPR" + Be(0, 4) + Cont(four)), false},
        {"RealAudio 3", Ra3(four8, 14 + static_cast<int>(four8.size()) + 5), true},
        {"RealAudio 3: header ends inside the comment", Ra3(four8, 14 + static_cast<int>(four8.size()) - 1), false},
        {"RealAudio 4", Ra4(four8), true},
        {"RealAudio 4: header ends inside the comment", Ra4(four8, -2), false},
        {"RealAudio 4: comment length past the file", Ra4(four8).substr(0, Ra4(four8).size() - 1), false},
        {"RealAudio 5", ".ra\xfd" + Be(5, 2) + std::string(200, '\x05'), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        RawTags tags;
        tags.title = "left alone";
        const bool read = ParseFileTags(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), tags);
        EXPECT_EQ(c.read, read);
        if (!read) {
            EXPECT_EQ("left alone", tags.title);
            continue;
        }
        EXPECT_EQ("Title", tags.title);
        EXPECT_EQ("", tags.author);
        EXPECT_EQ("\xA9" "2000 RealNetworks", tags.copyright);
        EXPECT_EQ("Note", tags.comment);
    }
    // A NUL ends a text.
    const std::string cut = Cont(Fields(2, {std::string("Ti\0tle", 6), "A", "B", "C"}));
    RawTags tags;
    ASSERT_TRUE(ParseContentChunk(reinterpret_cast<const uint8_t*>(cut.data()), cut.size(), tags));
    EXPECT_EQ("Ti", tags.title);
    EXPECT_EQ("C", tags.comment);
}

TEST(TagParser, Utf8IsToldFromOtherBytes)
{
    for (const char* valid : {"", "plain", "caf\xC3\xA9", "\xE5\xB9\xBF\xE6\x92\xAD", "\xF0\x9F\x8E\xB5"})
        EXPECT_TRUE(IsValidUtf8(valid)) << valid;
    for (const char* invalid : {"caf\xE9", "\xA9" "2000", "\xC3", "\xE5\xB9", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                "\x80", "\xD6\xD0\xCE\xC4" "\xFF"})
        EXPECT_FALSE(IsValidUtf8(invalid)) << invalid;
}

// Writes a reference file into the media folder (which Wine also shows as
// the shares \\vellumo-test\media and \\vellumo-other\media) and opens it,
// recording every file the resolution asks for and how many it reads.
const std::wstring kRefs = MediaDir() + L"\\refs", kShareRefs = L"\\\\vellumo-test\\media\\refs";
std::wstring WriteRam(const std::wstring& name, const std::string& text)
{
    CreateDirectoryW(kRefs.c_str(), nullptr);
    std::ofstream((kRefs + L"\\" + name).c_str(), std::ios::binary) << text;
    return kRefs + L"\\" + name;
}
struct Resolved {
    std::unique_ptr<RmDemuxer> demuxer;
    std::vector<std::wstring> asked;
    int read = 0;
};
Resolved Resolve(const std::wstring& ram)
{
    struct Counting : ByteSource {
        Counting(std::unique_ptr<ByteSource> f, int& reads) : file(std::move(f)), read(reads) {}
        int64_t Length() override { return file->Length(); }
        int32_t ReadAt(int64_t at, uint8_t* to, int32_t n) override { return read += !std::exchange(used, true), file->ReadAt(at, to, n); }
        std::wstring Path() const override { return file->Path(); }
        bool FileId(uint64_t& volume, uint64_t& index) const override { return file->FileId(volume, index); }
        std::unique_ptr<ByteSource> file;
        int& read;
        bool used = false;
    };
    Resolved r;
    r.demuxer = OpenRealMedia(FileByteSource::Open(ram), [&r](const std::wstring& path) -> std::unique_ptr<ByteSource> {
        r.asked.push_back(path);
        auto file = FileByteSource::Open(path);
        return file ? std::make_unique<Counting>(std::move(file), r.read) : nullptr;
    });
    return r;
}

// Every form of entry, from a reference file on a local drive and on a
// share: what is followed plays the sine, what is refused is never opened.
TEST(MediaOpener, ReferencesAreFollowedOnlyOnTheUsersOwnDisks)
{
    const std::string dir = Narrow(MediaDir()), sine = "\\sine440_144.rm", shared = "\\media" + sine;
    const struct {
        bool onShare;
        std::string entry;
        bool followed;
    } cases[] = {
        {false, ".." + sine, true}, {false, dir + sine, true}, {false, "file:///" + dir + "/sine440_144.rm", true},
        {false, "file://localhost/" + dir + sine, true}, {true, ".." + sine, true}, {true, sine, true},
        {true, "\\\\vellumo-test" + shared, true}, {false, "\\\\vellumo-test" + shared, false},
        {true, "\\\\vellumo-other" + shared, false}, {false, "file://vellumo-test/media/sine440_144.rm", false},
        {true, "\\\\vellumo-test@SSL@443" + shared, false}, {false, "\\\\?\\" + dir + sine, false},
        {true, "\\\\?\\UNC\\vellumo-test" + shared, false}, {false, "\\??\\" + dir + sine, false},
        {false, "\\\\.\\" + dir + sine, false}, {false, "\\\\.\\pipe\\vellumo-ram", false}, {false, "CON", false},
        {false, "NUL.rm", false}, {false, "COM1", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry + (c.onShare ? " from the share" : ""));
        const std::wstring local = WriteRam(L"form.ram", c.entry + "\r\n");
        const Resolved r = Resolve(c.onShare ? kShareRefs + L"\\form.ram" : local);
        EXPECT_EQ(c.followed, r.demuxer != nullptr);
        EXPECT_EQ(c.followed ? 1u : 0u, r.asked.size());
        EXPECT_NEAR(c.followed ? 5.0 : 0, r.demuxer ? DecodeAll(*r.demuxer).Seconds() : 0, 0.1);
    }
    EXPECT_EQ(nullptr, FileByteSource::Open(Media(L"devnull.rm")));  // a file name that opens a device
}

// However many entries, a resolution opens a bounded number of files and
// reads none twice: self-references end, and the names of one file (a hard
// link, another case) are followed once.
TEST(MediaOpener, AResolutionCostsBoundedWork)
{
    const std::wstring aliases = WriteRam(L"aliases.ram", "linked.ram\r\nLINKED.RAM\r\nlinked.ram\r\n..\\sine440_144.rm\r\n");
    DeleteFileW((kRefs + L"\\linked.ram").c_str());
    ASSERT_TRUE(CreateHardLinkW((kRefs + L"\\linked.ram").c_str(), aliases.c_str(), nullptr));
    std::string self40, self1000;
    for (int i = 0; i < 1000; ++i) (i < 40 ? self40 += "self40.ram\r\n" : "", self1000 += "./SELF1000.ram\r\n");
    for (const std::wstring& ram : {WriteRam(L"self40.ram", self40), WriteRam(L"self1000.ram", self1000), aliases}) {
        SCOPED_TRACE(Narrow(ram));
        const DWORD began = GetTickCount();
        const Resolved r = Resolve(ram);
        EXPECT_LT(GetTickCount() - began, 10000u);  // a hang, not a speed: the figure is benchmarked
        EXPECT_EQ(ram == aliases, r.demuxer != nullptr);
        EXPECT_LE(r.asked.size(), 16u);
        EXPECT_EQ(ram == aliases ? 2 : 1, r.read);
    }
}

TEST(SureStream, LayoutListsEveryEncodingOfMultiRateFilesOnly)
{
    for (const wchar_t* name : {L"surestream_cook_11k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_11kbps_Music.ra",
                                L"surestream_sipr_8k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_5kbps_Voice.ra",
                                L"sine1000_ac3.rm", L"cook_44k_stereo__douidou75-pfm__music.rm", L"random.rm",
                                L"ra4-dnet_32k_stereo__SymbianSource-sf.os.mm__valid_casadual.ra"}) {
        SCOPED_TRACE(Narrow(name));
        std::shared_ptr<ByteSource> file = FileByteSource::Open(Media(name));
        ASSERT_NE(nullptr, file);
        MultiRateLayout layout;
        const bool multiRate = std::wcsncmp(name, L"surestream", 10) == 0;
        ASSERT_EQ(multiRate, ReadMultiRateLayout(*file, layout));
        if (!multiRate) continue;
        ASSERT_EQ(2u, layout.encodings.size());
        for (const auto& e : layout.encodings) {
            EXPECT_GT(e.packets.size(), 400u);
            EXPECT_TRUE(e.packets.front().keyframe);
            // Each encoding on its own is the whole piece.
            RmDemuxer demuxer;
            ASSERT_TRUE(demuxer.Open(SingleRateView(file, layout, e)));
            const Decoded d = DecodeAll(demuxer);
            EXPECT_NEAR(208.5, d.Seconds(), 4.5);
            EXPECT_GT(realmedia_test::Rms(d.pcm), 300.0);
        }
    }
}

// A multi-rate file whose DATA chunk holds two million empty packets (24 MB):
// what the splitter keeps of it stays at a few bytes a packet.
TEST(SureStream, AFileOfTinyPacketsCostsBoundedMemory)
{
    std::vector<uint8_t> bytes = realmedia_test::ReadAll(
        Media(L"surestream_cook_11k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_11kbps_Music.ra"));
    MultiRateLayout layout;
    MemoryByteSource sample(bytes);
    ASSERT_TRUE(ReadMultiRateLayout(sample, layout));
    size_t at = 0;  // the headers are kept, the DATA chunk is replaced
    while (at + 8 <= bytes.size() && std::memcmp(&bytes[at], "DATA", 4) != 0)
        at += size_t{bytes[at + 4]} << 24 | size_t{bytes[at + 5]} << 16 | size_t{bytes[at + 6]} << 8 | bytes[at + 7];
    ASSERT_LT(at, bytes.size());
    constexpr uint32_t kPackets = 2u << 20;
    std::string data = "DATA" + Be(18 + 12 * kPackets, 4) + Be(0, 2) + Be(kPackets, 4) + Be(0, 4);
    for (uint32_t i = 0; i < kPackets; ++i)
        data += Be(0, 2) + Be(12, 2) + Be(static_cast<uint32_t>(layout.encodings[i % 2].stream), 2) + Be(i / 8, 4) + Be(2, 2);
    bytes.resize(at);
    bytes.insert(bytes.end(), data.begin(), data.end());
    const SIZE_T before = testing_support::process_counts_detail::CommittedPrivate(GetCurrentProcess());
    auto demuxer = OpenRealMedia(std::make_unique<MemoryByteSource>(std::move(bytes)));
    const SIZE_T grown = testing_support::process_counts_detail::CommittedPrivate(GetCurrentProcess()) - before;
    // Both encodings' lists (16 bytes a packet each) live while the better
    // one is chosen; a 32-bit process's heap keeps the loser's blocks
    // committed after it is freed, so there the figure is that peak.
    EXPECT_LT(grown, (sizeof(void*) == 8 ? 24u : 28u) * kPackets) << grown / 1048576 << " MB";
}

}  // namespace
