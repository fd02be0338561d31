#include "fake_filters.h"

#include <algorithm>
#include <memory>
#include <sstream>

#include "com_ptr.h"
#include "single_interface.h"

namespace fakes {
namespace {

using corvane::ComPtr;

FakeLab* g_lab = nullptr;

void Log(const std::string& line) { if (g_lab) g_lab->Log(line); }

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// Shares its filter's count; the ACM wrapper's output pin also offers IAMStreamConfig.
// Pins are only ever connected to pins of other doubles.
class FakePin final : public IPin, public IAMStreamConfig {
public:
    FakePin(IBaseFilter& filter, const FilterSetup& owner, const PinSetup& setup, bool streamConfig)
        : filter_(filter), owner_(owner), setup_(setup), streamConfig_(streamConfig) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IPin) *out = static_cast<IPin*>(this);
        else if (iid == IID_IAMStreamConfig && streamConfig_) *out = static_cast<IAMStreamConfig*>(this);
        else return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return filter_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return filter_.Release(); }
    STDMETHODIMP Connect(IPin* receive, const AM_MEDIA_TYPE*) override
    {
        if (setup_.direction != PINDIR_OUTPUT) return E_UNEXPECTED;
        if (peer_) return VFW_E_ALREADY_CONNECTED;
        if (setup_.refuseConnection) return VFW_E_NO_ACCEPTABLE_TYPES;
        AM_MEDIA_TYPE type{};
        type.majortype = MEDIATYPE_Audio;
        HRESULT hr = receive->ReceiveConnection(this, &type);
        if (FAILED(hr)) return hr;
        peer_ = ComPtr<IPin>(receive);
        const FakePin& peer = *static_cast<FakePin*>(receive);
        Log("connect " + owner_.role + ":" + Narrow(setup_.name.c_str()) + " -> " + peer.owner_.role + ":" +
            Narrow(peer.setup_.name.c_str()));
        return S_OK;
    }
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE*) override
    {
        if (setup_.refuseConnection) return VFW_E_TYPE_NOT_ACCEPTED;
        if (peer_) return VFW_E_ALREADY_CONNECTED;
        peer_ = ComPtr<IPin>(connector);
        return S_OK;
    }
    STDMETHODIMP Disconnect() override { return peer_ ? (peer_.Reset(), S_OK) : S_FALSE; }
    STDMETHODIMP ConnectedTo(IPin** pin) override
    {
        if ((*pin = peer_.Get()) != nullptr) peer_->AddRef();
        return peer_ ? S_OK : VFW_E_NOT_CONNECTED;
    }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override
    {
        *type = AM_MEDIA_TYPE{};
        type->majortype = MEDIATYPE_Audio;
        return peer_ ? S_OK : VFW_E_NOT_CONNECTED;
    }
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override
    {
        if (setup_.failInfo) return E_FAIL;
        (info->pFilter = &filter_)->AddRef();
        info->dir = setup_.direction;
        lstrcpynW(info->achName, setup_.name.c_str(), MAX_PIN_NAME);
        return S_OK;
    }
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override { *dir = setup_.direction; return S_OK; }
    STDMETHODIMP QueryId(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override { return S_OK; }
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }
    // IAMStreamConfig: the format set is logged; GetFormat offers the setup's.
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* type) override
    {
        if (!type || !type->pbFormat || type->cbFormat < sizeof(WAVEFORMATEX)) return E_INVALIDARG;
        auto* format = reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat);
        std::ostringstream line;
        line << "acm format " << format->nSamplesPerSec << " " << format->nChannels << " " << format->wBitsPerSample
             << " " << format->nBlockAlign << " " << format->nAvgBytesPerSec << " tag " << format->wFormatTag;
        Log(line.str());
        return S_OK;
    }
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** out) override
    {
        auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        *type = AM_MEDIA_TYPE{MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FALSE, FALSE, 0, FORMAT_WaveFormatEx, nullptr,
                              owner_.offeredFormatSize, static_cast<BYTE*>(CoTaskMemAlloc(owner_.offeredFormatSize))};
        memcpy(type->pbFormat, &owner_.offered, std::min<size_t>(owner_.offeredFormatSize, sizeof(WAVEFORMATEX)));
        *out = type;
        return S_OK;
    }
    STDMETHODIMP GetNumberOfCapabilities(int*, int*) override { return E_NOTIMPL; }
    STDMETHODIMP GetStreamCaps(int, AM_MEDIA_TYPE**, BYTE*) override { return E_NOTIMPL; }

private:
    IBaseFilter& filter_;
    const FilterSetup& owner_;
    PinSetup setup_;
    bool streamConfig_;
    ComPtr<IPin> peer_;
};

