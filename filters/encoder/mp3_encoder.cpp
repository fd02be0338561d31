#include "encoder/mp3_encoder.h"

#include <lame/lame.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

#include "base/module.h"
#include "encoder/id3_tags.h"
#include "filter_ids.h"

namespace vellumo::filters {

namespace {

const GUID kMp3Subtype = AudioSubtypeFromTag(WAVE_FORMAT_MPEGLAYER3);

MPEG_mode LameMode(DWORD mode)
{
    switch (mode) {
    case Mp3EncoderFilter::kStereo: return STEREO;
    case Mp3EncoderFilter::kJointStereo: return JOINT_STEREO;
    case Mp3EncoderFilter::kDualChannel: return DUAL_CHANNEL;
    default: return MONO;
    }
}

}  // namespace

Mp3EncoderFilter::Mp3EncoderFilter() : TransformFilter(corvane::CLSID_Mp3Encoder, L"XForm In", L"XForm Out") {}

Mp3EncoderFilter::~Mp3EncoderFilter()
{
    worker_.Stop();
    encoder_.reset();
    swr_free(&downmix_);
}

HRESULT Mp3EncoderFilter::QueryFilterInterface(REFIID iid, void** out)
{
    if (iid == IID_IAudioEncoderProperties) {
        *out = static_cast<IAudioEncoderProperties*>(this);
        AddRef();
        return S_OK;
    }
    return TransformFilter::QueryFilterInterface(iid, out);
}

// ---------------------------------------------------------------- types

HRESULT Mp3EncoderFilter::CheckInputType(const AM_MEDIA_TYPE& mt)
{
    const WAVEFORMATEX* wfx = WaveFormatOf(mt);
    if (mt.majortype != MEDIATYPE_Audio || !wfx || !IsIntegerPcm(*wfx)) return VFW_E_TYPE_NOT_ACCEPTED;
    if (wfx->wBitsPerSample != 16 || wfx->nChannels < 1 || wfx->nChannels > 8 ||
        wfx->nBlockAlign != wfx->nChannels * 2 || wfx->nSamplesPerSec < 8000 || wfx->nSamplesPerSec > 192000)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

lame_global_struct* Mp3EncoderFilter::OpenLame(const Settings& settings, WORD inChannels, DWORD inRate,
                                               const MediaTags* tags, bool tagFrame)
{
    lame_global_flags* gf = lame_init();
    if (!gf) return nullptr;
    // More than two channels reach LAME downmixed to stereo.
    if (inChannels > 2) inChannels = 2;
    const DWORD mode = EffectiveChannelMode(settings, inChannels);
    // Stereo output from a mono source: LAME gets the channel twice.
    const WORD channels = mode == kMono ? inChannels : 2;
    lame_set_num_channels(gf, channels);
    lame_set_in_samplerate(gf, static_cast<int>(inRate));
    // A different output rate is resampled by LAME's own (windowed sinc) resampler.
    if (settings.sampleRate) lame_set_out_samplerate(gf, static_cast<int>(settings.sampleRate));
    lame_set_mode(gf, LameMode(mode));
    lame_set_quality(gf, static_cast<int>(settings.quality));
    if (settings.variable) {
        lame_set_VBR(gf, vbr_default);
        lame_set_VBR_quality(gf, static_cast<float>(settings.variableQ));
        const DWORD lo = std::min(settings.variableMin, settings.variableMax);
        const DWORD hi = std::max(settings.variableMin, settings.variableMax);
        lame_set_VBR_min_bitrate_kbps(gf, static_cast<int>(lo));
        lame_set_VBR_max_bitrate_kbps(gf, static_cast<int>(hi));
        lame_set_VBR_hard_min(gf, 1);
    } else {
        lame_set_VBR(gf, vbr_off);
        lame_set_brate(gf, static_cast<int>(settings.bitrate));
    }
    lame_set_error_protection(gf, settings.crc ? 1 : 0);
    lame_set_copyright(gf, settings.copyright ? 1 : 0);
    lame_set_original(gf, settings.original ? 1 : 0);
    lame_set_bWriteVbrTag(gf, tagFrame ? 1 : 0);
    lame_set_write_id3tag_automatic(gf, 0);
    if (tags) SetId3Tags(gf, *tags);
    if (lame_init_params(gf) < 0) {
        lame_close(gf);
        return nullptr;
    }
    return gf;
}

HRESULT Mp3EncoderFilter::GetOutputType(int index, MediaType& out)
{
    if (index != 0) return VFW_S_NO_MORE_ITEMS;
    const WAVEFORMATEX* in = Input().ConnectionType().WaveFormat();
    if (!in) return VFW_E_NOT_CONNECTED;
    // Ask LAME what it will make of these settings (rate, bitrate).
    lame_global_flags* gf = OpenLame(settings_, in->nChannels, in->nSamplesPerSec, nullptr, true);
    if (!gf) return VFW_E_TYPE_NOT_ACCEPTED;
    const DWORD rate = static_cast<DWORD>(lame_get_out_samplerate(gf));
    const WORD channels = lame_get_mode(gf) == MONO ? 1 : 2;
    const DWORD kbps = settings_.variable ? static_cast<DWORD>(lame_get_VBR_max_bitrate_kbps(gf))
                                          : static_cast<DWORD>(lame_get_brate(gf));
    const int version = lame_get_version(gf);  // 0 MPEG-2, 1 MPEG-1, 2 MPEG-2.5
    lame_close(gf);

    MPEGLAYER3WAVEFORMAT mp3{};
    mp3.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    mp3.wfx.nChannels = channels;
    mp3.wfx.nSamplesPerSec = rate;
    mp3.wfx.nAvgBytesPerSec = kbps * 1000 / 8;
    mp3.wfx.nBlockAlign = 1;
    mp3.wfx.wBitsPerSample = 0;
    mp3.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    mp3.wID = MPEGLAYER3_ID_MPEG;
    mp3.fdwFlags = MPEGLAYER3_FLAG_PADDING_ISO;
    mp3.nBlockSize = static_cast<WORD>((version == 1 ? 144 : 72) * kbps * 1000 / (rate ? rate : 1));
    mp3.nFramesPerBlock = 1;
    mp3.nCodecDelay = 1393;
    out.Clear();
    out->majortype = MEDIATYPE_Audio;
    out->subtype = kMp3Subtype;
    out->bFixedSizeSamples = FALSE;
    out->lSampleSize = 1;
    return out.SetFormat(FORMAT_WaveFormatEx, &mp3, sizeof(mp3));
}

void Mp3EncoderFilter::OutputBufferRequirements(ALLOCATOR_PROPERTIES& props)
{
    props.cBuffers = 8;
    props.cbBuffer = 16 * 1024;
    props.cbAlign = 1;
}

// ---------------------------------------------------------------- streaming

HRESULT Mp3EncoderFilter::StartStreaming()
{
    const WAVEFORMATEX* in = Input().ConnectionType().WaveFormat();
    if (!in) return VFW_E_NOT_CONNECTED;
    inChannels_ = in->nChannels;
    inRate_ = in->nSamplesPerSec;
    tags_ = UpstreamMediaTags(this);
    const HRESULT hr = OpenEncoder();
    if (FAILED(hr)) return hr;
    id3v2_ = Id3v2Tag(encoder_->Primary());
    streamStart_ = id3v2_.size();
    id3v2Sent_ = false;
    swr_free(&downmix_);
    if (inChannels_ > 2) {
        AVChannelLayout from, to;
        av_channel_layout_default(&from, inChannels_);
        av_channel_layout_default(&to, 2);
        const int err = swr_alloc_set_opts2(&downmix_, &to, AV_SAMPLE_FMT_S16, static_cast<int>(inRate_), &from,
                                            AV_SAMPLE_FMT_S16, static_cast<int>(inRate_), 0, nullptr);
        av_channel_layout_uninit(&from);
        av_channel_layout_uninit(&to);
        if (err < 0 || !downmix_ || swr_init(downmix_) < 0) return E_FAIL;
    }
    bytesOut_ = 0;
    framesIn_ = 0;
    haveTime_ = false;
    timeBase_ = 0;
    lastStop_ = 0;
    return worker_.Start();
}

HRESULT Mp3EncoderFilter::OpenEncoder()
{
    // The contexts open on the pool's threads: they get their own copy of
    // what configures them.
    auto open = [settings = settings_, channels = inChannels_, rate = inRate_, tags = tags_](bool tagFrame) {
        return OpenLame(settings, channels, rate, tagFrame ? &tags : nullptr, tagFrame);
    };
    auto encoder = std::make_unique<mp3::ParallelEncoder>(open, mp3::ParallelEncoder::DefaultInstances(),
                                                          mp3::ParallelEncoder::DefaultLayout());
    const bool started = encoder->Start();
    std::lock_guard<std::mutex> hold(encoderLock_);
    encoder_ = started ? std::move(encoder) : nullptr;
    if (!encoder_) return E_FAIL;
    lameChannels_ = static_cast<WORD>(lame_get_num_channels(encoder_->Primary()));
    return S_OK;
}

HRESULT Mp3EncoderFilter::StopStreaming()
{
    worker_.Stop();
    std::lock_guard<std::mutex> hold(encoderLock_);
    encoder_.reset();
    swr_free(&downmix_);
    return S_OK;
}

HRESULT Mp3EncoderFilter::DeliverEncoded(const uint8_t* data, size_t size)
{
    if (size == 0) return S_OK;
    if (!id3v2Sent_ && !id3v2_.empty()) {
        const HRESULT hr = DeliverPlaced(id3v2_.data(), id3v2_.size(), 0);
        if (hr != S_OK) return hr;
    }
    id3v2Sent_ = true;
    // The time of the input these bytes encode (with several instances, the
    // input read ahead is not out yet).
    const int64_t joined = encoder_->InputJoined();
    const REFERENCE_TIME now = timeBase_ + (joined < 0 ? framesIn_ : std::min(framesIn_, joined)) * 10000000LL / inRate_;
    const uint64_t base = bytesOut_;
    bytesOut_ += size;
    return Output().DeliverBytes(data, size, [&](IMediaSample* s, size_t offset, size_t length) {
        REFERENCE_TIME start = lastStop_, stop = now;
        s->SetTime(&start, &stop);
        lastStop_ = now;
        LONGLONG mediaStart = static_cast<LONGLONG>(streamStart_ + base + offset);
        LONGLONG mediaStop = mediaStart + static_cast<LONGLONG>(length);
        s->SetMediaTime(&mediaStart, &mediaStop);
        s->SetSyncPoint(TRUE);
    });
}

HRESULT Mp3EncoderFilter::Process(IMediaSample* sample)
{
    if (!encoder_) return E_UNEXPECTED;
    return worker_.Push(sample);
}

HRESULT Mp3EncoderFilter::Drain() { return encoder_ ? worker_.Drain() : S_OK; }

void Mp3EncoderFilter::Interrupt()
{
    worker_.Interrupt();
    // Chunks being encoded end soon rather than finish for nothing.
    std::lock_guard<std::mutex> hold(encoderLock_);
    if (encoder_) encoder_->Cancel();
}

HRESULT Mp3EncoderFilter::Encode(IMediaSample* sample)
{
    BYTE* data = nullptr;
    HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr)) return hr;
    const long length = sample->GetActualDataLength();
    const int frames = length > 0 ? static_cast<int>(length / (2 * inChannels_)) : 0;
    REFERENCE_TIME start = 0, stop = 0;
    if (!haveTime_ && SUCCEEDED(sample->GetTime(&start, &stop))) {
        timeBase_ = start;
        lastStop_ = start;
        haveTime_ = true;
    }
    if (frames == 0) return S_OK;

