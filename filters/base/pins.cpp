#include "pins.h"

#include <cwchar>

#include "allocator.h"
#include "enumerators.h"

namespace vellumo::filters {

using corvane::ComPtr;

namespace {
bool IsFullySpecified(const AM_MEDIA_TYPE* mt)
{
    return mt && mt->majortype != GUID_NULL && mt->subtype != GUID_NULL && mt->formattype != GUID_NULL;
}
}  // namespace

// ---------------------------------------------------------------- BasePin

BasePin::BasePin(BaseFilter& filter, PIN_DIRECTION direction, std::wstring name)
    : filter_(filter), direction_(direction), name_(std::move(name))
{
}

BasePin::~BasePin() = default;

HRESULT BasePin::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPin) {
        *out = static_cast<IPin*>(this);
        AddRef();
        return S_OK;
    }
    return QueryPinInterface(iid, out);
}

HRESULT BasePin::QueryPinInterface(REFIID, void** out)
{
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG BasePin::AddRef() { return filter_.AddRef(); }
ULONG BasePin::Release() { return filter_.Release(); }

HRESULT BasePin::Disconnect()
{
    std::lock_guard<RecursiveLock> lock(filter_.FilterLock());
    if (!peer_) return S_FALSE;
    // Wine's graph leaves filters paused when a Run fails and then removes
    // them by disconnecting their pins, retrying until that succeeds: a
    // filter that is not stopped stops first.
    if (filter_.State() != State_Stopped) filter_.Stop();
    BreakConnect();
    peer_.Reset();
    mt_.Clear();
    return S_OK;
}

HRESULT BasePin::ConnectedTo(IPin** pin)
{
    if (!pin) return E_POINTER;
    std::lock_guard<RecursiveLock> lock(filter_.FilterLock());
    *pin = peer_.Get();
    if (!*pin) return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

HRESULT BasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt)
{
    if (!mt) return E_POINTER;
    std::lock_guard<RecursiveLock> lock(filter_.FilterLock());
    if (!peer_) {
        *mt = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaTypeContents(*mt, *mt_);
}

HRESULT BasePin::QueryPinInfo(PIN_INFO* info)
{
    if (!info) return E_POINTER;
    info->pFilter = &filter_;
    filter_.AddRef();
    info->dir = direction_;
    wcsncpy(info->achName, name_.c_str(), MAX_PIN_NAME - 1);
    info->achName[MAX_PIN_NAME - 1] = L'\0';
    return S_OK;
}

HRESULT BasePin::QueryDirection(PIN_DIRECTION* dir)
{
    if (!dir) return E_POINTER;
    *dir = direction_;
    return S_OK;
}

HRESULT BasePin::QueryId(LPWSTR* id)
{
    if (!id) return E_POINTER;
    const size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, name_.c_str(), bytes);
    return S_OK;
}

HRESULT BasePin::QueryAccept(const AM_MEDIA_TYPE* mt)
{
    if (!mt) return E_POINTER;
    return CheckMediaType(*mt) == S_OK ? S_OK : S_FALSE;
}

HRESULT BasePin::EnumMediaTypes(IEnumMediaTypes** types) { return CreateMediaTypeEnumerator(*this, types); }

HRESULT BasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT BasePin::GetMediaType(int, MediaType&) { return VFW_S_NO_MORE_ITEMS; }

HRESULT BasePin::CompleteConnect(IPin*, const AM_MEDIA_TYPE&) { return S_OK; }

// ---------------------------------------------------------------- OutputPin

OutputPin::OutputPin(BaseFilter& filter, std::wstring name) : BasePin(filter, PINDIR_OUTPUT, std::move(name)) {}

HRESULT OutputPin::Connect(IPin* receiver, const AM_MEDIA_TYPE* mt)
{
    if (!receiver) return E_POINTER;
    std::lock_guard<RecursiveLock> lock(filter_.FilterLock());
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION dir;
    if (FAILED(receiver->QueryDirection(&dir)) || dir != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;

    if (IsFullySpecified(mt)) return AttemptConnection(receiver, *mt);

    // Our own preferences first, then the receiver's.
    ComPtr<IEnumMediaTypes> types;
    if (SUCCEEDED(EnumMediaTypes(types.Put())) && TryTypesFrom(types.Get(), receiver, mt) == S_OK) return S_OK;
    types.Reset();
    if (SUCCEEDED(receiver->EnumMediaTypes(types.Put())) && TryTypesFrom(types.Get(), receiver, mt) == S_OK)
        return S_OK;
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT OutputPin::TryTypesFrom(IEnumMediaTypes* types, IPin* receiver, const AM_MEDIA_TYPE* partial)
{
    AM_MEDIA_TYPE* mt = nullptr;
    while (types->Next(1, &mt, nullptr) == S_OK) {
        MediaType owned(*mt);
        DeleteMediaType(mt);
        if (partial && !MatchesPartial(*owned, *partial)) continue;
        if (AttemptConnection(receiver, *owned) == S_OK) return S_OK;
    }
    return S_FALSE;
}

HRESULT OutputPin::AttemptConnection(IPin* receiver, const AM_MEDIA_TYPE& mt)
{
    if (CheckMediaType(mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    peer_ = ComPtr<IPin>(receiver);
    mt_.Set(mt);
    HRESULT hr = receiver->ReceiveConnection(this, &mt);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(receiver, mt);
        if (SUCCEEDED(hr)) return S_OK;
        receiver->Disconnect();
    }
    BreakConnect();
    peer_.Reset();
    mt_.Clear();
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT OutputPin::CompleteConnect(IPin* peer, const AM_MEDIA_TYPE&)
{
    ComPtr<IMemInputPin> input;
    HRESULT hr = peer->QueryInterface(IID_IMemInputPin, input.PutVoid());
    if (FAILED(hr)) return VFW_E_NO_TRANSPORT;
    hr = DecideAllocator(input.Get());
    if (FAILED(hr)) return hr;
    memInput_ = std::move(input);
    peerReportsFailures_ = BaseFilter::ReportsStreamFailures(peer);
    return S_OK;
}

void OutputPin::BufferRequirements(ALLOCATOR_PROPERTIES& props)
{
    props.cBuffers = 4;
    props.cbBuffer = 64 * 1024;
    props.cbAlign = 1;
}

HRESULT OutputPin::SetUpAllocator(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& wanted)
{
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(const_cast<ALLOCATOR_PROPERTIES*>(&wanted), &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < wanted.cbBuffer || actual.cBuffers < 1) return E_FAIL;
    bufferSize_ = actual.cbBuffer;
    return S_OK;
}

HRESULT OutputPin::DecideAllocator(IMemInputPin* input)
{
    ALLOCATOR_PROPERTIES wanted{};
    input->GetAllocatorRequirements(&wanted);
    ALLOCATOR_PROPERTIES mine{};
    BufferRequirements(mine);
    if (mine.cBuffers > wanted.cBuffers) wanted.cBuffers = mine.cBuffers;
    if (mine.cbBuffer > wanted.cbBuffer) wanted.cbBuffer = mine.cbBuffer;
    if (wanted.cbAlign < 1) wanted.cbAlign = 1;
    if (mine.cbAlign > wanted.cbAlign) wanted.cbAlign = mine.cbAlign;
    wanted.cbPrefix = 0;

    // The pack's own allocator first (its buffers cost no kernel object);
    // the input pin's when it will only take its own.
    ComPtr<IMemAllocator> allocator;
    HRESULT hr = CreateMemoryAllocator(allocator.Put());
    if (SUCCEEDED(hr)) hr = SetUpAllocator(allocator.Get(), wanted);
    if (SUCCEEDED(hr)) hr = input->NotifyAllocator(allocator.Get(), FALSE);
    if (SUCCEEDED(hr)) {
        allocator_ = std::move(allocator);
        return S_OK;
    }
    allocator.Reset();
    hr = input->GetAllocator(allocator.Put());
    if (FAILED(hr)) return hr;
    if (!allocator) return VFW_E_NO_ALLOCATOR;
    hr = SetUpAllocator(allocator.Get(), wanted);
    if (FAILED(hr)) return hr;
    hr = input->NotifyAllocator(allocator.Get(), FALSE);
    if (FAILED(hr)) return hr;
    allocator_ = std::move(allocator);
    return S_OK;
}

void OutputPin::BreakConnect()
{
    if (allocator_) allocator_->Decommit();
    allocator_.Reset();
    memInput_.Reset();
    bufferSize_ = 0;
    peerReportsFailures_ = false;
}

HRESULT OutputPin::Active() { return allocator_ ? allocator_->Commit() : VFW_E_NO_ALLOCATOR; }

HRESULT OutputPin::Inactive() { return allocator_ ? allocator_->Decommit() : S_OK; }

HRESULT OutputPin::GetDeliveryBuffer(IMediaSample** sample)
{
    if (!sample) return E_POINTER;
    *sample = nullptr;
    IMemAllocator* allocator = allocator_.Get();
    if (!allocator) return VFW_E_NOT_CONNECTED;
    return allocator->GetBuffer(sample, nullptr, nullptr, 0);
}

HRESULT OutputPin::Deliver(IMediaSample* sample)
{
    IMemInputPin* input = memInput_.Get();
    if (!input) return VFW_E_NOT_CONNECTED;
    // Nothing more goes down in a failed run.
    HRESULT hr = filter_.StreamFailure();
    if (FAILED(hr)) return hr;
    hr = input->Receive(sample);
    // A filter below that fails without a word (the platform's File Writer)
    // is reported from here.
    if (BaseFilter::IsStreamFailure(hr)) filter_.StreamFailed(hr, !peerReportsFailures_);
    return hr;
}

HRESULT OutputPin::DeliverEndOfStream()
{
    IPin* peer = peer_.Get();
    if (!peer) return VFW_E_NOT_CONNECTED;
    // A failed run has no end: what was written is not a whole stream.
    const HRESULT failure = filter_.StreamFailure();
    if (FAILED(failure)) return failure;
    return peer->EndOfStream();
}

HRESULT OutputPin::DeliverBeginFlush()
{
    IPin* peer = peer_.Get();
    return peer ? peer->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT OutputPin::DeliverEndFlush()
{
    IPin* peer = peer_.Get();
    // The stream starts again below: so does the filter's.
    filter_.ClearStreamFailure();
    return peer ? peer->EndFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT OutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    IPin* peer = peer_.Get();
    return peer ? peer->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}

// ---------------------------------------------------------------- InputPin

InputPin::InputPin(BaseFilter& filter, std::wstring name) : BasePin(filter, PINDIR_INPUT, std::move(name)) {}

HRESULT InputPin::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (iid == IID_IMemInputPin) {
        *out = static_cast<IMemInputPin*>(this);
        AddRef();
        return S_OK;
    }
    return BasePin::QueryInterface(iid, out);
}

HRESULT BasePin::CheckIncoming(IPin* connector, const AM_MEDIA_TYPE& mt)
{
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION dir;
    if (FAILED(connector->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    return CheckMediaType(mt) == S_OK ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT InputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt)
{
    if (!connector || !mt) return E_POINTER;
    std::lock_guard<RecursiveLock> lock(filter_.FilterLock());
    HRESULT hr = CheckIncoming(connector, *mt);
    if (FAILED(hr)) return hr;
    peer_ = ComPtr<IPin>(connector);
    hr = mt_.Set(*mt);
    if (SUCCEEDED(hr)) hr = CompleteConnect(connector, *mt);
    if (FAILED(hr)) {
        BreakConnect();
        peer_.Reset();
        mt_.Clear();
    }
    return hr;
}

void InputPin::BreakConnect() { allocator_.Reset(); }

HRESULT InputPin::EndOfStream()
{
    if (flushing_) return S_OK;
    if (filter_.State() == State_Stopped) return VFW_E_WRONG_STATE;
    if (endOfStream_.exchange(true)) return S_OK;
    return OnEndOfStream();
}

HRESULT InputPin::BeginFlush()
{
    flushing_ = true;
    return OnBeginFlush();
}

HRESULT InputPin::EndFlush()
{
    filter_.ClearStreamFailure();
    const HRESULT hr = OnEndFlush();
    endOfStream_ = false;
    flushing_ = false;
    return hr;
}

HRESULT InputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    segmentStart_ = start;
    return OnNewSegment(start, stop, rate);
}

HRESULT InputPin::GetAllocator(IMemAllocator** allocator)
{
    if (!allocator) return E_POINTER;
    std::lock_guard<RecursiveLock> lock(filter_.FilterLock());
    if (!allocator_) {
        const HRESULT hr = CreateMemoryAllocator(allocator_.Put());
        if (FAILED(hr)) return hr;
    }
    *allocator = allocator_.Get();
    (*allocator)->AddRef();
    return S_OK;
}

HRESULT InputPin::NotifyAllocator(IMemAllocator* allocator, BOOL)
{
    if (!allocator) return E_POINTER;
    std::lock_guard<RecursiveLock> lock(filter_.FilterLock());
    allocator_ = ComPtr<IMemAllocator>(allocator);
    return S_OK;
}

HRESULT InputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT InputPin::Receive(IMediaSample* sample)
{
    if (!sample) return E_POINTER;
    if (filter_.State() == State_Stopped) return VFW_E_WRONG_STATE;
    if (flushing_) return S_FALSE;
    if (endOfStream_) return VFW_E_SAMPLE_REJECTED_EOS;
    return OnReceive(sample);
}

HRESULT InputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed)
{
    if (!samples || !processed) return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    while (*processed < count) {
        hr = Receive(samples[*processed]);
        if (hr != S_OK) break;
        ++*processed;
    }
    return hr;
}

HRESULT InputPin::Active()
{
    endOfStream_ = false;
    flushing_ = false;
    return S_OK;
}

HRESULT InputPin::Inactive()
{
    endOfStream_ = false;
    flushing_ = false;
    return S_OK;
}

}  // namespace vellumo::filters
