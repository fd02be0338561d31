#include "avio_bridge.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <cstdio>

namespace vellumo::realmedia {

namespace {
constexpr int kBufferSize = 64 * 1024;
}

AvioBridge::AvioBridge(ByteSource& source) : source_(source)
{
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (!buffer) return;
    context_ = avio_alloc_context(buffer, kBufferSize, 0, this, &AvioBridge::Read, nullptr, &AvioBridge::Seek);
    if (!context_) av_free(buffer);
}

AvioBridge::~AvioBridge()
{
    if (context_) {
        av_freep(&context_->buffer);
        avio_context_free(&context_);
    }
}

int AvioBridge::Read(void* opaque, uint8_t* buffer, int size)
{
    auto* self = static_cast<AvioBridge*>(opaque);
    int32_t n = self->source_.ReadAt(self->position_, buffer, size);
    if (n < 0) {
        self->readFailed_ = true;
        return AVERROR(EIO);
    }
    if (n == 0) return AVERROR_EOF;
    self->position_ += n;
    return n;
}

int64_t AvioBridge::Seek(void* opaque, int64_t offset, int whence)
{
    auto* self = static_cast<AvioBridge*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) {
        int64_t length = self->source_.Length();
        return length >= 0 ? length : AVERROR(ENOSYS);
    }
    int64_t target;
    switch (whence) {
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = self->position_ + offset; break;
    case SEEK_END: {
        int64_t length = self->source_.Length();
        if (length < 0) return AVERROR(ENOSYS);
        target = length + offset;
        break;
    }
    default: return AVERROR(EINVAL);
    }
    if (target < 0) return AVERROR(EINVAL);
    self->position_ = target;
    return target;
}

}  // namespace vellumo::realmedia
