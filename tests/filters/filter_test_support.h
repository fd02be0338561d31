// Shared helpers of the filter pack tests: a sine source, pins, output files
// and their parsing, a graph that runs to completion with a bounded wait, and
// a fixture that writes a sine through a chain of the pack's filters.
#pragma once

#include "dshow_uuids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/base_filter.h"
#include "base/media_type.h"
#include "base/pins.h"
#include "com_ptr.h"
#include "filter_interfaces.h"
#include "filter_pack.h"
#include "test_platform.h"

namespace filter_tests {

using corvane::ComPtr;
using testing_support::ReadAll;

// A PCM sine source on the pack's framework, delivered from its own thread
// with stream times, then end of stream.
struct SineFormat {
    DWORD rate = 44100;
    WORD channels = 2, bits = 16;
    double frequency = 1000.0, amplitude = 0.5;  // amplitude: of full scale
    LONGLONG frames = 88200;
    LONGLONG holdAfter = -1;  // frames after which the source waits, without end of stream, until stopped
};

class SineSource final : public vellumo::filters::BaseFilter {
public:
    explicit SineSource(const SineFormat& format) : BaseFilter(GUID_NULL), format_(format), pin_(*this) {}
    ~SineSource() override { Stop(); }  // a graph whose Run failed leaves it paused
    int PinCount() override { return 1; }
    vellumo::filters::BasePin* PinAt(int index) override { return index == 0 ? &pin_ : nullptr; }
    HRESULT LastDelivery() const { return lastDelivery_.load(); }  // E_PENDING before the first

private:
    class Pin final : public vellumo::filters::OutputPin {
    public:
        explicit Pin(SineSource& owner) : OutputPin(owner, L"Output"), owner_(owner) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override { return Type().Equals(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
        HRESULT GetMediaType(int index, vellumo::filters::MediaType& out) override
        {
            return index ? VFW_S_NO_MORE_ITEMS : (out = Type(), S_OK);
        }

    protected:
        void BufferRequirements(ALLOCATOR_PROPERTIES& props) override
        {
            props = {4, 4096 * owner_.format_.channels * (owner_.format_.bits / 8), 1, props.cbPrefix};
        }

    private:
        vellumo::filters::MediaType Type() const
        {
            return vellumo::filters::PcmMediaType(owner_.format_.rate, owner_.format_.channels, owner_.format_.bits);
        }
        SineSource& owner_;
    };

    HRESULT OnStartStreaming() override
    {
        stop_ = false;
        if (pin_.IsConnected()) thread_ = std::thread([this] { Stream(); });
        return S_OK;
    }
    HRESULT OnStop() override
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return S_OK;
    }
    void Stream()
    {
        const int frameBytes = format_.channels * (format_.bits / 8);
        const double step = 2.0 * 3.14159265358979323846 * format_.frequency / format_.rate;
        const LONGLONG end = format_.holdAfter >= 0 ? std::min(format_.holdAfter, format_.frames) : format_.frames;
        LONGLONG position = 0;
        while (position < end && !stop_) {
            IMediaSample* sample = nullptr;
            if (FAILED(pin_.GetDeliveryBuffer(&sample))) return;
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            const LONGLONG frames = std::min<LONGLONG>(sample->GetSize() / frameBytes, end - position);
            for (LONGLONG i = 0; i < frames; ++i) {
                const double v = format_.amplitude * std::sin(step * static_cast<double>(position + i));
                const auto s16 = static_cast<int16_t>(std::lround(32767.0 * v));
                for (int c = 0; c < format_.channels; ++c) {
                    if (format_.bits == 8) data[i * frameBytes + c] = static_cast<BYTE>(std::lround(128.0 + 127.0 * v));
                    else std::memcpy(data + i * frameBytes + c * 2, &s16, 2);
                }
            }
            sample->SetActualDataLength(static_cast<long>(frames * frameBytes));
            REFERENCE_TIME start = position * 10000000LL / format_.rate;
            REFERENCE_TIME stop = (position + frames) * 10000000LL / format_.rate;
            sample->SetTime(&start, &stop);
            sample->SetSyncPoint(TRUE);
            const HRESULT hr = lastDelivery_ = pin_.Deliver(sample);
            sample->Release();
            if (hr != S_OK) return;
            position += frames;
        }
        if (position >= format_.frames) pin_.DeliverEndOfStream();
    }

