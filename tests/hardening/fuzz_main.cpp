// Mutation fuzzer of whole conversions (tests/README.md): each input must end
// in time, leave its source unchanged and leave nothing behind.
//   fuzz_realmedia --seed S --count N [--first I] [--batch B] [--timeout-ms T] [--budget-s L]
//       inputs I..I+N-1 of seed S, B per child process, within L s; 0 when no problem
//   fuzz_realmedia --seed S --only I,J,... [--verbose]   replays chosen inputs
//   fuzz_realmedia --child ...      one batch in-process (the parent's worker)
//   fuzz_realmedia --long-batch N   N short files through one converter
#include "dshow_uuids.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "converter_session.h"
#include "filter_pack.h"
#include "process_counts.h"
#include "test_media.h"

// Deterministic mutations of RealMedia files: every input is a function of
// (seed, index) alone, so that any input of a run can be made again.
namespace fuzz {

using Bytes = std::vector<uint8_t>;

// splitmix64: small, fast, the same everywhere.
struct Random {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return n ? static_cast<size_t>(Next() % n) : 0; }
};

// A piece of the file with a size field: a top-level chunk (4 size bytes at
// +4) or a packet inside a DATA chunk (2 size bytes at +2).
struct Span {
    size_t offset, length;
    bool packet;
    size_t SizeBytes() const { return packet ? 2 : 4; }
    size_t SizeField() const { return offset + SizeBytes(); }
};

Bytes::iterator At(Bytes& b, size_t offset) { return b.begin() + static_cast<std::ptrdiff_t>(offset); }

uint32_t ReadBe(const Bytes& b, size_t at, size_t n)
{
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | b[at + i];
    return v;
}
void WriteBe(Bytes& b, size_t at, size_t n, uint32_t v)
{
    for (size_t i = n; i-- > 0 && at + i < b.size(); v >>= 8) b[at + i] = static_cast<uint8_t>(v);
}

// The chunks and packets of a RealMedia file, as far as they are sound.
std::vector<Span> SpansOf(const Bytes& b)
{
    std::vector<Span> spans;
    if (b.size() < 18 || ReadBe(b, 0, 4) != 0x2E524D46) return spans;  // .RMF
    for (size_t at = 0; at + 10 <= b.size();) {
        uint32_t size = ReadBe(b, at + 4, 4);
        if (size < 10) break;
        const bool clipped = size > b.size() - at;  // a cut file: its last chunk ends early
        if (clipped) size = static_cast<uint32_t>(b.size() - at);
        spans.push_back({at, size, false});
        if (ReadBe(b, at, 4) == 0x44415441) {  // DATA
            for (size_t p = at + 18, len; p + 12 <= at + size; p += len) {
                len = ReadBe(b, p + 2, 2);
                if (len < 12 || p + len > at + size) break;
                spans.push_back({p, len, true});
            }
        }
        if (clipped) break;
        at += size;
    }
    return spans;
}

