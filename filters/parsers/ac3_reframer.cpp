#include "ac3_reframer.h"

#include <algorithm>
#include <array>

namespace vellumo::realmedia {

namespace {

// AC3 frame sizes in 16-bit words by frame size code / 2, for 48, 44.1 and 32 kHz.
constexpr uint16_t kAc3Words[3][19] = {
    {64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 640, 768, 896, 1024, 1152, 1280},
    {69, 87, 104, 121, 139, 174, 208, 243, 278, 348, 417, 487, 557, 696, 835, 975, 1114, 1253, 1393},
    {96, 120, 144, 168, 192, 240, 288, 336, 384, 480, 576, 672, 768, 960, 1152, 1344, 1536, 1728, 1920},
};
constexpr size_t kMaxFrameBytes = 1920 * 2;
// CRC work (in frame bytes) allowed for places that are not followed by a
// frame, per byte of the stream, and at most at once.
constexpr size_t kCheckBytesPerByte = 8;
constexpr size_t kMaxCheckBudget = 64 * kMaxFrameBytes;

// Products modulo the CRC's polynomial x^16 + x^15 + x^2 + 1 (bit i of a
// value is the factor of x^i); x^16 itself comes to x^15 + x^2 + 1.
constexpr uint16_t kCrcX16 = 0x8005;

// AC3's CRC: that polynomial, most significant bit first, starting from 0.
uint16_t Crc16(const uint8_t* p, size_t n)
{
    static const auto table = [] {
        std::array<uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            auto c = static_cast<uint16_t>(i << 8);
            for (int b = 0; b < 8; ++b) c = static_cast<uint16_t>((c << 1) ^ ((c & 0x8000) ? kCrcX16 : 0));
            t[i] = c;
        }
        return t;
    }();
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>((crc << 8) ^ table[(crc >> 8) ^ p[i]]);
    return crc;
}

// CRC1 covers the first 5/8 of the frame after the sync word; with it, the
// CRC over everything after the sync word comes to zero too.
bool CrcsHold(const uint8_t* frame, size_t n)
{
    const size_t first = ((n >> 2) + (n >> 4)) << 1;
    if (n < 8 || first > n) return false;
    return Crc16(frame + 2, first - 2) == 0 && Crc16(frame + 2, n - 2) == 0;
}

uint16_t CrcTimesX(uint16_t v)
{
    return static_cast<uint16_t>((v << 1) ^ ((v & 0x8000) ? kCrcX16 : 0));
}

uint16_t CrcTimesX8(uint16_t v)
{
    for (int i = 0; i < 8; ++i) v = CrcTimesX(v);
    return v;
}

uint16_t CrcTimesByte(uint16_t v, uint8_t b)
{
    uint16_t product = 0;
    for (int i = 0; i < 8; ++i, v = CrcTimesX(v)) {
        if (b & (1u << i)) product ^= v;
    }
    return product;
}

}  // namespace

size_t Ac3Reframer::LostFrames(size_t lost, size_t lastFrameBytes)
{
    if (lastFrameBytes == 0) return 0;
    return lost / lastFrameBytes + (lost % lastFrameBytes >= (lastFrameBytes + 1) / 2 ? 1 : 0);
}

void Ac3Reframer::Append(const uint8_t* data, size_t size)
{
    DropConsumed();
    if (!data || !size) return;
    bytes_.insert(bytes_.end(), data, data + size);
    checkBudget_ = std::min(kMaxCheckBudget, checkBudget_ + std::min(size, kMaxCheckBudget) * kCheckBytesPerByte);
}

void Ac3Reframer::Reset()
{
    bytes_.clear();
    consumed_ = front_ = lost_ = scanFrom_ = 0;
    checkBudget_ = kMaxCheckBudget;
    layout_ = {View::Delivered, false};
    haveFrame_ = false;
}

int Ac3Reframer::ViewByte(View view, size_t i) const
{
    // The buffer starts at an even offset, so its words are the pairs (2k, 2k+1).
    const size_t at = view == View::Reswapped ? (i ^ 1) : i;
    return at < bytes_.size() ? bytes_[at] : -1;
}

