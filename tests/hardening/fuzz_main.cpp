// Mutation fuzzer for the RealMedia splitter and decoder, through the
// converter object with the filter pack registered in-process.
//
//   fuzz_realmedia --seed S --count N [--first I] [--batch B] [--timeout-ms T]
//       Runs inputs I..I+N-1 of seed S, B inputs per child process, and
//       prints the figures. Exit code 0 when there was no crash, hang or leak.
//   fuzz_realmedia --seed S --only I,J,...
//       Replays chosen inputs (the kept regression cases).
//   fuzz_realmedia --child ...
//       One batch, in-process (used by the parent; also handy in a debugger).
//   fuzz_realmedia --long-batch N
//       Converts N short files one after another through one converter and
//       prints handles, threads, GDI/USER objects and memory every 50 files.
//
// Every input must end in a stage code from LoadFile, an error event or a
// finished file within the time limit, and leave nothing behind: no object
// of the filter pack (so no graph), and handles, threads and GDI/USER objects
// within a small slack of the child's figures after its warm-up.
#include "dshow_uuids.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "atl_halvex.h"
#include "com_ptr.h"
#include "converter_session.h"
#include "event_recorder.h"
#include "event_window.h"
#include "filter_pack.h"
#include "mutator.h"
#include "process_counts.h"
#include "test_media.h"
#include "test_platform.h"

using corvane::AtlHalvex;

