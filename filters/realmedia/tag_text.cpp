#include "tag_text.h"

#include <cwchar>

namespace vellumo::filters {

unsigned SystemAnsiCodePage()
{
    wchar_t digits[8] = {};
    if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, digits, 8) <= 0) return 1252;
    const unsigned long cp = std::wcstoul(digits, nullptr, 10);
    // A locale without an ANSI code page (Unicode-only) answers 0.
    return cp != 0 && cp != CP_UTF8 && IsValidCodePage(static_cast<UINT>(cp)) ? static_cast<unsigned>(cp) : 1252;
}

std::wstring DecodeTagText(const std::string& bytes, unsigned ansiCodePage)
{
    if (bytes.empty()) return {};
    const UINT cp = realmedia::IsValidUtf8(bytes) ? CP_UTF8 : ansiCodePage;
    const int size = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(cp, 0, bytes.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(cp, 0, bytes.data(), size, out.data(), n);
    return out;
}

MediaTags DecodeTags(const realmedia::RawTags& raw, unsigned ansiCodePage)
{
    MediaTags tags;
    tags.title = DecodeTagText(raw.title, ansiCodePage);
    tags.author = DecodeTagText(raw.author, ansiCodePage);
    tags.copyright = DecodeTagText(raw.copyright, ansiCodePage);
    tags.description = DecodeTagText(raw.comment, ansiCodePage);
    return tags;
}

}  // namespace vellumo::filters