    const SineFormat format_;
    Pin pin_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<HRESULT> lastDelivery_{E_PENDING};
};

inline std::vector<ComPtr<IPin>> Pins(IBaseFilter* filter, PIN_DIRECTION wanted)
{
    std::vector<ComPtr<IPin>> found;
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> pin;
    PIN_DIRECTION dir;
    if (!filter || FAILED(filter->EnumPins(pins.Put()))) return found;
    while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted) found.push_back(pin);
    }
    return found;
}

inline ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION wanted)
{
    auto pins = Pins(filter, wanted);
    return pins.empty() ? nullptr : pins[0];
}

// The type of a pin's connection (empty when it has none).
inline vellumo::filters::MediaType ConnectionType(IPin* pin)
{
    AM_MEDIA_TYPE mt{};
    vellumo::filters::MediaType type;
    if (pin && SUCCEEDED(pin->ConnectionMediaType(&mt))) type.Set(mt);
    vellumo::filters::FreeMediaTypeContents(mt);
    return type;
}

// What the object's IMediaSeeking answers for the duration; -1 when it does not.
inline LONGLONG DurationOf(IUnknown* object)
{
    ComPtr<IMediaSeeking> seeking;
    LONGLONG duration = -1;
    const bool ok = object && SUCCEEDED(object->QueryInterface(IID_IMediaSeeking, seeking.PutVoid())) &&
                    SUCCEEDED(seeking->GetDuration(&duration));
    return ok ? duration : -1;
}

inline ComPtr<IBaseFilter> Create(REFCLSID clsid)
{
    ComPtr<IBaseFilter> filter;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid());
    return filter;
}

// A WAV writer in the given mode (1: RIFF file, 0: the bytes as they come).
inline ComPtr<IBaseFilter> WavDest(LONG waveOutput)
{
    ComPtr<IBaseFilter> wav = Create(corvane::CLSID_WavDest);
    ComPtr<IWavDestControl> control;
    if (wav && SUCCEEDED(wav.As(control))) control->SetWaveOutput(waveOutput);
    return wav;
}

inline std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH];
    GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return full;
}
// Output files of the tests, kept for the native checks (ffprobe).
inline std::wstring OutputPath(const wchar_t* name)
{
    CreateDirectoryW(L"filter-outputs", nullptr);
    return FullPath(std::wstring(L"filter-outputs\\") + name);
}
// The RealMedia test media (made by tests/realmedia/make_test_media.sh).
inline std::wstring MediaPath(const wchar_t* name) { return FullPath(std::wstring(L"..\\test-media\\realmedia\\") + name); }

inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) { return Le16(b, at) | (Le16(b, at + 2) << 16u); }
inline uint32_t Be32(const std::vector<uint8_t>& b, size_t at) { return __builtin_bswap32(Le32(b, at)); }

