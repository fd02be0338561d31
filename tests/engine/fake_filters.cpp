#include "fake_filters.h"

#include <memory>
#include <sstream>

namespace fakes {

namespace {

FakeLab* g_lab = nullptr;

void Log(const std::string& line)
{
    if (g_lab) g_lab->Log(line);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

class FakeFilter;

class FakePin final : public IPin, public IAMStreamConfig {
public:
    FakePin(FakeFilter& filter, const PinSetup& setup, bool streamConfig)
        : filter_(filter), setup_(setup), streamConfig_(streamConfig) {}
    ~FakePin() { if (peer_) peer_->Release(); }

    // IUnknown: the pin lives as long as its filter.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IPin) *out = static_cast<IPin*>(this);
        else if (iid == IID_IAMStreamConfig && streamConfig_) *out = static_cast<IAMStreamConfig*>(this);
        else return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPin
    STDMETHODIMP Connect(IPin* receive, const AM_MEDIA_TYPE*) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE*) override
    {
        if (setup_.refuseConnection) return VFW_E_TYPE_NOT_ACCEPTED;
        if (peer_) return VFW_E_ALREADY_CONNECTED;
        peer_ = connector;
        peer_->AddRef();
        return S_OK;
    }
    STDMETHODIMP Disconnect() override
    {
        if (!peer_) return S_FALSE;
        IPin* peer = peer_;
        peer_ = nullptr;
        peer->Release();
        return S_OK;
    }
    STDMETHODIMP ConnectedTo(IPin** pin) override
    {
        if (!pin) return E_POINTER;
        *pin = peer_;
        if (!peer_) return VFW_E_NOT_CONNECTED;
        peer_->AddRef();
        return S_OK;
    }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override
    {
        if (!type) return E_POINTER;
        *type = AM_MEDIA_TYPE{};
        if (!peer_) return VFW_E_NOT_CONNECTED;
        type->majortype = MEDIATYPE_Audio;
        return S_OK;
    }
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override
    {
        if (!dir) return E_POINTER;
        *dir = setup_.direction;
        return S_OK;
    }
    STDMETHODIMP QueryId(LPWSTR* id) override
    {
        if (!id) return E_POINTER;
        size_t bytes = (setup_.name.size() + 1) * sizeof(wchar_t);
        *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (!*id) return E_OUTOFMEMORY;
        memcpy(*id, setup_.name.c_str(), bytes);
        return S_OK;
    }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override { return S_OK; }
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IAMStreamConfig (the ACM wrapper's output pin)
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* type) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** type) override;
    STDMETHODIMP GetNumberOfCapabilities(int*, int*) override { return E_NOTIMPL; }
    STDMETHODIMP GetStreamCaps(int, AM_MEDIA_TYPE**, BYTE*) override { return E_NOTIMPL; }