    const auto* pcm = reinterpret_cast<const int16_t*>(data);
    int lameFrames = frames;
    if (downmix_) {
        // Same rate: one stereo frame per input frame.
        const int capacity = swr_get_out_samples(downmix_, frames);
        downmixed_.resize(static_cast<size_t>(capacity > frames ? capacity : frames) * 2);
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(downmixed_.data())};
        const uint8_t* in[1] = {data};
        lameFrames = swr_convert(downmix_, out, capacity > frames ? capacity : frames, in, frames);
        if (lameFrames < 0) return E_FAIL;
        pcm = downmixed_.data();
    } else if (inChannels_ == 1 && lameChannels_ == 2) {
        stereo_.resize(static_cast<size_t>(frames) * 2);
        for (int i = 0; i < frames; ++i) stereo_[2 * i] = stereo_[2 * i + 1] = pcm[i];
        pcm = stereo_.data();
    }
    mp3_.clear();
    // Cancelled by a flush or a stop: no failure of the stream.
    if (!encoder_->Encode(pcm, static_cast<size_t>(lameFrames), mp3_)) return encoder_->Cancelled() ? S_FALSE : E_FAIL;
    framesIn_ += frames;
    return DeliverEncoded(mp3_.data(), mp3_.size());
}

HRESULT Mp3EncoderFilter::Finish()
{
    mp3_.clear();
    std::vector<uint8_t> tag;
    // The last chunks go out as each is joined.
    HRESULT hr = S_OK;
    const auto deliver = [&](std::vector<uint8_t>& bytes) { return (hr = DeliverEncoded(bytes.data(), bytes.size())) == S_OK; };
    if (!encoder_->Finish(mp3_, tag, deliver)) return hr != S_OK ? hr : encoder_->Cancelled() ? S_FALSE : E_FAIL;
    hr = DeliverEncoded(mp3_.data(), mp3_.size());
    if (hr != S_OK) return hr;

    // The first frame, now with the stream's frame count, byte count and
    // seek table, for its place at the stream's start (behind the ID3v2 tag).
    if (!tag.empty()) {
        hr = DeliverPlaced(tag.data(), tag.size(), streamStart_);
        if (hr != S_OK) return hr;
    }
    const std::vector<uint8_t> id3v1 = bytesOut_ > 0 ? Id3v1Tag(encoder_->Primary()) : std::vector<uint8_t>();
    if (id3v1.empty()) return S_OK;
    return DeliverPlaced(id3v1.data(), id3v1.size(), streamStart_ + bytesOut_);
}

