// Text from a file that names other files, as UTF-16.
#pragma once

#include <string>

namespace vellumo::realmedia {

// UTF-8 when the bytes are valid UTF-8, else the system's ANSI code page.
std::wstring WidenLocalText(const std::string& bytes);

}  // namespace vellumo::realmedia
