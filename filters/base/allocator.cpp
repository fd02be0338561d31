#include "allocator.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "media_type.h"
#include "single_interface.h"

namespace vellumo::filters {

namespace {

class MemAllocator;

// One buffer of the allocator. Its reference count starts at 1 in GetBuffer;
// the last Release hands it back to the allocator.
class Sample final : public IMediaSample2 {
public:
    explicit Sample(MemAllocator& owner) : owner_(owner) {}
    ~Sample() { ClearMediaType(); }
    Sample(const Sample&) = delete;
    Sample& operator=(const Sample&) = delete;

    // Called by the allocator, under its lock.
    void Attach(BYTE* buffer, long size) noexcept
    {
        buffer_ = buffer;
        size_ = size;
    }
    void Hand() noexcept
    {
        refs_.store(1);
        actual_ = size_;
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IMediaSample || iid == IID_IMediaSample2) {
            *out = static_cast<IMediaSample2*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override;

    // IMediaSample
    HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override
    {
        if (!buffer) return E_POINTER;
        *buffer = buffer_;
        return S_OK;
    }
    long STDMETHODCALLTYPE GetSize() override { return size_; }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override
    {
        if (!start || !stop) return E_POINTER;
        if (!(flags_ & AM_SAMPLE_TIMEVALID)) return VFW_E_SAMPLE_TIME_NOT_SET;
        *start = start_;
        if (!(flags_ & AM_SAMPLE_STOPVALID)) {
            *stop = start_ + 1;
            return VFW_S_NO_STOP_TIME;
        }
        *stop = stop_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override
    {
        flags_ &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
        if (!start) return S_OK;
        start_ = *start;
        flags_ |= AM_SAMPLE_TIMEVALID;
        if (stop) {
            stop_ = *stop;
            flags_ |= AM_SAMPLE_STOPVALID;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return Flag(AM_SAMPLE_SPLICEPOINT); }
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL on) override { return SetFlag(AM_SAMPLE_SPLICEPOINT, on); }
    HRESULT STDMETHODCALLTYPE IsPreroll() override { return Flag(AM_SAMPLE_PREROLL); }
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL on) override { return SetFlag(AM_SAMPLE_PREROLL, on); }
    long STDMETHODCALLTYPE GetActualDataLength() override { return actual_; }
    HRESULT STDMETHODCALLTYPE SetActualDataLength(long length) override
    {
        if (length < 0 || length > size_) return VFW_E_BUFFER_OVERFLOW;
        actual_ = length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** mt) override
    {
        if (!mt) return E_POINTER;
        *mt = nullptr;
        if (!mediaType_) return S_FALSE;
        *mt = CreateMediaTypeCopy(*mediaType_);
        return *mt ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* mt) override
    {
        ClearMediaType();
        if (!mt) return S_OK;
        mediaType_ = CreateMediaTypeCopy(*mt);
        if (!mediaType_) return E_OUTOFMEMORY;
        flags_ |= AM_SAMPLE_TYPECHANGED;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return Flag(AM_SAMPLE_DATADISCONTINUITY); }
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL on) override { return SetFlag(AM_SAMPLE_DATADISCONTINUITY, on); }
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* start, LONGLONG* stop) override
    {
        if (!start || !stop) return E_POINTER;
        if (!mediaTimeValid_) return VFW_E_MEDIA_TIME_NOT_SET;
        *start = mediaStart_;
        *stop = mediaStop_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* start, LONGLONG* stop) override
    {
        if (!start) {
            mediaTimeValid_ = false;
            return S_OK;
        }
        if (!stop) return E_POINTER;
        mediaStart_ = *start;
        mediaStop_ = *stop;
        mediaTimeValid_ = true;
        return S_OK;
    }