// Offsets where a file may be cut: every chunk and packet boundary, or (for
// files that are not chunked, like bare RealAudio) a spread of offsets.
std::vector<size_t> CutPoints(const Bytes& b)
{
    std::vector<size_t> cuts;
    for (const Span& s : SpansOf(b)) {
        cuts.push_back(s.offset);
        cuts.push_back(s.offset + (s.packet ? 12 : 10));  // just after the header
    }
    if (cuts.empty()) {
        for (size_t n = 1; n < b.size(); n *= 2) cuts.push_back(n);
        for (size_t k = 1; k < 16; ++k) cuts.push_back(b.size() * k / 16);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    return cuts;
}

enum class Mutation { BitFlips, ByteRun, Truncate, ChunkSize, HeaderField, Duplicate, Swap, Stacked, kCount };

const char* Name(Mutation m)
{
    static const char* const names[] = {"bit-flips", "byte-run", "truncate", "chunk-size", "header-field",
                                        "duplicate", "swap", "stacked"};
    return names[static_cast<int>(m)];
}

uint32_t Interesting(Random& r, size_t bytes)
{
    static const uint32_t values[] = {0, 1, 2, 0x7F, 0x80, 0xFF, 0x100, 0x7FFF, 0x8000, 0xFFFF, 0x10000,
                                      0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu, 12, 10, 18};
    uint32_t v = values[r.Below(sizeof(values) / sizeof(values[0]))];
    if (r.Below(4) == 0) v = static_cast<uint32_t>(r.Next());
    return bytes == 2 ? (v & 0xFFFF) : v;
}

// One mutation of `in`. `serial` walks the cut points so that a long run
// truncates every seed at every boundary.
Bytes Mutate(const Bytes& in, Mutation m, Random& r, size_t serial)
{
    Bytes b = in;
    if (b.empty()) return b;
    std::vector<Span> spans = SpansOf(b);
    // Header fields: everything before the first packet (or the first 256
    // bytes of a file without chunks).
    const auto firstPacket = std::find_if(spans.begin(), spans.end(), [](const Span& s) { return s.packet; });
    const size_t headerEnd = firstPacket != spans.end() ? firstPacket->offset : std::min<size_t>(b.size(), 256);
    switch (m) {
    case Mutation::BitFlips:
        for (size_t i = 0, flips = 1 + r.Below(8); i < flips; ++i) b[r.Below(b.size())] ^= static_cast<uint8_t>(1u << r.Below(8));
        break;
    case Mutation::ByteRun: {
        size_t at = r.Below(b.size());
        size_t len = std::min(b.size() - at, 1 + r.Below(r.Below(2) ? 16 : 512));
        uint8_t value = r.Below(3) == 0 ? 0 : (r.Below(2) ? 0xFF : static_cast<uint8_t>(r.Next()));
        std::fill(At(b, at), At(b, at + len), value);
        break;
    }
    case Mutation::Truncate: {
        std::vector<size_t> cuts = CutPoints(b);
        size_t cut = cuts[serial % cuts.size()];
        if (r.Below(4) == 0) cut = std::min(b.size(), cut + 1 + r.Below(11));  // inside a header
        b.resize(cut);
        break;
    }
    case Mutation::ChunkSize: {
        if (spans.empty()) return Mutate(in, Mutation::HeaderField, r, serial);
        const Span& s = spans[r.Below(spans.size())];
        uint32_t old = ReadBe(b, s.SizeField(), s.SizeBytes());
        uint32_t v = r.Below(3) == 0 ? old + static_cast<uint32_t>(r.Below(9)) - 4 : Interesting(r, s.SizeBytes());
        WriteBe(b, s.SizeField(), s.SizeBytes(), v);
        break;
    }
    case Mutation::HeaderField: {
        size_t at = r.Below(headerEnd) & ~static_cast<size_t>(1);
        const size_t bytes = r.Below(2) ? 2 : 4;
        if (at + bytes > b.size()) at = b.size() >= 4 ? b.size() - 4 : 0;
        WriteBe(b, at, bytes, Interesting(r, bytes));
        break;
    }
    case Mutation::Duplicate: {
        if (spans.empty()) return Mutate(in, Mutation::ByteRun, r, serial);
        const Span& s = spans[r.Below(spans.size())];
        Bytes copy(At(b, s.offset), At(b, s.offset + s.length));
        for (size_t i = 0, times = 1 + r.Below(3); i < times; ++i) b.insert(At(b, s.offset + s.length), copy.begin(), copy.end());
        break;
    }
    case Mutation::Swap: {
        if (spans.size() < 2) return Mutate(in, Mutation::BitFlips, r, serial);
        // Two neighbours of the same kind (two chunks or two packets).
        const size_t i = r.Below(spans.size() - 1);
        const Span &a = spans[i], &c = spans[i + 1];
        if (a.offset + a.length != c.offset) return Mutate(in, Mutation::ChunkSize, r, serial);
        std::rotate(At(b, a.offset), At(b, c.offset), At(b, c.offset + c.length));
        break;
    }
    case Mutation::Stacked:  // several of the others at once
    case Mutation::kCount:
        for (size_t i = 0, n = 2 + r.Below(3); i < n; ++i)
            b = Mutate(b, static_cast<Mutation>(r.Below(static_cast<size_t>(Mutation::Stacked))), r, serial + i);
        break;
    }
    return b;
}

}  // namespace fuzz

