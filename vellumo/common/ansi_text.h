// Conversions between the program's UTF-16 strings and the process's ANSI
// code page, for the platform calls that only come in the narrow form.
#pragma once

#include <string>

namespace vellumo {

std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const std::string& text);

}  // namespace vellumo