    // IMediaSample2
    HRESULT STDMETHODCALLTYPE GetProperties(DWORD size, BYTE* out) override
    {
        if (!out) return E_POINTER;
        AM_SAMPLE2_PROPERTIES props{};
        props.cbData = size < sizeof(props) ? size : sizeof(props);
        props.dwTypeSpecificFlags = typeSpecificFlags_;
        props.dwSampleFlags = flags_;
        props.lActual = actual_;
        props.tStart = start_;
        props.tStop = stop_;
        props.dwStreamId = streamId_;
        props.pMediaType = mediaType_;
        props.pbBuffer = buffer_;
        props.cbBuffer = size_;
        std::memcpy(out, &props, props.cbData);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProperties(DWORD size, const BYTE* in) override
    {
        if (!in) return E_POINTER;
        AM_SAMPLE2_PROPERTIES props{};
        GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props));
        std::memcpy(&props, in, size < sizeof(props) ? size : sizeof(props));
        if (props.pbBuffer != buffer_ || props.cbBuffer != size_) return E_INVALIDARG;
        if (props.lActual < 0 || props.lActual > size_) return VFW_E_BUFFER_OVERFLOW;
        if ((props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) && props.pMediaType != mediaType_) {
            const HRESULT hr = SetMediaType(props.pMediaType);
            if (FAILED(hr)) return hr;
        }
        typeSpecificFlags_ = props.dwTypeSpecificFlags;
        flags_ = props.dwSampleFlags;
        if (!mediaType_) flags_ &= ~AM_SAMPLE_TYPECHANGED;
        actual_ = props.lActual;
        start_ = props.tStart;
        stop_ = props.tStop;
        streamId_ = props.dwStreamId;
        return S_OK;
    }

private:
    HRESULT Flag(DWORD flag) const noexcept { return (flags_ & flag) ? S_OK : S_FALSE; }
    HRESULT SetFlag(DWORD flag, BOOL on) noexcept
    {
        flags_ = on ? (flags_ | flag) : (flags_ & ~flag);
        return S_OK;
    }
    void ClearMediaType() noexcept
    {
        if (mediaType_) DeleteMediaType(mediaType_);
        mediaType_ = nullptr;
        flags_ &= ~AM_SAMPLE_TYPECHANGED;
    }
    // Forgets what the last user set, before the buffer goes back.
    void Reset() noexcept
    {
        ClearMediaType();
        flags_ = 0;
        typeSpecificFlags_ = 0;
        streamId_ = AM_STREAM_MEDIA;
        mediaTimeValid_ = false;
    }
    friend class MemAllocator;

    MemAllocator& owner_;
    std::atomic<ULONG> refs_{0};
    BYTE* buffer_ = nullptr;
    long size_ = 0;
    long actual_ = 0;
    DWORD flags_ = 0;
    DWORD typeSpecificFlags_ = 0;
    DWORD streamId_ = AM_STREAM_MEDIA;
    REFERENCE_TIME start_ = 0;
    REFERENCE_TIME stop_ = 0;
    LONGLONG mediaStart_ = 0;
    LONGLONG mediaStop_ = 0;
    bool mediaTimeValid_ = false;
    AM_MEDIA_TYPE* mediaType_ = nullptr;
};

