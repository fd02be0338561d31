#include "enumerators.h"

#include <new>

#include "base_filter.h"
#include "com_ptr.h"
#include "module.h"
#include "pins.h"
#include "single_interface.h"

namespace vellumo::filters {

namespace {

class PinEnumerator final : public corvane::SingleInterface<IEnumPins> {
public:
    PinEnumerator(BaseFilter& filter, ULONG position)
        : filter_(&filter), position_(position), version_(filter.PinVersion())
    {
        ModuleAddRef();
    }
    ~PinEnumerator() override { ModuleRelease(); }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override
    {
        if (!pins || (count > 1 && !fetched)) return E_POINTER;
        if (version_ != filter_->PinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
        std::lock_guard<RecursiveLock> lock(filter_->FilterLock());
        ULONG n = 0;
        while (n < count && position_ < static_cast<ULONG>(filter_->PinCount())) {
            BasePin* pin = filter_->PinAt(static_cast<int>(position_++));
            pins[n] = pin;
            pin->AddRef();
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        if (version_ != filter_->PinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
        const ULONG total = static_cast<ULONG>(filter_->PinCount());
        if (position_ + count > total) {
            position_ = total;
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        position_ = 0;
        version_ = filter_->PinVersion();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** out) override
    {
        if (!out) return E_POINTER;
        if (version_ != filter_->PinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
        auto* clone = new (std::nothrow) PinEnumerator(*filter_.Get(), position_);
        if (!clone) return E_OUTOFMEMORY;
        *out = clone;
        return S_OK;
    }

private:
    corvane::ComPtr<BaseFilter> filter_;
    ULONG position_;
    long version_;
};

class MediaTypeEnumerator final : public corvane::SingleInterface<IEnumMediaTypes> {
public:
    MediaTypeEnumerator(IUnknown* owner, std::vector<MediaType> types, ULONG position)
        : owner_(owner), types_(std::move(types)), position_(position)
    {
        ModuleAddRef();
    }
    ~MediaTypeEnumerator() override { ModuleRelease(); }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override
    {
        if (!types || (count > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        while (n < count && position_ < types_.size()) {
            types[n] = CreateMediaTypeCopy(*types_[position_]);
            if (!types[n]) {
                while (n) DeleteMediaType(types[--n]);
                if (fetched) *fetched = 0;
                return E_OUTOFMEMORY;
            }
            ++position_;
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        if (position_ + count > types_.size()) {
            position_ = static_cast<ULONG>(types_.size());
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** out) override
    {
        if (!out) return E_POINTER;
        auto* clone = new (std::nothrow) MediaTypeEnumerator(owner_.Get(), types_, position_);
        if (!clone) return E_OUTOFMEMORY;
        *out = clone;
        return S_OK;
    }

private:
    corvane::ComPtr<IUnknown> owner_;
    std::vector<MediaType> types_;
    ULONG position_;
};

}  // namespace

HRESULT CreatePinEnumerator(BaseFilter& filter, IEnumPins** out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) PinEnumerator(filter, 0);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT CreateMediaTypeEnumerator(BasePin& pin, IEnumMediaTypes** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    std::vector<MediaType> types;
    for (int i = 0;; ++i) {
        MediaType mt;
        const HRESULT hr = pin.GetMediaType(i, mt);
        if (hr != S_OK) break;
        types.push_back(std::move(mt));
    }
    return CreateMediaTypeEnumerator(static_cast<IPin*>(&pin), std::move(types), out);
}

HRESULT CreateMediaTypeEnumerator(IUnknown* owner, std::vector<MediaType> types, IEnumMediaTypes** out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) MediaTypeEnumerator(owner, std::move(types), 0);
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace vellumo::filters
