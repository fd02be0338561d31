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
#include <mutex>
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
    struct Pin final : public vellumo::filters::OutputPin {
        explicit Pin(SineSource& owner) : OutputPin(owner, L"Output"), f_(owner.format_) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override { return Type().Equals(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
        HRESULT GetMediaType(int i, vellumo::filters::MediaType& out) override { return i ? VFW_S_NO_MORE_ITEMS : (out = Type(), S_OK); }
        void BufferRequirements(ALLOCATOR_PROPERTIES& p) override { p = {4, 4096 * f_.channels * (f_.bits / 8), 1, p.cbPrefix}; }
        vellumo::filters::MediaType Type() const { return vellumo::filters::PcmMediaType(f_.rate, f_.channels, f_.bits); }
        const SineFormat& f_;
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
        for (LONGLONG position = 0, frames = 0; position < end && !stop_; position += frames) {
            const HRESULT hr = lastDelivery_ = pin_.DeliverFilled([&](IMediaSample* sample, BYTE* data, long size) {
                frames = std::min<LONGLONG>(size / frameBytes, end - position);
                for (LONGLONG i = 0; i < frames; ++i) {
                    const double v = format_.amplitude * std::sin(step * static_cast<double>(position + i));
                    const auto s16 = static_cast<int16_t>(std::lround(32767.0 * v));
                    for (int c = 0; c < format_.channels; ++c) {
                        if (format_.bits == 8) data[i * frameBytes + c] = static_cast<BYTE>(std::lround(128.0 + 127.0 * v));
                        else std::memcpy(data + i * frameBytes + c * 2, &s16, 2);
                    }
                }
                REFERENCE_TIME start = position * 10000000LL / format_.rate, stop = (position + frames) * 10000000LL / format_.rate;
                sample->SetActualDataLength(static_cast<long>(frames * frameBytes));
                sample->SetSyncPoint(TRUE);
                return sample->SetTime(&start, &stop);
            });
            if (hr != S_OK) return;
        }
        if (end == format_.frames && !stop_) pin_.DeliverEndOfStream();
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
    while (filter && (pins || SUCCEEDED(filter->EnumPins(pins.Put()))) && pins->Next(1, pin.Put(), nullptr) == S_OK)
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted) found.push_back(pin);
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
    if (object && SUCCEEDED(object->QueryInterface(IID_IMediaSeeking, seeking.PutVoid()))) seeking->GetDuration(&duration);
    return duration;
}

inline ComPtr<IBaseFilter> Create(REFCLSID clsid)
{
    ComPtr<IBaseFilter> filter;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid());
    return filter;
}

// A WAV writer in the given mode (1: RIFF file, 0: the bytes as they come), and its control.
inline ComPtr<IBaseFilter> WavDest(LONG waveOutput, ComPtr<IWavDestControl>* control = nullptr)
{
    ComPtr<IBaseFilter> wav = Create(corvane::CLSID_WavDest);
    ComPtr<IWavDestControl> c;
    if (wav && SUCCEEDED(wav.As(c))) c->SetWaveOutput(waveOutput);
    if (control) *control = c;
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
    // Adds the filters and connects each to the next, the last (a file sink)
    // writing to path; afterFirst runs where the converter sets its parameters.
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
    bool RunToCompletion(DWORD timeoutMs = 30000, const std::function<void(long)>& onEvent = {})
    {
        runResult = control->Run();
        return SUCCEEDED(runResult) && WaitForCompletion(timeoutMs, onEvent);
    }
    // Waits for EC_COMPLETE (true) or an abort or timeout (false), counting EC_COMPLETEs
    // until half a second after the first. onEvent sees each event's code (0: none).
    bool WaitForCompletion(DWORD timeoutMs, const std::function<void(long)>& onEvent = {})
    {
        const int before = completes;
        for (DWORD until = GetTickCount() + timeoutMs; static_cast<LONG>(until - GetTickCount()) > 0;) {
            long code = 0;
            LONG_PTR p1 = 0, p2 = 0;
            if (events->GetEvent(&code, &p1, &p2, 50) == S_OK) events->FreeEventParams(code, p1, p2);
            else code = 0;
            if (onEvent) onEvent(code);
            if (code == EC_ERRORABORT || code == EC_USERABORT) return abortCode = static_cast<HRESULT>(p1), false;
            if (code == EC_COMPLETE && completes++ == before) until = GetTickCount() + 500;
        }
        return completes > before;
    }

    int QueuedAborts()  // the EC_ERRORABORTs among the events still queued
    {
        int aborts = 0;
        long code = 0;
        for (LONG_PTR p[2]; events->GetEvent(&code, &p[0], &p[1], 0) == S_OK; events->FreeEventParams(code, p[0], p[1]))
            aborts += code == EC_ERRORABORT;
        return aborts;
    }

    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ComPtr<IMediaSeeking> seeking;
    HRESULT runResult = S_OK, abortCode = S_OK;
    int completes = 0;
};

