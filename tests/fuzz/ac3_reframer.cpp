// The AC3 reframer fed a 'dnet' stream in packets (their size taken from the
// input's length), then told the stream has ended. Every frame it hands out
// must be a whole AC3 frame in readable memory, and the silence for the
// bytes lost before it must be computed without overflow.
#include "ac3_reframer.h"

#include <cstdlib>

using namespace vellumo::realmedia;

namespace {
void Drain(Ac3Reframer& reframer, bool final, size_t& lastBytes)
{
    Ac3Reframer::Frame frame;
    size_t lost = 0;
    while (reframer.Next(final, frame, lost)) {
        if (frame.size < 128 || frame.size > 3840 || frame.data[0] != 0x0B || frame.data[1] != 0x77) std::abort();
        volatile uint8_t last = frame.data[frame.size - 1];
        (void)last;
        Ac3Reframer::LostFrames(lost, lastBytes);
        lastBytes = frame.size;
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Ac3Reframer reframer;
    const size_t piece = 64 + size % 1500;
    size_t lastBytes = 0;
    for (size_t at = 0; at < size; at += piece) {
        reframer.Append(data + at, size - at < piece ? size - at : piece);
        Drain(reframer, false, lastBytes);
    }
    Drain(reframer, true, lastBytes);
    return 0;
}
