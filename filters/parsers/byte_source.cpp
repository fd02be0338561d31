#include "byte_source.h"

#include <algorithm>
#include <cstring>

namespace vellumo::realmedia {

int32_t MemoryByteSource::ReadAt(int64_t offset, uint8_t* buffer, int32_t size)
{
    if (offset < 0 || size < 0) return -1;
    const auto total = static_cast<int64_t>(bytes_.size());
    if (offset >= total) return 0;
    const auto n = static_cast<int32_t>(std::min<int64_t>(size, total - offset));
    std::memcpy(buffer, bytes_.data() + offset, static_cast<size_t>(n));
    return n;
}

std::vector<uint8_t> ReadHead(ByteSource& source, int32_t max)
{
    std::vector<uint8_t> head(static_cast<size_t>(std::max(max, 0)));
    int32_t filled = 0;
    while (filled < max) {
        int32_t n = source.ReadAt(filled, head.data() + filled, max - filled);
        if (n <= 0) break;
        filled += n;
    }
    head.resize(static_cast<size_t>(filled));
    return head;
}

}  // namespace vellumo::realmedia
