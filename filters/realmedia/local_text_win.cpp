#include "local_text.h"

#include <windows.h>

namespace vellumo::realmedia {

std::wstring WidenLocalText(const std::string& s)
{
    if (s.empty()) return {};
    for (UINT cp : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
        DWORD flags = cp == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        int n = MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), nullptr, 0);
        if (n <= 0) continue;
        std::wstring w(static_cast<size_t>(n), L'\0');
        MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), w.data(), n);
        return w;
    }
    return {};
}

}  // namespace vellumo::realmedia
