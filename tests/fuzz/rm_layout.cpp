// The chunk walk and multi-rate layout scan of a RealMedia file, and every
// single-rate view spliced from it, read to its end.
#include "surestream.h"

using namespace vellumo::realmedia;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto source = std::make_shared<MemoryByteSource>(std::vector<uint8_t>(data, data + size));
    MultiRateLayout layout;
    if (!ReadMultiRateLayout(*source, layout)) return 0;
    std::vector<uint8_t> buffer(4096);
    for (const auto& encoding : layout.encodings) {
        auto view = SingleRateView(source, layout, encoding);
        if (!view) continue;
        for (int64_t at = 0; view->ReadAt(at, buffer.data(), 4096) > 0; at += 4000) {
        }
    }
    return 0;
}