namespace {

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

bool ReadWhole(const std::wstring& path, fuzz::Bytes& out, size_t cap = SIZE_MAX)
{
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return false;
    out.clear();
    uint8_t buffer[65536];
    size_t n;
    while (out.size() < cap && (n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) out.insert(out.end(), buffer, buffer + n);
    std::fclose(f);
    if (out.size() > cap) out.resize(cap);
    return true;
}

bool WriteWhole(const std::wstring& path, const fuzz::Bytes& bytes)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::vector<Seed> LoadSeeds()
{
    std::vector<Seed> seeds;
    for (const wchar_t* name : kSeedNames) {
        Seed s{name, {}};
        if (ReadWhole(realmedia_test::Media(name), s.bytes, kSeedCap) && !s.bytes.empty()) seeds.push_back(std::move(s));
    }
    return seeds;
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

std::string Narrow(const std::wstring& w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring ExePath()
{
    wchar_t exe[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    return std::wstring(exe, n);
}

// build/fuzz-work: inputs and outputs of the running children.
std::wstring WorkDir()
{
    std::wstring media = realmedia_test::MediaDir();
    std::wstring dir = media.substr(0, media.find(L"\\test-media\\")) + L"\\fuzz-work";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

// ---------------------------------------------------------------------------
// Resource counts of this process and the filter pack's live objects.

using testing_support::MeasureProcess;
using testing_support::ProcessCounts;

// What an input may leave behind beyond the figures after the warm-up:
// caches of the platform that fill once (a font, a registry key, a pool
// thread that has not ended yet) but not per input.
constexpr DWORD kHandleSlack = 8;
constexpr DWORD kThreadSlack = 1;
constexpr DWORD kGdiSlack = 4;
constexpr DWORD kUserSlack = 2;

bool Exceeds(const ProcessCounts& now, const ProcessCounts& base)
{
    return now.handles > base.handles + kHandleSlack || now.threads > base.threads + kThreadSlack ||
           now.gdi > base.gdi + kGdiSlack || now.user > base.user + kUserSlack;
}

// Threads of the platform's pools end a while after their last work item:
// wait a little for the counts to come back before calling it a leak.
ProcessCounts SettledCounts(const ProcessCounts& base, DWORD ms)
{
    DWORD start = GetTickCount();
    ProcessCounts now = MeasureProcess();
    while (Exceeds(now, base) && GetTickCount() - start < ms) {
        Sleep(50);
        now = MeasureProcess();
    }
    return now;
}

std::string CountsText(const ProcessCounts& from, const ProcessCounts& to)
{
    auto pair = [](const char* name, DWORD a, DWORD b) {
        return std::string(name) + " " + std::to_string(a) + " -> " + std::to_string(b);
    };
    return pair("handles", from.handles, to.handles) + ", " + pair("threads", from.threads, to.threads) + ", " +
           pair("gdi", from.gdi, to.gdi) + ", " + pair("user", from.user, to.user);
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
// platform's own class object.
class GraphCounter final : public IClassFactory {
public:
    GraphCounter()
    {
        if (SUCCEEDED(CoGetClassObject(CLSID_FilterGraph, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                       platform_.PutVoid())))
            CoRegisterClassObject(CLSID_FilterGraph, this, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
    }
    ~GraphCounter()
    {
        if (cookie_) CoRevokeClassObject(cookie_);
    }
    GraphCounter(const GraphCounter&) = delete;
    GraphCounter& operator=(const GraphCounter&) = delete;
    bool Registered() const { return cookie_ != 0; }
    LONG Created() const { return created_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = iid == IID_IUnknown || iid == IID_IClassFactory ? static_cast<IClassFactory*>(this) : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    // Lives on the stack of its user, which revokes it before it goes.
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
// One conversion through a fresh converter object.

using testing_support::Bstr;
using testing_support::PumpUntil;

enum class Outcome { StageCode, ErrorEvent, Finished, Hang };

struct Result {
    Outcome outcome;
    LONG code;  // LoadFile's stage code or the error event's code
};

Result ConvertOnce(const std::wstring& source, const std::wstring& output, bool mp3, DWORD timeoutMs,
                   AtlHalvex* reuse = nullptr)
{
    std::unique_ptr<AtlHalvex> own;
    AtlHalvex* converter = reuse;
    if (!converter) {
        own = std::make_unique<AtlHalvex>();
        converter = own.get();
    }
    fakes::EventRecorder events;
    corvane::GraphEventWindow window(*converter);
    struct Advise {
        AtlHalvex* c;
        DWORD cookie;
        ~Advise() { c->Sinks().Remove(cookie); }
    } advise{converter, converter->Sinks().Add(&events)};
    (void)advise;

    converter->put_Format(mp3 ? 1 : 0);
    converter->put_WAV_Channels(2);
    converter->put_WAV_Bits(1);
    LONG stage = -1;
    converter->get_LoadFile(Bstr(source), &stage);
    if (stage != 0) return {Outcome::StageCode, stage};
    DeleteFileW(output.c_str());
    converter->put_SaveFile(Bstr(output));
    events.Clear();
    converter->Convert();
    if (events.Events().empty()) {
        converter->Play();
        if (!PumpUntil([&] { return !events.Events().empty(); }, timeoutMs)) {
            converter->Stop();
            return {Outcome::Hang, 0};
        }
    }
    fakes::EventRecorder::Event first = events.Events().front();
    converter->Stop();
    PumpUntil([] { return false; }, 0);
    std::string name = events.Names().front();
    if (name == "finished") return {Outcome::Finished, 0};
    return {Outcome::ErrorEvent, first.code};
}

// ---------------------------------------------------------------------------
// Child: one batch of inputs in this process.

FILE* g_log = nullptr;
volatile LONG64 g_current = -1;

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info)
{
    if (g_log) {
        std::fprintf(g_log, "crash %lld %08lx\n", static_cast<long long>(g_current),
                     static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode));
        std::fflush(g_log);
    }
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// A conversion with the pack's classes registered only for its length, so
// that the pack's object count afterwards tells whether its graph is gone.
Result ConvertWithPack(const std::wstring& source, const std::wstring& output, bool mp3, DWORD timeoutMs)
{
    testing_support::FilterPackRegistration pack;
    return ConvertOnce(source, output, mp3, timeoutMs);
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
        std::fprintf(g_log, "setup-failed\n");
        std::fclose(g_log);
        return 5;
    }
    const std::wstring dir = WorkDir();
    const std::wstring tag = std::to_wstring(GetCurrentProcessId());
    const std::wstring input = dir + L"\\in-" + tag + L".rm";
    const std::wstring wav = dir + L"\\out-" + tag + L".wav";
    const std::wstring mp3 = dir + L"\\out-" + tag + L".mp3";

    // Warm-up: one good conversion of each kind loads every DLL and starts
    // the platform's long-lived threads before the counts are taken.
    ConvertWithPack(realmedia_test::Media(seeds[0].name), wav, false, timeoutMs);
    ConvertWithPack(realmedia_test::Media(seeds[0].name), mp3, true, timeoutMs);
    bool packGone = PumpUntil(PackObjectsGone, 3000);
    if (!packGone) {
        std::fprintf(g_log, "graph-leak warm-up\n");
        std::fflush(g_log);
    }
    const DWORD perGraph = PlatformHandlesPerGraph();
    std::fprintf(g_log, "platform-graph-handles %lu\n", static_cast<unsigned long>(perGraph));
    GraphCounter graphs;
    ProcessCounts base = MeasureProcess();
    LONG graphsAtBase = graphs.Created();

    for (uint64_t index : indexes) {
        Input in = MakeInput(seeds, seed, index);
        g_current = static_cast<LONG64>(index);
        std::fprintf(g_log, "begin %llu\n", static_cast<unsigned long long>(index));
        std::fflush(g_log);
        WriteWhole(input, in.bytes);
        auto t0 = std::chrono::steady_clock::now();
        Result r = ConvertWithPack(input, in.mp3 ? mp3 : wav, in.mp3, timeoutMs);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        static const char* const kinds[] = {"stage", "error", "finished", "hang"};
        std::fprintf(g_log, "done %llu %s %ld %lld %s %s %zu\n", static_cast<unsigned long long>(index),
                     kinds[static_cast<int>(r.outcome)], static_cast<long>(r.code), static_cast<long long>(ms),
                     fuzz::Name(in.mutation), Narrow(seeds[in.seedIndex].name).c_str(), in.bytes.size());
        std::fflush(g_log);
        // The source must survive its conversion unchanged.
        fuzz::Bytes back;
        if (!ReadWhole(input, back) || back != in.bytes) {
            std::fprintf(g_log, "source-changed %llu\n", static_cast<unsigned long long>(index));
            std::fflush(g_log);
        }
        if (r.outcome == Outcome::Hang) break;  // the parent reports it; a fresh child goes on
        // Nothing of the input may stay: its graph (the pack's filters) and,
        // beyond a small slack over the warm-up figures, handles, threads and
        // GDI/USER objects (less what the platform leaves per graph). Once
        // reported, a leak becomes the new baseline so that each report
        // names the input that grew the counts.
        if (packGone && !PumpUntil(PackObjectsGone, 3000)) {
            packGone = false;  // still alive: later inputs cannot be told apart
            std::fprintf(g_log, "graph-leak %llu\n", static_cast<unsigned long long>(index));
            std::fflush(g_log);
        }
        const ProcessCounts allowed = Allowed(base, graphs.Created() - graphsAtBase, perGraph);
        ProcessCounts now = MeasureProcess();
        if (Exceeds(now, allowed)) now = SettledCounts(allowed, 3000);
        if (Exceeds(now, allowed)) {
            std::fprintf(g_log, "leak %llu: %s\n", static_cast<unsigned long long>(index),
                         CountsText(allowed, now).c_str());
            std::fflush(g_log);
            base = now;
            graphsAtBase = graphs.Created();
        }
    }
    DeleteFileW(input.c_str());
    DeleteFileW(wav.c_str());
    DeleteFileW(mp3.c_str());
    std::fprintf(g_log, "end\n");
    std::fclose(g_log);
    g_log = nullptr;
    return 0;
}

// ---------------------------------------------------------------------------
// Parent: runs batches in child processes and adds up the figures.

struct Figures {
    size_t inputs = 0, stage = 0, errors = 0, finished = 0;
    std::vector<std::string> crashes, hangs, leaks, changed;
    std::map<std::string, size_t> byMutation;
    unsigned long platformPerGraph = 0;
};

std::string IndexList(const std::vector<uint64_t>& indexes, size_t from, size_t count)
{
    std::string s;
    for (size_t i = from; i < from + count && i < indexes.size(); ++i) {
        if (!s.empty()) s += ',';
        s += std::to_string(indexes[i]);
    }
    return s;
}

// Starts a child for indexes[from..from+count), returns how many it finished.
size_t RunBatch(uint64_t seed, const std::vector<uint64_t>& indexes, size_t from, size_t count, DWORD timeoutMs,
                Figures& fig, bool verbose)
{
    const std::wstring log = WorkDir() + L"\\batch-" + std::to_wstring(GetCurrentProcessId()) + L".log";
    DeleteFileW(log.c_str());
    std::wstring cmd = L"\"" + ExePath() + L"\" --child --seed " + std::to_wstring(seed) + L" --timeout-ms " +
                       std::to_wstring(timeoutMs) + L" --log \"" + log + L"\" --only " +
                       realmedia_test::Widen(IndexList(indexes, from, count));
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::vector<wchar_t> line(cmd.begin(), cmd.end());
    line.push_back(0);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "cannot start a child: %lu\n", GetLastError());
        std::exit(6);
    }
    // Bounded: warm-up plus every input at its limit, plus the exit.
    DWORD limit = timeoutMs * static_cast<DWORD>(count + 2) + 30000;
    bool killed = WaitForSingleObject(pi.hProcess, limit) == WAIT_TIMEOUT;
    if (killed) {
        TerminateProcess(pi.hProcess, 9);
        WaitForSingleObject(pi.hProcess, 10000);
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    // Read what the child wrote.
    fuzz::Bytes text;
    ReadWhole(log, text);
    std::string all(text.begin(), text.end());
    size_t done = 0;
    long long begun = -1;
    bool ended = false, crashed = false;
    size_t pos = 0;
    while (pos < all.size()) {
        size_t eol = all.find('\n', pos);
        if (eol == std::string::npos) eol = all.size();
        std::string l = all.substr(pos, eol - pos);
        pos = eol + 1;
        if (!l.empty() && l.back() == '\r') l.pop_back();
        char kind[16] = {}, mutation[32] = {}, seedName[512] = {};
        unsigned long long index = 0;
        long value = 0;
        long long ms = 0;
        size_t size = 0;
        if (std::sscanf(l.c_str(), "begin %llu", &index) == 1) {
            begun = static_cast<long long>(index);
        } else if (std::sscanf(l.c_str(), "done %llu %15s %ld %lld %31s %511s %zu", &index, kind, &value, &ms,
                               mutation, seedName, &size) == 7) {
            ++done;
            ++fig.inputs;
            ++fig.byMutation[mutation];
            std::string k = kind;
            if (verbose) std::printf("  #%llu %-12s %-8s %ld (%lld ms) %s, %zu bytes\n", index, mutation, kind, value, ms, seedName, size);
            if (k == "stage") ++fig.stage;
            else if (k == "error") ++fig.errors;
            else if (k == "finished") ++fig.finished;
            else fig.hangs.push_back(std::to_string(index) + " (no event within the limit; " + mutation + ", " + seedName + ")");
            begun = -1;
        } else if (std::sscanf(l.c_str(), "crash %llu", &index) == 1) {
            crashed = true;
            fig.crashes.push_back(l);
        } else if (std::sscanf(l.c_str(), "source-changed %llu", &index) == 1) {
            fig.changed.push_back(std::to_string(index));
        } else if (std::sscanf(l.c_str(), "platform-graph-handles %lu", &fig.platformPerGraph) == 1) {
        } else if (l.rfind("leak ", 0) == 0) {
            fig.leaks.push_back("after input " + l.substr(5));
        } else if (l.rfind("graph-leak ", 0) == 0) {
            const std::string what = l.substr(11);
            fig.leaks.push_back((what == "warm-up" ? "after the warm-up" : "after input " + what) +
                                ": objects of the filter pack still alive");
        } else if (l == "end") {
            ended = true;
        }
    }
    if (begun >= 0 && !crashed) {
        ++fig.inputs;
        if (killed) fig.hangs.push_back(std::to_string(begun) + " (child killed at its time limit)");
        else fig.crashes.push_back("crash " + std::to_string(begun) + " exit code " + std::to_string(code));
        ++done;
    } else if (begun >= 0) {
        ++fig.inputs;
        ++done;
    } else if (!ended) {
        // Everything ran, but the child did not get to its end (or did not exit).
        fig.hangs.push_back(std::string("after inputs ") + IndexList(indexes, from, count) +
                            (killed ? ": child did not exit" : ": child ended early, code " + std::to_string(code)));
    } else if (killed) {
        fig.hangs.push_back("after inputs " + IndexList(indexes, from, count) + ": child did not exit");
    }
    DeleteFileW(log.c_str());
    return done ? done : count;  // never loop on a child that does nothing
}

int RunParent(uint64_t seed, const std::vector<uint64_t>& indexes, size_t batch, DWORD timeoutMs, bool verbose)
{
    auto t0 = std::chrono::steady_clock::now();
    Figures fig;
    for (size_t from = 0; from < indexes.size();) {
        size_t n = RunBatch(seed, indexes, from, std::min(batch, indexes.size() - from), timeoutMs, fig, verbose);
        from += n;
        if (!verbose) {
            std::printf("%zu/%zu inputs, %zu crashes, %zu hangs, %zu leaks\n", from, indexes.size(),
                        fig.crashes.size(), fig.hangs.size(), fig.leaks.size());
            std::fflush(stdout);
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("\nseed %llu: %zu inputs in %.1f s (%.1f inputs/s)\n", static_cast<unsigned long long>(seed),
                fig.inputs, seconds, fig.inputs / (seconds > 0 ? seconds : 1));
    std::printf("  refused by LoadFile (stage code): %zu\n  error event: %zu\n  finished file: %zu\n", fig.stage,
                fig.errors, fig.finished);
    std::printf("  by mutation:");
    for (const auto& [name, n] : fig.byMutation) std::printf(" %s %zu", name.c_str(), n);
    std::printf("\n  crashes: %zu\n", fig.crashes.size());
    for (const auto& c : fig.crashes) std::printf("    %s\n", c.c_str());
    std::printf("  hangs: %zu\n", fig.hangs.size());
    for (const auto& h : fig.hangs) std::printf("    %s\n", h.c_str());
    std::printf("  leaks: %zu (handles the platform leaves per filter graph, not counted: %lu)\n", fig.leaks.size(),
                fig.platformPerGraph);
    for (const auto& l : fig.leaks) std::printf("    %s\n", l.c_str());
    std::printf("  sources changed: %zu\n", fig.changed.size());
    for (const auto& c : fig.changed) std::printf("    %s\n", c.c_str());
    std::fflush(stdout);
    return fig.crashes.empty() && fig.hangs.empty() && fig.leaks.empty() && fig.changed.empty() ? 0 : 1;
}

// ---------------------------------------------------------------------------
// Long batch: many short files through one converter, figures every 50.

int RunLongBatch(size_t files, DWORD timeoutMs)
{
    testing_support::ComApartment com;
    if (FAILED(com.Result())) return 5;
    auto pack = std::make_unique<testing_support::FilterPackRegistration>();
    if (FAILED(pack->Result())) return 5;
    const DWORD perGraph = PlatformHandlesPerGraph();
    GraphCounter graphs;
    const wchar_t* const sources[] = {L"sine440_144.ra", L"sine440_144.rm", L"sine1000_ac3.rm", L"video_rv10.rm"};
    const size_t kinds = sizeof(sources) / sizeof(sources[0]);
    const std::wstring dir = WorkDir();
    auto converter = std::make_unique<AtlHalvex>();
    size_t finished = 0, failed = 0;
    auto t0 = std::chrono::steady_clock::now();
    std::printf("(the platform leaves %lu handles per filter graph made and released)\n",
                static_cast<unsigned long>(perGraph));
    std::printf("%6s %8s %8s %6s %6s %10s %7s %8s %6s\n", "files", "handles", "threads", "gdi", "user", "private_kb",
                "graphs", "seconds", "failed");
    auto print = [&](size_t n, const ProcessCounts& c) {
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("%6zu %8lu %8lu %6lu %6lu %10llu %7ld %8.1f %6zu\n", n, static_cast<unsigned long>(c.handles),
                    static_cast<unsigned long>(c.threads), static_cast<unsigned long>(c.gdi),
                    static_cast<unsigned long>(c.user), static_cast<unsigned long long>(c.privateBytes / 1024),
                    static_cast<long>(graphs.Created()), s, failed);
        std::fflush(stdout);
    };
    print(0, MeasureProcess());
    // The figures once every kind of source has been through (every DLL
    // loaded, the platform's threads started) are what the end is held to.
    ProcessCounts warm;
    LONG graphsAtWarm = 0;
    for (size_t i = 0; i < files; ++i) {
        bool mp3 = i % 2 == 1;
        const std::wstring out = dir + L"\\long-" + std::to_wstring(i % 10) + (mp3 ? L".mp3" : L".wav");
        Result r = ConvertOnce(realmedia_test::Media(sources[i % kinds]), out, mp3, timeoutMs, converter.get());
        if (r.outcome == Outcome::Finished) ++finished;
        else ++failed;
        if (i + 1 == std::min(files, kinds)) {
            warm = MeasureProcess();
            graphsAtWarm = graphs.Created();
        }
        if ((i + 1) % 50 == 0) print(i + 1, MeasureProcess());
    }
    const ProcessCounts allowed = Allowed(warm, graphs.Created() - graphsAtWarm, perGraph);
    const ProcessCounts last = SettledCounts(allowed, 3000);
    converter.reset();
    pack.reset();
    const bool packGone = PumpUntil(PackObjectsGone, 3000);
    std::printf("%zu files: %zu finished, %zu failed\n", files, finished, failed);
    std::printf("after the first %zu files -> at the end: %s, private %llu -> %llu kB\n", std::min(files, kinds),
                CountsText(warm, last).c_str(), static_cast<unsigned long long>(warm.privateBytes / 1024),
                static_cast<unsigned long long>(last.privateBytes / 1024));
    std::printf("allowed at the end (%ld graphs since, %lu handles each): handles %lu\n",
                static_cast<long>(graphs.Created() - graphsAtWarm), static_cast<unsigned long>(perGraph),
                static_cast<unsigned long>(allowed.handles));
    const bool leaked = Exceeds(last, allowed);
    if (leaked) std::printf("leak: the counts grew beyond the slack\n");
    std::printf("objects of the filter pack after the batch: %s\n", packGone ? "none" : "still alive");
    return failed || leaked || !packGone ? 1 : 0;
}

std::vector<uint64_t> ParseList(const char* text)
{
    std::vector<uint64_t> out;
    for (const char* p = text; *p;) {
        char* end = nullptr;
        unsigned long long v = std::strtoull(p, &end, 10);
        if (end == p) break;
        out.push_back(v);
        p = *end == ',' ? end + 1 : end;
    }
    return out;
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
        std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--seed") seed = std::strtoull(next(), nullptr, 10);
        else if (a == "--first") first = std::strtoull(next(), nullptr, 10);
        else if (a == "--count") count = std::strtoull(next(), nullptr, 10);
        else if (a == "--batch") batch = std::max<size_t>(1, std::strtoull(next(), nullptr, 10));
        else if (a == "--timeout-ms") timeoutMs = static_cast<DWORD>(std::strtoul(next(), nullptr, 10));
        else if (a == "--only") only = ParseList(next());
        else if (a == "--log") log = realmedia_test::Widen(next());
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
    if (only.empty()) {
        for (uint64_t i = 0; i < count; ++i) only.push_back(first + i);
    }
    if (LoadSeeds().empty()) {
        std::fprintf(stderr, "no seed media in %s\n", Narrow(realmedia_test::MediaDir()).c_str());
        return 7;
    }
    return RunParent(seed, only, batch, timeoutMs, verbose);
}