class FakeEnumPins final : public corvane::SingleInterface<IEnumPins> {
public:
    explicit FakeEnumPins(std::vector<ComPtr<IPin>> pins) : pins_(std::move(pins)) {}
    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override
    {
        ULONG n = 0;
        for (; n < count && next_ < pins_.size(); ++n) (pins[n] = pins_[next_++].Get())->AddRef();
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override { return (next_ += count) <= pins_.size() ? S_OK : S_FALSE; }
    STDMETHODIMP Reset() override { next_ = 0; return S_OK; }
    STDMETHODIMP Clone(IEnumPins**) override { return E_NOTIMPL; }
private:
    std::vector<ComPtr<IPin>> pins_;
    size_t next_ = 0;
};

// One class for every role; the interface of a role is offered only by its class's double.
class FakeFilter final : public IBaseFilter, public IFileSourceFilter, public IFileSinkFilter2,
                         public IAudioEncoderProperties, public IWavDestControl, public IWavDestOutput, public IMediaSeeking,
                         public IAMFilterMiscFlags {
public:
    FakeFilter(const CLSID& clsid, const FilterSetup& setup) : setup_(setup), clsid_(clsid)
    {
        bool config = clsid == CLSID_ACMWrapper && !setup.missingExtra;
        for (const PinSetup& pin : setup.pins) {
            bool output = pin.direction == PINDIR_OUTPUT;
            pins_.push_back(std::make_unique<FakePin>(*this, setup_, pin, config && output));
            if (output) config = false;
        }
        if (g_lab) ++g_lab->liveFilters;
    }
    ~FakeFilter()
    {
        SetState(State_Stopped);
        pins_.clear();
        if (g_lab) --g_lab->liveFilters;
    }

    const FilterSetup setup_;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        const bool extra = !setup_.missingExtra, writer = clsid_ == CLSID_FileWriter;
        if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter || iid == IID_IBaseFilter)
            *out = static_cast<IBaseFilter*>(this);
        else if (iid == IID_IFileSourceFilter && extra && clsid_ == CLSID_AsyncReader)
            *out = static_cast<IFileSourceFilter*>(this);
        else if ((iid == IID_IFileSinkFilter && extra && writer) ||
                 (iid == IID_IFileSinkFilter2 && extra && writer && !setup_.oldWriter))
            *out = static_cast<IFileSinkFilter2*>(this);
        else if (iid == IID_IAudioEncoderProperties && extra && clsid_ == corvane::CLSID_Mp3Encoder)
            *out = static_cast<IAudioEncoderProperties*>(this);
        else if (iid == IID_IWavDestControl && extra && clsid_ == corvane::CLSID_WavDest)
            *out = static_cast<IWavDestControl*>(this);
        else if (iid == IID_IWavDestOutput && setup_.outputLength && clsid_ == corvane::CLSID_WavDest)
            *out = static_cast<IWavDestOutput*>(this);
        else if (iid == IID_IMediaSeeking && setup_.duration >= 0)
            *out = static_cast<IMediaSeeking*>(this);
        else if (iid == IID_IAMFilterMiscFlags && writer)  // the graph's only renderer
            *out = static_cast<IAMFilterMiscFlags*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }
    STDMETHODIMP GetClassID(CLSID* clsid) override { *clsid = clsid_; return S_OK; }
    STDMETHODIMP Stop() override { return SUCCEEDED(setup_.failStop) ? SetState(State_Stopped) : setup_.failStop; }
    STDMETHODIMP Pause() override
    {
        if (setup_.writesFile && state_ == State_Stopped) CreateOutput();
        if (SUCCEEDED(setup_.failPause)) return SetState(State_Paused);
        if (!setup_.keepThreadError) SetLastError(setup_.pauseError);
        return setup_.failPause;
    }
    STDMETHODIMP Run(REFERENCE_TIME) override
    {
        if (g_lab) ++g_lab->runs;
        const HRESULT hr = SetState(State_Running);
        const long ending = setup_.writesFile && g_lab && g_lab->endingFor ? g_lab->endingFor(file_) : 0;
        ComPtr<IMediaEventSink> events;
        if (ending && graph_ && SUCCEEDED(graph_->QueryInterface(IID_IMediaEventSink, events.PutVoid())))
            events->Notify(ending, ending == EC_COMPLETE ? S_OK : E_FAIL, 0);
        return hr;
    }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override { *state = state_; return S_OK; }
    STDMETHODIMP SetSyncSource(IReferenceClock*) override { return S_OK; }
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override { *clock = nullptr; return S_OK; }
    STDMETHODIMP EnumPins(IEnumPins** out) override
    {
        std::vector<ComPtr<IPin>> pins;
        for (auto& pin : pins_) pins.emplace_back(pin.get());
        *out = new FakeEnumPins(std::move(pins));
        return S_OK;
    }
    STDMETHODIMP FindPin(LPCWSTR, IPin**) override { return E_NOTIMPL; }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override
    {
        lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
        if ((info->pGraph = graph_) != nullptr) graph_->AddRef();
        return S_OK;
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override
    {
        if (graph && setup_.failJoin) return E_FAIL;
        graph_ = graph;
        name_ = name ? name : L"";
        Log(graph ? "join " + setup_.role + " " + Narrow(name_.c_str()) : "leave " + setup_.role);
        if (graph && g_lab) g_lab->lastGraph = graph;
        return S_OK;
    }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }
    // IFileSourceFilter (reader) and IFileSinkFilter2 (writer): GetCurFile is shared.
    STDMETHODIMP Load(LPCOLESTR name, const AM_MEDIA_TYPE* type) override
    {
        Log("load " + Narrow(name) + (type ? " typed" : ""));
        return S_OK;
    }
    STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* type) override
    {
        *name = nullptr;
        if (setup_.oldWriter) return E_NOTIMPL;
        if (type) {  // with a format block, so that the caller has to free it
            *type = AM_MEDIA_TYPE{};
            type->majortype = MEDIATYPE_Stream;
            type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(16));
            type->cbFormat = type->pbFormat ? 16 : 0;
        }
        return S_OK;
    }
    STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE* type) override
    {
        Log("setfile " + Narrow(name) + (type && type->majortype == MEDIATYPE_Stream ? " stream-type" : ""));
        file_ = name ? name : L"";
        return S_OK;
    }
    STDMETHODIMP SetMode(DWORD flags) override { Log("mode " + std::to_string(flags)); return S_OK; }
    STDMETHODIMP GetMode(DWORD* flags) override { *flags = 0; return S_OK; }
    // IAudioEncoderProperties: the values written are logged.
