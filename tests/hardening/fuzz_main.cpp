// Mutation fuzzer for the RealMedia splitter and decoder, through the
// converter object with the filter pack registered in-process.
//
//   fuzz_realmedia --seed S --count N [--first I] [--batch B] [--timeout-ms T]
//       Runs inputs I..I+N-1 of seed S, B inputs per child process, and
//       prints the figures. Exit code 0 when there was no crash, hang or leak.
//   fuzz_realmedia --seed S --only I,J,... [--verbose]
//       Replays chosen inputs (the kept regression cases).
//   fuzz_realmedia --child ...
//       One batch, in-process (used by the parent; also handy in a debugger).
//   fuzz_realmedia --long-batch N
//       Converts N short files one after another through one converter and
//       prints handles, threads, GDI/USER objects and memory every 50 files.
//
// Every input must end in a stage code from LoadFile, an error event or a
// finished file within the time limit, leave its source unchanged, and leave
// nothing behind: no object of the filter pack (so no graph), and handles,
// threads and GDI/USER objects within a small slack of the child's figures
// after its warm-up.
#include "dshow_uuids.h"

#include <chrono>
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
#include "mutator.h"
#include "process_counts.h"
#include "test_media.h"
#include "test_platform.h"

namespace {

using testing_support::ConverterSession;
using testing_support::MeasureProcess;
using testing_support::ProcessCounts;
using testing_support::PumpUntil;

// Seeds: small generated files and the real encoders' samples (cut to a
// size that keeps a conversion short; a cut file is a fair input too).
constexpr size_t kSeedCap = 96 * 1024;
const wchar_t* const kSeedNames[] = {
    L"sine440_144.ra",
    L"sine440_144.rm",
    L"sine1000_ac3.rm",
    L"video_rv10.rm",
    L"video_ac3.rmvb",
    L"ffmpegmux_dnet_44k_stereo__sindresorhus-file-type__fixture-realmedia-audio.rm",
    L"cook_22k_mono+rv30__allomani-media250__test.rm",
    L"cook_44k_mono__vstinner-hachoir__firstrun.rm",
    L"ra4-dnet_32k_stereo__SymbianSource-sf.os.mm__valid_casadual.ra",
    L"raac_44k_stereo__SymbianSource-sf.app.files__Video.rm",
    L"surestream_cook_11k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_11kbps_Music.ra",
    L"surestream_sipr_8k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_5kbps_Voice.ra",
    L"damaged_truncated_cook_8k_mono+rv30__SymbianSource-sf.os.mm__valid_80X140.rm",
    L"damaged_headeronly_ra4-dnet_22k_mono__exiftool-exiftool__Real.ra",
};

struct Seed {
    std::wstring name;
    fuzz::Bytes bytes;
};

std::vector<Seed> LoadSeeds()
{
    std::vector<Seed> seeds;
    for (const wchar_t* name : kSeedNames) {
        Seed s{name, testing_support::ReadAll(realmedia_test::Media(name))};
        if (s.bytes.size() > kSeedCap) s.bytes.resize(kSeedCap);
        if (!s.bytes.empty()) seeds.push_back(std::move(s));
    }
    return seeds;
}

bool WriteWhole(const std::wstring& path, const fuzz::Bytes& bytes)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Input `index` of run `seed`.
struct Input {
    size_t seedIndex;
    fuzz::Mutation mutation;
    fuzz::Bytes bytes;
    bool mp3;
};

Input MakeInput(const std::vector<Seed>& seeds, uint64_t seed, uint64_t index)
{
    fuzz::Random r(seed * 0x100000001B3ull ^ (index + 1) * 0x9E3779B97F4A7C15ull);
    Input in;
    in.seedIndex = static_cast<size_t>(index % seeds.size());
    in.mutation = static_cast<fuzz::Mutation>(r.Below(static_cast<size_t>(fuzz::Mutation::kCount)));
    in.bytes = fuzz::Mutate(seeds[in.seedIndex].bytes, in.mutation, r, static_cast<size_t>(index / seeds.size()));
    in.mp3 = r.Below(4) == 0;
    return in;
}

// build/fuzz-work: inputs and outputs of the running children.
std::wstring WorkDir()
{
    std::wstring dir = realmedia_test::BuildDir() + L"\\fuzz-work";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

// ---------------------------------------------------------------------------
// Resource counts of this process and the filter pack's live objects.

// What an input may leave behind beyond the figures after the warm-up:
// caches of the platform that fill once (a font, a registry key, a pool
// thread that has not ended yet) but not per input.
bool Exceeds(const ProcessCounts& now, const ProcessCounts& base)
{
    return now.handles > base.handles + 8 || now.threads > base.threads + 1 || now.gdi > base.gdi + 4 ||
           now.user > base.user + 2;
}

// Threads of the platform's pools end a while after their last work item:
// wait a little for the counts to come back before calling it a leak.
ProcessCounts SettledCounts(const ProcessCounts& base)
{
    ProcessCounts now = MeasureProcess();
    for (DWORD start = GetTickCount(); Exceeds(now, base) && GetTickCount() - start < 3000; now = MeasureProcess())
        Sleep(50);
    return now;
}

std::string CountsText(const ProcessCounts& from, const ProcessCounts& to)
{
    char text[160];
    std::snprintf(text, sizeof text, "handles %lu -> %lu, threads %lu -> %lu, gdi %lu -> %lu, user %lu -> %lu",
                  from.handles, to.handles, from.threads, to.threads, from.gdi, to.gdi, from.user, to.user);
    return text;
}

// True when no object of the filter pack is alive (filters, enumerators,
// class objects): with the pack's classes revoked, every graph that held one
// of its filters is gone.
bool PackObjectsGone()
{
    using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
    static const auto canUnload = reinterpret_cast<CanUnloadFn>(
        reinterpret_cast<void*>(GetProcAddress(testing_support::FilterPackModule(), "DllCanUnloadNow")));
    return canUnload && canUnload() == S_OK;
}

// Counts the filter graphs made in this process: a class object registered
// in-process for CLSID_FilterGraph that hands every request to the
// platform's own class object. Lives on its user's stack, revoked on the way out.
class GraphCounter final : public IClassFactory {
public:
    GraphCounter()
    {
        if (SUCCEEDED(CoGetClassObject(CLSID_FilterGraph, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                       platform_.PutVoid())))
            CoRegisterClassObject(CLSID_FilterGraph, this, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
    }
    ~GraphCounter() { if (cookie_) CoRevokeClassObject(cookie_); }
    GraphCounter(const GraphCounter&) = delete;
    GraphCounter& operator=(const GraphCounter&) = delete;
    LONG Created() const { return created_; }

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
        HRESULT hr = platform_->CreateInstance(outer, iid, out);
        if (SUCCEEDED(hr)) InterlockedIncrement(&created_);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override { return platform_->LockServer(lock); }

private:
    corvane::ComPtr<IClassFactory> platform_;
    DWORD cookie_ = 0;
    volatile LONG created_ = 0;
};

// Handles the platform itself leaves behind for each filter graph made and
// released (Wine 8's graph never closes one of its events), measured on bare
// graphs; these are not the inputs' leaks.
DWORD PlatformHandlesPerGraph()
{
    auto makeGraph = [] {
        corvane::ComPtr<IGraphBuilder> graph;
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid());
    };
    makeGraph();
    constexpr DWORD kGraphs = 16;
    const DWORD before = MeasureProcess().handles;
    for (DWORD i = 0; i < kGraphs; ++i) makeGraph();
    const DWORD after = MeasureProcess().handles;
    return after > before ? (after - before + kGraphs / 2) / kGraphs : 0;
}

// The counts an input may reach: the baseline plus what the platform leaves
// for the graphs made since.
ProcessCounts Allowed(ProcessCounts base, LONG graphsSince, DWORD perGraph)
{
    base.handles += static_cast<DWORD>(graphsSince) * perGraph;
    return base;
}

// ---------------------------------------------------------------------------
// One conversion.

enum class Outcome { StageCode, ErrorEvent, Finished, Hang };
const char* const kOutcomeNames[] = {"stage", "error", "finished", "hang"};

struct Result {
    Outcome outcome;
    LONG code;  // LoadFile's stage code or the error event's code
};

Result ConvertOnce(ConverterSession& session, const std::wstring& source, const std::wstring& output, bool mp3,
                   DWORD timeoutMs)
{
    session.converter->put_Format(mp3 ? 1 : 0);
    session.converter->put_WAV_Channels(2);
    session.converter->put_WAV_Bits(1);
    const LONG stage = session.Load(source);
    if (stage != 0) return {Outcome::StageCode, stage};
    DeleteFileW(output.c_str());
    const std::vector<std::string> names = session.Run(output, timeoutMs);
    PumpUntil([] { return false; }, 0);
    if (names.empty()) return {Outcome::Hang, 0};
    if (names.front() == "finished") return {Outcome::Finished, 0};
    return {Outcome::ErrorEvent, session.events.Events().front().code};
}

// Through a fresh converter, with the pack's classes registered only for the
// conversion's length, so that the pack's object count afterwards tells
// whether its graph is gone.
Result ConvertWithPack(const std::wstring& source, const std::wstring& output, bool mp3, DWORD timeoutMs)
{
    testing_support::FilterPackRegistration pack;
    ConverterSession session;
    return ConvertOnce(session, source, output, mp3, timeoutMs);
}

// ---------------------------------------------------------------------------
// Child: one batch of inputs in this process. It writes one line per event
// to the log the parent reads: "begin I", "done I outcome mutation (...)",
// "problem KIND text", "platform-graph-handles N", "end".

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
    if (g_log)
        Log("problem crash input %lld, exception %08lx", static_cast<long long>(g_current),
            static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode));
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

int RunChild(uint64_t seed, const std::vector<uint64_t>& indexes, DWORD timeoutMs, const std::wstring& logPath)
{
    g_log = _wfopen(logPath.c_str(), L"a");
    if (!g_log) return 4;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(OnCrash);

    testing_support::ComApartment com;
    std::vector<Seed> seeds = LoadSeeds();
    if (seeds.empty() || FAILED(com.Result()) || FAILED(testing_support::FilterPackRegistration().Result())) {
        Log("problem setup the child could not start its work");
        return 5;
    }
    const std::wstring tag = WorkDir() + L"\\" + std::to_wstring(GetCurrentProcessId());
    const std::wstring input = tag + L"-in.rm", wav = tag + L"-out.wav", mp3 = tag + L"-out.mp3";

    // Warm-up: one good conversion of each kind loads every DLL and starts
    // the platform's long-lived threads before the counts are taken.
    ConvertWithPack(realmedia_test::Media(seeds[0].name), wav, false, timeoutMs);
    ConvertWithPack(realmedia_test::Media(seeds[0].name), mp3, true, timeoutMs);
    bool packGone = PumpUntil(PackObjectsGone, 3000);
    if (!packGone) Log("problem leak after the warm-up: objects of the filter pack still alive");
    const DWORD perGraph = PlatformHandlesPerGraph();
    Log("platform-graph-handles %lu", static_cast<unsigned long>(perGraph));
    GraphCounter graphs;
    ProcessCounts base = MeasureProcess();
    LONG graphsAtBase = graphs.Created();

    for (uint64_t index : indexes) {
        const unsigned long long i = index;
        const Input in = MakeInput(seeds, seed, index);
        g_current = static_cast<LONG64>(index);
        Log("begin %llu", i);
        WriteWhole(input, in.bytes);
        const auto t0 = std::chrono::steady_clock::now();
        const Result r = ConvertWithPack(input, in.mp3 ? mp3 : wav, in.mp3, timeoutMs);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
        Log("done %llu %s %s (code %ld, %lld ms) %s, %zu bytes", i, kOutcomeNames[static_cast<int>(r.outcome)],
            fuzz::Name(in.mutation), static_cast<long>(r.code), static_cast<long long>(ms.count()),
            testing_support::Narrow(seeds[in.seedIndex].name).c_str(), in.bytes.size());
        if (testing_support::ReadAll(input) != in.bytes) Log("problem source-changed input %llu", i);
        if (r.outcome == Outcome::Hang) {
            Log("problem hang input %llu: no event within the limit (%s)", i, fuzz::Name(in.mutation));
            break;  // a fresh child goes on
        }
        // Nothing of the input may stay: its graph (the pack's filters) and,
        // beyond a small slack over the warm-up figures, handles, threads and
        // GDI/USER objects (less what the platform leaves per graph). Once
        // reported, a leak becomes the new baseline so that each report
        // names the input that grew the counts.
        if (packGone && !PumpUntil(PackObjectsGone, 3000)) {
            packGone = false;  // still alive: later inputs cannot be told apart
            Log("problem leak after input %llu: objects of the filter pack still alive", i);
        }
        const ProcessCounts allowed = Allowed(base, graphs.Created() - graphsAtBase, perGraph);
        const ProcessCounts now = SettledCounts(allowed);
        if (Exceeds(now, allowed)) {
            Log("problem leak after input %llu: %s", i, CountsText(allowed, now).c_str());
            base = now;
            graphsAtBase = graphs.Created();
        }
    }
    for (const std::wstring& file : {input, wav, mp3}) DeleteFileW(file.c_str());
    Log("end");
    std::fclose(g_log);
    g_log = nullptr;
    return 0;
}

// ---------------------------------------------------------------------------
// Parent: runs batches in child processes and adds up the figures.

struct Figures {
    size_t inputs = 0;
    std::map<std::string, size_t> byOutcome, byMutation;
    std::map<std::string, std::vector<std::string>> problems;  // by kind
    unsigned long platformPerGraph = 0;
};

std::string IndexList(const std::vector<uint64_t>& indexes, size_t from, size_t count)
{
    std::string s;
    for (size_t i = from; i < from + count && i < indexes.size(); ++i) s += (s.empty() ? "" : ",") + std::to_string(indexes[i]);
    return s;
}

// Starts a child for indexes[from..from+count), returns how many it finished.
size_t RunBatch(uint64_t seed, const std::vector<uint64_t>& indexes, size_t from, size_t count, DWORD timeoutMs,
                Figures& fig, bool verbose)
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
    // Bounded: warm-up plus every input at its limit, plus the exit.
    const bool killed = WaitForSingleObject(pi.hProcess, timeoutMs * static_cast<DWORD>(count + 2) + 30000) == WAIT_TIMEOUT;
    if (killed) {
        TerminateProcess(pi.hProcess, 9);
        WaitForSingleObject(pi.hProcess, 10000);
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    const fuzz::Bytes text = testing_support::ReadAll(log);
    std::istringstream lines(std::string(text.begin(), text.end()));
    size_t done = 0;
    long long begun = -1;
    bool ended = false, crashed = false;
    for (std::string l; std::getline(lines, l);) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        char kind[16] = {}, mutation[32] = {};
        unsigned long long index = 0;
        if (std::sscanf(l.c_str(), "begin %llu", &index) == 1) {
            begun = static_cast<long long>(index);
        } else if (std::sscanf(l.c_str(), "done %llu %15s %31s", &index, kind, mutation) == 3) {
            ++done;
            ++fig.inputs;
            ++fig.byOutcome[kind];
            ++fig.byMutation[mutation];
            if (verbose) std::printf("  #%s\n", l.c_str() + 5);
            begun = -1;
        } else if (l.rfind("problem ", 0) == 0) {
            const size_t space = l.find(' ', 8);
            const std::string what = l.substr(8, space - 8);
            crashed = crashed || what == "crash";
            fig.problems[what].push_back(space == std::string::npos ? l : l.substr(space + 1));
        } else if (std::sscanf(l.c_str(), "platform-graph-handles %lu", &fig.platformPerGraph) == 1) {
        } else if (l == "end") {
            ended = true;
        }
    }
    DeleteFileW(log.c_str());
    if (begun >= 0) {  // an input that never came to its end
        ++fig.inputs;
        ++done;
        if (killed) fig.problems["hang"].push_back("input " + std::to_string(begun) + ": child killed at its time limit");
        else if (!crashed) fig.problems["crash"].push_back("input " + std::to_string(begun) + ", exit code " + std::to_string(code));
    } else if (!ended || killed) {
        fig.problems["hang"].push_back("after inputs " + IndexList(indexes, from, count) + (!killed ? ": child ended early, code " + std::to_string(code) : ": child did not exit"));
    }
    return done ? done : count;  // never loop on a child that does nothing
}

