#include "error_messages.h"

namespace vellumo {

ErrorReaction ErrorMessageFor(LONG code, std::wstring* message)
{
    message->clear();
    switch (code) {
    case 32:
        *message = L"File in used now \xFF01";
        return ErrorReaction::ShowMessage;
    case 183:
        return ErrorReaction::Ignore;
    case 80000:
        *message = L"DX or COM runtime Exception\xFF01";
        return ErrorReaction::ShowMessage;
    case 80001:
    case 80002:
    case 80003:
        return ErrorReaction::Silent;
    case 80004:
        *message = L"Wave Encode Exption\xFF01";
        return ErrorReaction::ShowMessage;
    case 80005:
        *message = L"Mp3 Encode Exption\xFF01";
        return ErrorReaction::ShowMessage;
    case 80006:
        *message = L"Encode Exption\xFF01";
        return ErrorReaction::ShowMessage;
    case 88890:
        *message = L"Runtime Exception\xFF01";
        return ErrorReaction::ShowMessage;
    default:
        *message = L"System Error\xFF01" L"Error Code\xFF1A" + std::to_wstring(code);
        return ErrorReaction::ShowMessage;
    }
}

}  // namespace vellumo
