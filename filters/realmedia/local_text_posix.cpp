// Native builds (the fuzz targets) have no ANSI code page: each byte stands
// for the character of the same number.
#include "local_text.h"

namespace vellumo::realmedia {

std::wstring WidenLocalText(const std::string& s)
{
    std::wstring w;
    for (unsigned char c : s) w += static_cast<wchar_t>(c);
    return w;
}

}  // namespace vellumo::realmedia