#define FAKE_ENCODER_PROPERTY(name)                                                                         \
    STDMETHODIMP get_##name(DWORD*) override { return E_NOTIMPL; }                                          \
    STDMETHODIMP set_##name(DWORD v) override { Log("encoder " #name " " + std::to_string(LONG(v))); return S_OK; }
    FAKE_ENCODER_PROPERTY(PESOutputEnabled)
    FAKE_ENCODER_PROPERTY(Bitrate)
    FAKE_ENCODER_PROPERTY(Variable)
    FAKE_ENCODER_PROPERTY(VariableMin)
    FAKE_ENCODER_PROPERTY(VariableMax)
    FAKE_ENCODER_PROPERTY(Quality)
    FAKE_ENCODER_PROPERTY(VariableQ)
    FAKE_ENCODER_PROPERTY(SampleRate)
    FAKE_ENCODER_PROPERTY(ChannelMode)
    FAKE_ENCODER_PROPERTY(CRCFlag)
    FAKE_ENCODER_PROPERTY(CopyrightFlag)
    FAKE_ENCODER_PROPERTY(OriginalFlag)
#undef FAKE_ENCODER_PROPERTY
    STDMETHODIMP get_SourceSampleRate(DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP get_SourceChannels(DWORD*) override { return E_NOTIMPL; }
    // IWavDestControl
    STDMETHODIMP GetTime(LONGLONG* time) override { *time = setup_.elapsed; return *time < 0 ? E_FAIL : S_OK; }
    STDMETHODIMP SetWaveOutput(LONG wave) override { Log("wave " + std::to_string(wave)); return S_OK; }
    STDMETHODIMP GetOutputLength(ULONGLONG* bytes) override { *bytes = setup_.outputLength; return S_OK; }
    STDMETHODIMP SetRiffSizeLimit(ULONGLONG) override { return E_NOTIMPL; }
    // IMediaSeeking: the source's duration, in media time only.
    STDMETHODIMP GetCapabilities(DWORD* caps) override { *caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration; return S_OK; }
    STDMETHODIMP CheckCapabilities(DWORD*) override { return S_OK; }
    STDMETHODIMP IsFormatSupported(const GUID* f) override { return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE; }
    STDMETHODIMP QueryPreferredFormat(GUID* format) override { *format = TIME_FORMAT_MEDIA_TIME; return S_OK; }
    STDMETHODIMP GetTimeFormat(GUID* format) override { return QueryPreferredFormat(format); }
    STDMETHODIMP IsUsingTimeFormat(const GUID* format) override { return IsFormatSupported(format); }
    STDMETHODIMP SetTimeFormat(const GUID* f) override { return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG; }
    STDMETHODIMP GetDuration(LONGLONG* duration) override { return GetPositions(nullptr, duration); }
    STDMETHODIMP GetStopPosition(LONGLONG* stop) override { return GetPositions(nullptr, stop); }
    STDMETHODIMP GetCurrentPosition(LONGLONG* current) override { return GetPositions(current, nullptr); }
    STDMETHODIMP ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override { return E_NOTIMPL; }
    STDMETHODIMP SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override
    {
        // Without the AM_SEEKING_ReturnTime the graph manager adds for its own use.
        std::ostringstream line;
        line << "seek " << (current ? std::to_string(*current) : "none") << " "
             << (currentFlags & ~static_cast<DWORD>(AM_SEEKING_ReturnTime)) << " "
             << (stop && (stopFlags & AM_SEEKING_PositioningBitsMask) ? std::to_string(*stop) : "none") << " "
             << stopFlags << (state_ != State_Stopped ? " while streaming" : "");
        Log(line.str());
        return S_OK;
    }
    STDMETHODIMP GetPositions(LONGLONG* current, LONGLONG* stop) override
    {
        if (current) *current = 0;
        if (stop) *stop = setup_.duration;
        return S_OK;
    }
    STDMETHODIMP GetAvailable(LONGLONG* earliest, LONGLONG* latest) override { return GetPositions(earliest, latest); }
    STDMETHODIMP SetRate(double) override { return S_OK; }
    STDMETHODIMP GetRate(double* rate) override { *rate = 1.0; return S_OK; }
    STDMETHODIMP GetPreroll(LONGLONG* preroll) override { return GetPositions(preroll, nullptr); }
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

private:
    // As a real writer does when streaming starts: CREATE_ALWAYS, so a file
    // that was there leaves "already exists" on the thread.
    void CreateOutput()
    {
        HANDLE file = CreateFileW(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        const DWORD error = GetLastError();
        const std::string text = "written as " + Narrow(file_.c_str());
        DWORD written = 0;
        ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
        SetLastError(error);
    }

    HRESULT SetState(FILTER_STATE state)
    {
        if (g_lab && (state_ == State_Stopped) != (state == State_Stopped))
            g_lab->activeFilters += state == State_Stopped ? -1 : 1;
        state_ = state;
        return S_OK;
    }

    LONG refs_ = 1;
    CLSID clsid_;
    std::vector<std::unique_ptr<FakePin>> pins_;
    IFilterGraph* graph_ = nullptr;
    std::wstring name_;
    std::wstring file_;  // writer: the name SetFileName gave
    FILTER_STATE state_ = State_Stopped;
};

class FakeFactory final : public corvane::SingleInterface<IClassFactory> {
public:
    explicit FakeFactory(const CLSID& clsid) : clsid_(clsid) {}
    STDMETHODIMP CreateInstance(IUnknown*, REFIID iid, void** out) override
    {
        *out = nullptr;
        const FilterSetup& setup = g_lab->Setup(clsid_);
        if (setup.failCreate) return Log("refuse " + setup.role), E_OUTOFMEMORY;
        auto* filter = new FakeFilter(clsid_, setup);
        HRESULT hr = filter->QueryInterface(iid, out);
        filter->Release();
        if (SUCCEEDED(hr)) Log("create " + setup.role);
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
private:
    CLSID clsid_;
};

#pragma GCC diagnostic pop

}  // namespace

FakeLab::FakeLab() { g_lab = this; ResetSetups(); }

FakeLab::~FakeLab()
{
    for (DWORD cookie : cookies_) CoRevokeClassObject(cookie);
    g_lab = nullptr;
}

void FakeLab::ResetSetups()
{
    Reader() = {"reader", {{L"Output", PINDIR_OUTPUT}}};
    Splitter() = {"splitter", {{L"Input", PINDIR_INPUT}, {L"Video", PINDIR_OUTPUT}, {L"Audio", PINDIR_OUTPUT}}};
    Splitter().duration = 599000000;  // 59.9 s
    Decoder() = {"decoder", {{L"In", PINDIR_INPUT}, {L"Out", PINDIR_OUTPUT}}};
    Acm() = {"acm", {{L"Input", PINDIR_INPUT}, {L"Output", PINDIR_OUTPUT}}};
    Acm().offered = WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    Encoder() = {"encoder", {{L"In", PINDIR_INPUT}, {L"Out", PINDIR_OUTPUT}}};
    WavDest() = {"wavdest", {{L"In", PINDIR_INPUT}, {L"Out", PINDIR_OUTPUT}}};
    Writer() = {"writer", {{L"in", PINDIR_INPUT}}};
}

bool FakeLab::Register()
{
    return std::all_of(setups_.begin(), setups_.end(), [this](const auto& entry) { return Register(entry.first); });
}

bool FakeLab::Register(const CLSID& clsid)
{
    auto* factory = new FakeFactory(clsid);
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    factory->Release();  // COM holds it while it is registered
    if (SUCCEEDED(hr)) cookies_.push_back(cookie);
    return SUCCEEDED(hr);
}

}  // namespace fakes