HRESULT Mp3EncoderFilter::DeliverPlaced(const uint8_t* data, size_t size, uint64_t offset)
{
    return Output().DeliverBytes(data, size, [offset](IMediaSample* s, size_t at, size_t length) {
        s->SetTime(nullptr, nullptr);
        LONGLONG mediaStart = static_cast<LONGLONG>(offset + at), mediaStop = mediaStart + static_cast<LONGLONG>(length);
        s->SetMediaTime(&mediaStart, &mediaStop);
    });
}

void Mp3EncoderFilter::Discard()
{
    // After a seek the stream goes on from a new position: restart the encoder
    // once the worker has dropped what was queued.
    worker_.Resume();
    if (!encoder_) return;
    OpenEncoder();
    haveTime_ = false;
    framesIn_ = 0;
}

namespace {
const REGPINTYPES kInputTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const REGPINTYPES kOutputTypes[] = {{&MEDIATYPE_Audio, &kMp3Subtype}};
const REGFILTERPINS2 kPins[] = {{0, 1, 1, kInputTypes, 0, nullptr, nullptr},
                                {REG_PINFLAG_B_OUTPUT, 1, 1, kOutputTypes, 0, nullptr, nullptr}};
const FilterClass kClass = {&corvane::CLSID_Mp3Encoder, L"MPEG Layer-3 Encoder", &CreateInstance<Mp3EncoderFilter>,
                            MERIT_DO_NOT_USE, &CLSID_AudioCompressorCategory, kPins, 2, false};
const FilterClassEntry kEntry(kClass);
}  // namespace

}  // namespace vellumo::filters
