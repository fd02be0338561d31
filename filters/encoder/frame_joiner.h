// Joining MP3 streams encoded apart into one valid stream.
//
// EncodedChunk holds one encoder's output, parsed into frames, and finds each
// frame's main data through main_data_begin in that stream's own bit
// reservoir. FrameJoiner re-emits frames one after the other with the same
// header and side information but a new main_data_begin: each frame's main
// data goes as early as the joined stream's reservoir allows (never past its
// own frame, never further back than the field holds or than LAME's decoder
// buffer bound of 1440 bytes with the frame allows), and the bytes left over
// are zeros. A frame fits when the joined stream offers at least the reservoir
// its own stream gave it: from there on every later frame of that stream fits
// too, so a stream switch is chosen where this holds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "mp3_frame.h"

namespace vellumo::filters::mp3 {

class EncodedChunk {
public:
    // Parses whole frames; false if the bytes are not a run of layer III
    // frames whose main data lie inside the stream. With leadingTag the first
    // frame is the Xing/Info frame (kept aside, see Tag).
    bool Parse(std::vector<uint8_t> bytes, bool leadingTag);
    size_t Count() const { return frames_.size(); }
    const FrameHeader& Header(size_t i) const { return frames_[i].h; }
    const uint8_t* Frame(size_t i) const { return bytes_.data() + frames_[i].offset; }
    unsigned Backstep(size_t i) const { return frames_[i].backstep; }
    size_t MainSize(size_t i) const { return frames_[i].mainSize; }
    // Frame i's main data (MainSize(i) bytes) copied into out.
    void MainData(size_t i, uint8_t* out) const;
    const std::vector<uint8_t>& Tag() const { return tag_; }

private:
    struct Entry {
        size_t offset;   // of the frame in bytes_
        FrameHeader h;
        size_t mdStart;  // of its data area in the stream's main data bytes
        unsigned backstep;
        size_t mainSize;
    };
    std::vector<uint8_t> bytes_;
    std::vector<Entry> frames_;
    std::vector<uint8_t> tag_;
};

class FrameJoiner {
public:
    // The Xing/Info frame's place: written as it is; no frame points back into it.
    void AddOpaque(const uint8_t* frame, size_t size);
    // Whether frame i of chunk could come next without a later frame of that
    // chunk ever lacking room.
    bool Fits(const EncodedChunk& chunk, size_t i) const;
    // Appends frame i of chunk; false (nothing changed) if its main data has no room.
    bool Add(const EncodedChunk& chunk, size_t i);
    // Moves the bytes that can no longer change to the end of out.
    void Take(std::vector<uint8_t>& out);
    // Everything, at the end of the stream.
    void Finish(std::vector<uint8_t>& out);

    uint64_t AudioFrames() const { return frames_; }
    uint64_t Bytes() const { return bytes_; }   // Xing/Info frame included
    uint16_t AudioCrc() const { return crc_; }  // of the audio frames' bytes taken so far
    // The Xing seek table: for each percent of the frames, the share of the bytes before it (of 256).
    std::array<uint8_t, 100> SeekTable() const;

private:
    struct Pending {
        size_t size;     // of the frame
        size_t data;     // offset of its data area within the frame
        uint64_t mdStart, mdSize;
    };
    void Release(uint64_t upTo);

    std::deque<uint8_t> pendingBytes_;  // frames not yet final
    std::deque<Pending> pending_;
    std::vector<uint8_t> ready_;        // final bytes not yet taken
    uint64_t mdTotal_ = 0;              // main data bytes of all frames so far
    uint64_t mainEnd_ = 0;              // end of the last frame's main data
    uint64_t frames_ = 0, bytes_ = 0, audioBytes_ = 0;
    uint16_t crc_ = 0;
    // Frame positions for the seek table, every `step_`-th frame, halved when full.
    std::vector<uint64_t> marks_;
    uint64_t step_ = 1, sinceMark_ = 0;
};

// The stream facts a Xing/Info frame with a LAME tag is rewritten with.
struct StreamFacts {
    uint32_t frames = 0;        // audio frames
    uint32_t bytes = 0;         // the whole stream, this frame included
    std::array<uint8_t, 100> toc{};
    int padding = 0;            // encoder padding (samples)
    uint16_t musicCrc = 0;      // of the audio frames
};
// Rewrites the frame's Xing/Info fields and LAME tag (and the tag's CRC);
// false, unchanged, if it is not such a frame.
bool RewriteLameTag(uint8_t* frame, size_t size, const StreamFacts& facts);

}  // namespace vellumo::filters::mp3
