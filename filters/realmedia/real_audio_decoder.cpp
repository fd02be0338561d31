// The RealAudio decoder filter: the splitter's compressed audio in, 16-bit
// PCM at the source's rate and channels out.
#include "dshow_uuids.h"

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "audio_decoder.h"
#include "base/module.h"
#include "base/transform_filter.h"
#include "codec_setup.h"
#include "filter_ids.h"
#include "filter_interfaces.h"
#include "realmedia_types.h"

namespace vellumo::filters {

namespace {

using realmedia::AudioCodecSetup;

class RealAudioDecoderFilter final : public TransformFilter, public IDecodeAccount {
public:
    RealAudioDecoderFilter() : TransformFilter(corvane::CLSID_RealAudioDecoder, L"In", L"Out") {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return BaseFilter::QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return BaseFilter::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return BaseFilter::Release(); }

    HRESULT STDMETHODCALLTYPE GetDecodeAccount(LONGLONG* damaged, LONGLONG* decoded) override
    {
        if (!damaged || !decoded) return E_POINTER;
        *damaged = damagedTime_.load();
        *decoded = decodedTime_.load();
        return S_OK;
    }

protected:
    HRESULT QueryFilterInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IDecodeAccount) {
            *out = static_cast<IDecodeAccount*>(this);
            AddRef();
            return S_OK;
        }
        return TransformFilter::QueryFilterInterface(iid, out);
    }

    HRESULT CheckInputType(const AM_MEDIA_TYPE& mt) override
    {
        AudioCodecSetup setup;
        if (!RealAudioSetupOf(mt, setup)) return VFW_E_TYPE_NOT_ACCEPTED;
        if (setup.sampleRate <= 0 || setup.sampleRate > realmedia::kMaxSampleRate || setup.channels <= 0 ||
            setup.channels > 8) {
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
        return S_OK;
    }

    HRESULT GetOutputType(int index, MediaType& out) override
    {
        if (index < 0) return E_INVALIDARG;
        if (index > 0) return VFW_S_NO_MORE_ITEMS;
        AudioCodecSetup setup;
        if (!RealAudioSetupOf(*Input().ConnectionType(), setup)) return VFW_E_NOT_CONNECTED;
        out = PcmMediaType(static_cast<DWORD>(setup.sampleRate), static_cast<WORD>(setup.channels), 16);
        return S_OK;
    }

    void OutputBufferRequirements(ALLOCATOR_PROPERTIES& props) override
    {
        AudioCodecSetup setup;
        RealAudioSetupOf(*Input().ConnectionType(), setup);
        const bool sane = setup.sampleRate > 0 && setup.sampleRate <= realmedia::kMaxSampleRate &&
                          setup.channels > 0 && setup.channels <= 8;
        const long frame = 2L * (sane ? setup.channels : 2);
        const long quarterSecond = frame * (sane ? setup.sampleRate : 44100) / 4;
        props.cBuffers = 8;
        props.cbBuffer = quarterSecond - quarterSecond % frame;
        props.cbAlign = 1;
        props.cbPrefix = 0;
    }

    HRESULT StartStreaming() override
    {
        AudioCodecSetup setup;
        if (!RealAudioSetupOf(*Input().ConnectionType(), setup)) return VFW_E_NOT_CONNECTED;
        decoder_ = std::make_unique<realmedia::AudioDecoder>();
        if (!decoder_->Open(setup)) {
            decoder_.reset();
            return VFW_E_UNSUPPORTED_AUDIO;
        }
        frameBytes_ = 2u * static_cast<unsigned>(decoder_->Channels());
        anchored_ = false;
        damagedTime_ = decodedTime_ = 0;
        return S_OK;
    }

    HRESULT StopStreaming() override
    {
        decoder_.reset();
        pending_.clear();
        return S_OK;
    }

    HRESULT Process(IMediaSample* sample) override
    {
        if (!decoder_) return VFW_E_WRONG_STATE;
        BYTE* data = nullptr;
        const HRESULT readable = sample->GetPointer(&data);
        // Leaving the packet out would be a silent gap in the sound: the
        // failure fails the run (reported once, by the base filter).
        if (FAILED(readable)) return readable;
        const long length = sample->GetActualDataLength();
        if (!anchored_) {
            // Output times count samples from the first packet's time, so
            // that they run on without gaps whatever the packets carry.
            REFERENCE_TIME start = 0, stop = 0;
            base_ = SUCCEEDED(sample->GetTime(&start, &stop)) ? start : 0;
            produced_ = 0;
            anchored_ = true;
            discontinuity_ = true;
        }
        delivered_ = S_OK;
        try {
            if (data && length > 0) decoder_->Decode(data, static_cast<size_t>(length), sink_);
        } catch (const std::bad_alloc&) {
            return OutOfMemory();
        }
        Account();
        return delivered_;
    }

    HRESULT Drain() override
    {
        if (!decoder_) return S_OK;
        delivered_ = S_OK;
        try {
            decoder_->Drain(sink_);
        } catch (const std::bad_alloc&) {
            return OutOfMemory();
        }
        Account();
        // A stream of which nothing decoded is no sound but garbage: the run
        // fails rather than end as a converted file of silence.
        if (decoder_->DecodedFrames() == 0 && decoder_->DamagedPackets() > 0) {
            pending_.clear();
            return HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
        }
        return delivered_ == S_OK ? DeliverPending(true) : delivered_;
    }

    void Discard() override
    {
        if (decoder_) decoder_->Reset();
        pending_.clear();
        anchored_ = false;
    }

private:
    // A packet whose sound does not fit in memory fails the run (reported
    // once, by the base filter).
    HRESULT OutOfMemory()
    {
        pending_.clear();
        return E_OUTOFMEMORY;
    }

    REFERENCE_TIME Duration(uint64_t frames) const
    {
        return static_cast<REFERENCE_TIME>(frames * 10000000ull / static_cast<uint64_t>(decoder_->SampleRate()));
    }

    // The run's figures so far, for IDecodeAccount (seeks do not reset them).
    void Account()
    {
        damagedTime_ = Duration(decoder_->DamagedFrames());
        decodedTime_ = Duration(decoder_->DecodedFrames());
    }

    REFERENCE_TIME TimeAt(uint64_t frames) const
    {
        return base_ + static_cast<REFERENCE_TIME>(frames * 10000000ull / static_cast<uint64_t>(decoder_->SampleRate()));
    }

    // The bytes that fill one delivery buffer, in whole sample frames.
    size_t FullBytes()
    {
        const size_t size = static_cast<size_t>(Output().BufferSize());
        return size >= frameBytes_ ? size - size % frameBytes_ : frameBytes_;
    }

    // Sound from the decoder waits in pending_ until it fills a buffer.
    bool Take(const int16_t* samples, size_t frames)
    {
        pending_.insert(pending_.end(), samples, samples + frames * (frameBytes_ / sizeof(int16_t)));
        if (pending_.size() * sizeof(int16_t) < FullBytes()) return true;
        delivered_ = DeliverPending(false);
        return delivered_ == S_OK;
    }

    // Delivers pending_ in full buffers (all: the rest too, in whole sample
    // frames), times counted from base_.
    HRESULT DeliverPending(bool all)
    {
        const auto* bytes = reinterpret_cast<const BYTE*>(pending_.data());
        const size_t total = pending_.size() * sizeof(int16_t);
        const size_t full = FullBytes();
        size_t used = 0;
        HRESULT hr = S_OK;
        while (total - used >= (all ? frameBytes_ : full)) {
            size_t n = 0;
            hr = Output().DeliverFilled([&](IMediaSample* out, BYTE* buffer, long size) {
                const size_t capacity = static_cast<size_t>(size) / frameBytes_ * frameBytes_;
                if (capacity == 0) return VFW_E_BUFFER_OVERFLOW;
                const size_t left = (total - used) / frameBytes_ * frameBytes_;
                n = left < capacity ? left : capacity;
                std::memcpy(buffer, bytes + used, n);
                out->SetActualDataLength(static_cast<long>(n));
                REFERENCE_TIME start = TimeAt(produced_);
                produced_ += n / frameBytes_;
                REFERENCE_TIME stop = TimeAt(produced_);
                out->SetTime(&start, &stop);
                out->SetSyncPoint(TRUE);
                out->SetDiscontinuity(discontinuity_ ? TRUE : FALSE);
                discontinuity_ = false;
                return S_OK;
            });
            used += n;
            if (hr != S_OK) break;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used / sizeof(int16_t)));
        return hr;
    }

