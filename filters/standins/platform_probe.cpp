#include "standins/platform_probe.h"

#include <memory>

#include "base/base_filter.h"
#include "base/media_type.h"
#include "base/pins.h"
#include "com_ptr.h"

namespace vellumo::filters {

using corvane::ComPtr;

namespace {

constexpr LONGLONG kProbeDuration = 123456789;

// A source that only connects: one output pin offering one media type, with
// IMediaSeeking on the pin answering a known duration.
class ProbeSource final : public BaseFilter {
public:
    explicit ProbeSource(MediaType type) : BaseFilter(GUID_NULL), type_(std::move(type)), pin_(*this) {}
    int PinCount() override { return 1; }
    BasePin* PinAt(int index) override { return index == 0 ? &pin_ : nullptr; }

private:
    class Pin final : public OutputPin, public IMediaSeeking {
    public:
        explicit Pin(ProbeSource& owner) : OutputPin(owner, L"Output"), owner_(owner) {}

        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return OutputPin::QueryInterface(iid, out); }
        ULONG STDMETHODCALLTYPE AddRef() override { return OutputPin::AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return OutputPin::Release(); }

        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override
        {
            return owner_.type_.Equals(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        HRESULT GetMediaType(int index, MediaType& out) override
        {
            if (index != 0) return VFW_S_NO_MORE_ITEMS;
            out = owner_.type_;
            return S_OK;
        }

        // IMediaSeeking: media time only, a fixed duration.
        HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* caps) override
        {
            if (!caps) return E_POINTER;
            *caps = AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetStopPos;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* caps) override
        {
            if (!caps) return E_POINTER;
            const DWORD wanted = *caps;
            *caps &= AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetStopPos;
            return *caps == wanted ? S_OK : (*caps ? S_FALSE : E_FAIL);
        }
        HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* f) override
        {
            return f && *f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
        }
        HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* f) override
        {
            if (!f) return E_POINTER;
            *f = TIME_FORMAT_MEDIA_TIME;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* f) override { return QueryPreferredFormat(f); }
        HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* f) override { return IsFormatSupported(f); }
        HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* f) override
        {
            return f && *f == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
        }
        HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* d) override
        {
            if (!d) return E_POINTER;
            *d = kProbeDuration;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* s) override { return GetDuration(s); }
        HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* c) override
        {
            if (!c) return E_POINTER;
            *c = 0;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override
        {
            return E_NOTIMPL;
        }
        HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG*, DWORD, LONGLONG*, DWORD) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* c, LONGLONG* s) override
        {
            if (c) *c = 0;
            if (s) *s = kProbeDuration;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* e, LONGLONG* l) override { return GetPositions(e, l); }
        HRESULT STDMETHODCALLTYPE SetRate(double r) override { return r == 1.0 ? S_OK : E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE GetRate(double* r) override
        {
            if (!r) return E_POINTER;
            *r = 1.0;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* p) override
        {
            if (!p) return E_POINTER;
            *p = 0;
            return S_OK;
        }

    protected:
        HRESULT QueryPinInterface(REFIID iid, void** out) override
        {
            if (iid == IID_IMediaSeeking) {
                *out = static_cast<IMediaSeeking*>(this);
                AddRef();
                return S_OK;
            }
            return OutputPin::QueryPinInterface(iid, out);
        }

    private:
        ProbeSource& owner_;
    };

    MediaType type_;
    Pin pin_;
};

MediaType StreamType()
{
    MediaType mt;
    mt->majortype = MEDIATYPE_Stream;
    mt->subtype = MEDIASUBTYPE_WAVE;
    mt->formattype = FORMAT_None;
    mt->lSampleSize = 1;
    return mt;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted)
{
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Put()))) return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted) return pin;
    }
    return nullptr;
}

// Connects a ProbeSource offering type to the first input pin of filter in a
// new graph: true when that works and check() holds. Both filters leave the
// graph again.
template <class Check>
bool WorksWithProbeSource(IBaseFilter* filter, const wchar_t* filterName, MediaType type, const wchar_t* sourceName,
                          Check&& check)
{
    ComPtr<IGraphBuilder> graph;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                graph.PutVoid())))
        return false;
    auto source = ComPtr<IBaseFilter>::Attach(new (std::nothrow) ProbeSource(std::move(type)));
    if (!source) return false;
    bool works = false;
    if (SUCCEEDED(graph->AddFilter(source.Get(), sourceName)) && SUCCEEDED(graph->AddFilter(filter, filterName))) {
        ComPtr<IPin> out = FirstPin(source.Get(), PINDIR_OUTPUT);
        ComPtr<IPin> in = FirstPin(filter, PINDIR_INPUT);
        works = out && in && SUCCEEDED(graph->ConnectDirect(out.Get(), in.Get(), nullptr)) && check();
        graph->RemoveFilter(filter);
        graph->RemoveFilter(source.Get());
    }
    return works;
}

}  // namespace

bool SystemAcmWrapperWorks()
{
    ComPtr<IBaseFilter> acm;
    if (FAILED(CoCreateInstance(CLSID_ACMWrapper, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, acm.PutVoid())))
        return false;
    return WorksWithProbeSource(acm.Get(), L"ACM", PcmMediaType(44100, 2, 16), L"PCM", [&acm] {
        ComPtr<IPin> acmOut = FirstPin(acm.Get(), PINDIR_OUTPUT);
        ComPtr<IAMStreamConfig> config;
        AM_MEDIA_TYPE* mt = nullptr;
        if (!acmOut || FAILED(acmOut.As(config)) || FAILED(config->GetFormat(&mt)) || !mt) return false;
        bool works = false;
        if (WaveFormatOf(*mt)) {
            MediaType wanted = PcmMediaType(22050, 1, 16);
            works = SUCCEEDED(config->SetFormat(wanted.Get()));
        }
        DeleteMediaType(mt);
        return works;
    });
}

bool SystemFileWriterWorks()
{
    ComPtr<IBaseFilter> writer;
    if (FAILED(CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                writer.PutVoid())))
        return false;
    ComPtr<IFileSinkFilter2> sink;
    if (FAILED(writer.As(sink))) return false;
    wchar_t path[MAX_PATH + 64] = {};
    const DWORD n = GetTempPathW(MAX_PATH, path);
    if (n == 0 || n >= MAX_PATH) return false;
    lstrcatW(path, L"vellumo-file-writer-probe.bin");
    // Asked before a name is set (as the converter does) and after.
    LPOLESTR current = nullptr;
    AM_MEDIA_TYPE mt{};
    HRESULT hr = sink->GetCurFile(&current, &mt);
    CoTaskMemFree(current);
    FreeMediaTypeContents(mt);
    if (FAILED(hr)) return false;
    current = nullptr;
    mt = AM_MEDIA_TYPE{};
    if (FAILED(sink->SetFileName(path, nullptr))) return false;
    hr = sink->GetCurFile(&current, &mt);
    const bool works = SUCCEEDED(hr) && current && lstrcmpiW(current, path) == 0;
    CoTaskMemFree(current);
    FreeMediaTypeContents(mt);
    if (!works) return false;

    // Duration asked of the writer (a renderer) reaches the pin upstream.
    return WorksWithProbeSource(writer.Get(), L"Writer", StreamType(), L"Stream", [&writer] {
        ComPtr<IMediaSeeking> seeking;
        LONGLONG duration = 0;
        return SUCCEEDED(writer.As(seeking)) && SUCCEEDED(seeking->GetDuration(&duration)) &&
               duration == kProbeDuration;
    });
}

}  // namespace vellumo::filters
