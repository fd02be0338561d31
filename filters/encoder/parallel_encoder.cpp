#include "parallel_encoder.h"

#include <lame/lame.h>

#include <algorithm>
#include <numeric>

namespace vellumo::filters::mp3 {

namespace {

// Past this many contexts the decoder feeding them and the join bound the speed.
constexpr unsigned kMaxInstances = 8;
// PCM frames a context is given at a time (between looks at Cancel).
constexpr size_t kSlice = 8 * 1152;
// A chunk's input, overlaps included, stays within kChunkPcmBytes however
// many input samples an output frame takes (a 352.8 kHz source encoded at
// 44.1 kHz takes eight times a 44.1 kHz one's), and the chunks in flight
// within kInFlightPcmBytes: flat in a 32-bit process's address space,
// whatever the stream's length, its rates and the number of cores.
// 44.1 kHz stereo keeps its 1024-frame chunks and two chunks per context.
constexpr int64_t kChunkPcmBytes = 5 << 20;
constexpr int64_t kInFlightPcmBytes = 16 * kChunkPcmBytes;

// Opening and closing contexts one at a time: LAME fills shared tables then.
std::mutex& OpenLock()
{
    static std::mutex lock;
    return lock;
}

int RoundUp(int value, int step) { return (value + step - 1) / step * step; }

// LAME's worst case for the MP3 of `frames` input frames: 1.25 bytes per
// output sample and 7200 more, counted at the output rate (an 8 kHz source
// encoded at 44.1 kHz makes five and a half times its samples).
size_t BufferFor(int frames, int64_t inRate, int64_t outRate)
{
    inRate = std::max<int64_t>(inRate, 1);
    const int64_t out = (int64_t{frames} * outRate + inRate - 1) / inRate;
    return static_cast<size_t>(out + out / 4 + 7200);
}

}  // namespace

ParallelEncoder::ParallelEncoder(OpenFn open, unsigned instances, Layout layout)
    : open_(std::move(open)), instances_(std::max(1u, instances)), layout_(layout)
{
}

ParallelEncoder::~ParallelEncoder()
{
    Cancel();
    StopWorkers();
    if (primary_) {
        std::lock_guard<std::mutex> hold(OpenLock());
        lame_close(primary_);
    }
}

unsigned ParallelEncoder::DefaultInstances()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 1u, kMaxInstances);
}

bool ParallelEncoder::Start()
{
    {
        std::lock_guard<std::mutex> hold(OpenLock());
        primary_ = open_(true);
    }
    if (!primary_) return false;
    channels_ = lame_get_num_channels(primary_);
    frameSamples_ = lame_get_framesize(primary_);
    inRate_ = lame_get_in_samplerate(primary_);
    outRate_ = lame_get_out_samplerate(primary_);
    // Chunks start on frames that begin at a whole input sample.
    const int64_t step = outRate_ / std::gcd(int64_t{frameSamples_} * inRate_, outRate_);
    if (instances_ < 2) {
        singleReason_ = "one instance";
    } else if (step > 8 || inRate_ <= 0) {
        singleReason_ = "the input and output rates meet on a frame boundary too rarely";
    } else {
        const int s = step_ = static_cast<int>(step);
        layout_.chunk = RoundUp(std::max(layout_.chunk, 4 * (layout_.prime + layout_.window)), s);
        layout_.longChunk = RoundUp(std::max(layout_.longChunk, layout_.chunk), s);
        layout_.prime = RoundUp(std::max(layout_.prime, 1), s);
        layout_.lookahead = RoundUp(layout_.window + std::max(layout_.lookahead, 1), s) - layout_.window;
        const int overlap = layout_.prime + layout_.window + layout_.lookahead;
        const int64_t fit = OutFrames(kChunkPcmBytes / (2 * channels_)) - overlap;
        const int least = RoundUp(4 * (layout_.prime + layout_.window), s);
        const int cap = static_cast<int>(std::max<int64_t>(least, std::min<int64_t>(fit, layout_.longChunk) / s * s));
        layout_.chunk = std::min(layout_.chunk, cap);
        layout_.longChunk = std::min(layout_.longChunk, cap);
        const int64_t chunkBytes = InSample(layout_.longChunk + overlap) * 2 * channels_;
        maxInFlight_ = static_cast<size_t>(std::clamp<int64_t>(kInFlightPcmBytes / std::max<int64_t>(chunkBytes, 1), 2, 2 * int64_t{instances_}));
    }
    return true;
}