// A graph with its control and event interfaces.
class TestGraph {
public:
    TestGraph()
    {
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid());
        if (graph && SUCCEEDED(graph.As(control)) && SUCCEEDED(graph.As(events))) graph.As(seeking);
    }
    ~TestGraph() { if (control) control->Stop(); }
    HRESULT Connect(IBaseFilter* from, IBaseFilter* to)
    {
        ComPtr<IPin> out = PinOf(from, PINDIR_OUTPUT), in = PinOf(to, PINDIR_INPUT);
        return out && in ? graph->ConnectDirect(out.Get(), in.Get(), nullptr) : VFW_E_NOT_FOUND;
    }
    // Adds the filters and connects each to the next; with a path, the last
    // one (a file sink) writes there. afterFirst runs once the second filter's
    // input is connected, where the converter sets its parameters.
    HRESULT Chain(const std::vector<IBaseFilter*>& filters, const std::wstring& path = {},
                  const std::function<void()>& afterFirst = {})
    {
        HRESULT hr = S_OK;
        if (!path.empty()) {
            ComPtr<IFileSinkFilter> sink;
            hr = filters.back()->QueryInterface(IID_IFileSinkFilter, sink.PutVoid());
            if (SUCCEEDED(hr)) hr = sink->SetFileName(path.c_str(), nullptr);
        }
        for (size_t i = 0; SUCCEEDED(hr) && i < filters.size(); ++i) hr = graph->AddFilter(filters[i], nullptr);
        for (size_t i = 1; SUCCEEDED(hr) && i < filters.size(); ++i) {
            hr = Connect(filters[i - 1], filters[i]);
            if (i == 1 && afterFirst) afterFirst();
        }
        return hr;
    }
    // Runs, then waits as WaitForCompletion does.
    bool RunToCompletion(DWORD timeoutMs = 30000, const std::function<void(long)>& onEvent = {})
    {
        runResult = control->Run();
        return SUCCEEDED(runResult) && WaitForCompletion(timeoutMs, onEvent);
    }
    // Waits for EC_COMPLETE (true) or an abort or timeout (false); counts the
    // EC_COMPLETEs seen, also for a short while after the first. onEvent sees
    // every event's code, and 0 at each turn without one.
    bool WaitForCompletion(DWORD timeoutMs, const std::function<void(long)>& onEvent = {})
    {
        const DWORD deadline = GetTickCount() + timeoutMs;
        DWORD settleUntil = 0;
        bool done = false;
        while (static_cast<LONG>((done ? settleUntil : deadline) - GetTickCount()) > 0) {
            long code = 0;
            LONG_PTR p1 = 0, p2 = 0;
            if (events->GetEvent(&code, &p1, &p2, 50) == S_OK) events->FreeEventParams(code, p1, p2);
            else code = 0;
            if (onEvent) onEvent(code);
            if (code == EC_COMPLETE) {
                ++completes;
                if (!done) settleUntil = GetTickCount() + 500;
                done = true;
            } else if (code == EC_ERRORABORT || code == EC_USERABORT) {
                abortCode = static_cast<HRESULT>(p1);
                return false;
            }
        }
        return done;
    }

    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ComPtr<IMediaSeeking> seeking;
    HRESULT runResult = S_OK, abortCode = S_OK;
    int completes = 0;
};

// Root mean square of samples[skip .. size - skip).
inline double Rms(const std::vector<double>& samples, size_t skip = 0)
{
    double sum = 0;
    size_t n = 0;
    for (size_t i = skip; i + skip < samples.size(); ++i, ++n) sum += samples[i] * samples[i];
    return n ? std::sqrt(sum / n) : 0;
}

// A RIFF/WAVE PCM file (8 or 16 bit), with its channel 0 scaled to [-1, 1].
struct WavInfo {
    bool ok = false;
    uint16_t channels = 0, bits = 0, blockAlign = 0;
    uint32_t rate = 0, byteRate = 0, riffSize = 0, dataSize = 0;
    std::vector<double> channel0;
};

inline WavInfo ParseWav(const std::vector<uint8_t>& b)
{
    WavInfo w;
    auto tagAt = [&](size_t at, const char* tag) { return b.size() >= at + 4 && std::memcmp(&b[at], tag, 4) == 0; };
    if (b.size() < 44 || !tagAt(0, "RIFF") || !tagAt(8, "WAVE") || !tagAt(12, "fmt ")) return w;
    w.riffSize = Le32(b, 4);
    w.channels = Le16(b, 22);
    w.rate = Le32(b, 24);
    w.byteRate = Le32(b, 28);
    w.blockAlign = Le16(b, 32);
    w.bits = Le16(b, 34);
    const size_t data = 20 + Le32(b, 16);
    if (!tagAt(data, "data") || b.size() < data + 8 + Le32(b, data + 4) || !w.blockAlign) return w;
    w.dataSize = Le32(b, data + 4);
    for (size_t at = data + 8; at + w.blockAlign <= data + 8 + w.dataSize; at += w.blockAlign)
        w.channel0.push_back(w.bits == 8 ? (b[at] - 128) / 128.0 : static_cast<int16_t>(Le16(b, at)) / 32768.0);
    w.ok = true;
    return w;
}

