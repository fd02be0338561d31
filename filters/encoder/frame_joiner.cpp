#include "frame_joiner.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vellumo::filters::mp3 {

namespace {

// LAME keeps a frame and the reservoir it points back at within 1440 bytes.
constexpr size_t kDecoderBuffer = 1440;
constexpr size_t kMarks = 400;

unsigned BackstepLimit(const FrameHeader& h, unsigned own)
{
    const size_t buffer = h.size < kDecoderBuffer ? kDecoderBuffer - h.size : 0;
    return std::max(own, static_cast<unsigned>(std::min<size_t>(h.MaxBackstep(), buffer)));
}

void PutBe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

}  // namespace

bool EncodedChunk::Parse(std::vector<uint8_t> bytes, bool leadingTag)
{
    bytes_ = std::move(bytes);
    frames_.clear();
    tag_.clear();
    size_t at = 0, md = 0;
    while (at < bytes_.size()) {
        FrameHeader h;
        if (!ParseHeader(bytes_.data() + at, bytes_.size() - at, h) || h.size > bytes_.size() - at) return false;
        if (leadingTag && at == 0) {
            tag_.assign(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(h.size));
            at += h.size;
            continue;
        }
        const uint8_t* f = bytes_.data() + at;
        const unsigned back = MainDataBegin(f, h);
        const size_t main = MainDataBytes(f, h);
        if (back > md || md - back + main > md + h.DataSize()) return false;
        frames_.push_back({at, h, md, back, main});
        md += h.DataSize();
        at += h.size;
    }
    return true;
}

void EncodedChunk::MainData(size_t i, uint8_t* out) const
{
    size_t pos = frames_[i].mdStart - frames_[i].backstep, left = frames_[i].mainSize;
    size_t e = i;
    while (frames_[e].mdStart > pos) --e;  // the frame whose data area holds pos
    for (; left > 0; ++e) {
        const Entry& f = frames_[e];
        const size_t from = pos - f.mdStart, n = std::min(left, f.h.DataSize() - from);
        std::memcpy(out, bytes_.data() + f.offset + f.h.DataStart() + from, n);
        out += n;
        pos += n;
        left -= n;
    }
}

void FrameJoiner::AddOpaque(const uint8_t* frame, size_t size)
{
    Release(mdTotal_);
    ready_.insert(ready_.end(), frame, frame + size);
    bytes_ += size;
    mainEnd_ = mdTotal_;
}

bool FrameJoiner::Fits(const EncodedChunk& chunk, size_t i) const
{
    const unsigned own = chunk.Backstep(i);
    const uint64_t start = std::max(mainEnd_, mdTotal_ - std::min<uint64_t>(mdTotal_, BackstepLimit(chunk.Header(i), own)));
    return mdTotal_ - start >= own;
}

bool FrameJoiner::Add(const EncodedChunk& chunk, size_t i)
{
    const FrameHeader& h = chunk.Header(i);
    const size_t main = chunk.MainSize(i);
    const uint64_t start = std::max(mainEnd_, mdTotal_ - std::min<uint64_t>(mdTotal_, BackstepLimit(h, chunk.Backstep(i))));
    if (start + main > mdTotal_ + h.DataSize()) return false;

    // The frame with its new back pointer, its data area zeroed.
    std::vector<uint8_t> frame(chunk.Frame(i), chunk.Frame(i) + h.DataStart());
    frame.resize(h.size, 0);
    SetMainDataBegin(frame.data(), h, static_cast<unsigned>(mdTotal_ - start));
    WriteFrameCrc(frame.data(), h);
    pendingBytes_.insert(pendingBytes_.end(), frame.begin(), frame.end());
    pending_.push_back({h.size, h.DataStart(), mdTotal_, h.DataSize()});
    mdTotal_ += h.DataSize();

    // Its main data over the data areas of the pending frames from start on.
    std::vector<uint8_t> data(main);
    if (main) chunk.MainData(i, data.data());
    size_t base = 0, done = 0;
    for (const Pending& p : pending_) {
        const uint64_t from = std::max(start + done, p.mdStart), to = std::min(start + main, p.mdStart + p.mdSize);
        if (from < to) {
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(done), to - from,
                        pendingBytes_.begin() + static_cast<std::ptrdiff_t>(base + p.data + (from - p.mdStart)));
            done += static_cast<size_t>(to - from);
        }
        base += p.size;
    }
    mainEnd_ = start + main;
    ++frames_;
    bytes_ += h.size;

    if (++sinceMark_ == step_) {
        marks_.push_back(audioBytes_ + pendingBytes_.size() - h.size);
        sinceMark_ = 0;
        if (marks_.size() == kMarks) {
            for (size_t k = 0; k < kMarks / 2; ++k) marks_[k] = marks_[2 * k + 1];
            marks_.resize(kMarks / 2);
            step_ *= 2;
        }
    }
    // No later frame reaches back before the end of this main data or than
    // the field holds.
    Release(std::max(mainEnd_, mdTotal_ - std::min<uint64_t>(mdTotal_, 511)));
    return true;
}

