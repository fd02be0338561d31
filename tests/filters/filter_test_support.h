// Shared helpers of the filter pack tests: a graph that runs to completion
// with a bounded wait, pin lookup, output files and their parsing.
#pragma once

#include "dshow_uuids.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "filter_pack.h"
#include "sine_source.h"
#include "test_platform.h"

namespace filter_tests {

using corvane::ComPtr;

inline ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION wanted)
{
    ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(pins.Put()))) return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted) return pin;
    }
    return nullptr;
}

inline ComPtr<IBaseFilter> Create(REFCLSID clsid)
{
    ComPtr<IBaseFilter> filter;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid());
    return filter;
}

inline ComPtr<IBaseFilter> MakeSine(const SineFormat& format)
{
    return ComPtr<IBaseFilter>::Attach(new SineSource(format));
}

// Output files of the tests, kept for the native checks (ffprobe).
inline std::wstring OutputPath(const wchar_t* name)
{
    CreateDirectoryW(L"filter-outputs", nullptr);
    wchar_t full[MAX_PATH];
    GetFullPathNameW((std::wstring(L"filter-outputs\\") + name).c_str(), MAX_PATH, full, nullptr);
    return full;
}

inline std::vector<uint8_t> ReadAll(const std::wstring& path)
{
    std::vector<uint8_t> bytes;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size{};
    GetFileSizeEx(h, &size);
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty()) ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    CloseHandle(h);
    return bytes;
}

inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
inline uint32_t Be32(const std::vector<uint8_t>& b, size_t at)
{
    return (static_cast<uint32_t>(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

// A graph with its control and event interfaces.
class TestGraph {
public:
    TestGraph()
    {
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid());
        if (graph) {
            graph->QueryInterface(IID_IMediaControl, control.PutVoid());
            graph->QueryInterface(IID_IMediaEvent, events.PutVoid());
            graph->QueryInterface(IID_IMediaSeeking, seeking.PutVoid());
        }
    }
    ~TestGraph()
    {
        if (control) control->Stop();
    }
    HRESULT Add(IBaseFilter* filter, const wchar_t* name) { return graph->AddFilter(filter, name); }
    HRESULT Connect(IBaseFilter* from, IBaseFilter* to)
    {
        ComPtr<IPin> out = PinOf(from, PINDIR_OUTPUT);
        ComPtr<IPin> in = PinOf(to, PINDIR_INPUT);
        if (!out || !in) return VFW_E_NOT_FOUND;
        return graph->ConnectDirect(out.Get(), in.Get(), nullptr);
    }
    // Runs until EC_COMPLETE (true) or an abort/timeout (false); counts the
    // EC_COMPLETEs seen, also for a short while after the first.
    bool RunToCompletion(DWORD timeoutMs = 30000)
    {
        runResult = control->Run();
        if (FAILED(runResult)) return false;
        const DWORD deadline = GetTickCount() + timeoutMs;
        bool done = false;
        DWORD settleUntil = 0;
        for (;;) {
            const DWORD now = GetTickCount();
            if (!done && static_cast<LONG>(deadline - now) <= 0) break;
            if (done && static_cast<LONG>(settleUntil - now) <= 0) break;
            long code = 0;
            LONG_PTR p1 = 0, p2 = 0;
            if (events->GetEvent(&code, &p1, &p2, 50) != S_OK) continue;
            events->FreeEventParams(code, p1, p2);
            if (code == EC_COMPLETE) {
                ++completes;
                if (!done) settleUntil = GetTickCount() + 500;
                done = true;
            } else if (code == EC_ERRORABORT || code == EC_USERABORT) {
                aborted = true;
                abortCode = static_cast<HRESULT>(p1);
                break;
            }
        }
        if (done) control->Stop();
        return done && !aborted;
    }

    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ComPtr<IMediaSeeking> seeking;
    HRESULT runResult = S_OK;
    int completes = 0;
    bool aborted = false;
    HRESULT abortCode = S_OK;
};

// Dominant frequency of a mono signal by counting rising zero crossings.
inline double ZeroCrossingFrequency(const std::vector<double>& samples, double rate)
{
    int crossings = 0;
    size_t first = 0, last = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (!crossings) first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2) return 0;
    return (crossings - 1) * rate / static_cast<double>(last - first);
}

inline double Rms(const std::vector<double>& samples, size_t skip = 0)
{
    double sum = 0;
    size_t n = 0;
    for (size_t i = skip; i + skip < samples.size(); ++i, ++n) sum += samples[i] * samples[i];
    return n ? std::sqrt(sum / n) : 0;
}

// Channel 0 of a RIFF/WAVE PCM file (8 or 16 bit), scaled to [-1, 1].
struct WavInfo {
    bool ok = false;
    uint16_t tag = 0, channels = 0, bits = 0, blockAlign = 0;
    uint32_t rate = 0, byteRate = 0, riffSize = 0, fmtSize = 0, dataSize = 0;
    size_t dataOffset = 0;
    std::vector<double> channel0;
};

inline WavInfo ParseWav(const std::vector<uint8_t>& b)
{
    WavInfo w;
    if (b.size() < 44 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
        std::string(b.begin() + 8, b.begin() + 12) != "WAVE" || std::string(b.begin() + 12, b.begin() + 16) != "fmt ")
        return w;
    w.riffSize = Le32(b, 4);
    w.fmtSize = Le32(b, 16);
    w.tag = Le16(b, 20);
    w.channels = Le16(b, 22);
    w.rate = Le32(b, 24);
    w.byteRate = Le32(b, 28);
    w.blockAlign = Le16(b, 32);
    w.bits = Le16(b, 34);
    const size_t dataTag = 20 + w.fmtSize;
    if (b.size() < dataTag + 8 || std::string(b.begin() + dataTag, b.begin() + dataTag + 4) != "data") return w;
    w.dataSize = Le32(b, dataTag + 4);
    w.dataOffset = dataTag + 8;
    if (b.size() < w.dataOffset + w.dataSize || !w.blockAlign) return w;
    for (size_t at = w.dataOffset; at + w.blockAlign <= w.dataOffset + w.dataSize; at += w.blockAlign) {
        if (w.bits == 8) w.channel0.push_back((b[at] - 128) / 128.0);
        else w.channel0.push_back(static_cast<int16_t>(Le16(b, at)) / 32768.0);
    }
    w.ok = true;
    return w;
}

// MPEG audio frame headers of an MP3 stream.
struct Mp3Frame {
    size_t offset = 0, size = 0;
    int version = 0;  // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
    int kbps = 0, rate = 0, mode = 0;  // mode: 0 stereo, 1 joint, 2 dual, 3 mono
    bool crc = false;
};

inline bool ParseFrameHeader(const std::vector<uint8_t>& b, size_t at, Mp3Frame& f)
{
    if (at + 4 > b.size()) return false;
    const uint32_t h = Be32(b, at);
    if ((h & 0xFFE00000u) != 0xFFE00000u) return false;
    const int ver = (h >> 19) & 3, layer = (h >> 17) & 3, brIdx = (h >> 12) & 15, srIdx = (h >> 10) & 3;
    if (ver == 1 || layer != 1 || brIdx == 0 || brIdx == 15 || srIdx == 3) return false;
    static const int kbps1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kbps2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int rates[] = {44100, 48000, 32000};
    f.offset = at;
    f.version = ver == 3 ? 1 : ver == 2 ? 2 : 25;
    f.kbps = f.version == 1 ? kbps1[brIdx] : kbps2[brIdx];
    f.rate = rates[srIdx] / (f.version == 1 ? 1 : f.version == 2 ? 2 : 4);
    f.mode = (h >> 6) & 3;
    f.crc = ((h >> 16) & 1) == 0;
    const int padding = (h >> 9) & 1;
    f.size = (f.version == 1 ? 144 : 72) * f.kbps * 1000 / f.rate + padding;
    return true;
}

inline std::vector<Mp3Frame> Mp3Frames(const std::vector<uint8_t>& b)
{
    std::vector<Mp3Frame> frames;
    size_t at = 0;
    Mp3Frame f;
    while (ParseFrameHeader(b, at, f)) {
        frames.push_back(f);
        at += f.size;
    }
    return frames;
}

}  // namespace filter_tests
