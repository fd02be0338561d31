// ParallelEncoder: one PCM stream encoded to MP3 by several LAME contexts at
// once, joined into one gapless stream. Plain C++ over LAME, no platform
// headers, so that it is also built and tested natively.
//
// The stream is cut into chunks of whole frames: two short ones first, then
// longer ones (less audio encoded twice), and the rest at the end in up to
// one piece per context. Each chunk's context also
// gets a few frames of the audio before the chunk (so that its filterbank and
// psychoacoustic model have settled by the first frame kept) and a few after
// it (the lookahead of the last frames kept, and a window where the switch to
// the next chunk may fall). The chunks are encoded on a pool of threads, a
// bounded number of them in flight, and joined in order by FrameJoiner, which
// rebuilds the bit reservoir across each switch. The first chunk's context is
// the primary one: it also writes the Xing/Info frame, rewritten at the end
// for the whole stream.
//
// A stream too short to gain (or one instance, or settings that do not cut
// into whole frames) is encoded by the primary context alone, exactly as a
// single LAME context would.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "frame_joiner.h"

struct lame_global_struct;

namespace vellumo::filters::mp3 {

class ParallelEncoder {
public:
    // A LAME context with the stream's settings, initialised; with the
    // Xing/Info frame when tagFrame. nullptr when LAME refuses them.
    using OpenFn = std::function<lame_global_struct*(bool tagFrame)>;
    // Sizes in frames of the output.
    struct Layout {
        int chunk = 512;   // kept of each of the first two chunks
        int prime = 16;    // encoded before it (the bit reservoir also fills there)
        int window = 6;    // where the switch to the next chunk may fall
        int lookahead = 2; // after the window
        int longChunk = 1024;  // kept of each later chunk: less audio encoded twice
    };

    ParallelEncoder(OpenFn open, unsigned instances, Layout layout);
    ~ParallelEncoder();
    ParallelEncoder(const ParallelEncoder&) = delete;
    ParallelEncoder& operator=(const ParallelEncoder&) = delete;

    // The platform's logical processors, capped where more stop paying.
    static unsigned DefaultInstances();
    static Layout DefaultLayout() { return Layout(); }

    // Opens the primary context; false when LAME refuses the settings.
    bool Start();
    // The primary context (the stream's ID3 tags are read from it).
    lame_global_struct* Primary() const { return primary_; }
    // Interleaved 16-bit PCM as the contexts take it (their channel count).
    // Appends the MP3 bytes that are final to out; false once an encoder
    // failed or Cancel was called (nothing more is joined).
    bool Encode(const int16_t* pcm, size_t frames, std::vector<uint8_t>& out);
    // The end of the stream: the last bytes, and the Xing/Info frame for the
    // stream's first frame (empty when there is none). With deliver, the
    // bytes go there as each chunk is joined (false from it: stop).
    using DeliverFn = std::function<bool(std::vector<uint8_t>& bytes)>;
    bool Finish(std::vector<uint8_t>& out, std::vector<uint8_t>& tagFrame, const DeliverFn& deliver = {});
    // Input frames whose MP3 has been given out; -1 when the stream goes the
    // single way (then it is all the input so far).
    int64_t InputJoined() const { return parallel_ ? std::min(inputTotal_, InSample(joinedUpTo_)) : -1; }
    // Any thread: the work in flight ends soon; Encode and Finish fail.
    void Cancel();
    bool Cancelled() const { return cancel_; }

    // Contexts that encoded at once (1 when the stream went the single way).
    unsigned InstancesUsed() const { return parallel_ ? instances_ : 1; }
    // Audio encoded twice (the chunks' overlaps), in percent of the stream.
    double OverlapPercent() const;
    // Why the stream cannot be cut (empty when it can).
    const char* SingleReason() const { return singleReason_; }
    // Switches made where both chunks had settled, and within the next one's priming.
    const int* Switches() const { return switches_; }
    // The first frame kept of every chunk after the first, as cut so far.
    const std::vector<int64_t>& Joins() const { return joins_; }

private:
    struct Job {
        int index = 0;
        int64_t firstFrame = 0;        // of the output, in the stream's numbering
        int64_t nextFirst = -1;        // the next chunk's first frame; -1 for the last chunk
        std::vector<int16_t> pcm;
        bool done = false, ok = false;
        std::vector<uint8_t> mp3;
        std::vector<uint8_t> tag;      // the first chunk's Xing/Info frame
        int padding = 0;
    };

    bool EncodeSingle(const int16_t* pcm, size_t frames, std::vector<uint8_t>& out);
    bool GoParallel();
    int64_t InSample(int64_t frame) const { return frame * frameSamples_ * inRate_ / outRate_; }
    // Whole output frames in `samples` input samples.
    int64_t OutFrames(int64_t samples) const { return samples * outRate_ / (inRate_ * frameSamples_); }
    // Past the last frame kept of a chunk: where its input ends.
    int64_t EncodedPast(int64_t keptUntil) const { return keptUntil + layout_.window + layout_.lookahead; }
    // Gives the jobs whose input is complete (with last, the rest) to the pool.
    bool SubmitReady(bool last, std::vector<uint8_t>& out);
    size_t JobsInFlight() const;
    // Joins the finished jobs in order: with wait, waits for the next one
    // (with last, for all of them).
    bool JoinDone(bool wait, bool last, std::vector<uint8_t>& out);
    bool Join(Job& job, bool last, std::vector<uint8_t>& out);
    // The first frame of the next chunk to join, the previous one's frames
    // before it joined; -1 if none fits.
    int64_t Switch(const EncodedChunk& next, int64_t nextFirst);
    void Work();
    bool Run(Job& job) const;
    void StopWorkers();

    const OpenFn open_;
    const unsigned instances_;
    Layout layout_;
    lame_global_struct* primary_ = nullptr;
    int channels_ = 0, frameSamples_ = 0;
    int64_t inRate_ = 1, outRate_ = 1;
    const char* singleReason_ = "";
    bool parallel_ = false;
    const DeliverFn* deliver_ = nullptr;  // while Finish runs

    // The input not yet given to a job, from input sample bufferStart_.
    std::vector<int16_t> buffer_;
    int64_t bufferStart_ = 0, inputTotal_ = 0, encodedTotal_ = 0;
    int submitted_ = 0;
    int64_t nextKept_ = 0;          // the first frame the next chunk keeps
    int step_ = 1;                  // chunks are cut at multiples of this many frames
    size_t maxInFlight_ = 2;        // chunks submitted and not yet joined
    std::vector<int64_t> joins_;
    bool finished_ = false;

    // Joining (the caller's thread).
    std::unique_ptr<EncodedChunk> previous_;  // the last chunk joined; its overlap waits for the next
    int64_t previousFirst_ = 0;
    int64_t joinedUpTo_ = 0;                  // frames of the stream joined
    FrameJoiner joiner_;
    std::vector<uint8_t> tag_;
    int lastPadding_ = 0;
    int switches_[2] = {0, 0};

    // The pool.
    mutable std::mutex lock_;
    std::condition_variable work_, done_;
    std::deque<std::unique_ptr<Job>> jobs_;  // submitted, in order, until joined
    size_t nextToRun_ = 0;                   // in jobs_
    bool quit_ = false;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> failed_{false};
    std::vector<std::thread> workers_;
};

}  // namespace vellumo::filters::mp3
