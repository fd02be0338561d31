#include "audio_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <climits>
#include <cstring>

namespace vellumo::realmedia {

AudioDecoder::AudioDecoder() = default;

AudioDecoder::~AudioDecoder()
{
    swr_free(&resampler_);
    av_buffer_unref(&packetBuffer_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&codec_);
}

bool AudioDecoder::Open(const AudioCodecSetup& setup)
{
    if (codec_) return false;
    auto id = static_cast<AVCodecID>(CodecIdForFourcc(setup.fourcc));
    const AVCodec* decoder = id != AV_CODEC_ID_NONE ? avcodec_find_decoder(id) : nullptr;
    if (!decoder || setup.sampleRate <= 0 || setup.sampleRate > kMaxSampleRate || setup.channels <= 0 ||
        setup.channels > 8) {
        return false;
    }

    codec_ = avcodec_alloc_context3(decoder);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!codec_ || !frame_ || !packet_) return false;
    codec_->codec_tag = setup.fourcc;
    codec_->sample_rate = setup.sampleRate;
    av_channel_layout_default(&codec_->ch_layout, setup.channels);
    codec_->block_align = setup.blockAlign;
    codec_->bit_rate = setup.bitRate;
    if (!setup.extradata.empty()) {
        codec_->extradata = static_cast<uint8_t*>(av_mallocz(setup.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!codec_->extradata) return false;
        std::memcpy(codec_->extradata, setup.extradata.data(), setup.extradata.size());
        codec_->extradata_size = static_cast<int>(setup.extradata.size());
    }
    if (avcodec_open2(codec_, decoder, nullptr) < 0) {
        avcodec_free_context(&codec_);
        return false;
    }
    rate_ = setup.sampleRate;
    channels_ = setup.channels;
    bitRate_ = setup.bitRate > 0 ? setup.bitRate : 0;
    reframeAc3_ = id == AV_CODEC_ID_AC3 && setup.fourcc == MakeFourcc('d', 'n', 'e', 't');
    return true;
}

size_t AudioDecoder::Convert(const AVFrame* frame)
{
    if (frame->nb_samples <= 0 || frame->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0) return 0;
    if (!resampler_ || frame->sample_rate != swrInRate_ || frame->ch_layout.nb_channels != swrInChannels_ ||
        frame->format != swrInFormat_) {
        swr_free(&resampler_);
        AVChannelLayout outLayout, inLayout;
        av_channel_layout_default(&outLayout, channels_);
        if (av_channel_layout_copy(&inLayout, &frame->ch_layout) < 0) return 0;
        if (inLayout.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&inLayout, inLayout.nb_channels);
        int r = swr_alloc_set_opts2(&resampler_, &outLayout, AV_SAMPLE_FMT_S16, rate_, &inLayout,
                                    static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&outLayout);
        av_channel_layout_uninit(&inLayout);
        if (r < 0 || swr_init(resampler_) < 0) {
            swr_free(&resampler_);
            return 0;
        }
        swrInRate_ = frame->sample_rate;
        swrInChannels_ = frame->ch_layout.nb_channels;
        swrInFormat_ = frame->format;
    }
    int capacity = swr_get_out_samples(resampler_, frame->nb_samples);
    if (capacity <= 0) return 0;
    pcm_.resize(static_cast<size_t>(capacity) * static_cast<size_t>(channels_));
    uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(pcm_.data())};
    int n = swr_convert(resampler_, dst, capacity, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

size_t AudioDecoder::ConcealedFrames(size_t bytes) const
{
    // Whatever its size, a refused packet stands for no more time than its
    // bytes take at the stream's rate: the declared one, else that of the
    // last packet decoded. Sizes and rates are far below 2^31 and 2^22.
    const uint64_t n = bytes < (1u << 31) ? bytes : (1u << 31);
    uint64_t frames = lastFrames_;
    if (bitRate_ > 0) {
        frames = n * 8 * static_cast<uint64_t>(rate_) / static_cast<uint64_t>(bitRate_);
    } else if (lastBytes_ > 0) {
        frames = static_cast<uint64_t>(static_cast<double>(n) * static_cast<double>(lastFrames_) /
                                       static_cast<double>(lastBytes_));
    }
    return static_cast<size_t>(std::min<uint64_t>(frames, lastFrames_));
}

size_t AudioDecoder::Silence(size_t frames, const PcmSink& sink)
{
    constexpr size_t kPiece = 4096;
    if (silence_.empty()) silence_.assign(kPiece * static_cast<size_t>(channels_), int16_t{0});
    size_t done = 0;
    while (done < frames && !stopped_) {
        const size_t n = frames - done < kPiece ? frames - done : kPiece;
        if (!sink(silence_.data(), n)) stopped_ = true;
        done += n;
    }
    return done;
}

size_t AudioDecoder::ReceiveFrames(const PcmSink& sink, bool& failed)
{
    size_t frames = 0;
    for (;;) {
        int r = avcodec_receive_frame(codec_, frame_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) {
            failed = true;
            break;
        }
        const size_t n = Convert(frame_);
        av_frame_unref(frame_);
        frames += n;
        if (n > 0 && !stopped_ && !sink(pcm_.data(), n)) stopped_ = true;
    }
    return frames;
}

size_t AudioDecoder::Decode(const uint8_t* data, size_t size, const PcmSink& sink)
{
    if (!codec_ || !data || size == 0) return 0;
    stopped_ = false;
    if (!reframeAc3_) return DecodePacket(data, size, sink);
    reframer_.Append(data, size);
    return DecodeAc3Frames(false, sink);
}

size_t AudioDecoder::DecodeAc3Frames(bool final, const PcmSink& sink)
{
    size_t frames = 0, lost = 0;
    Ac3Reframer::Frame frame;
    while (!stopped_ && reframer_.Next(final, frame, lost)) {
        // Bytes lost before this frame sound as silence of the frames they held.
        const size_t silent = lastFrames_ > 0 ? Ac3Reframer::LostFrames(lost, lastAc3Bytes_) : 0;
        if (silent > 0) {
            frames += Silence(silent * lastFrames_, sink);
            damaged_ += static_cast<int>(std::min<size_t>(silent, static_cast<size_t>(INT_MAX - damaged_)));
        }
        lastAc3Bytes_ = frame.size;
        if (!stopped_) frames += DecodePacket(frame.data, frame.size, sink);
    }
    return frames;
}

bool AudioDecoder::FillPacket(const uint8_t* data, size_t size)
{
    if (size > static_cast<size_t>(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) return false;
    const size_t need = size + AV_INPUT_BUFFER_PADDING_SIZE;
    // The codec lets go of the last packet once its frames are taken; a
    // buffer it still holds is left to it.
    if (!packetBuffer_ || static_cast<size_t>(packetBuffer_->size) < need || !av_buffer_is_writable(packetBuffer_)) {
        av_buffer_unref(&packetBuffer_);
        packetBuffer_ = av_buffer_alloc(need < 8192 ? 8192 : need);
        if (!packetBuffer_) return false;
    }
    std::memcpy(packetBuffer_->data, data, size);
    std::memset(packetBuffer_->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    packet_->buf = packetBuffer_;
    packet_->data = packetBuffer_->data;
    packet_->size = static_cast<int>(size);
    return true;
}

size_t AudioDecoder::DecodePacket(const uint8_t* data, size_t size, const PcmSink& sink)
{
    if (!FillPacket(data, size)) return 0;
    bool failed = avcodec_send_packet(codec_, packet_) < 0;
    packet_->buf = nullptr;  // stays ours for the next packet
    av_packet_unref(packet_);
    size_t frames = failed ? 0 : ReceiveFrames(sink, failed);
    if (failed && frames == 0) {
        ++damaged_;
        return Silence(ConcealedFrames(size), sink);
    }
    if (frames > 0) {
        lastFrames_ = frames;
        lastBytes_ = size;
    }
    return frames;
}

size_t AudioDecoder::Drain(const PcmSink& sink)
{
    if (!codec_) return 0;
    stopped_ = false;
    size_t frames = 0;
    if (reframeAc3_) frames += DecodeAc3Frames(true, sink);
    bool failed = false;
    if (avcodec_send_packet(codec_, nullptr) >= 0) frames += ReceiveFrames(sink, failed);
    if (resampler_) {
        // Samples the resampler still holds.
        int pending = swr_get_out_samples(resampler_, 0);
        if (pending > 0) {
            pcm_.resize(static_cast<size_t>(pending) * static_cast<size_t>(channels_));
            uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(pcm_.data())};
            int n = swr_convert(resampler_, dst, pending, nullptr, 0);
            if (n > 0) {
                frames += static_cast<size_t>(n);
                if (!stopped_) sink(pcm_.data(), static_cast<size_t>(n));
            }
        }
    }
    Reset();
    return frames;
}

void AudioDecoder::Reset()
{
    if (!codec_) return;
    avcodec_flush_buffers(codec_);
    reframer_.Reset();
    swr_free(&resampler_);
    swrInRate_ = swrInChannels_ = 0;
    swrInFormat_ = -1;
}

}  // namespace vellumo::realmedia