    std::unique_ptr<realmedia::AudioDecoder> decoder_;
    std::vector<int16_t> pending_;
    HRESULT delivered_ = S_OK;  // of the deliveries made for the sample at hand
    const realmedia::PcmSink sink_ = [this](const int16_t* samples, size_t frames) { return Take(samples, frames); };
    size_t frameBytes_ = 4;
    bool anchored_ = false;
    bool discontinuity_ = true;
    REFERENCE_TIME base_ = 0;
    uint64_t produced_ = 0;
    std::atomic<LONGLONG> damagedTime_{0}, decodedTime_{0};
};

// Registered for the RealAudio codecs only, so that other programs never
// hand the decoder any other audio.
const REGPINTYPES kOutputTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const REGFILTERPINS2 kPins[] = {
    {0, 1, kRealAudioPinTypeCount, kRealMediaPinTypes, 0, nullptr, nullptr},
    {REG_PINFLAG_B_OUTPUT, 1, 1, kOutputTypes, 0, nullptr, nullptr},
};
const FilterClass kClass = {&corvane::CLSID_RealAudioDecoder,
                            L"Vellumo RealAudio Decoder",
                            &CreateInstance<RealAudioDecoderFilter>,
                            MERIT_NORMAL,
                            &CLSID_LegacyAmFilterCategory,
                            kPins,
                            2,
                            false};
const FilterClassEntry kEntry(kClass);

}  // namespace

}  // namespace vellumo::filters
