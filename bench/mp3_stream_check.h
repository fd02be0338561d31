// Checks of an MP3 stream from outside the encoder, shared by the parallel
// encoder's native test and the MP3 validity bench: a frame walker of its
// own (it does not use the encoder's frame parser), and decoding with native
// ffmpeg (strict checks) and mpg123, which must both say nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mp3check {

// The bitrate rule: CBR every frame (the Xing/Info frame too) at kbps;
// VBR (vbrMax > 0) every audio frame within vbrMin..vbrMax.
struct BitrateRule {
    int kbps = 0;
    int vbrMin = 0, vbrMax = 0;
};

struct Walk {
    size_t frames = 0;   // the Xing/Info frame included
    std::string fault;   // the first fault found; empty when the stream is sound
};

// Whole frames to the end, the bitrate rule, every main_data_begin within
// the audio frames before it (the first frame, Xing/Info, is no reservoir),
// no frame's main data overlapping the previous one's or reaching past its
// own frame, the CRC of protected frames, and the LAME tag's own CRC and
// music CRC (over every audio frame) when the first frame has the tag.
Walk WalkFrames(const uint8_t* f, size_t size, const BitrateRule& rule);

// The standard output of a shell command.
std::string Run(const std::string& cmd);
// The file quoted for the shell.
std::string Quote(const std::string& path);

struct Decoded {
    std::string ffmpeg;           // ffmpeg's complaints with -err_detect crccheck+bitstream+buffer
    std::string mpg123;           // mpg123 -t's complaints
    uint64_t frames = 0;          // decoded samples per channel (ffmpeg, its own channel count)
    int channels = 0;
    std::vector<int16_t> pcm;     // interleaved, when asked for
};
Decoded Decode(const std::string& mp3File, bool keepPcm);

}  // namespace mp3check
