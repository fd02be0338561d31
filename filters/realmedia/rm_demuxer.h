// RmDemuxer: a RealMedia file (.rm, .rmvb, .ra) opened with libavformat over
// a ByteSource: its streams, the audio stream to convert, its packets with
// timestamps, its duration, and seeking.
#pragma once

#include "byte_source.h"
#include "codec_setup.h"
#include "tag_parser.h"

#include <climits>
#include <cstdint>
#include <memory>
#include <vector>

struct AVFormatContext;
struct AVPacket;

namespace vellumo::realmedia {

class AvioBridge;

// Times are in 100-ns units; kNoTime marks a packet without a timestamp.
constexpr int64_t kNoTime = INT64_MIN;

enum class StreamKind { Audio, Video, Other };

struct StreamInfo {
    int index = 0;
    StreamKind kind = StreamKind::Other;
    uint32_t fourcc = 0;       // the codec's tag in the file, 0 when unknown
    bool decodable = false;    // audio the pack can decode
    AudioCodecSetup audio;     // audio streams only
    int width = 0, height = 0; // video streams only
    int64_t bitRate = 0;
};

struct MediaPacket {
    int stream = -1;
    std::vector<uint8_t> data;
    int64_t start = kNoTime;
    int64_t duration = 0;  // 0 when unknown
    bool keyframe = false;
};

// True when the bytes start like a RealMedia file or an old bare RealAudio file.
bool HasRealMediaSignature(const std::vector<uint8_t>& head);

class RmDemuxer {
public:
    RmDemuxer();
    ~RmDemuxer();
    RmDemuxer(const RmDemuxer&) = delete;
    RmDemuxer& operator=(const RmDemuxer&) = delete;

    // Opens a RealMedia file; takes the source. False when the bytes are not
    // RealMedia or its headers cannot be read.
    bool Open(std::unique_ptr<ByteSource> source);

    const std::vector<StreamInfo>& Streams() const { return streams_; }
    // Index (into Streams) of the audio stream worth converting: the decodable
    // one with the highest bitrate, then rate, then channels; -1 when none.
    int AudioStream() const { return audioStream_; }
    // Length of the presentation in 100-ns units, 0 when unknown.
    int64_t Duration() const { return duration_; }
    // Title, author, copyright and comment as the file's bytes.
    const RawTags& Tags() const { return tags_; }

    // The next packet. Audio packets of the chosen stream always carry a
    // start time that never goes backwards: where the file has none (or
    // stamps every packet alike) it is the end of the previous packet.
    enum class ReadStatus { Packet, End, Error };
    ReadStatus Read(MediaPacket& packet);

    // Repositions so that the next audio packet is the one that plays at
    // time (reading forward from the start, which keeps interleaved codecs'
    // packet order intact). Past the end, the next Read reports the end.
    bool Seek(int64_t time);

private:
    void DescribeStreams();
    void ChooseAudioStream();
    int64_t ScanDuration();
    bool Rewind();
    void Fill(MediaPacket& packet) const;

    std::unique_ptr<ByteSource> source_;
    std::unique_ptr<AvioBridge> io_;
    AVFormatContext* format_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::vector<StreamInfo> streams_;
    int audioStream_ = -1;
    int64_t duration_ = 0;
    RawTags tags_;
    int64_t dataStart_ = 0;
    int64_t audioClock_ = 0;
    bool bareRealAudio_ = false;  // ".ra\xfd", not an RMF container
    bool hasPending_ = false;
    MediaPacket pending_;
};

}  // namespace vellumo::realmedia