// A renderer on the pack's framework that keeps every byte and sample start
// time (-1: untimed) it receives and signals the end; or refuses, raising
// nothing (as the platform's File Writer on a full disk), from the first
// sample `when` picks (by index and length) on, counting the refusals.
class CaptureSink final : public vellumo::filters::BaseFilter, public IAMFilterMiscFlags {
public:
    CaptureSink() : BaseFilter(GUID_NULL), pin_(*this), end_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~CaptureSink() override { CloseHandle(end_); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return BaseFilter::QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return BaseFilter::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return BaseFilter::Release(); }
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }
    int PinCount() override { return 1; }
    vellumo::filters::BasePin* PinAt(int index) override { return index == 0 ? &pin_ : nullptr; }

    bool WaitForEnd(DWORD ms) { return WaitForSingleObject(end_, ms) == WAIT_OBJECT_0; }
    void Reset()
    {
        std::lock_guard<std::mutex> lock(lock_);
        bytes_.clear(), starts_.clear(), refused_ = 0;
        ResetEvent(end_);
    }
    std::vector<uint8_t> Bytes() { std::lock_guard<std::mutex> lock(lock_); return bytes_; }
    std::vector<REFERENCE_TIME> Starts() { std::lock_guard<std::mutex> lock(lock_); return starts_; }
    void Refuse(std::function<bool(size_t index, long length)> when, HRESULT refusal)
    {
        std::lock_guard<std::mutex> lock(lock_);
        refuse_ = std::move(when), refusal_ = refusal;
    }
    int Refused() { std::lock_guard<std::mutex> lock(lock_); return refused_; }

protected:
    HRESULT QueryFilterInterface(REFIID iid, void** out) override
    {
        if (iid != IID_IAMFilterMiscFlags) return BaseFilter::QueryFilterInterface(iid, out);
        *out = static_cast<IAMFilterMiscFlags*>(this);
        return AddRef(), S_OK;
    }
    // Like every renderer it reports the end only while running (the graph
    // counts ends from its Run on): an end that came while paused, at Run.
    HRESULT OnRun(REFERENCE_TIME) override { return Complete(true, false), S_OK; }
    HRESULT OnPause() override { std::lock_guard<std::mutex> lock(lock_); running_ = false; return S_OK; }
    HRESULT OnStop() override { std::lock_guard<std::mutex> lock(lock_); running_ = ended_ = sent_ = false; return S_OK; }

private:
    void Complete(bool run, bool end)
    {
        std::unique_lock<std::mutex> lock(lock_);
        running_ = running_ || run, ended_ = ended_ || end;
        const bool send = running_ && ended_ && !sent_;
        sent_ = sent_ || send;
        lock.unlock();
        if (send) NotifyEvent(EC_COMPLETE, S_OK, 0);
    }
    struct Pin final : vellumo::filters::InputPin {
        explicit Pin(CaptureSink& sink) : InputPin(sink, L"In"), sink_(sink) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override { return mt.majortype != GUID_NULL ? S_OK : S_FALSE; }
        HRESULT OnReceive(IMediaSample* sample) override
        {
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            const long n = sample->GetActualDataLength();
            REFERENCE_TIME start = -1, stop = -1;
            const HRESULT timed = sample->GetTime(&start, &stop);
            std::lock_guard<std::mutex> lock(sink_.lock_);
            if (sink_.refused_ || (sink_.refuse_ && sink_.refuse_(sink_.starts_.size(), n))) return ++sink_.refused_, sink_.refusal_;
            if (data && n > 0) sink_.bytes_.insert(sink_.bytes_.end(), data, data + n);
            sink_.starts_.push_back(SUCCEEDED(timed) ? start : -1);
            return S_OK;
        }
        HRESULT OnEndOfStream() override
        {
            SetEvent(sink_.end_);
            return sink_.Complete(false, true), S_OK;
        }
        CaptureSink& sink_;
    };

    Pin pin_;
    HANDLE end_;
    std::mutex lock_;
    std::vector<uint8_t> bytes_;
    std::vector<REFERENCE_TIME> starts_;
    std::function<bool(size_t, long)> refuse_;
    HRESULT refusal_ = S_FALSE;
    int refused_ = 0;
    bool running_ = false, ended_ = false, sent_ = false;
};