int Ac3Reframer::FrameByte(Layout l, size_t start, size_t k) const
{
    return ViewByte(l.view, start + (l.swapped ? (k ^ 1) : k));
}

bool Ac3Reframer::SyncAt(Layout l, size_t start) const
{
    return FrameByte(l, start, 0) == 0x0B && FrameByte(l, start, 1) == 0x77;
}

size_t Ac3Reframer::FrameBytes(Layout l, size_t start) const
{
    const int codes = FrameByte(l, start, 4), bsid = FrameByte(l, start, 5);
    if (codes < 0 || bsid < 0) return 0;
    const unsigned fscod = static_cast<unsigned>(codes) >> 6, frmsizecod = static_cast<unsigned>(codes) & 0x3f;
    if (fscod > 2 || frmsizecod > 37 || (bsid >> 3) > 10) return 0;  // bitstream ids above 10 are E-AC3
    size_t words = kAc3Words[fscod][frmsizecod / 2];
    if (fscod == 1) words += frmsizecod & 1;
    return words * 2;
}

bool Ac3Reframer::Take(Layout l, size_t start, size_t bytes, Frame& frame)
{
    // Both views read the stream as it is where a frame's own words are
    // swapped back within the reswapped view from an even index.
    const bool inPlace = (l.view == View::Delivered && !l.swapped) ||
                         (l.view == View::Reswapped && l.swapped && start % 2 == 0);
    if (inPlace) {
        if (start + bytes > bytes_.size()) return false;
        frame = {bytes_.data() + start, bytes};
        return true;
    }
    if (!Copy(l, start, bytes, scratch_)) return false;
    frame = {scratch_.data(), scratch_.size()};
    return true;
}

bool Ac3Reframer::Copy(Layout l, size_t start, size_t bytes, std::vector<uint8_t>& frame) const
{
    frame.resize(bytes);
    for (size_t k = 0; k < bytes; ++k) {
        const int b = FrameByte(l, start, k);
        if (b < 0) return false;
        frame[k] = static_cast<uint8_t>(b);
    }
    return true;
}

bool Ac3Reframer::JoinSplitFrame(Layout head, Layout tail, size_t start, size_t bytes,
                                 std::vector<uint8_t>& frame) const
{
    // From an even index, a layout reads the same as the other view in the
    // other byte order.
    if (head.swapped != tail.swapped && start % 2 == 0) {
        tail = {tail.view == View::Delivered ? View::Reswapped : View::Delivered, head.swapped};
    }
    std::vector<uint8_t> headBytes;
    if (head.swapped != tail.swapped || !Copy(head, start, bytes, headBytes) || !Copy(tail, start, bytes, frame)) {
        return false;
    }
    const size_t first = ((bytes >> 2) + (bytes >> 4)) << 1;
    if (bytes < 8 || first > bytes) return false;
    // The CRCs are linear in the bytes: taking byte k from the head instead
    // changes a CRC by (head[k] ^ tail[k]) times x^(16 + 8 * bytes after k).
    std::vector<uint16_t> weight(bytes);
    weight[bytes - 1] = kCrcX16;
    for (size_t k = bytes - 1; k > 2; --k) weight[k - 1] = CrcTimesX8(weight[k]);
    uint16_t crc1 = 0, crcAll = 0;
    for (size_t k = 2; k < bytes; ++k) {
        if (k < first) crc1 ^= CrcTimesByte(weight[k + bytes - first], frame[k]);
        crcAll ^= CrcTimesByte(weight[k], frame[k]);
    }
    // The delivery changes between two words of the stream, at an even
    // index: move the cut along, the bytes before it taken from the head.
    const size_t flip = head.swapped ? 1 : 0;
    for (size_t from = start, cut = (start | 1) + 1; cut < start + bytes; from = cut, cut += 2) {
        for (size_t at = from; at < cut; ++at) {
            const size_t k = (at - start) ^ flip;
            const uint8_t change = headBytes[k] ^ frame[k];
            if (k < 2 || change == 0) continue;
            if (k < first) crc1 ^= CrcTimesByte(weight[k + bytes - first], change);
            crcAll ^= CrcTimesByte(weight[k], change);
        }
        if (crc1 != 0 || crcAll != 0) continue;
        for (size_t at = start; at < cut; ++at) {
            const size_t k = (at - start) ^ flip;
            frame[k] = headBytes[k];
        }
        return CrcsHold(frame.data(), frame.size());
    }
    return false;
}