namespace {

using testing_support::ConverterSession;
using testing_support::MeasureProcess;
using testing_support::Narrow;
using testing_support::ProcessCounts;
using testing_support::PumpUntil;

// Seeds: generated media and the encoders' samples, cut to 96 kB to keep a
// conversion short (a cut file is a fair input too).
const wchar_t* const kSeedNames[] = {
    L"sine440_144.ra", L"sine440_144.rm", L"sine1000_ac3.rm", L"video_rv10.rm", L"video_ac3.rmvb",
    L"ffmpegmux_dnet_44k_stereo__sindresorhus-file-type__fixture-realmedia-audio.rm",
    L"cook_22k_mono+rv30__allomani-media250__test.rm", L"cook_44k_mono__vstinner-hachoir__firstrun.rm",
    L"ra4-dnet_32k_stereo__SymbianSource-sf.os.mm__valid_casadual.ra", L"raac_44k_stereo__SymbianSource-sf.app.files__Video.rm",
    L"surestream_cook_11k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_11kbps_Music.ra",
    L"surestream_sipr_8k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_5kbps_Voice.ra",
    L"damaged_truncated_cook_8k_mono+rv30__SymbianSource-sf.os.mm__valid_80X140.rm",
    L"damaged_headeronly_ra4-dnet_22k_mono__exiftool-exiftool__Real.ra"};

struct Seed { std::wstring name; fuzz::Bytes bytes; };

std::vector<Seed> LoadSeeds()
{
    std::vector<Seed> seeds;
    for (const wchar_t* name : kSeedNames) {
        Seed s{name, testing_support::ReadAll(realmedia_test::Media(name))};
        s.bytes.resize(std::min<size_t>(s.bytes.size(), 96 * 1024));
        if (!s.bytes.empty()) seeds.push_back(std::move(s));
    }
    return seeds;
}

// Input `index` of run `seed`: a pure function of both.
struct Input {
    size_t seedIndex;
    fuzz::Mutation mutation;
    fuzz::Bytes bytes;
    bool mp3;
};

Input MakeInput(const std::vector<Seed>& seeds, uint64_t seed, uint64_t index)
{
    fuzz::Random r{seed * 0x100000001B3ull ^ (index + 1) * 0x9E3779B97F4A7C15ull};
    const size_t from = static_cast<size_t>(index % seeds.size());
    const auto mutation = static_cast<fuzz::Mutation>(r.Below(static_cast<size_t>(fuzz::Mutation::kCount)));
    fuzz::Bytes bytes = fuzz::Mutate(seeds[from].bytes, mutation, r, static_cast<size_t>(index / seeds.size()));
    return {from, mutation, std::move(bytes), r.Below(4) == 0};
}

// build/fuzz-work: inputs, outputs and logs of the running children.
std::wstring WorkDir()
{
    std::wstring dir = realmedia_test::BuildDir() + L"\\fuzz-work";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

// True when no object of the filter pack is alive: with its classes revoked,
// every graph that held one of its filters is gone.
bool PackObjectsGone()
{
    static const auto canUnload = testing_support::PackExport<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow");
    return canUnload && canUnload() == S_OK;
}

// Holds the process's counts to a baseline, less a slack for platform caches
// that fill once and the handles the platform leaves per filter graph (Wine
// 8's never closes an event) times the graphs made since, counted by a class
// object for CLSID_FilterGraph registered over the platform's own.
class LeakWatch final : public IClassFactory {
public:
    LeakWatch() : perGraph_(HandlesPerBareGraph())
    {
        if (SUCCEEDED(CoGetClassObject(CLSID_FilterGraph, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                       platform_.PutVoid())))
            CoRegisterClassObject(CLSID_FilterGraph, this, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
        Rebase();
    }
    ~LeakWatch() { if (cookie_) CoRevokeClassObject(cookie_); }
    LeakWatch(const LeakWatch&) = delete;

    void Rebase() { base_ = MeasureProcess(), graphsAtBase_ = graphs_; }
    DWORD PerGraph() const { return perGraph_; }
    LONG Graphs() const { return graphs_; }
    // What grew beyond the allowance (empty: nothing), once pool threads had a
    // moment to end. A leak becomes the new baseline: each report names the
    // input that grew the counts.
    std::string Leak()
    {
        ProcessCounts a = base_, now = MeasureProcess();
        a.handles += static_cast<DWORD>(graphs_ - graphsAtBase_) * perGraph_;
        auto exceeds = [&] {
            return now.handles > a.handles + 8 || now.threads > a.threads + 1 || now.gdi > a.gdi + 4 ||
                   now.user > a.user + 2;
        };
        for (DWORD start = GetTickCount(); exceeds() && GetTickCount() - start < 3000; now = MeasureProcess()) Sleep(50);
        if (!exceeds()) return {};
        char text[160];
        std::snprintf(text, sizeof text, "handles %lu -> %lu, threads %lu -> %lu, gdi %lu -> %lu, user %lu -> %lu",
                      a.handles, now.handles, a.threads, now.threads, a.gdi, now.gdi, a.user, now.user);
        Rebase();
        return text;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = iid == IID_IUnknown || iid == IID_IClassFactory ? static_cast<IClassFactory*>(this) : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        const HRESULT hr = platform_->CreateInstance(outer, iid, out);
        if (SUCCEEDED(hr)) InterlockedIncrement(&graphs_);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override { return platform_->LockServer(lock); }

private:
    static DWORD HandlesPerBareGraph()
    {
        auto makeGraphs = [](DWORD n) {
            for (; n; --n) {
                corvane::ComPtr<IGraphBuilder> graph;
                CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid());
            }
        };
        makeGraphs(1);
        constexpr DWORD kGraphs = 16;
        const DWORD before = MeasureProcess().handles;
        makeGraphs(kGraphs);
        const DWORD after = MeasureProcess().handles;
        return after > before ? (after - before + kGraphs / 2) / kGraphs : 0;
    }

    const DWORD perGraph_;
    corvane::ComPtr<IClassFactory> platform_;
    DWORD cookie_ = 0;
    volatile LONG graphs_ = 0;
    LONG graphsAtBase_ = 0;
    ProcessCounts base_;
};

// How a conversion ended: "stage" (refused by LoadFile, with its code),
// "error" (with the event's code), "finished" or "hang".
struct Result {
    std::string outcome;
    LONG code = 0;
};

Result ConvertOnce(ConverterSession& session, const std::wstring& source, const std::wstring& output, bool mp3,
                   DWORD timeoutMs)
{
    session.converter->put_Format(mp3 ? 1 : 0);
    session.converter->put_WAV_Channels(2);
    session.converter->put_WAV_Bits(1);
    if (const LONG stage = session.Load(source)) return {"stage", stage};
    DeleteFileW(output.c_str());
    const std::vector<std::string> names = session.Run(output, timeoutMs);
    PumpUntil([] { return false; }, 0);
    if (names.empty() || names.front() == "finished") return {names.empty() ? "hang" : "finished"};
    return {"error", session.events.Events().front().code};
}

// Through a fresh converter, with the pack registered only for its length,
// so that the pack's object count afterwards tells whether its graph is gone.
Result ConvertWithPack(const std::wstring& source, const std::wstring& output, bool mp3, DWORD timeoutMs)
{
    testing_support::FilterPackRegistration pack;
    ConverterSession session;
    return ConvertOnce(session, source, output, mp3, timeoutMs);
}

// Child: one batch in this process, one log line per event for the parent:
// "begin I", "done I outcome mutation (...)", "problem KIND text", "end".
FILE* g_log = nullptr;
volatile LONG64 g_current = -1;

void Log(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(g_log, format, args);
    va_end(args);
    std::fputc('\n', g_log);
    std::fflush(g_log);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info)
{
    Log("problem crash input %lld, exception %08lx", static_cast<long long>(g_current),
        static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode));
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

int RunChild(uint64_t seed, const std::vector<uint64_t>& indexes, DWORD timeoutMs, const std::wstring& logPath)
{
    if (!(g_log = _wfopen(logPath.c_str(), L"a"))) return 4;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(OnCrash);
    testing_support::ComApartment com;
    const std::vector<Seed> seeds = LoadSeeds();
    if (seeds.empty() || FAILED(com.Result()) || FAILED(testing_support::FilterPackRegistration().Result())) {
        Log("problem setup the child could not start its work");
        return 5;
    }
    const std::wstring tag = WorkDir() + L"\\" + std::to_wstring(GetCurrentProcessId());
    const std::wstring input = tag + L"-in.rm", wav = tag + L"-out.wav", mp3 = tag + L"-out.mp3";

    // Warm-up: a good conversion of each kind loads every DLL and starts the
    // platform's long-lived threads before the baseline is taken.
    ConvertWithPack(realmedia_test::Media(seeds[0].name), wav, false, timeoutMs);
    ConvertWithPack(realmedia_test::Media(seeds[0].name), mp3, true, timeoutMs);
    bool packGone = PumpUntil(PackObjectsGone, 3000);
    if (!packGone) Log("problem leak after the warm-up: objects of the filter pack still alive");
    LeakWatch watch;

    for (uint64_t index : indexes) {
        const unsigned long long i = index;
        const Input in = MakeInput(seeds, seed, index);
        g_current = static_cast<LONG64>(index);
        Log("begin %llu", i);
        if (FILE* f = _wfopen(input.c_str(), L"wb")) {
            std::fwrite(in.bytes.data(), 1, in.bytes.size(), f);
            std::fclose(f);
        }
        const ULONGLONG t0 = GetTickCount64();
        const Result r = ConvertWithPack(input, in.mp3 ? mp3 : wav, in.mp3, timeoutMs);
        Log("done %llu %s %s (code %ld, %llu ms) %s, %zu bytes", i, r.outcome.c_str(), fuzz::Name(in.mutation),
            static_cast<long>(r.code), GetTickCount64() - t0, Narrow(seeds[in.seedIndex].name).c_str(), in.bytes.size());
        if (testing_support::ReadAll(input) != in.bytes) Log("problem source-changed input %llu", i);
        if (r.outcome == "hang") {
            Log("problem hang input %llu: no event within the limit (%s)", i, fuzz::Name(in.mutation));
            break;  // a fresh child goes on
        }
        if (packGone && !PumpUntil(PackObjectsGone, 3000)) {
            packGone = false;  // still alive: later inputs cannot be told apart
            Log("problem leak after input %llu: objects of the filter pack still alive", i);
        }
        const std::string leak = watch.Leak();
        if (!leak.empty()) Log("problem leak after input %llu: %s", i, leak.c_str());
    }
    for (const std::wstring& file : {input, wav, mp3}) DeleteFileW(file.c_str());
    Log("end");
    std::fclose(g_log);
    return 0;
}

// Parent: batches in child processes, figures added up.
struct Figures {
    size_t inputs = 0;
    std::map<std::string, size_t> outcomes, mutations;
    std::vector<std::string> problems, notes;
};

std::string IndexList(const std::vector<uint64_t>& indexes, size_t from, size_t count)
{
    std::string s;
    for (size_t i = from; i < from + count && i < indexes.size(); ++i) s += (s.empty() ? "" : ",") + std::to_string(indexes[i]);
    return s;
}

// The run's end (GetTickCount64; 0: none). No wait goes past it: a child still
// at work then is killed and its input reported as a hang.
ULONGLONG g_deadline = 0;
bool OutOfTime() { return g_deadline && GetTickCount64() >= g_deadline; }

// Waits for the child as long as its log grows; false when the log has stood
// still for stallMs (the child's own limits have failed) or the run is out of
// time, and it is killed.
bool WaitWhileLogGrows(HANDLE process, const std::wstring& log, DWORD stallMs)
{
    LONGLONG size = -1;
    for (DWORD still = 0; WaitForSingleObject(process, 1000) == WAIT_TIMEOUT;) {
        WIN32_FILE_ATTRIBUTE_DATA a{};
        const LONGLONG now = GetFileAttributesExW(log.c_str(), GetFileExInfoStandard, &a)
                                 ? (static_cast<LONGLONG>(a.nFileSizeHigh) << 32 | a.nFileSizeLow)
                                 : -1;
        still = now == size ? still + 1000 : 0;
        size = now;
        if (still >= stallMs || OutOfTime()) {
            TerminateProcess(process, 9);
            WaitForSingleObject(process, 10000);
            return false;
        }
    }
    return true;
}

// Runs a child on indexes[from..from+count); returns how many it got through.
// An input the child hung on is run again alone in a fresh child: a hang that
// does not come back is listed apart, with the input, rather than failed.
size_t RunBatch(uint64_t seed, const std::vector<uint64_t>& indexes, size_t from, size_t count, DWORD timeoutMs,
                Figures& fig, bool verbose, bool again = true)
{
    const std::wstring log = WorkDir() + L"\\batch-" + std::to_wstring(GetCurrentProcessId()) + L".log";
    DeleteFileW(log.c_str());
    wchar_t exe[MAX_PATH];
    std::wstring cmd = L"\"" + std::wstring(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH)) + L"\" --child --seed " +
                       std::to_wstring(seed) + L" --timeout-ms " + std::to_wstring(timeoutMs) + L" --log \"" + log +
                       L"\" --only " + testing_support::Widen(IndexList(indexes, from, count));
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "cannot start a child: %lu\n", GetLastError());
        std::exit(6);
    }
    // The warm-up (two conversions) and each input log a line at least once
    // per two limits.
    const bool killed = !WaitWhileLogGrows(pi.hProcess, log, 2 * timeoutMs + 30000);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    for (HANDLE h : {pi.hThread, pi.hProcess}) CloseHandle(h);

