#include "encoder/id3_tags.h"

#include <lame/lame.h>

#include <string>

namespace vellumo::filters {

namespace {

constexpr size_t kId3v1Field = 30;

// NUL-terminated UTF-16 behind the byte-order mark LAME's UTF-16 setters need.
std::vector<unsigned short> Utf16(const std::wstring& text)
{
    std::vector<unsigned short> out{0xFEFF};
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
    return out;
}

// The text as Latin-1 when it is Latin-1 and fits an ID3v1 field.
bool FitsId3v1(const std::wstring& text, std::string& latin1)
{
    if (text.size() > kId3v1Field) return false;
    latin1.clear();
    for (wchar_t c : text) {
        if (c == 0 || c > 0xFF) return false;
        latin1.push_back(static_cast<char>(c));
    }
    return true;
}

}  // namespace

void SetId3Tags(lame_global_struct* lame, const MediaTags& tags)
{
    if (!lame || tags.Empty()) return;
    id3tag_init(lame);
    id3tag_add_v2(lame);
    std::string title, artist, comment;
    const bool v1 = FitsId3v1(tags.title, title) && FitsId3v1(tags.author, artist) &&
                    FitsId3v1(tags.description, comment) && !(title.empty() && artist.empty() && comment.empty());
    if (v1) {
        // LAME also puts these into the ID3v2 tag as Latin-1 frames; the
        // UTF-16 frames below take their place.
        id3tag_set_title(lame, title.c_str());
        id3tag_set_artist(lame, artist.c_str());
        id3tag_set_comment(lame, comment.c_str());
    } else {
        id3tag_v2_only(lame);
    }
    if (!tags.title.empty()) id3tag_set_textinfo_utf16(lame, "TIT2", Utf16(tags.title).data());
    if (!tags.author.empty()) id3tag_set_textinfo_utf16(lame, "TPE1", Utf16(tags.author).data());
    if (!tags.copyright.empty()) id3tag_set_textinfo_utf16(lame, "TCOP", Utf16(tags.copyright).data());
    if (!tags.description.empty()) {
        const std::vector<unsigned short> noDescription{0xFEFF, 0};
        id3tag_set_comment_utf16(lame, nullptr, noDescription.data(), Utf16(tags.description).data());
    }
}

std::vector<uint8_t> Id3v2Tag(lame_global_struct* lame)
{
    const size_t size = lame_get_id3v2_tag(lame, nullptr, 0);
    if (size == 0) return {};
    std::vector<uint8_t> tag(size);
    if (lame_get_id3v2_tag(lame, tag.data(), tag.size()) != size) return {};
    return tag;
}

std::vector<uint8_t> Id3v1Tag(lame_global_struct* lame)
{
    std::vector<uint8_t> tag(128);
    if (lame_get_id3v1_tag(lame, tag.data(), tag.size()) != tag.size()) return {};
    return tag;
}

}  // namespace vellumo::filters
