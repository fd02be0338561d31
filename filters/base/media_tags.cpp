#include "base/media_tags.h"

#include <vector>

#include "com_ptr.h"

namespace vellumo::filters {

namespace {

using corvane::ComPtr;

// A graph is short; this bounds a walk through a graph that loops.
constexpr int kMaxFilters = 64;

std::wstring Take(IAMMediaContent* content, HRESULT (STDMETHODCALLTYPE IAMMediaContent::*get)(BSTR*))
{
    BSTR text = nullptr;
    std::wstring out;
    if ((content->*get)(&text) == S_OK && text) out.assign(text, SysStringLen(text));
    SysFreeString(text);
    return out;
}

// The filters whose output pins feed `filter`'s connected input pins.
std::vector<ComPtr<IBaseFilter>> FiltersFeeding(IBaseFilter* filter)
{
    std::vector<ComPtr<IBaseFilter>> feeding;
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Put())) || !pins) return feeding;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
        PIN_DIRECTION dir;
        ComPtr<IPin> peer;
        if (FAILED(pin->QueryDirection(&dir)) || dir != PINDIR_INPUT || FAILED(pin->ConnectedTo(peer.Put())) || !peer)
            continue;
        PIN_INFO info{};
        if (FAILED(peer->QueryPinInfo(&info))) continue;
        ComPtr<IBaseFilter> owner = ComPtr<IBaseFilter>::Attach(info.pFilter);
        if (owner) feeding.push_back(std::move(owner));
    }
    return feeding;
}

}  // namespace

MediaTags TagsOf(IAMMediaContent* content)
{
    MediaTags tags;
    tags.title = Take(content, &IAMMediaContent::get_Title);
    tags.author = Take(content, &IAMMediaContent::get_AuthorName);
    tags.copyright = Take(content, &IAMMediaContent::get_Copyright);
    tags.description = Take(content, &IAMMediaContent::get_Description);
    return tags;
}

MediaTags UpstreamMediaTags(IBaseFilter* filter)
{
    if (!filter) return {};
    // Breadth first: the nearest source wins.
    std::vector<ComPtr<IBaseFilter>> queue = FiltersFeeding(filter);
    for (size_t i = 0; i < queue.size() && i < kMaxFilters; ++i) {
        ComPtr<IAMMediaContent> content;
        if (SUCCEEDED(queue[i].As(content)) && content) return TagsOf(content.Get());
        for (auto& next : FiltersFeeding(queue[i].Get())) queue.push_back(std::move(next));
    }
    return {};
}

std::string Utf8Of(const std::wstring& text)
{
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace vellumo::filters