    std::istringstream lines(testing_support::ReadText(log));
    DeleteFileW(log.c_str());
    size_t done = 0;
    std::string begun;  // the input begun and not done
    bool ended = false, crashed = false;
    for (std::string l; std::getline(lines, l);) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        if (l.rfind("begin ", 0) == 0) {
            begun = l.substr(6);
        } else if (l.rfind("done ", 0) == 0) {
            std::string index, outcome, mutation;
            std::istringstream(l.substr(5)) >> index >> outcome >> mutation;
            ++done, ++fig.outcomes[outcome], ++fig.mutations[mutation];
            if (verbose) std::printf("  #%s\n", l.c_str() + 5);
            begun.clear();
        } else if (l.rfind("problem ", 0) == 0) {
            fig.problems.push_back(l.substr(8));
            crashed = crashed || l.rfind("problem crash", 0) == 0;
        }
        ended = ended || l == "end";
    }
    if (!begun.empty() && killed && again && !OutOfTime()) {
        Figures alone;
        RunBatch(seed, {std::strtoull(begun.c_str(), nullptr, 10)}, 0, 1, timeoutMs, alone, verbose, false);
        ++done;
        const bool twice = !alone.problems.empty();
        ++fig.outcomes[twice ? "hang" : "hang-once"];
        if (twice) fig.problems.push_back("hang input " + begun + ": child killed, and again when run alone");
        else fig.notes.push_back("input " + begun + " hung once (child killed) and went through alone");
    } else if (!begun.empty()) {
        ++done, ++fig.outcomes[killed ? "hang" : "crash"];
        if (killed) fig.problems.push_back("hang input " + begun + ": child killed at its time limit");
        else if (!crashed) fig.problems.push_back("crash input " + begun + ", exit code " + std::to_string(code));
    } else if (!ended || killed) {
        fig.problems.push_back("hang after inputs " + IndexList(indexes, from, count) +
                               (killed ? ": child did not exit" : ": child ended early, code " + std::to_string(code)));
    }
    fig.inputs += done;
    return done ? done : count;  // never loop on a child that does nothing
}

