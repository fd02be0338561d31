// AvioBridge: an FFmpeg I/O context that reads through a ByteSource, so that
// libavformat can demux bytes that arrive through any pull interface.
#pragma once

#include "byte_source.h"

struct AVIOContext;

namespace vellumo::realmedia {

class AvioBridge {
public:
    // The source must outlive the bridge.
    explicit AvioBridge(ByteSource& source);
    ~AvioBridge();
    AvioBridge(const AvioBridge&) = delete;
    AvioBridge& operator=(const AvioBridge&) = delete;

    // Null when memory could not be had.
    AVIOContext* Context() const { return context_; }
    // True once a read of the source failed (as opposed to reaching its end).
    bool ReadFailed() const { return readFailed_; }

private:
    static int Read(void* opaque, uint8_t* buffer, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);

    ByteSource& source_;
    AVIOContext* context_ = nullptr;
    int64_t position_ = 0;
    bool readFailed_ = false;
};

}  // namespace vellumo::realmedia
