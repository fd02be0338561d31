#include "rm_demuxer.h"

#include "avio_bridge.h"
#include "file_tags.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstring>
#include <mutex>
#include <tuple>

namespace vellumo::realmedia {

namespace {

constexpr AVRational kHundredNs = {1, 10000000};
// A file whose headers give no length is read through once to measure it;
// past this many packets the measurement gives up.
constexpr int kMaxScanPackets = 4000000;

void QuietLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

}  // namespace

bool HasRealMediaSignature(const std::vector<uint8_t>& head)
{
    if (head.size() < 4) return false;
    return std::memcmp(head.data(), ".RMF", 4) == 0 || std::memcmp(head.data(), ".ra\xfd", 4) == 0;
}

RmDemuxer::RmDemuxer() = default;

RmDemuxer::~RmDemuxer()
{
    av_packet_free(&packet_);
    avformat_close_input(&format_);
}

bool RmDemuxer::Open(std::unique_ptr<ByteSource> source)
{
    QuietLibraries();
    if (format_ || !source) return false;
    const std::vector<uint8_t> signature = ReadHead(*source, 4);
    if (!HasRealMediaSignature(signature)) return false;
    bareRealAudio_ = signature[1] == 'r';
    source_ = std::move(source);
    const FileTags file = ReadFileTags(*source_);
    tags_ = file.tags;
    if (file.hasContent) source_ = HideChunk(std::move(source_), file.content);
    io_ = std::make_unique<AvioBridge>(*source_);
    packet_ = av_packet_alloc();
    if (!io_->Context() || !packet_) return false;

    AVFormatContext* ctx = avformat_alloc_context();
    if (!ctx) return false;
    ctx->pb = io_->Context();
    // Seeking reads forward from the start (see Seek), so libavformat's index
    // is never used: neither the file's index chunk nor an entry per packet
    // read, which would grow with the file's length.
    ctx->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_IGNIDX;
    const AVInputFormat* rm = av_find_input_format("rm");
    if (avformat_open_input(&ctx, "", rm, nullptr) < 0) return false;  // frees ctx
    format_ = ctx;
    dataStart_ = avio_tell(format_->pb);

    DescribeStreams();
    ChooseAudioStream();

    int64_t duration = 0;
    if (audioStream_ >= 0) {
        const AVStream* st = format_->streams[audioStream_];
        if (st->duration > 0) duration = av_rescale_q(st->duration, st->time_base, kHundredNs);
    }
    if (duration <= 0 && format_->duration > 0) duration = av_rescale(format_->duration, 10000000, AV_TIME_BASE);
    if (duration <= 0 && audioStream_ >= 0) duration = ScanDuration();
    duration_ = std::max<int64_t>(duration, 0);
    return true;
}

void RmDemuxer::DescribeStreams()
{
    streams_.clear();
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const AVCodecParameters* par = format_->streams[i]->codecpar;
        StreamInfo info;
        info.index = static_cast<int>(i);
        info.bitRate = par->bit_rate;
        info.fourcc = par->codec_tag;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
            info.kind = StreamKind::Audio;
            uint32_t ours = FourccForCodecId(par->codec_id);
            if (!IsDecodableFourcc(info.fourcc)) info.fourcc = ours;
            info.decodable = ours != 0 && avcodec_find_decoder(par->codec_id) != nullptr &&
                             par->sample_rate > 0 && par->ch_layout.nb_channels > 0;
            info.audio.fourcc = info.fourcc;
            info.audio.sampleRate = par->sample_rate;
            info.audio.channels = par->ch_layout.nb_channels;
            info.audio.blockAlign = par->block_align;
            info.audio.bitRate = par->bit_rate;
            if (par->extradata && par->extradata_size > 0) {
                info.audio.extradata.assign(par->extradata, par->extradata + par->extradata_size);
            }
        } else if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            info.kind = StreamKind::Video;
            info.width = par->width;
            info.height = par->height;
        }
        streams_.push_back(std::move(info));
    }
}