int RunParent(uint64_t seed, const std::vector<uint64_t>& indexes, size_t batch, DWORD timeoutMs, bool verbose)
{
    const auto t0 = std::chrono::steady_clock::now();
    Figures fig;
    for (size_t from = 0; from < indexes.size();) {
        from += RunBatch(seed, indexes, from, std::min(batch, indexes.size() - from), timeoutMs, fig, verbose);
        size_t problems = 0;
        for (const auto& [kind, list] : fig.problems) problems += list.size();
        if (!verbose) std::printf("%zu/%zu inputs, %zu problems\n", from, indexes.size(), problems);
        std::fflush(stdout);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("\nseed %llu: %zu inputs in %.1f s (%.1f inputs/s)\n", static_cast<unsigned long long>(seed),
                fig.inputs, seconds, fig.inputs / (seconds > 0 ? seconds : 1));
    std::printf("  refused by LoadFile (stage code): %zu\n  error event: %zu\n  finished file: %zu\n",
                fig.byOutcome["stage"], fig.byOutcome["error"], fig.byOutcome["finished"]);
    std::printf("  by mutation:");
    for (const auto& [name, n] : fig.byMutation) std::printf(" %s %zu", name.c_str(), n);
    std::printf("\n  (handles the platform leaves per filter graph, not counted as leaks: %lu)\n", fig.platformPerGraph);
    for (const char* kind : {"crash", "hang", "leak", "source-changed", "setup"}) {
        const std::vector<std::string>& list = fig.problems[kind];
        std::printf("  %s: %zu\n", kind, list.size());
        for (const std::string& p : list) std::printf("    %s\n", p.c_str());
    }
    std::fflush(stdout);
    for (const auto& [kind, list] : fig.problems)
        if (!list.empty()) return 1;
    return 0;
}

// ---------------------------------------------------------------------------
// Long batch: many short files through one converter, figures every 50.

int RunLongBatch(size_t files, DWORD timeoutMs)
{
    testing_support::ComApartment com;
    auto pack = std::make_unique<testing_support::FilterPackRegistration>();
    if (FAILED(com.Result()) || FAILED(pack->Result())) return 5;
    const DWORD perGraph = PlatformHandlesPerGraph();
    GraphCounter graphs;
    const wchar_t* const sources[] = {L"sine440_144.ra", L"sine440_144.rm", L"sine1000_ac3.rm", L"video_rv10.rm"};
    const size_t kinds = sizeof(sources) / sizeof(sources[0]);
    auto session = std::make_unique<ConverterSession>();
    size_t finished = 0, failed = 0;
    const auto t0 = std::chrono::steady_clock::now();
    std::printf("(the platform leaves %lu handles per filter graph made and released)\n", perGraph);
    std::printf("%6s %8s %8s %6s %6s %10s %7s %8s %6s\n", "files", "handles", "threads", "gdi", "user", "private_kb",
                "graphs", "seconds", "failed");
    auto print = [&](size_t n, const ProcessCounts& c) {
        std::printf("%6zu %8lu %8lu %6lu %6lu %10llu %7ld %8.1f %6zu\n", n, c.handles, c.threads, c.gdi, c.user,
                    static_cast<unsigned long long>(c.privateBytes / 1024), static_cast<long>(graphs.Created()),
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), failed);
        std::fflush(stdout);
    };
    print(0, MeasureProcess());
    // The figures once every kind of source has been through (every DLL
    // loaded, the platform's threads started) are what the end is held to.
    ProcessCounts warm;
    LONG graphsAtWarm = 0;
    for (size_t i = 0; i < files; ++i) {
        const bool mp3 = i % 2 == 1;
        const std::wstring out = WorkDir() + L"\\long-" + std::to_wstring(i % 10) + (mp3 ? L".mp3" : L".wav");
        const Result r = ConvertOnce(*session, realmedia_test::Media(sources[i % kinds]), out, mp3, timeoutMs);
        ++(r.outcome == Outcome::Finished ? finished : failed);
        if (i + 1 == std::min(files, kinds)) {
            warm = MeasureProcess();
            graphsAtWarm = graphs.Created();
        }
        if ((i + 1) % 50 == 0) print(i + 1, MeasureProcess());
    }
    const ProcessCounts allowed = Allowed(warm, graphs.Created() - graphsAtWarm, perGraph);
    const ProcessCounts last = SettledCounts(allowed);
    session.reset();
    pack.reset();
    const bool packGone = PumpUntil(PackObjectsGone, 3000);
    const bool leaked = Exceeds(last, allowed);
    std::printf("%zu files: %zu finished, %zu failed\n", files, finished, failed);
    std::printf("after the first %zu files -> at the end: %s, private %llu -> %llu kB\n", std::min(files, kinds),
                CountsText(warm, last).c_str(), static_cast<unsigned long long>(warm.privateBytes / 1024),
                static_cast<unsigned long long>(last.privateBytes / 1024));
    std::printf("allowed at the end (%ld graphs since, %lu handles each): handles %lu\n",
                static_cast<long>(graphs.Created() - graphsAtWarm), perGraph, allowed.handles);
    if (leaked) std::printf("leak: the counts grew beyond the slack\n");
    std::printf("objects of the filter pack after the batch: %s\n", packGone ? "none" : "still alive");
    return failed || leaked || !packGone ? 1 : 0;
}