    const PinSetup& Setup() const { return setup_; }
    IPin* Peer() const { return peer_; }

private:
    FakeFilter& filter_;
    PinSetup setup_;
    bool streamConfig_;
    IPin* peer_ = nullptr;
};

class FakeEnumPins final : public IEnumPins {
public:
    FakeEnumPins(std::vector<IPin*> pins, size_t position) : pins_(std::move(pins)), position_(position)
    {
        for (IPin* pin : pins_) pin->AddRef();
    }
    ~FakeEnumPins()
    {
        for (IPin* pin : pins_) pin->Release();
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IEnumPins) return E_NOINTERFACE;
        *out = static_cast<IEnumPins*>(this);
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
    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override
    {
        if (!pins) return E_POINTER;
        ULONG n = 0;
        while (n < count && position_ < pins_.size()) {
            pins[n] = pins_[position_++];
            pins[n]->AddRef();
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override
    {
        position_ += count;
        return position_ <= pins_.size() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override
    {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumPins** out) override
    {
        if (!out) return E_POINTER;
        *out = new FakeEnumPins(pins_, position_);
        return S_OK;
    }

private:
    LONG refs_ = 1;
    std::vector<IPin*> pins_;
    size_t position_;
};

class FakeFilter final : public IBaseFilter,
                   public IFileSourceFilter,
                   public IFileSinkFilter2,
                   public IAudioEncoderProperties,
                   public IWavDestControl,
                   public IMediaSeeking,
                   public IAMFilterMiscFlags {
public:
    FakeFilter(const CLSID& clsid, const FilterSetup& setup) : clsid_(clsid), setup_(setup)
    {
        bool acm = clsid == CLSID_ACMWrapper;
        bool firstOutput = true;
        for (const PinSetup& pin : setup.pins) {
            bool config = acm && !setup.missingExtra && pin.direction == PINDIR_OUTPUT && firstOutput;
            if (pin.direction == PINDIR_OUTPUT) firstOutput = false;
            pins_.push_back(std::make_unique<FakePin>(*this, pin, config));
        }
        if (g_lab) g_lab->FilterBorn();
    }
    ~FakeFilter()
    {
        SetState(State_Stopped);
        pins_.clear();
        if (g_lab) g_lab->FilterDied();
    }

    const std::string& Role() const { return setup_.role; }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        bool extra = !setup_.missingExtra;
        if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter || iid == IID_IBaseFilter)
            *out = static_cast<IBaseFilter*>(this);
        else if (iid == IID_IFileSourceFilter && extra && clsid_ == CLSID_AsyncReader)
            *out = static_cast<IFileSourceFilter*>(this);
        else if (iid == IID_IFileSinkFilter && extra && clsid_ == CLSID_FileWriter)
            *out = static_cast<IFileSinkFilter*>(static_cast<IFileSinkFilter2*>(this));
        else if (iid == IID_IFileSinkFilter2 && extra && !setup_.missingSink2 && clsid_ == CLSID_FileWriter)
            *out = static_cast<IFileSinkFilter2*>(this);
        else if (iid == IID_IAudioEncoderProperties && extra && clsid_ == corvane::CLSID_Mp3Encoder)
            *out = static_cast<IAudioEncoderProperties*>(this);
        else if (iid == IID_IWavDestControl && extra && clsid_ == corvane::CLSID_WavDest)
            *out = static_cast<IWavDestControl*>(this);
        else if (iid == IID_IMediaSeeking && setup_.duration >= 0)
            *out = static_cast<IMediaSeeking*>(this);
        else if (iid == IID_IAMFilterMiscFlags && setup_.renderer)
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

    // IPersist / IMediaFilter / IBaseFilter
    STDMETHODIMP GetClassID(CLSID* clsid) override
    {
        if (!clsid) return E_POINTER;
        *clsid = clsid_;
        return S_OK;
    }
    void SetState(FILTER_STATE state)
    {
        if (g_lab && (state_ == State_Stopped) != (state == State_Stopped))
            g_lab->ActiveChanged(state == State_Stopped ? -1 : 1);
        state_ = state;
    }
    STDMETHODIMP Stop() override
    {
        SetState(State_Stopped);
        return S_OK;
    }
    STDMETHODIMP Pause() override
    {
        if (setup_.failPauseError) {
            // Like a writer that cannot open its file.
            SetLastError(setup_.failPauseError);
            return HRESULT_FROM_WIN32(setup_.failPauseError);
        }
        if (FAILED(setup_.failPauseResult)) return setup_.failPauseResult;  // no system error left behind
        SetState(State_Paused);
        return S_OK;
    }
    STDMETHODIMP Run(REFERENCE_TIME) override
    {
        SetState(State_Running);
        return S_OK;
    }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override
    {
        if (!state) return E_POINTER;
        *state = state_;
        return S_OK;
    }
    STDMETHODIMP SetSyncSource(IReferenceClock*) override { return S_OK; }
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override
    {
        if (!clock) return E_POINTER;
        *clock = nullptr;
        return S_OK;
    }
    STDMETHODIMP EnumPins(IEnumPins** out) override
    {
        if (!out) return E_POINTER;
        std::vector<IPin*> pins;
        for (auto& pin : pins_) pins.push_back(pin.get());
        *out = new FakeEnumPins(pins, 0);
        return S_OK;
    }
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override
    {
        if (!id || !pin) return E_POINTER;
        *pin = nullptr;
        for (auto& p : pins_) {
            if (p->Setup().name == id) {
                *pin = p.get();
                p->AddRef();
                return S_OK;
            }
        }
        return VFW_E_NOT_FOUND;
    }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override
    {
        if (!info) return E_POINTER;
        lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
        info->pGraph = graph_;
        if (graph_) graph_->AddRef();
        return S_OK;
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override
    {
        if (graph && setup_.failJoin) return E_FAIL;
        graph_ = graph;
        name_ = name ? name : L"";
        if (graph) {
            Log("join " + setup_.role + " " + Narrow(name_.c_str()));
            if (g_lab) g_lab->SetLastGraph(graph);
        } else {
            Log("leave " + setup_.role);
        }
        return S_OK;
    }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    // IFileSourceFilter (reader) and IFileSinkFilter (writer) share GetCurFile.
    STDMETHODIMP Load(LPCOLESTR name, const AM_MEDIA_TYPE* type) override
    {
        Log("load " + Narrow(name) + (type ? " typed" : ""));
        return S_OK;
    }
    STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* type) override
    {
        if (!name) return E_POINTER;
        *name = nullptr;
        if (setup_.getCurFileFails) return E_NOTIMPL;
        if (type) {
            *type = AM_MEDIA_TYPE{};
            type->majortype = MEDIATYPE_Stream;
            // A format block, so that the caller has to free it.
            type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(16));
            type->cbFormat = type->pbFormat ? 16 : 0;
        }
        return S_OK;
    }
    STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE* type) override
    {
        bool stream = type && type->majortype == MEDIATYPE_Stream;
        Log("setfile " + Narrow(name) + (stream ? " stream-type" : ""));
        return S_OK;
    }
    STDMETHODIMP SetMode(DWORD flags) override
    {
        Log("mode " + std::to_string(flags));
        return S_OK;
    }
    STDMETHODIMP GetMode(DWORD* flags) override
    {
        if (flags) *flags = 0;
        return S_OK;
    }

