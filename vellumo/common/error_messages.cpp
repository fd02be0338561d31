#include "common/error_messages.h"

namespace vellumo {

namespace {

struct KnownError {
    LONG code;
    ErrorReaction reaction;
    const wchar_t* message;  // ShowMessage only
};

const KnownError KnownErrors[] = {
    {32, ErrorReaction::ShowMessage, L"File in used now \xFF01"},
    {183, ErrorReaction::Ignore, nullptr},
    {80000, ErrorReaction::ShowMessage, L"DX or COM runtime Exception\xFF01"},
    {80001, ErrorReaction::Silent, nullptr},
    {80002, ErrorReaction::Silent, nullptr},
    {80003, ErrorReaction::Silent, nullptr},
    {80004, ErrorReaction::ShowMessage, L"Wave Encode Exption\xFF01"},
    {80005, ErrorReaction::ShowMessage, L"Mp3 Encode Exption\xFF01"},
    {80006, ErrorReaction::ShowMessage, L"Encode Exption\xFF01"},
    {88890, ErrorReaction::ShowMessage, L"Runtime Exception\xFF01"},
};

std::wstring SystemErrorText(LONG code) { return L"System Error\xFF01" L"Error Code\xFF1A" + std::to_wstring(code); }

}  // namespace

ErrorReaction ErrorMessageFor(LONG code, std::wstring* message)
{
    message->clear();
    for (const KnownError& known : KnownErrors) {
        if (known.code != code) continue;
        if (known.message) *message = known.message;
        return known.reaction;
    }
    *message = SystemErrorText(code);
    return ErrorReaction::ShowMessage;
}

std::wstring FailureMessageFor(LONG code)
{
    std::wstring message;
    ErrorMessageFor(code, &message);
    return message.empty() ? SystemErrorText(code) : message;
}

}  // namespace vellumo