std::vector<uint64_t> ParseList(const char* text)
{
    std::vector<uint64_t> out;
    for (char* end = nullptr;; text = *end == ',' ? end + 1 : end) {
        const unsigned long long v = std::strtoull(text, &end, 10);
        if (end == text) return out;
        out.push_back(v);
    }
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
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--seed") seed = std::strtoull(next(), nullptr, 10);
        else if (a == "--first") first = std::strtoull(next(), nullptr, 10);
        else if (a == "--count") count = std::strtoull(next(), nullptr, 10);
        else if (a == "--batch") batch = std::max<size_t>(1, std::strtoull(next(), nullptr, 10));
        else if (a == "--timeout-ms") timeoutMs = static_cast<DWORD>(std::strtoul(next(), nullptr, 10));
        else if (a == "--only") only = ParseList(next());
        else if (a == "--log") log = testing_support::Widen(next());
        else if (a == "--child") child = true;
        else if (a == "--verbose") verbose = true;
        else if (a == "--long-batch") longBatch = std::strtoull(next(), nullptr, 10);
        else {
            std::fprintf(stderr, "unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    if (longBatch) return RunLongBatch(longBatch, timeoutMs);
    if (child) return RunChild(seed, only, timeoutMs, log);
    if (only.empty())
        for (uint64_t i = 0; i < count; ++i) only.push_back(first + i);
    if (LoadSeeds().empty()) {
        std::fprintf(stderr, "no seed media in %s\n", testing_support::Narrow(realmedia_test::MediaDir()).c_str());
        return 7;
    }
    return RunParent(seed, only, batch, timeoutMs, verbose);
}