// The MPEG audio frames of an MP3 stream, from its first byte on.
struct Mp3Frame {
    size_t offset = 0, size = 0;
    int version = 0;                   // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
    int kbps = 0, rate = 0, mode = 0;  // mode: 0 stereo, 1 joint, 2 dual, 3 mono
};

inline std::vector<Mp3Frame> Mp3Frames(const std::vector<uint8_t>& b)
{
    static const int kbps1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kbps2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int rates[] = {44100, 48000, 32000};
    std::vector<Mp3Frame> frames;
    for (size_t at = 0; at + 4 <= b.size();) {
        const uint32_t h = Be32(b, at);
        const int ver = (h >> 19) & 3, layer = (h >> 17) & 3, brIdx = (h >> 12) & 15, srIdx = (h >> 10) & 3;
        if ((h & 0xFFE00000u) != 0xFFE00000u || ver == 1 || layer != 1 || brIdx == 0 || brIdx == 15 || srIdx == 3) break;
        Mp3Frame f;
        f.offset = at;
        f.version = ver == 3 ? 1 : ver == 2 ? 2 : 25;
        f.kbps = f.version == 1 ? kbps1[brIdx] : kbps2[brIdx];
        f.rate = rates[srIdx] / (f.version == 1 ? 1 : f.version == 2 ? 2 : 4);
        f.mode = (h >> 6) & 3;
        f.size = (f.version == 1 ? 144 : 72) * f.kbps * 1000 / f.rate + ((h >> 9) & 1);
        frames.push_back(f);
        at += f.size;
    }
    return frames;
}

// The pack registered in-process for the test.
class PackTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, pack_.Result()); }

    // sine -> chain -> file `name` in the outputs folder (the last filter of
    // the chain is the file sink); configure as Chain's afterFirst, onEvent as
    // in RunToCompletion. Expects one EC_COMPLETE, with the file closed by
    // then; keeps the first filter's output type; returns the file's bytes.
    std::vector<uint8_t> Write(const SineFormat& in, std::vector<IBaseFilter*> chain, const wchar_t* name,
                               const std::function<void()>& configure = {},
                               const std::function<void(long)>& onEvent = {})
    {
        TestGraph g;
        ComPtr<IBaseFilter> source = ComPtr<IBaseFilter>::Attach(new SineSource(in));
        const std::wstring path = OutputPath(name);
        chain.insert(chain.begin(), source.Get());
        EXPECT_EQ(S_OK, g.Chain(chain, path, configure));
        firstOutputType_ = ConnectionType(PinOf(chain[1], PINDIR_OUTPUT).Get());
        bool closedAtComplete = false;
        EXPECT_TRUE(g.RunToCompletion(60000, [&](long code) {
            if (onEvent) onEvent(code);
            if (code != EC_COMPLETE || g.completes) return;
            HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            closedAtComplete = h != INVALID_HANDLE_VALUE;
            if (closedAtComplete) CloseHandle(h);
        })) << std::hex << g.runResult << " abort " << g.abortCode;
        EXPECT_EQ(1, g.completes);
        EXPECT_TRUE(closedAtComplete) << "EC_COMPLETE before the file was closed";
        return ReadAll(path);
    }

    testing_support::ComApartment com_;
    testing_support::FilterPackRegistration pack_;
    vellumo::filters::MediaType firstOutputType_;
};

}  // namespace filter_tests
