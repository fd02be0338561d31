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

namespace {

// Packets judged together, and the most sound held for their verdict.
constexpr int kWindowPackets = 32;
// Pieces handed on at once.
constexpr size_t kPiece = 4096;

// Whether a tenth or more of the samples sit at full scale: no real
// recording sounds like that; garbage the codec took decodes to it.
bool MostlyClipped(const int16_t* samples, size_t count)
{
    size_t clipped = 0;
    for (size_t i = 0; i < count; ++i) clipped += samples[i] >= 32767 || samples[i] <= -32767;
    return count > 0 && clipped * 10 >= count;
}

}  // namespace

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

uint64_t AudioDecoder::FramesOfBytes(size_t bytes) const
{
    if (bitRate_ <= 0) return 0;
    const uint64_t n = bytes < (1u << 31) ? bytes : (1u << 31);
    return n * 8 * static_cast<uint64_t>(rate_) / static_cast<uint64_t>(bitRate_);
}

void AudioDecoder::Silence(size_t frames, const PcmSink& sink)
{
    const size_t channels = static_cast<size_t>(channels_);
    size_t done = 0;
    while (done < frames && !stopped_) {
        if (held_.size() / channels >= static_cast<size_t>(rate_)) Settle(sink);
        const size_t n = frames - done < kPiece ? frames - done : kPiece;
        held_.insert(held_.end(), n * channels, int16_t{0});
        windowLost_ += n;
        done += n;
    }
}

void AudioDecoder::EndPacket(bool damaged, const PcmSink& sink)
{
    ++windowPackets_;
    if (damaged) {
        ++windowDamaged_;
        if (damaged_ < INT_MAX) ++damaged_;
    }
    if (windowPackets_ >= kWindowPackets || held_.size() / static_cast<size_t>(channels_) >= static_cast<size_t>(rate_))
        Settle(sink);
}

size_t AudioDecoder::Settle(const PcmSink& sink)
{
    const size_t channels = static_cast<size_t>(channels_);
    // Damage comes in stretches: after a garbage window an eighth is enough.
    // Sound without packets of its own (what the codec held at the end)
    // shares the verdict of the window before.
    const uint64_t share = lastGarbage_ ? 8 : 4;
    const bool garbage =
        windowPackets_ > 0 ? windowDamaged_ > 0 && share * windowDamaged_ >= windowPackets_ : lastGarbage_;
    lastGarbage_ = garbage;
    if (garbage) {
        std::fill(held_.begin(), held_.end(), int16_t{0});
        damagedFrames_ += windowGood_ + windowLost_;
    } else {
        decodedFrames_ += windowGood_;
        damagedFrames_ += windowLost_;
    }
    const size_t frames = held_.size() / channels;
    size_t done = 0;
    while (done < frames && !stopped_) {
        const size_t n = frames - done < kPiece ? frames - done : kPiece;
        if (!sink(held_.data() + done * channels, n)) stopped_ = true;
        done += n;
    }
    handed_ += done;
    held_.clear();
    windowPackets_ = windowDamaged_ = 0;
    windowGood_ = windowLost_ = 0;
    return done;
}

size_t AudioDecoder::ReceiveFrames(bool& failed)
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
        held_.insert(held_.end(), pcm_.begin(), pcm_.begin() + static_cast<std::ptrdiff_t>(n * static_cast<size_t>(channels_)));
    }
    return frames;
}

size_t AudioDecoder::Decode(const uint8_t* data, size_t size, const PcmSink& sink)
{
    if (!codec_ || !data || size == 0) return 0;
    stopped_ = false;
    handed_ = 0;
    if (!reframeAc3_) {
        DecodePacket(data, size, sink);
    } else {
        reframer_.Append(data, size);
        DecodeAc3Frames(false, sink);
    }
    return handed_;
}

size_t AudioDecoder::DecodeAc3Frames(bool final, const PcmSink& sink)
{
    size_t frames = 0, lost = 0;
    Ac3Reframer::Frame frame;
    while (!stopped_ && reframer_.Next(final, frame, lost)) {
        // Bytes lost before this frame sound as silence of the frames they
        // held; before any frame decoded they are damage of their length.
        const size_t silent = lastFrames_ > 0 ? Ac3Reframer::LostFrames(lost, lastAc3Bytes_) : 0;
        if (silent > 0) {
            damaged_ += static_cast<int>(std::min<size_t>(silent, static_cast<size_t>(INT_MAX - damaged_)));
            windowPackets_ += silent;
            windowDamaged_ += silent;
            Silence(silent * lastFrames_, sink);
        } else if (lost > 0) {
            windowLost_ += FramesOfBytes(lost);
            EndPacket(true, sink);
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
    const size_t channels = static_cast<size_t>(channels_);
    const size_t start = held_.size();
    size_t frames = failed ? 0 : ReceiveFrames(failed);
    if (failed && frames == 0) {
        // Before anything decoded its time is its bytes' at the bitrate.
        const size_t concealed = ConcealedFrames(size);
        if (lastFrames_ == 0) windowLost_ += FramesOfBytes(size);
        Silence(concealed, sink);
        EndPacket(true, sink);
        return concealed;
    }
    const bool garbage = MostlyClipped(held_.data() + start, frames * channels);
    if (garbage) {
        std::fill(held_.begin() + static_cast<std::ptrdiff_t>(start), held_.end(), int16_t{0});
        windowLost_ += frames;
    } else {
        windowGood_ += frames;
    }
    if (frames > 0) {
        lastFrames_ = frames;
        lastBytes_ = size;
    }
    EndPacket(garbage, sink);
    return frames;
}

size_t AudioDecoder::Drain(const PcmSink& sink)
{
    if (!codec_) return 0;
    stopped_ = false;
    handed_ = 0;
    if (reframeAc3_) DecodeAc3Frames(true, sink);
    size_t frames = 0;  // what the codec and the resampler still held
    bool failed = false;
    if (avcodec_send_packet(codec_, nullptr) >= 0) frames += ReceiveFrames(failed);
    if (resampler_) {
        // Samples the resampler still holds.
        int pending = swr_get_out_samples(resampler_, 0);
        if (pending > 0) {
            pcm_.resize(static_cast<size_t>(pending) * static_cast<size_t>(channels_));
            uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(pcm_.data())};
            int n = swr_convert(resampler_, dst, pending, nullptr, 0);
            if (n > 0) {
                held_.insert(held_.end(), pcm_.begin(), pcm_.begin() + static_cast<std::ptrdiff_t>(n) * channels_);
                frames += static_cast<size_t>(n);
            }
        }
    }
    windowGood_ += frames;
    Settle(sink);
    Reset();
    return handed_;
}

void AudioDecoder::Reset()
{
    if (!codec_) return;
    avcodec_flush_buffers(codec_);
    reframer_.Reset();
    held_.clear();
    windowPackets_ = windowDamaged_ = 0;
    windowGood_ = windowLost_ = 0;
    lastGarbage_ = false;
    swr_free(&resampler_);
    swrInRate_ = swrInChannels_ = 0;
    swrInFormat_ = -1;
}

}  // namespace vellumo::realmedia
