// CaptureSink: a test renderer that accepts one major type, keeps every byte
// and sample time it receives and signals the end of the stream. Built on
// the pack's filter framework; added to real graphs next to real filters.
#pragma once

#include "dshow_uuids.h"

#include <mutex>
#include <vector>

#include "base/base_filter.h"
#include "base/pins.h"

namespace realmedia_test {

class CaptureSink final : public vellumo::filters::BaseFilter, public IAMFilterMiscFlags {
public:
    explicit CaptureSink(const GUID& majorType = MEDIATYPE_Audio)
        : BaseFilter(GUID_NULL), pin_(*this, majorType), endOfStream_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }
    ~CaptureSink() override { CloseHandle(endOfStream_); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return BaseFilter::QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return BaseFilter::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return BaseFilter::Release(); }
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    int PinCount() override { return 1; }
    vellumo::filters::BasePin* PinAt(int index) override { return index == 0 ? &pin_ : nullptr; }
    IPin* Input() { return &pin_; }

    bool WaitForEnd(DWORD ms) { return WaitForSingleObject(endOfStream_, ms) == WAIT_OBJECT_0; }
    void ResetCapture()
    {
        std::lock_guard<std::mutex> lock(lock_);
        bytes_.clear();
        starts_.clear();
        samples_ = 0;
        ResetEvent(endOfStream_);
    }
    std::vector<uint8_t> Bytes()
    {
        std::lock_guard<std::mutex> lock(lock_);
        return bytes_;
    }
    std::vector<REFERENCE_TIME> Starts()
    {
        std::lock_guard<std::mutex> lock(lock_);
        return starts_;
    }
    int Samples()
    {
        std::lock_guard<std::mutex> lock(lock_);
        return samples_;
    }
    int Discontinuities()
    {
        std::lock_guard<std::mutex> lock(lock_);
        return discontinuities_;
    }

protected:
    HRESULT QueryFilterInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IAMFilterMiscFlags) {
            *out = static_cast<IAMFilterMiscFlags*>(this);
            AddRef();
            return S_OK;
        }
        return BaseFilter::QueryFilterInterface(iid, out);
    }

private:
    class Pin final : public vellumo::filters::InputPin {
    public:
        Pin(CaptureSink& sink, const GUID& major) : InputPin(sink, L"In"), sink_(sink), major_(major) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override { return mt.majortype == major_ ? S_OK : S_FALSE; }

    protected:
        HRESULT OnReceive(IMediaSample* sample) override
        {
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            long n = sample->GetActualDataLength();
            REFERENCE_TIME start = -1, stop = -1;
            HRESULT timed = sample->GetTime(&start, &stop);
            std::lock_guard<std::mutex> lock(sink_.lock_);
            if (data && n > 0) sink_.bytes_.insert(sink_.bytes_.end(), data, data + n);
            sink_.starts_.push_back(SUCCEEDED(timed) ? start : -1);
            if (sample->IsDiscontinuity() == S_OK) ++sink_.discontinuities_;
            ++sink_.samples_;
            return S_OK;
        }
        HRESULT OnEndOfStream() override
        {
            SetEvent(sink_.endOfStream_);
            sink_.NotifyEvent(EC_COMPLETE, S_OK, 0);
            return S_OK;
        }

    private:
        CaptureSink& sink_;
        GUID major_;
    };

    Pin pin_;
    HANDLE endOfStream_;
    std::mutex lock_;
    std::vector<uint8_t> bytes_;
    std::vector<REFERENCE_TIME> starts_;
    int samples_ = 0;
    int discontinuities_ = 0;
};

}  // namespace realmedia_test