void Ac3Reframer::Consume(size_t end)
{
    // The bytes go on a later call (a frame handed out may still point at
    // them); the buffer keeps starting at an even offset of the stream.
    consumed_ = std::min(end & ~size_t{1}, bytes_.size());
    front_ = scanFrom_ = end;
}

void Ac3Reframer::DropConsumed()
{
    // Bytes are dropped once they are half the buffer, so that a large
    // packet of many frames is not moved along once per frame.
    if (consumed_ == 0 || consumed_ * 2 < bytes_.size()) return;
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(consumed_));
    front_ -= consumed_;
    scanFrom_ -= consumed_;
    consumed_ = 0;
}

bool Ac3Reframer::Next(bool final, Frame& frame, size_t& lost)
{
    DropConsumed();
    const Layout all[4] = {{View::Delivered, false}, {View::Delivered, true}, {View::Reswapped, false},
                           {View::Reswapped, true}};
    Layout order[4] = {layout_};  // the layout of the last frame first
    for (size_t n = 1, k = 0; k < 4; ++k) {
        if (!(all[k] == layout_)) order[n++] = all[k];
    }

    size_t i = std::max(front_, scanFrom_);
    bool wait = false;
    for (; i + 2 < bytes_.size(); ++i) {
        for (const Layout& l : order) {
            if (!SyncAt(l, i)) continue;
            if (FrameByte(l, i, 4) < 0 || FrameByte(l, i, 5) < 0) {
                wait = !final;
                continue;
            }
            const size_t bytes = FrameBytes(l, i);
            if (bytes == 0) continue;
            if (FrameByte(l, i, bytes - 2) < 0 || FrameByte(l, i, bytes - 1) < 0) {
                wait = !final;  // the frame is not all there yet
                continue;
            }
            // A frame counts when the next one starts right after it in the
            // same layout (or the stream ends there), or when its CRCs hold.
            // Until the next header is there, wait rather than check: each
            // place is checked once, and the checks of places that turn out
            // to be no frame are paid for by the bytes that come in, so that
            // bytes made of sync words cost linear time.
            const bool nextSeen = FrameByte(l, i + bytes, 0) >= 0 && FrameByte(l, i + bytes, 1) >= 0;
            if (!nextSeen && !final) {
                wait = true;
                continue;
            }
            const bool followed = nextSeen ? SyncAt(l, i + bytes) : final;
            if (!followed) {
                if (checkBudget_ < bytes) continue;
                checkBudget_ -= bytes;
            }
            if (!Take(l, i, bytes, frame) || (!followed && !CrcsHold(frame.data, frame.size))) continue;
            // Exactly one frame's bytes since the last frame, and the
            // delivery changed: that frame may be cut in two.
            const size_t gap = i - front_;
            if (haveFrame_ && lost_ == 0 && gap > 0 && !(l == layout_) && SyncAt(layout_, front_) &&
                FrameBytes(layout_, front_) == gap) {
                std::vector<uint8_t> joined;
                if (JoinSplitFrame(layout_, l, front_, gap, joined)) {
                    scratch_.swap(joined);
                    frame = {scratch_.data(), scratch_.size()};
                    lost = 0;
                    layout_ = l;
                    Consume(i);
                    return true;
                }
            }
            lost = lost_ + gap;
            lost_ = 0;
            layout_ = l;
            haveFrame_ = true;
            Consume(i + bytes);
            return true;
        }
        if (wait) break;
    }
    if (final) {
        Reset();
        return false;
    }
    // Drop what cannot start a frame, but keep a short gap after a frame
    // whole: it may hold a frame cut in two.
    scanFrom_ = i;
    if (!(haveFrame_ && lost_ == 0 && i - front_ <= kMaxFrameBytes)) {
        lost_ += i - front_;
        Consume(i);
    }
    return false;
}

}  // namespace vellumo::realmedia