class MemAllocator final : public corvane::SingleInterface<IMemAllocator> {
public:
    MemAllocator()
    {
        InitializeCriticalSection(&lock_);
        InitializeConditionVariable(&freed_);
    }
    ~MemAllocator() override { DeleteCriticalSection(&lock_); }

    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override
    {
        if (!request || !actual) return E_POINTER;
        if (request->cbAlign <= 0 || (request->cbAlign & (request->cbAlign - 1))) return VFW_E_BADALIGN;
        if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) return E_INVALIDARG;
        // Prefix and buffer together are a whole number of alignment units.
        const int64_t unit = request->cbAlign;
        const int64_t whole = (int64_t{request->cbPrefix} + request->cbBuffer + unit - 1) / unit * unit;
        if (whole - request->cbPrefix > LONG_MAX) return E_OUTOFMEMORY;
        Locked hold(lock_);
        if (committed_) return VFW_E_ALREADY_COMMITTED;
        if (Outstanding() > 0) return VFW_E_BUFFERS_OUTSTANDING;
        props_ = *request;
        props_.cbBuffer = static_cast<long>(whole - request->cbPrefix);
        *actual = props_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* props) override
    {
        if (!props) return E_POINTER;
        Locked hold(lock_);
        *props = props_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Commit() override
    {
        Locked hold(lock_);
        if (committed_) return S_OK;
        if (props_.cBuffers <= 0 || props_.cbBuffer <= 0) return VFW_E_SIZENOTSET;
        // Still holding its buffers (some were out at the last Decommit): reuse them.
        if (!block_) {
            const HRESULT hr = Allocate();
            if (FAILED(hr)) return hr;
        }
        committed_ = true;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Decommit() override
    {
        Locked hold(lock_);
        if (!committed_) return S_OK;
        committed_ = false;
        if (Outstanding() == 0) FreeBuffers();
        WakeAllConditionVariable(&freed_);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** out, REFERENCE_TIME*, REFERENCE_TIME*, DWORD flags) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        Sample* sample = nullptr;
        {
            Locked hold(lock_);
            for (;;) {
                if (!committed_) return VFW_E_NOT_COMMITTED;
                if (!free_.empty()) break;
                if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
                ++waiters_;
                SleepConditionVariableCS(&freed_, &lock_, INFINITE);
                --waiters_;
            }
            sample = free_.back();
            free_.pop_back();
            sample->Hand();
        }
        AddRef();  // held by the sample until it comes back
        *out = sample;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample*) override
    {
        // Samples come back through their own Release.
        return E_NOTIMPL;
    }

    void Return(Sample& sample)
    {
        sample.Reset();
        {
            Locked hold(lock_);
            free_.push_back(&sample);
            if (!committed_ && Outstanding() == 0) FreeBuffers();
            if (waiters_ > 0) WakeConditionVariable(&freed_);
        }
        Release();
    }

private:
    struct Locked {
        explicit Locked(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
        ~Locked() { LeaveCriticalSection(&cs_); }
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;
        CRITICAL_SECTION& cs_;
    };

    size_t Outstanding() const noexcept { return samples_.size() - free_.size(); }

    HRESULT Allocate()
    {
        const uint64_t stride = uint64_t(props_.cbPrefix) + uint64_t(props_.cbBuffer);
        const uint64_t total = stride * uint64_t(props_.cBuffers) + uint64_t(props_.cbAlign);
        if (total > SIZE_MAX / 2) return E_OUTOFMEMORY;
        block_.reset(new (std::nothrow) BYTE[static_cast<size_t>(total)]);
        if (!block_) return E_OUTOFMEMORY;
        // The first buffer (after its prefix) on an alignment boundary; the
        // others follow at whole multiples of the alignment.
        const uintptr_t base = reinterpret_cast<uintptr_t>(block_.get()) + static_cast<uintptr_t>(props_.cbPrefix);
        const uintptr_t align = static_cast<uintptr_t>(props_.cbAlign);
        BYTE* first = reinterpret_cast<BYTE*>((base + align - 1) & ~(align - 1));
        samples_.clear();
        free_.clear();
        samples_.reserve(static_cast<size_t>(props_.cBuffers));
        free_.reserve(static_cast<size_t>(props_.cBuffers));
        for (long i = 0; i < props_.cBuffers; ++i) {
            auto sample = std::unique_ptr<Sample>(new (std::nothrow) Sample(*this));
            if (!sample) {
                FreeBuffers();
                return E_OUTOFMEMORY;
            }
            sample->Attach(first + static_cast<size_t>(i) * static_cast<size_t>(stride), props_.cbBuffer);
            free_.push_back(sample.get());
            samples_.push_back(std::move(sample));
        }
        return S_OK;
    }

    // Every sample is back: the memory goes.
    void FreeBuffers() noexcept
    {
        free_.clear();
        samples_.clear();
        block_.reset();
    }

    CRITICAL_SECTION lock_;
    CONDITION_VARIABLE freed_;
    ALLOCATOR_PROPERTIES props_{};
    bool committed_ = false;
    int waiters_ = 0;
    std::unique_ptr<BYTE[]> block_;
    std::vector<std::unique_ptr<Sample>> samples_;
    std::vector<Sample*> free_;
};

ULONG Sample::Release()
{
    const ULONG left = --refs_;
    // The allocator may free this sample once it is back: touch nothing after.
    if (left == 0) owner_.Return(*this);
    return left;
}

}  // namespace

HRESULT CreateMemoryAllocator(IMemAllocator** out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) MemAllocator();
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace vellumo::filters