void ParallelEncoder::Cancel()
{
    cancel_ = true;
    std::lock_guard<std::mutex> hold(lock_);
    done_.notify_all();
}

double ParallelEncoder::OverlapPercent() const
{
    return inputTotal_ > 0 && parallel_ ? 100.0 * static_cast<double>(encodedTotal_ - inputTotal_) / static_cast<double>(inputTotal_) : 0.0;
}

bool ParallelEncoder::EncodeSingle(const int16_t* pcm, size_t frames, std::vector<uint8_t>& out)
{
    for (size_t done = 0; done < frames;) {
        const int n = static_cast<int>(std::min(frames - done, kSlice));
        const size_t at = out.size();
        out.resize(at + BufferFor(n, inRate_, outRate_));
        const int size = channels_ == 2
                             ? lame_encode_buffer_interleaved(primary_, const_cast<short*>(pcm + done * 2), n,
                                                              out.data() + at, static_cast<int>(out.size() - at))
                             : lame_encode_buffer(primary_, pcm + done, nullptr, n, out.data() + at,
                                                  static_cast<int>(out.size() - at));
        out.resize(at + static_cast<size_t>(std::max(size, 0)));
        if (size < 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ParallelEncoder::Encode(const int16_t* pcm, size_t frames, std::vector<uint8_t>& out)
{
    if (cancel_ || failed_ || finished_ || !primary_) return false;
    if (*singleReason_) return EncodeSingle(pcm, frames, out);
    buffer_.insert(buffer_.end(), pcm, pcm + frames * static_cast<size_t>(channels_));
    inputTotal_ += static_cast<int64_t>(frames);
    if (!parallel_) {
        // Cut only a stream long enough for a second chunk worth its overlap.
        if (inputTotal_ < InSample(EncodedPast(layout_.chunk) + layout_.chunk / 2)) return true;
        if (!GoParallel()) return false;
    }
    return SubmitReady(false, out) && JoinDone(false, false, out);
}

bool ParallelEncoder::GoParallel()
{
    parallel_ = true;
    try {
        for (unsigned i = 0; i < instances_; ++i) workers_.emplace_back([this] { Work(); });
    } catch (...) {
        failed_ = true;
        return false;
    }
    return true;
}

bool ParallelEncoder::SubmitReady(bool last, std::vector<uint8_t>& out)
{
    int pieces = 1;
    int64_t piece = 0;
    if (last) {
        // The rest is cut into up to one piece per context (each at least
        // half a first chunk), so that the contexts also share the last of
        // the work. Nothing is left when the chunk before reached the end.
        if (submitted_ > 0 && InSample(EncodedPast(nextKept_)) >= inputTotal_) return true;
        const int64_t least = RoundUp(std::max(layout_.chunk / 2, 4 * (layout_.prime + layout_.window)), step_);
        const int64_t rest = OutFrames(inputTotal_ - InSample(nextKept_));
        pieces = static_cast<int>(std::clamp<int64_t>(rest / least, 1, instances_));
        piece = rest / pieces / step_ * step_;
    }
    for (;;) {
        const int k = submitted_;
        const bool final = last && pieces == 1;
        const int64_t first = k == 0 ? 0 : nextKept_ - layout_.prime;
        const int64_t keptUntil = nextKept_ + (last ? piece : k < 2 ? layout_.chunk : layout_.longChunk);
        const int64_t from = InSample(first), to = final ? inputTotal_ : InSample(EncodedPast(keptUntil));
        if (!last && inputTotal_ < to) return true;
        auto job = std::make_unique<Job>();
        job->index = k;
        job->firstFrame = first;
        job->nextFirst = final ? -1 : keptUntil - layout_.prime;
        const auto channels = static_cast<size_t>(channels_);
        // The buffer starts where the chunk does: it becomes the chunk's
        // input, and the next chunk's buffer starts with this one's overlap.
        const int64_t keep = final ? inputTotal_ : InSample(job->nextFirst);
        std::vector<int16_t> next;
        if (!last) next.reserve(static_cast<size_t>(InSample(EncodedPast(keptUntil + layout_.longChunk)) - keep + kSlice) * channels);
        next.assign(buffer_.begin() + static_cast<std::ptrdiff_t>((keep - bufferStart_) * channels_), buffer_.end());
        buffer_.resize(static_cast<size_t>(to - from) * channels);
        job->pcm = std::move(buffer_);
        buffer_ = std::move(next);
        encodedTotal_ += to - from;
        bufferStart_ = keep;
        if (k > 0) joins_.push_back(nextKept_);
        nextKept_ = keptUntil;
        {
            std::lock_guard<std::mutex> hold(lock_);
            jobs_.push_back(std::move(job));
            work_.notify_one();
        }
        ++submitted_;
        if (final) return true;
        if (last) {
            --pieces;
            continue;
        }
        // A bounded number of chunks in flight, whatever the stream's length.
        while (JobsInFlight() > maxInFlight_) {
            if (!JoinDone(true, false, out)) return false;
        }
    }
}

size_t ParallelEncoder::JobsInFlight() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return jobs_.size();
}

bool ParallelEncoder::JoinDone(bool wait, bool last, std::vector<uint8_t>& out)
{
    for (;;) {
        std::unique_ptr<Job> job;
        {
            std::unique_lock<std::mutex> hold(lock_);
            if (wait) done_.wait(hold, [&] { return cancel_ || failed_ || jobs_.empty() || jobs_.front()->done; });
            if (cancel_ || failed_) return false;
            if (jobs_.empty() || !jobs_.front()->done) return true;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            --nextToRun_;
        }
        const bool final = last && JobsInFlight() == 0;
        if (!Join(*job, final, out) || (deliver_ && !out.empty() && !(*deliver_)(out))) {
            failed_ = true;
            return false;
        }
        if (deliver_) out.clear();
        wait = last;
    }
}

bool ParallelEncoder::Join(Job& job, bool last, std::vector<uint8_t>& out)
{
    auto chunk = std::make_unique<EncodedChunk>();
    // LAME leaves the Xing/Info frame out when it would not fit the frame.
    if (!job.ok || !chunk->Parse(std::move(job.mp3), job.index == 0 && !job.tag.empty())) return false;
    int64_t from = job.firstFrame;
    if (job.index == 0) {
        // The Xing/Info frame's place (zeros for now), and the frame LAME
        // made for the first chunk, rewritten for the whole stream at the end.
        if (!chunk->Tag().empty()) joiner_.AddOpaque(chunk->Tag().data(), chunk->Tag().size());
        tag_ = std::move(job.tag);
        if (tag_.size() != chunk->Tag().size()) tag_.clear();
    } else {
        from = Switch(*chunk, job.firstFrame);
        if (from < 0) return false;
    }
    const int64_t count = static_cast<int64_t>(chunk->Count());
    const int64_t until = last || job.nextFirst < 0 ? job.firstFrame + count : job.nextFirst;
    if (until > job.firstFrame + count) return false;
    for (int64_t f = from; f < until; ++f) {
        if (!joiner_.Add(*chunk, static_cast<size_t>(f - job.firstFrame))) return false;
    }
    joinedUpTo_ = until;
    lastPadding_ = job.padding;
    previous_ = std::move(chunk);
    previousFirst_ = job.firstFrame;
    joiner_.Take(out);
    return true;
}

int64_t ParallelEncoder::Switch(const EncodedChunk& next, int64_t nextFirst)
{
    // Where both contexts have settled first, then earlier in the next one's
    // priming, down to its first frame (which always fits: it points back at nothing).
    const int64_t kept = nextFirst + layout_.prime;
    std::vector<int64_t> candidates;
    for (int64_t j = kept; j <= kept + layout_.window; ++j) candidates.push_back(j);
    for (int64_t j = kept - 1; j >= nextFirst; --j) candidates.push_back(j);
    const int64_t prevCount = static_cast<int64_t>(previous_->Count());
    for (const int64_t j : candidates) {
        if (j - previousFirst_ > prevCount || j - nextFirst >= static_cast<int64_t>(next.Count())) continue;
        FrameJoiner trial = joiner_;
        bool ok = true;
        for (int64_t f = joinedUpTo_; ok && f < j; ++f) ok = trial.Add(*previous_, static_cast<size_t>(f - previousFirst_));
        if (!ok || !trial.Fits(next, static_cast<size_t>(j - nextFirst))) continue;
        joiner_ = std::move(trial);
        ++switches_[j >= kept ? 0 : 1];
        return j;
    }
    return -1;
}

bool ParallelEncoder::Finish(std::vector<uint8_t>& out, std::vector<uint8_t>& tagFrame, const DeliverFn& deliver)
{
    tagFrame.clear();
    if (cancel_ || failed_ || finished_ || !primary_) return false;
    finished_ = true;
    if (!parallel_) {
        if (!EncodeSingle(buffer_.data(), buffer_.size() / static_cast<size_t>(channels_), out)) return false;
        buffer_.clear();
        const size_t at = out.size();
        out.resize(at + 16 * 1024);
        const int size = lame_encode_flush(primary_, out.data() + at, 16 * 1024);
        out.resize(at + static_cast<size_t>(std::max(size, 0)));
        if (size < 0) return false;
        tagFrame.resize(2880);
        const size_t n = lame_get_lametag_frame(primary_, tagFrame.data(), tagFrame.size());
        tagFrame.resize(n <= tagFrame.size() ? n : 0);
        return true;
    }
    const int before = submitted_;
    deliver_ = deliver ? &deliver : nullptr;
    const bool joined = SubmitReady(true, out) && JoinDone(true, true, out);
    deliver_ = nullptr;
    if (!joined) return false;
    if (submitted_ == before) {
        // The last chunk was joined before the end was known: the rest of its frames.
        for (int64_t f = joinedUpTo_; f < previousFirst_ + static_cast<int64_t>(previous_->Count()); ++f) {
            if (!joiner_.Add(*previous_, static_cast<size_t>(f - previousFirst_))) return false;
        }
    }
    joiner_.Finish(out);
    StopWorkers();
    if (tag_.empty()) return true;
    StreamFacts facts;
    // The tag's counts are 32-bit: a stream past 4 GiB (some 30 hours at
    // 320 kbit/s) says the most they hold rather than a wrapped-round size.
    facts.frames = static_cast<uint32_t>(std::min<uint64_t>(joiner_.AudioFrames(), UINT32_MAX));
    facts.bytes = static_cast<uint32_t>(std::min<uint64_t>(joiner_.Bytes(), UINT32_MAX));
    facts.toc = joiner_.SeekTable();
    facts.padding = lastPadding_;
    facts.musicCrc = joiner_.AudioCrc();
    tagFrame = tag_;
    if (!RewriteLameTag(tagFrame.data(), tagFrame.size(), facts)) tagFrame.clear();
    return true;
}

void ParallelEncoder::Work()
{
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        work_.wait(hold, [&] { return quit_ || nextToRun_ < jobs_.size(); });
        if (quit_) return;
        Job& job = *jobs_[nextToRun_++];
        hold.unlock();
        const bool ok = Run(job);
        hold.lock();
        job.ok = ok;
        job.done = true;
        if (!ok) failed_ = true;
        done_.notify_all();
    }
}

bool ParallelEncoder::Run(Job& job) const
{
    lame_global_flags* gf = primary_;
    if (job.index != 0) {
        std::lock_guard<std::mutex> hold(OpenLock());
        gf = open_(false);
    }
    if (!gf) return false;
    const size_t frames = job.pcm.size() / static_cast<size_t>(channels_);
    bool ok = true;
    for (size_t done = 0; ok && done < frames; done += kSlice) {
        if (cancel_) ok = false;
        const int n = static_cast<int>(std::min(frames - done, kSlice));
        const size_t at = job.mp3.size();
        job.mp3.resize(at + BufferFor(n, inRate_, outRate_));
        const int16_t* pcm = job.pcm.data() + done * static_cast<size_t>(channels_);
        const int size = !ok ? -1
                         : channels_ == 2
                             ? lame_encode_buffer_interleaved(gf, const_cast<short*>(pcm), n, job.mp3.data() + at,
                                                              static_cast<int>(job.mp3.size() - at))
                             : lame_encode_buffer(gf, pcm, nullptr, n, job.mp3.data() + at,
                                                  static_cast<int>(job.mp3.size() - at));
        job.mp3.resize(at + static_cast<size_t>(std::max(size, 0)));
        ok = size >= 0;
    }
    if (ok) {
        const size_t at = job.mp3.size();
        job.mp3.resize(at + 16 * 1024);
        const int size = lame_encode_flush(gf, job.mp3.data() + at, 16 * 1024);
        job.mp3.resize(at + static_cast<size_t>(std::max(size, 0)));
        ok = size >= 0;
        job.padding = lame_get_encoder_padding(gf);
        if (job.index == 0) {
            job.tag.resize(2880);
            const size_t n = lame_get_lametag_frame(gf, job.tag.data(), job.tag.size());
            job.tag.resize(n <= job.tag.size() ? n : 0);
        }
    }
    job.pcm = std::vector<int16_t>();
    if (job.index != 0) {
        std::lock_guard<std::mutex> hold(OpenLock());
        lame_close(gf);
    }
    return ok;
}

void ParallelEncoder::StopWorkers()
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        quit_ = true;
        work_.notify_all();
    }
    for (std::thread& t : workers_) t.join();
    workers_.clear();
}

}  // namespace vellumo::filters::mp3
