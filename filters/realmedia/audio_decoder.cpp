#include "audio_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <cstring>

namespace vellumo::realmedia {

AudioDecoder::AudioDecoder() = default;

AudioDecoder::~AudioDecoder()
{
    swr_free(&resampler_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&codec_);
}

bool AudioDecoder::Open(const AudioCodecSetup& setup)
{
    if (codec_) return false;
    auto id = static_cast<AVCodecID>(CodecIdForFourcc(setup.fourcc));
    const AVCodec* decoder = id != AV_CODEC_ID_NONE ? avcodec_find_decoder(id) : nullptr;
    if (!decoder || setup.sampleRate <= 0 || setup.channels <= 0 || setup.channels > 8) return false;

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
    reframeAc3_ = id == AV_CODEC_ID_AC3 && setup.fourcc == MakeFourcc('d', 'n', 'e', 't');
    return true;
}

size_t AudioDecoder::Convert(const AVFrame* frame, std::vector<int16_t>& out)
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
    size_t before = out.size();
    out.resize(before + static_cast<size_t>(capacity) * static_cast<size_t>(channels_));
    uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(out.data() + before)};
    int n = swr_convert(resampler_, dst, capacity, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (n < 0) n = 0;
    out.resize(before + static_cast<size_t>(n) * static_cast<size_t>(channels_));
    return static_cast<size_t>(n);
}

size_t AudioDecoder::ReceiveFrames(std::vector<int16_t>& out, bool& failed)
{
    size_t frames = 0;
    for (;;) {
        int r = avcodec_receive_frame(codec_, frame_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) {
            failed = true;
            break;
        }
        frames += Convert(frame_, out);
        av_frame_unref(frame_);
    }
    return frames;
}

namespace {

// AC3 frame sizes in 16-bit words by frame size code / 2, for 48, 44.1 and 32 kHz.
constexpr uint16_t kAc3Words[3][19] = {
    {64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 640, 768, 896, 1024, 1152, 1280},
    {69, 87, 104, 121, 139, 174, 208, 243, 278, 348, 417, 487, 557, 696, 835, 975, 1114, 1253, 1393},
    {96, 120, 144, 168, 192, 240, 288, 336, 384, 480, 576, 672, 768, 960, 1152, 1344, 1536, 1728, 1920},
};

// 1: an AC3 frame starts at `at` with its words swapped (the file's order),
// 2: with its bytes in AC3's own order, 0: none.
int SyncAt(const std::vector<uint8_t>& s, size_t at)
{
    if (at + 1 >= s.size()) return 0;
    if (s[at] == 0x77 && s[at + 1] == 0x0B) return 1;
    if (s[at] == 0x0B && s[at + 1] == 0x77) return 2;
    return 0;
}

}  // namespace

size_t AudioDecoder::Ac3FrameBytes(size_t at, bool swapped) const
{
    if (at + 6 > swapped_.size()) return 0;
    const uint8_t codes = swapped_[at + (swapped ? 5 : 4)];  // fscod and frmsizecod
    const unsigned fscod = codes >> 6, frmsizecod = codes & 0x3f;
    if (fscod > 2 || frmsizecod > 37) return 0;
    size_t words = kAc3Words[fscod][frmsizecod / 2];
    if (fscod == 1) words += frmsizecod & 1;
    return words * 2;
}

bool AudioDecoder::NextAc3Frame(bool final)
{
    size_t at = 0;
    for (;;) {
        while (at + 1 < swapped_.size() && !SyncAt(swapped_, at)) {
            ++at;
            ++skipped_;
        }
        if (at + 6 > swapped_.size()) break;
        const int order = SyncAt(swapped_, at);
        const size_t bytes = Ac3FrameBytes(at, order == 1);
        if (bytes == 0) {
            ++at;
            ++skipped_;
            continue;
        }
        if (at + bytes > swapped_.size()) break;
        // A frame counts when the next one starts right after it (or the stream ends there).
        if (at + bytes + 2 > swapped_.size() && !final) break;
        if (at + bytes + 2 <= swapped_.size() && SyncAt(swapped_, at + bytes) != order) {
            ++at;
            ++skipped_;
            continue;
        }
        ac3Frame_.resize(bytes);
        for (size_t i = 0; i + 1 < bytes; i += 2) {
            ac3Frame_[i] = swapped_[at + i + (order == 1 ? 1 : 0)];
            ac3Frame_[i + 1] = swapped_[at + i + (order == 1 ? 0 : 1)];
        }
        swapped_.erase(swapped_.begin(), swapped_.begin() + static_cast<std::ptrdiff_t>(at + bytes));
        lastAc3Bytes_ = bytes;
        return true;
    }
    // Keep what may still start a frame.
    if (at > 0) swapped_.erase(swapped_.begin(), swapped_.begin() + static_cast<std::ptrdiff_t>(at));
    if (final) swapped_.clear();
    return false;
}

