// One output pin of the RealMedia splitter: one stream of the file, audio or
// video, in the type the splitter found for it. The pin answers IMediaSeeking
// for the filter.
#pragma once

#include "dshow_uuids.h"

#include <string>

#include "base/pins.h"
#include "splitter_seeking.h"

namespace vellumo::filters {

class SplitterOutputPin final : public OutputPin {
public:
    SplitterOutputPin(RealSplitter& splitter, std::wstring name, int stream, MediaType type, bool audio);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
    HRESULT GetMediaType(int index, MediaType& out) override;

    int Stream() const { return stream_; }
    bool IsAudio() const { return audio_; }

protected:
    HRESULT QueryPinInterface(REFIID iid, void** out) override;
    void BufferRequirements(ALLOCATOR_PROPERTIES& props) override;

private:
    const int stream_;
    const MediaType type_;
    const bool audio_;
    SplitterSeeking seeking_;
};

}  // namespace vellumo::filters
