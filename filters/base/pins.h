// Pins: BasePin (IPin bookkeeping), OutputPin (connection with allocator
// negotiation and delivery helpers for a streaming thread) and InputPin
// (IMemInputPin with flushing and end-of-stream state). Pins live inside
// their filter and share its reference count.
#pragma once

#include "dshow_uuids.h"

#include <atomic>
#include <cstring>
#include <string>

#include "base_filter.h"
#include "com_ptr.h"
#include "media_type.h"

namespace vellumo::filters {

class BasePin : public IPin {
public:
    BasePin(BaseFilter& filter, PIN_DIRECTION direction, std::wstring name);
    virtual ~BasePin();
    BasePin(const BasePin&) = delete;
    BasePin& operator=(const BasePin&) = delete;

    // IUnknown: references go to the filter.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IPin (Connect/ReceiveConnection and the stream methods are direction specific)
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;

    // --- for filters ---
    // S_OK when the pin can carry mt.
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) = 0;
    // The pin's preferred types, index from 0; VFW_S_NO_MORE_ITEMS past the last.
    virtual HRESULT GetMediaType(int index, MediaType& out);
    // Activation with the filter (Stopped -> Paused, -> Stopped).
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }

    bool IsConnected() const noexcept { return static_cast<bool>(peer_); }
    IPin* Peer() const noexcept { return peer_.Get(); }
    const MediaType& ConnectionType() const noexcept { return mt_; }
    BaseFilter& Filter() const noexcept { return filter_; }
    const std::wstring& Name() const noexcept { return name_; }

protected:
    // Extra interfaces of the pin (IMediaSeeking, IAMStreamConfig...).
    virtual HRESULT QueryPinInterface(REFIID iid, void** out);
    // Called with the filter lock held once both sides agreed on mt; a
    // failure undoes the connection.
    virtual HRESULT CompleteConnect(IPin* peer, const AM_MEDIA_TYPE& mt);
    // The checks of an input pin offered a connection (the filter lock held):
    // not connected yet, stopped, an output pin as the connector, a type the
    // pin accepts.
    HRESULT CheckIncoming(IPin* connector, const AM_MEDIA_TYPE& mt);
    // Called with the filter lock held when the connection goes away.
    virtual void BreakConnect() {}

    BaseFilter& filter_;
    const PIN_DIRECTION direction_;
    const std::wstring name_;
    corvane::ComPtr<IPin> peer_;
    MediaType mt_;
};

class OutputPin : public BasePin {
public:
    OutputPin(BaseFilter& filter, std::wstring name);

    HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // Commits / decommits the allocator.
    HRESULT Active() override;
    HRESULT Inactive() override;

    // --- streaming (any thread; never under the filter lock) ---
    // A buffer from the negotiated allocator (blocks while all are in use;
    // fails once the filter stops).
    HRESULT GetDeliveryBuffer(IMediaSample** sample);
    // IMemInputPin::Receive downstream; VFW_E_NOT_CONNECTED when unconnected.
    // A refusal with an error is the filter's stream failure; after one,
    // nothing is delivered (the failure is returned).
    HRESULT Deliver(IMediaSample* sample);
    // Nothing after a stream failure (returns the failure).
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();
    HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    // Size of one delivery buffer (0 when unconnected).
    long BufferSize() const noexcept { return bufferSize_; }

    // Takes a delivery buffer, has fill(IMediaSample*, BYTE* buffer, long
    // capacity) write into it and delivers it. fill sets the actual length,
    // times and flags and returns S_OK, or a failure that is returned without
    // delivering (VFW_E_BUFFER_OVERFLOW when its data does not fit). A buffer
    // without memory is an error too: nothing is dropped silently.
    template <class Fill>
    HRESULT DeliverFilled(Fill&& fill);
    // Copies size bytes into as many delivery buffers as needed and delivers
    // them. stamp(IMediaSample*, size_t offset, size_t length) sets the times
    // and flags of each buffer (offset/length of its bytes within data).
    template <class Stamp>
    HRESULT DeliverBytes(const void* data, size_t size, Stamp&& stamp);

protected:
    // Buffer count/size/alignment the pin needs; the allocator may give more.
    virtual void BufferRequirements(ALLOCATOR_PROPERTIES& props);
    HRESULT CompleteConnect(IPin* peer, const AM_MEDIA_TYPE& mt) override;
    void BreakConnect() override;

private:
    HRESULT AttemptConnection(IPin* receiver, const AM_MEDIA_TYPE& mt);
    HRESULT TryTypesFrom(IEnumMediaTypes* types, IPin* receiver, const AM_MEDIA_TYPE* partial);
    HRESULT DecideAllocator(IMemInputPin* input);
    HRESULT SetUpAllocator(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& wanted);

    corvane::ComPtr<IMemInputPin> memInput_;
    corvane::ComPtr<IMemAllocator> allocator_;
    long bufferSize_ = 0;
    bool peerReportsFailures_ = false;
};

class InputPin : public BasePin, public IMemInputPin {
public:
    InputPin(BaseFilter& filter, std::wstring name);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return BasePin::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return BasePin::Release(); }

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IMemInputPin
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_OK; }

    HRESULT Active() override;
    HRESULT Inactive() override;

    bool IsFlushing() const noexcept { return flushing_.load(); }
    bool AtEndOfStream() const noexcept { return endOfStream_.load(); }
    REFERENCE_TIME SegmentStart() const noexcept { return segmentStart_; }
    IMemAllocator* Allocator() const noexcept { return allocator_.Get(); }

protected:
    // The stream, on the upstream filter's thread. Receive has already
    // rejected samples while stopped, flushing or after end of stream.
    virtual HRESULT OnReceive(IMediaSample* sample) = 0;
    virtual HRESULT OnEndOfStream() { return S_OK; }
    virtual HRESULT OnBeginFlush() { return S_OK; }
    virtual HRESULT OnEndFlush() { return S_OK; }
    virtual HRESULT OnNewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }
    void BreakConnect() override;

private:
    corvane::ComPtr<IMemAllocator> allocator_;
    std::atomic<bool> flushing_{false};
    std::atomic<bool> endOfStream_{false};
    REFERENCE_TIME segmentStart_ = 0;
};

template <class Fill>
HRESULT OutputPin::DeliverFilled(Fill&& fill)
{
    corvane::ComPtr<IMediaSample> sample;
    HRESULT hr = GetDeliveryBuffer(sample.Put());
    if (FAILED(hr)) return hr;
    BYTE* buffer = nullptr;
    hr = sample->GetPointer(&buffer);
    if (FAILED(hr)) return hr;
    const long capacity = sample->GetSize();
    if (!buffer || capacity <= 0) return E_UNEXPECTED;
    hr = fill(sample.Get(), buffer, capacity);
    if (FAILED(hr)) return hr;
    return Deliver(sample.Get());
}

template <class Stamp>
HRESULT OutputPin::DeliverBytes(const void* data, size_t size, Stamp&& stamp)
{
    const auto* bytes = static_cast<const BYTE*>(data);
    size_t offset = 0;
    while (offset < size) {
        size_t length = 0;
        const HRESULT hr = DeliverFilled([&](IMediaSample* sample, BYTE* buffer, long capacity) {
            length = size - offset < static_cast<size_t>(capacity) ? size - offset : static_cast<size_t>(capacity);
            std::memcpy(buffer, bytes + offset, length);
            sample->SetActualDataLength(static_cast<long>(length));
            stamp(sample, offset, length);
            return S_OK;
        });
        if (hr != S_OK) return hr;
        offset += length;
    }
    return S_OK;
}

}  // namespace vellumo::filters