size_t AudioDecoder::Decode(const uint8_t* data, size_t size, std::vector<int16_t>& out)
{
    if (!codec_ || !data || size == 0) return 0;
    if (!reframeAc3_) return DecodePacket(data, size, out);
    // The demuxer swapped the words of the stream; swap them back to the
    // file's order (words may straddle packets), then cut frames where their
    // sync words are.
    for (size_t i = 0; i < size; ++i) {
        if (hasCarry_) {
            swapped_.push_back(data[i]);
            swapped_.push_back(carry_);
        } else {
            carry_ = data[i];
        }
        hasCarry_ = !hasCarry_;
    }
    return DecodeAc3Frames(false, out);
}

size_t AudioDecoder::DecodeAc3Frames(bool final, std::vector<int16_t>& out)
{
    size_t frames = 0;
    while (NextAc3Frame(final)) {
        // Bytes lost before this frame sound as silence of the frames they held.
        while (lastAc3Bytes_ > 0 && skipped_ >= lastAc3Bytes_ && lastFrames_ > 0) {
            out.insert(out.end(), lastFrames_ * static_cast<size_t>(channels_), int16_t{0});
            frames += lastFrames_;
            skipped_ -= lastAc3Bytes_;
            ++damaged_;
        }
        skipped_ = 0;
        frames += DecodePacket(ac3Frame_.data(), ac3Frame_.size(), out);
    }
    return frames;
}

size_t AudioDecoder::DecodePacket(const uint8_t* data, size_t size, std::vector<int16_t>& out)
{
    if (av_new_packet(packet_, static_cast<int>(size)) < 0) return 0;
    std::memcpy(packet_->data, data, size);
    bool failed = avcodec_send_packet(codec_, packet_) < 0;
    av_packet_unref(packet_);
    size_t frames = failed ? 0 : ReceiveFrames(out, failed);
    if (failed && frames == 0) {
        ++damaged_;
        if (lastFrames_ > 0) {
            out.insert(out.end(), lastFrames_ * static_cast<size_t>(channels_), int16_t{0});
            return lastFrames_;
        }
        return 0;
    }
    if (frames > 0) lastFrames_ = frames;
    return frames;
}

size_t AudioDecoder::Drain(std::vector<int16_t>& out)
{
    if (!codec_) return 0;
    size_t frames = 0;
    if (reframeAc3_) {
        if (hasCarry_) swapped_.push_back(carry_);
        hasCarry_ = false;
        frames += DecodeAc3Frames(true, out);
    }
    bool failed = false;
    if (avcodec_send_packet(codec_, nullptr) >= 0) frames = ReceiveFrames(out, failed);
    if (resampler_) {
        // Samples the resampler still holds.
        int pending = swr_get_out_samples(resampler_, 0);
        if (pending > 0) {
            size_t before = out.size();
            out.resize(before + static_cast<size_t>(pending) * static_cast<size_t>(channels_));
            uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(out.data() + before)};
            int n = swr_convert(resampler_, dst, pending, nullptr, 0);
            if (n < 0) n = 0;
            out.resize(before + static_cast<size_t>(n) * static_cast<size_t>(channels_));
            frames += static_cast<size_t>(n);
        }
    }
    Reset();
    return frames;
}

void AudioDecoder::Reset()
{
    if (!codec_) return;
    avcodec_flush_buffers(codec_);
    swapped_.clear();
    hasCarry_ = false;
    skipped_ = 0;
    swr_free(&resampler_);
    swrInRate_ = swrInChannels_ = 0;
    swrInFormat_ = -1;
}

}  // namespace vellumo::realmedia