int RunParent(uint64_t seed, const std::vector<uint64_t>& indexes, size_t batch, DWORD timeoutMs, bool verbose)
{
    const ULONGLONG t0 = GetTickCount64();
    Figures fig;
    for (size_t from = 0; from < indexes.size();) {
        if (OutOfTime()) {
            fig.problems.push_back("out of time: inputs " + IndexList(indexes, from, indexes.size() - from) + " not run");
            break;
        }
        from += RunBatch(seed, indexes, from, std::min(batch, indexes.size() - from), timeoutMs, fig, verbose);
        if (!verbose) std::printf("%zu/%zu inputs, %zu problems\n", from, indexes.size(), fig.problems.size());
        std::fflush(stdout);
    }
    std::printf("\nseed %llu: %zu inputs in %.1f s\n  outcomes (stage: refused by LoadFile):",
                static_cast<unsigned long long>(seed), fig.inputs, (GetTickCount64() - t0) / 1000.0);
    for (const auto& [name, n] : fig.outcomes) std::printf(" %s %zu", name.c_str(), n);
    std::printf("\n  by mutation:");
    for (const auto& [name, n] : fig.mutations) std::printf(" %s %zu", name.c_str(), n);
    std::printf("\n  problems (crash, hang, leak, source-changed, setup): %zu\n", fig.problems.size());
    for (const std::string& p : fig.problems) std::printf("    %s\n", p.c_str());
    for (const std::string& n : fig.notes) std::printf("  not repeated: %s\n", n.c_str());
    std::fflush(stdout);
    return fig.problems.empty() ? 0 : 1;
}