void RmDemuxer::ChooseAudioStream()
{
    audioStream_ = -1;
    for (const auto& s : streams_) {
        if (s.kind != StreamKind::Audio || !s.decodable) continue;
        if (audioStream_ < 0) {
            audioStream_ = s.index;
            continue;
        }
        const auto& best = streams_[static_cast<size_t>(audioStream_)];
        auto rank = [](const StreamInfo& x) {
            return std::make_tuple(x.audio.bitRate, x.audio.sampleRate, x.audio.channels);
        };
        if (rank(s) > rank(best)) audioStream_ = s.index;
    }
}

int64_t RmDemuxer::ScanDuration()
{
    // Some writers leave the length out of the headers and even stamp every
    // packet with 0: take the later of the last packet's end and the sum of
    // the packets' durations.
    const AVStream* st = format_->streams[audioStream_];
    int64_t lastEnd = 0, total = 0;
    for (int n = 0; n < kMaxScanPackets; ++n) {
        if (av_read_frame(format_, packet_) < 0) break;
        if (packet_->stream_index == audioStream_) {
            int64_t d = packet_->duration > 0 ? packet_->duration : 0;
            total += d;
            if (packet_->pts != AV_NOPTS_VALUE) lastEnd = std::max(lastEnd, packet_->pts + d);
        }
        av_packet_unref(packet_);
    }
    Rewind();
    int64_t measured = av_rescale_q(std::max(lastEnd, total), st->time_base, kHundredNs);
    // Where the packets' times fall short of what the bytes hold at the
    // stream's bitrate (old bare RealAudio files with damaged frames), the
    // bytes tell the length better.
    const int64_t bitRate = streams_[static_cast<size_t>(audioStream_)].audio.bitRate;
    const int64_t bytes = source_->Length() - dataStart_;
    if (bareRealAudio_ && bitRate > 0 && bytes > 0) measured = std::max(measured, av_rescale(bytes, 8 * 10000000LL, bitRate));
    return measured;
}

bool RmDemuxer::Rewind()
{
    hasPending_ = false;
    audioClock_ = 0;
    return av_seek_frame(format_, -1, dataStart_, AVSEEK_FLAG_BYTE) >= 0;
}

void RmDemuxer::Fill(MediaPacket& packet) const
{
    const AVStream* st = format_->streams[packet_->stream_index];
    packet.stream = packet_->stream_index;
    packet.data.assign(packet_->data, packet_->data + packet_->size);
    packet.start = packet_->pts != AV_NOPTS_VALUE ? av_rescale_q(packet_->pts, st->time_base, kHundredNs) : kNoTime;
    packet.duration = packet_->duration > 0 ? av_rescale_q(packet_->duration, st->time_base, kHundredNs) : 0;
    packet.keyframe = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
}

RmDemuxer::ReadStatus RmDemuxer::Read(MediaPacket& packet)
{
    if (!format_) return ReadStatus::Error;
    if (hasPending_) {
        packet = std::move(pending_);
        hasPending_ = false;
        return ReadStatus::Packet;
    }
    int r = av_read_frame(format_, packet_);
    if (r < 0) {
        if (io_->ReadFailed()) return ReadStatus::Error;
        return ReadStatus::End;
    }
    Fill(packet);
    av_packet_unref(packet_);
    if (packet.stream == audioStream_) {
        packet.start = packet.start != kNoTime ? std::max(packet.start, audioClock_) : audioClock_;
        audioClock_ = packet.start + packet.duration;
    }
    return ReadStatus::Packet;
}

bool RmDemuxer::Seek(int64_t time)
{
    if (!format_) return false;
    if (!Rewind()) return false;
    if (time <= 0) return true;
    MediaPacket p;
    for (;;) {
        auto status = Read(p);
        if (status == ReadStatus::End) return true;
        if (status == ReadStatus::Error) return false;
        if (audioStream_ >= 0 && p.stream != audioStream_) continue;
        if (p.start == kNoTime) continue;
        if (p.start + p.duration > time || (p.duration == 0 && p.start >= time)) {
            pending_ = std::move(p);
            hasPending_ = true;
            return true;
        }
    }
}

}  // namespace vellumo::realmedia