// A RIFF/WAVE PCM file as the WAV writer makes it (44-byte header; 8 or 16
// bit), with its channel 0 scaled to [-1, 1].
struct WavInfo {
    bool ok = false;
    uint16_t channels = 0, bits = 0, blockAlign = 0;
    uint32_t rate = 0, byteRate = 0, riffSize = 0, dataSize = 0;
    std::vector<double> channel0;
    double Rms(size_t skip) const  // of channel0[skip .. size - skip)
    {
        double sum = 0;
        for (size_t i = skip; i + skip < channel0.size(); ++i) sum += channel0[i] * channel0[i];
        return channel0.size() > 2 * skip ? std::sqrt(sum / (channel0.size() - 2 * skip)) : 0;
    }
};

inline WavInfo ParseWav(const std::vector<uint8_t>& b)
{
    WavInfo w;
    if (b.size() < 44 || std::memcmp(&b[0], "RIFF", 4) || std::memcmp(&b[8], "WAVEfmt ", 8) || std::memcmp(&b[36], "data", 4))
        return w;
    w = {b.size() >= 44 + Le32(b, 40), Le16(b, 22), Le16(b, 34), Le16(b, 32), Le32(b, 24), Le32(b, 28), Le32(b, 4), Le32(b, 40), {}};
    for (size_t at = 44; w.ok && w.blockAlign && at + w.blockAlign <= 44 + w.dataSize; at += w.blockAlign)
        w.channel0.push_back(w.bits == 8 ? (b[at] - 128) / 128.0 : static_cast<int16_t>(Le16(b, at)) / 32768.0);
    return w;
}

// The MPEG audio frames of an MP3 stream, from its first byte on.
struct Mp3Frame {
    size_t offset, size;
    int version;          // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
    int kbps, rate, mode;  // mode: 0 stereo, 1 joint, 2 dual, 3 mono
};

inline std::vector<Mp3Frame> Mp3Frames(const std::vector<uint8_t>& b)
{
    static const int kbps1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kbps2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int rates[] = {44100, 48000, 32000};
    std::vector<Mp3Frame> frames;
    for (size_t at = 0; at + 4 <= b.size(); at += frames.back().size) {
        const uint32_t h = Be32(b, at);
        const int ver = (h >> 19) & 3, layer = (h >> 17) & 3, brIdx = (h >> 12) & 15, srIdx = (h >> 10) & 3;
        if ((h & 0xFFE00000u) != 0xFFE00000u || ver == 1 || layer != 1 || brIdx == 0 || brIdx == 15 || srIdx == 3) break;
        const int version = ver == 3 ? 1 : ver == 2 ? 2 : 25, kbps = version == 1 ? kbps1[brIdx] : kbps2[brIdx];
        const int rate = rates[srIdx] / (version == 1 ? 1 : version == 2 ? 2 : 4);
        const size_t size = (version == 1 ? 144 : 72) * kbps * 1000 / rate + ((h >> 9) & 1);
        frames.push_back({at, size, version, kbps, rate, static_cast<int>((h >> 6) & 3)});
    }
    return frames;
}

// The pack registered in-process for the test.
class PackTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, pack_.Result()); }

    // sine -> chain (ending in a file sink) -> outputs folder `name`, with Chain's afterFirst and
    // RunToCompletion's onEvent; expects one EC_COMPLETE, the file closed by then; returns its bytes.
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