// Long batch: many short files through one converter, figures every 50; the
// end is held to the figures once every kind of source has been through.
int RunLongBatch(size_t files, DWORD timeoutMs)
{
    testing_support::ComApartment com;
    auto pack = std::make_unique<testing_support::FilterPackRegistration>();
    if (FAILED(com.Result()) || FAILED(pack->Result())) return 5;
    LeakWatch watch;
    const wchar_t* const sources[] = {L"sine440_144.ra", L"sine440_144.rm", L"sine1000_ac3.rm", L"video_rv10.rm"};
    auto session = std::make_unique<ConverterSession>();
    size_t failed = 0;
    std::printf("(the platform leaves %lu handles per filter graph made and released)\n", watch.PerGraph());
    for (size_t i = 0; i < files; ++i) {
        const bool mp3 = i % 2 == 1;
        const std::wstring out = WorkDir() + L"\\long-" + std::to_wstring(i % 10) + (mp3 ? L".mp3" : L".wav");
        failed += ConvertOnce(*session, realmedia_test::Media(sources[i % 4]), out, mp3, timeoutMs).outcome != "finished";
        if (i + 1 == std::min<size_t>(files, 4)) watch.Rebase();
        if ((i + 1) % 50 && i + 1 != files) continue;
        const ProcessCounts c = MeasureProcess();
        std::printf("%zu files (%zu failed, %ld graphs): handles %lu threads %lu gdi %lu user %lu private %llu kB\n",
                    i + 1, failed, static_cast<long>(watch.Graphs()), c.handles, c.threads, c.gdi, c.user,
                    static_cast<unsigned long long>(c.privateBytes / 1024));
        std::fflush(stdout);
    }
    const std::string leak = watch.Leak();
    session.reset();
    pack.reset();
    const bool packGone = PumpUntil(PackObjectsGone, 3000);
    if (!leak.empty()) std::printf("leak: the counts grew beyond the slack: %s\n", leak.c_str());
    if (!packGone) std::printf("objects of the filter pack still alive after the batch\n");
    return failed || !leak.empty() || !packGone ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    uint64_t seed = 1, first = 0, count = 100;
    size_t batch = 50, longBatch = 0;
    DWORD timeoutMs = 30000;
    bool child = false, verbose = false;
    std::vector<uint64_t> only;
    std::wstring log;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto number = [&] { return std::strtoull(i + 1 < argc ? argv[++i] : "", nullptr, 10); };
        if (a == "--seed") seed = number();
        else if (a == "--first") first = number();
        else if (a == "--count") count = number();
        else if (a == "--batch") batch = std::max<size_t>(1, number());
        else if (a == "--timeout-ms") timeoutMs = static_cast<DWORD>(number());
        else if (a == "--budget-s") g_deadline = GetTickCount64() + number() * 1000;
        else if (a == "--long-batch") longBatch = number();
        else if (a == "--log" && i + 1 < argc) log = testing_support::Widen(argv[++i]);
        else if (a == "--only" && i + 1 < argc) {
            std::istringstream list(argv[++i]);
            for (std::string item; std::getline(list, item, ',');) only.push_back(std::strtoull(item.c_str(), nullptr, 10));
        } else if (a == "--child") child = true;
        else if (a == "--verbose") verbose = true;
        else return std::fprintf(stderr, "unknown argument %s\n", a.c_str()), 2;
    }
    if (longBatch) return RunLongBatch(longBatch, timeoutMs);
    if (child) return RunChild(seed, only, timeoutMs, log);
    if (only.empty())
        for (uint64_t i = 0; i < count; ++i) only.push_back(first + i);
    if (LoadSeeds().empty()) {
        std::fprintf(stderr, "no seed media in %s\n", Narrow(realmedia_test::MediaDir()).c_str());
        return 7;
    }
    return RunParent(seed, only, batch, timeoutMs, verbose);
}
