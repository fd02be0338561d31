#include "standins/platform_probe.h"

#include <memory>

#include "base/base_filter.h"
#include "base/media_type.h"
#include "base/pins.h"
#include "com_ptr.h"

namespace vellumo::filters {

using corvane::ComPtr;

namespace {

// A source that only connects: one output pin offering 16-bit stereo PCM.
class PcmProbeSource final : public BaseFilter {
public:
    PcmProbeSource() : BaseFilter(GUID_NULL), pin_(*this) {}
    int PinCount() override { return 1; }
    BasePin* PinAt(int index) override { return index == 0 ? &pin_ : nullptr; }

private:
    class Pin final : public OutputPin {
    public:
        explicit Pin(BaseFilter& filter) : OutputPin(filter, L"Output") {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override
        {
            return PcmMediaType(44100, 2, 16).Equals(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        HRESULT GetMediaType(int index, MediaType& out) override
        {
            if (index != 0) return VFW_S_NO_MORE_ITEMS;
            out = PcmMediaType(44100, 2, 16);
            return S_OK;
        }
    };
    Pin pin_;
};

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

}  // namespace

bool SystemAcmWrapperWorks()
{
    ComPtr<IGraphBuilder> graph;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                graph.PutVoid())))
        return false;
    ComPtr<IBaseFilter> acm;
    if (FAILED(CoCreateInstance(CLSID_ACMWrapper, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, acm.PutVoid())))
        return false;
    auto source = ComPtr<IBaseFilter>::Attach(new (std::nothrow) PcmProbeSource());
    if (!source) return false;
    bool works = false;
    if (SUCCEEDED(graph->AddFilter(source.Get(), L"PCM")) && SUCCEEDED(graph->AddFilter(acm.Get(), L"ACM"))) {
        ComPtr<IPin> out = FirstPin(source.Get(), PINDIR_OUTPUT);
        ComPtr<IPin> in = FirstPin(acm.Get(), PINDIR_INPUT);
        ComPtr<IPin> acmOut = FirstPin(acm.Get(), PINDIR_OUTPUT);
        ComPtr<IAMStreamConfig> config;
        if (out && in && acmOut && SUCCEEDED(graph->ConnectDirect(out.Get(), in.Get(), nullptr)) &&
            SUCCEEDED(acmOut.As(config))) {
            AM_MEDIA_TYPE* mt = nullptr;
            if (SUCCEEDED(config->GetFormat(&mt)) && mt) {
                if (WaveFormatOf(*mt)) {
                    MediaType wanted = PcmMediaType(22050, 1, 16);
                    works = SUCCEEDED(config->SetFormat(wanted.Get()));
                }
                DeleteMediaType(mt);
            }
        }
        graph->RemoveFilter(acm.Get());
        graph->RemoveFilter(source.Get());
    }
    return works;
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
    return works;
}

}  // namespace vellumo::filters