void FrameJoiner::Release(uint64_t upTo)
{
    while (!pending_.empty() && pending_.front().mdStart + pending_.front().mdSize <= upTo) {
        const size_t n = pending_.front().size;
        const size_t at = ready_.size();
        ready_.insert(ready_.end(), pendingBytes_.begin(), pendingBytes_.begin() + static_cast<std::ptrdiff_t>(n));
        crc_ = TagCrc(ready_.data() + at, n, crc_);
        pendingBytes_.erase(pendingBytes_.begin(), pendingBytes_.begin() + static_cast<std::ptrdiff_t>(n));
        pending_.pop_front();
        audioBytes_ += n;
    }
}

void FrameJoiner::Take(std::vector<uint8_t>& out)
{
    out.insert(out.end(), ready_.begin(), ready_.end());
    ready_.clear();
}

void FrameJoiner::Finish(std::vector<uint8_t>& out)
{
    Release(~uint64_t{0});
    Take(out);
}

std::array<uint8_t, 100> FrameJoiner::SeekTable() const
{
    std::array<uint8_t, 100> toc{};
    const uint64_t total = audioBytes_ + pendingBytes_.size();
    if (marks_.empty() || total == 0) return toc;
    const uint64_t head = bytes_ - total;  // the Xing/Info frame before the audio
    for (size_t i = 1; i < toc.size(); ++i) {
        const size_t k = std::min(marks_.size() - 1, i * marks_.size() / 100);
        toc[i] = static_cast<uint8_t>(std::min<uint64_t>(255, 256 * (head + marks_[k]) / bytes_));
    }
    return toc;
}

bool RewriteLameTag(uint8_t* frame, size_t size, const StreamFacts& facts)
{
    FrameHeader h;
    if (!ParseHeader(frame, size, h) || h.size != size) return false;
    // LAME puts the tag right after the side information, where it would be
    // without a CRC.
    uint8_t* x = frame + 4 + h.sideInfo;
    const size_t tagEnd = 4 + h.sideInfo + 156;
    if (tagEnd > size || (std::memcmp(x, "Xing", 4) != 0 && std::memcmp(x, "Info", 4) != 0) || x[7] != 0x0F ||
        std::memcmp(x + 120, "LAME", 4) != 0)
        return false;
    PutBe32(x + 8, facts.frames);
    PutBe32(x + 12, facts.bytes);
    std::memcpy(x + 16, facts.toc.data(), facts.toc.size());
    const unsigned delay = (x[141] << 4) | (x[142] >> 4);
    const unsigned pad = static_cast<unsigned>(std::clamp(facts.padding, 0, 0xFFF));
    x[141] = static_cast<uint8_t>(delay >> 4);
    x[142] = static_cast<uint8_t>(((delay & 0xF) << 4) | (pad >> 8));
    x[143] = static_cast<uint8_t>(pad);
    PutBe32(x + 148, facts.bytes);
    x[152] = static_cast<uint8_t>(facts.musicCrc >> 8);
    x[153] = static_cast<uint8_t>(facts.musicCrc);
    const uint16_t crc = TagCrc(frame, tagEnd - 2);
    x[154] = static_cast<uint8_t>(crc >> 8);
    x[155] = static_cast<uint8_t>(crc);
    return true;
}

}  // namespace vellumo::filters::mp3
