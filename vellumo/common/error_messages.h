// The main window's table of messages for the converter's error codes.
#pragma once

#include <windows.h>

#include <string>

namespace vellumo {

enum class ErrorReaction {
    Ignore,     // no message and nothing else changes
    Silent,     // no message, but the commands are enabled again
    ShowMessage // a message, then the commands are enabled again
};

// What the main window does for an onError code, and the message text.
ErrorReaction ErrorMessageFor(LONG code, std::wstring* message);

// The message for a failure that must be reported, whatever the table says
// of its code: the table's text, or the system error text for the code.
std::wstring FailureMessageFor(LONG code);

// Title of the error message boxes.
constexpr wchar_t ErrorTitle[] = L"Error Converting";

}  // namespace vellumo