    // IAudioEncoderProperties
#define FAKE_ENCODER_PROPERTY(name)                                        \
    STDMETHODIMP get_##name(DWORD*) override { return E_NOTIMPL; }         \
    STDMETHODIMP set_##name(DWORD value) override                          \
    {                                                                      \
        Log("encoder " #name " " + std::to_string(static_cast<LONG>(value))); \
        return S_OK;                                                       \
    }
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
    STDMETHODIMP GetTime(LONGLONG* time) override
    {
        if (!time) return E_POINTER;
        if (setup_.getTimeFails) return E_FAIL;
        *time = setup_.elapsed;
        return S_OK;
    }
    STDMETHODIMP SetWaveOutput(LONG waveOutput) override
    {
        Log("wave " + std::to_string(waveOutput));
        return S_OK;
    }

    // IMediaSeeking (the splitter reports the source's duration)
    STDMETHODIMP GetCapabilities(DWORD* caps) override
    {
        if (!caps) return E_POINTER;
        *caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration;
        return S_OK;
    }
    STDMETHODIMP CheckCapabilities(DWORD* caps) override { return caps ? S_OK : E_POINTER; }
    STDMETHODIMP IsFormatSupported(const GUID* format) override
    {
        return format && *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
    }
    STDMETHODIMP QueryPreferredFormat(GUID* format) override
    {
        if (!format) return E_POINTER;
        *format = TIME_FORMAT_MEDIA_TIME;
        return S_OK;
    }
    STDMETHODIMP GetTimeFormat(GUID* format) override { return QueryPreferredFormat(format); }
    STDMETHODIMP IsUsingTimeFormat(const GUID* format) override { return IsFormatSupported(format); }
    STDMETHODIMP SetTimeFormat(const GUID* format) override
    {
        return format && *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP GetDuration(LONGLONG* duration) override
    {
        if (!duration) return E_POINTER;
        *duration = setup_.duration;
        return S_OK;
    }
    STDMETHODIMP GetStopPosition(LONGLONG* stop) override
    {
        if (!stop) return E_POINTER;
        *stop = setup_.duration;
        return S_OK;
    }
    STDMETHODIMP GetCurrentPosition(LONGLONG* current) override
    {
        if (!current) return E_POINTER;
        *current = 0;
        return S_OK;
    }
    STDMETHODIMP ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override { return E_NOTIMPL; }
    STDMETHODIMP SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override
    {
        // The graph manager adds AM_SEEKING_ReturnTime for its own use when it
        // passes the request on; the log shows what the caller asked for.
        currentFlags &= ~static_cast<DWORD>(AM_SEEKING_ReturnTime);
        std::ostringstream line;
        line << "seek " << (current ? std::to_string(*current) : std::string("none")) << " " << currentFlags
             << " " << (stop && (stopFlags & AM_SEEKING_PositioningBitsMask) ? std::to_string(*stop) : "none")
             << " " << stopFlags;
        Log(line.str());
        return S_OK;
    }
    STDMETHODIMP GetPositions(LONGLONG* current, LONGLONG* stop) override
    {
        if (current) *current = 0;
        if (stop) *stop = setup_.duration;
        return S_OK;
    }
    STDMETHODIMP GetAvailable(LONGLONG* earliest, LONGLONG* latest) override
    {
        if (earliest) *earliest = 0;
        if (latest) *latest = setup_.duration;
        return S_OK;
    }
    STDMETHODIMP SetRate(double) override { return S_OK; }
    STDMETHODIMP GetRate(double* rate) override
    {
        if (!rate) return E_POINTER;
        *rate = 1.0;
        return S_OK;
    }
    STDMETHODIMP GetPreroll(LONGLONG* preroll) override
    {
        if (!preroll) return E_POINTER;
        *preroll = 0;
        return S_OK;
    }

    // IAMFilterMiscFlags
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    const FilterSetup& Setup() const { return setup_; }
    std::string PinLabel(const FakePin& pin) const { return setup_.role + ":" + Narrow(pin.Setup().name.c_str()); }

private:
    LONG refs_ = 1;
    CLSID clsid_;
    FilterSetup setup_;
    std::vector<std::unique_ptr<FakePin>> pins_;
    IFilterGraph* graph_ = nullptr;
    std::wstring name_;
    FILTER_STATE state_ = State_Stopped;
};

ULONG FakePin::AddRef()
{
    return filter_.AddRef();
}

ULONG FakePin::Release()
{
    return filter_.Release();
}

HRESULT FakePin::Connect(IPin* receive, const AM_MEDIA_TYPE*)
{
    if (!receive) return E_POINTER;
    if (setup_.direction != PINDIR_OUTPUT) return E_UNEXPECTED;
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (setup_.refuseConnection) return VFW_E_NO_ACCEPTABLE_TYPES;
    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Audio;
    HRESULT hr = receive->ReceiveConnection(this, &type);
    if (FAILED(hr)) return hr;
    peer_ = receive;
    peer_->AddRef();
    PIN_INFO info{};
    std::string other = "?";
    if (SUCCEEDED(receive->QueryPinInfo(&info))) {
        if (info.pFilter) {
            other = static_cast<FakeFilter*>(info.pFilter)->Role();
            info.pFilter->Release();
        }
        other += ":" + Narrow(info.achName);
    }
    Log("connect " + filter_.PinLabel(*this) + " -> " + other);
    return S_OK;
}

HRESULT FakePin::QueryPinInfo(PIN_INFO* info)
{
    if (!info) return E_POINTER;
    info->pFilter = static_cast<IBaseFilter*>(&filter_);
    filter_.AddRef();
    info->dir = setup_.direction;
    lstrcpynW(info->achName, setup_.name.c_str(), MAX_PIN_NAME);
    return S_OK;
}

HRESULT FakePin::SetFormat(AM_MEDIA_TYPE* type)
{
    if (!type || !type->pbFormat || type->cbFormat < sizeof(WAVEFORMATEX)) return E_INVALIDARG;
    auto* format = reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat);
    std::ostringstream line;
    line << "acm format " << format->nSamplesPerSec << " " << format->nChannels << " " << format->wBitsPerSample << " "
         << format->nBlockAlign << " " << format->nAvgBytesPerSec << " tag " << format->wFormatTag;
    Log(line.str());
    return S_OK;
}

HRESULT FakePin::GetFormat(AM_MEDIA_TYPE** out)
{
    if (!out) return E_POINTER;
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!type) return E_OUTOFMEMORY;
    *type = AM_MEDIA_TYPE{};
    type->majortype = MEDIATYPE_Audio;
    type->subtype = MEDIASUBTYPE_PCM;
    type->formattype = FORMAT_WaveFormatEx;
    ULONG size = filter_.Setup().offeredFormatSize;
    type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(size ? size : 1));
    type->cbFormat = size;
    memcpy(type->pbFormat, &filter_.Setup().offered, size < sizeof(WAVEFORMATEX) ? size : sizeof(WAVEFORMATEX));
    *out = type;
    return S_OK;
}

