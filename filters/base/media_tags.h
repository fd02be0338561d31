// What a source says about its content (title, author, copyright,
// description), as the platform's IAMMediaContent hands it out, and how a
// filter further down finds it: by walking upstream through the graph's
// connected pins to the first filter that exposes IAMMediaContent.
#pragma once

#include "dshow_uuids.h"

#include <qnetwork.h>

#include <string>

namespace vellumo::filters {

struct MediaTags {
    std::wstring title, author, copyright, description;
    bool Empty() const { return title.empty() && author.empty() && copyright.empty() && description.empty(); }
};

// The tags of the nearest filter upstream of `filter` (itself excluded) that
// exposes IAMMediaContent; empty when there is none or it knows nothing.
// Call with the graph stopped or pausing (it asks the upstream filters'
// pins, never a streaming thread).
MediaTags UpstreamMediaTags(IBaseFilter* filter);

// The tags one IAMMediaContent answers (fields it does not know stay empty).
MediaTags TagsOf(IAMMediaContent* content);

// UTF-16 to UTF-8.
std::string Utf8Of(const std::wstring& text);

}  // namespace vellumo::filters
