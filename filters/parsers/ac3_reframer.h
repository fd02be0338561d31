// Ac3Reframer: the AC3 frames of RealAudio's 'dnet' stream, cut out of the
// bytes as the demuxer delivers them.
//
// 'dnet' stores AC3 with the bytes of each 16-bit word swapped, and the
// demuxer swaps them back packet by packet. Files that lose bytes in the
// middle throw every later frame off the word grid, so its words come out
// scrambled; the demuxer may even stop swapping part-way, or not swap the
// first packet after a seek (FFmpeg's AC3 parser takes the scrambled bytes
// for E-AC3, and the RealMedia demuxer only swaps while the stream is AC3).
// So frames are looked for in two views of
// the stream, as delivered and with its words swapped back, each in either
// byte order. A frame is taken when the next one follows right after it in
// the same layout or when its two CRCs hold; a frame cut in two where the
// delivery changed is joined again where its CRCs say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vellumo::realmedia {

class Ac3Reframer {
public:
    struct Frame {
        const uint8_t* data = nullptr;
        size_t size = 0;
    };

    void Append(const uint8_t* data, size_t size);
    // The next frame, in AC3's own byte order; its bytes stay valid until the
    // next call. lost: bytes passed over before it that belong to no frame.
    // final: the stream has ended, so the last frame need not be followed by
    // another and nothing is kept back.
    bool Next(bool final, Frame& frame, size_t& lost);
    void Reset();

    // How many frames the bytes lost before a frame held, each as long as the
    // last frame taken; what is left of a frame cut short counts as one.
    static size_t LostFrames(size_t lost, size_t lastFrameBytes);

private:
    enum class View { Delivered, Reswapped };
    struct Layout {
        View view;
        bool swapped;  // the frame's own words swapped within the view
        bool operator==(const Layout& o) const { return view == o.view && swapped == o.swapped; }
    };

    int ViewByte(View view, size_t i) const;
    int FrameByte(Layout l, size_t start, size_t k) const;
    bool SyncAt(Layout l, size_t start) const;
    size_t FrameBytes(Layout l, size_t start) const;
    // The frame's bytes: in place when the layout reads the buffer as it is,
    // else copied into scratch_.
    bool Take(Layout l, size_t start, size_t bytes, Frame& frame);
    bool Copy(Layout l, size_t start, size_t bytes, std::vector<uint8_t>& frame) const;
    bool JoinSplitFrame(Layout head, Layout tail, size_t start, size_t bytes, std::vector<uint8_t>& frame) const;
    void Consume(size_t end);
    void DropConsumed();

    std::vector<uint8_t> bytes_;  // starts at an even offset of the stream
    size_t consumed_ = 0;         // even; bytes_ before it are used, dropped later
    std::vector<uint8_t> scratch_;
    size_t front_ = 0;            // first byte not yet used (0 or 1 after a frame)
    size_t lost_ = 0;             // bytes already dropped since the last frame
    size_t scanFrom_ = 0;         // where looking on finds nothing decided before
    size_t checkBudget_ = 64 * 1920 * 2;  // CRC work left for places not followed by a frame
    Layout layout_ = {View::Delivered, false};
    bool haveFrame_ = false;      // layout_ is that of a frame taken
};

}  // namespace vellumo::realmedia