class FakeFactory final : public IClassFactory {
public:
    explicit FakeFactory(const CLSID& clsid) : clsid_(clsid) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
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
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!g_lab) return E_UNEXPECTED;
        const FilterSetup& setup = g_lab->Setup(clsid_);
        if (setup.failCreate) {
            Log("refuse " + setup.role);
            return E_OUTOFMEMORY;
        }
        auto* filter = new FakeFilter(clsid_, setup);
        HRESULT hr = filter->QueryInterface(iid, out);
        filter->Release();
        if (SUCCEEDED(hr)) Log("create " + setup.role);
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    LONG refs_ = 1;
    CLSID clsid_;
};

#pragma GCC diagnostic pop

}  // namespace

std::string Narrow(const wchar_t* text)
{
    if (!text) return "(null)";
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

FakeLab::FakeLab()
{
    g_lab = this;
    ResetSetups();
}

void FakeLab::ResetSetups()
{
    WAVEFORMATEX offered{};
    offered.wFormatTag = WAVE_FORMAT_PCM;
    offered.nChannels = 2;
    offered.nSamplesPerSec = 48000;
    offered.wBitsPerSample = 16;
    offered.nBlockAlign = 4;
    offered.nAvgBytesPerSec = 192000;

    Reader() = FilterSetup{"reader", {{L"Output", PINDIR_OUTPUT}}};
    Splitter() = FilterSetup{"splitter", {{L"Input", PINDIR_INPUT}, {L"Video", PINDIR_OUTPUT}, {L"Audio", PINDIR_OUTPUT}}};
    Splitter().duration = 599000000;  // 59.9 s
    Decoder() = FilterSetup{"decoder", {{L"In", PINDIR_INPUT}, {L"Out", PINDIR_OUTPUT}}};
    Acm() = FilterSetup{"acm", {{L"Input", PINDIR_INPUT}, {L"Output", PINDIR_OUTPUT}}};
    Acm().offered = offered;
    Encoder() = FilterSetup{"encoder", {{L"In", PINDIR_INPUT}, {L"Out", PINDIR_OUTPUT}}};
    WavDest() = FilterSetup{"wavdest", {{L"In", PINDIR_INPUT}, {L"Out", PINDIR_OUTPUT}}};
    Writer() = FilterSetup{"writer", {{L"in", PINDIR_INPUT}}};
    Writer().renderer = true;
}

FakeLab::~FakeLab()
{
    for (DWORD cookie : cookies_) CoRevokeClassObject(cookie);
    for (IClassFactory* factory : factories_) factory->Release();
    if (g_lab == this) g_lab = nullptr;
}

bool FakeLab::Register()
{
    for (auto& entry : setups_) {
        auto* factory = new FakeFactory(entry.first);
        DWORD cookie = 0;
        HRESULT hr = CoRegisterClassObject(entry.first, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        factories_.push_back(factory);
        if (FAILED(hr)) return false;
        cookies_.push_back(cookie);
    }
    return true;
}

std::vector<std::string> FakeLab::With(const std::string& prefix) const
{
    std::vector<std::string> out;
    for (const std::string& line : log_) {
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    }
    return out;
}

FakeLab* FakeLab::Current()
{
    return g_lab;
}

}  // namespace fakes
