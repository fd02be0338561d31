#include "batch_plan.h"

#include <cwctype>

namespace vellumo::batch {

namespace {

constexpr wchar_t PartialMarker[] = L".vellumo-";
constexpr wchar_t PartialEnding[] = L".partial";

std::wstring Trimmed(const std::wstring& text)
{
    const std::size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

bool SameWord(const std::wstring& a, const wchar_t* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    }
    return i == a.size() && !b[i];
}

// One line of the report: no tab or line break inside a field.
std::wstring Field(const std::wstring& text)
{
    std::wstring field;
    for (wchar_t c : text) field += (c == L'\t' || c == L'\r' || c == L'\n') ? L' ' : c;
    // The message texts break their lines in pairs: one blank is enough.
    for (std::size_t at = field.find(L"  "); at != std::wstring::npos; at = field.find(L"  ", at)) field.erase(at, 1);
    return field;
}

const wchar_t* OutcomeWord(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Converted: return L"converted";
    case Outcome::Damaged: return L"damaged";
    case Outcome::Skipped: return L"skipped";
    case Outcome::Failed: return L"failed";
    default: return L"not converted";
    }
}

std::wstring Clock(long seconds)
{
    const long hours = seconds / 3600;
    const long minutes = seconds / 60 % 60;
    const long rest = seconds % 60;
    std::wstring text = std::to_wstring(hours) + L":";
    if (minutes < 10) text += L'0';
    text += std::to_wstring(minutes) + L":";
    if (rest < 10) text += L'0';
    return text + std::to_wstring(rest);
}

}  // namespace

std::wstring NumberedName(const std::wstring& path, int number)
{
    const std::size_t name = path.find_last_of(L"\\/:");
    const std::size_t dot = path.find_last_of(L'.');
    const std::size_t at = dot == std::wstring::npos || (name != std::wstring::npos && dot < name) ? path.size() : dot;
    return path.substr(0, at) + L" (" + std::to_wstring(number) + L")" + path.substr(at);
}

std::wstring ExistingFilesWord(ExistingFiles choice)
{
    switch (choice) {
    case ExistingFiles::Skip: return L"skip";
    case ExistingFiles::KeepBoth: return L"keep both";
    default: return L"replace";
    }
}

ExistingFiles ExistingFilesOfWord(const std::wstring& word, ExistingFiles fallback)
{
    const std::wstring trimmed = Trimmed(word);
    for (ExistingFiles choice : {ExistingFiles::Replace, ExistingFiles::Skip, ExistingFiles::KeepBoth}) {
        if (SameWord(trimmed, ExistingFilesWord(choice).c_str())) return choice;
    }
    return fallback;
}

std::wstring OutputNames::OutputFor(const std::wstring& planned, const Exists& exists) const
{
    if (written_.count(fold_(planned))) return FreeNumbered(planned, exists);
    if (!exists(planned)) return planned;
    switch (choice_) {
    case ExistingFiles::Skip: return std::wstring();
    case ExistingFiles::KeepBoth: return FreeNumbered(planned, exists);
    default: return planned;
    }
}

std::wstring OutputNames::FreeNumbered(const std::wstring& planned, const Exists& exists) const
{
    for (int n = 2;; ++n) {
        const std::wstring candidate = NumberedName(planned, n);
        if (!written_.count(fold_(candidate)) && !exists(candidate)) return candidate;
    }
}

std::wstring DamageText(long damagedSeconds, long lengthSeconds)
{
    return L"damaged: " + std::to_wstring(damagedSeconds) + L" of " + std::to_wstring(lengthSeconds) + L" s";
}

void BatchResults::Add(FileResult result)
{
    switch (result.outcome) {
    case Outcome::Converted: ++counts_.converted; break;
    case Outcome::Damaged: ++counts_.damaged; break;
    case Outcome::Skipped: ++counts_.skipped; break;
    case Outcome::Failed:
        ++counts_.failed;
        lastFailure_ = Field(result.reason);
        break;
    default: ++counts_.notStarted; break;
    }
    files_.push_back(std::move(result));
}

std::string BatchResults::Report() const
{
    std::wstring text = L"\xFEFF" L"Result\tSource\tOutput\tReason or damage\r\n";
    for (const FileResult& file : files_) {
        const std::wstring detail =
            file.outcome == Outcome::Damaged ? DamageText(file.damagedSeconds, file.lengthSeconds) : file.reason;
        text += std::wstring(OutcomeWord(file.outcome)) + L'\t' + Field(file.source) + L'\t' + Field(file.output) +
                L'\t' + Field(detail) + L"\r\n";
    }
    for (const std::wstring& leftover : leftovers_)
        text += L"removed\t\t" + Field(leftover) + L"\tleft by an interrupted conversion\r\n";
    return Utf8(text);
}

std::wstring BatchResults::FinalMessage(bool offerReport) const
{
    std::wstring text = L"Finished converting\r\n\r\nConverted: " + std::to_wstring(counts_.converted) +
                        L"\r\nConverted with damage: " + std::to_wstring(counts_.damaged) +
                        L"\r\nSkipped: " + std::to_wstring(counts_.skipped) +
                        L"\r\nFailed: " + std::to_wstring(counts_.failed);
    if (!leftovers_.empty())
        text += L"\r\nLeftover temporary files removed: " + std::to_wstring(leftovers_.size());
    if (offerReport) text += L"\r\n\r\nOpen the report?";
    return text;
}

std::wstring BatchResults::StatusLine() const
{
    std::wstring text;
    if (!leftovers_.empty())
        text = L"Leftover temporary files removed: " + std::to_wstring(leftovers_.size());
    if (counts_.damaged) {
        if (!text.empty()) text += L"   ";
        text += L"Damaged: " + std::to_wstring(counts_.damaged);
    }
    if (counts_.failed) {
        if (!text.empty()) text += L"   ";
        text += L"Failed: " + std::to_wstring(counts_.failed) + L"  (last: " + lastFailure_ + L")";
    }
    return text;
}

void TimeLeft::FileEnded(long lengthSeconds)
{
    if (lengthSeconds <= 0) return;
    audioDone_ += static_cast<double>(lengthSeconds);
    ++lengthsSeen_;
}

long TimeLeft::Estimate(double elapsedSeconds, long currentPosition, long currentLength, std::size_t filesAfter) const
{
    const double position = currentPosition > 0 ? static_cast<double>(currentPosition) : 0.0;
    const double done = audioDone_ + position;
    // A pace taken from a second or two of work says little.
    if (elapsedSeconds < 2.0 || done <= 0) return -1;
    const std::size_t seen = lengthsSeen_ + (currentLength > 0 ? 1 : 0);
    if (seen == 0) return -1;
    const double known = audioDone_ + (currentLength > 0 ? static_cast<double>(currentLength) : 0.0);
    const double mean = known / static_cast<double>(seen);
    double left = static_cast<double>(filesAfter) * mean;
    if (currentLength > 0 && currentLength > currentPosition) left += static_cast<double>(currentLength) - position;
    const double seconds = left * elapsedSeconds / done;
    // Far beyond any batch: the figure would only be noise.
    if (seconds > 1e8) return -1;
    return static_cast<long>(seconds + 0.5);
}

std::wstring TimeLeftText(long seconds)
{
    return seconds < 0 ? std::wstring(L"Time left:") : L"Time left: " + Clock(seconds);
}

unsigned long PartialOwner(const std::wstring& fileName)
{
    const std::size_t endingLength = sizeof PartialEnding / sizeof PartialEnding[0] - 1;
    if (fileName.size() <= endingLength) return 0;
    const std::size_t ending = fileName.size() - endingLength;
    if (fileName.compare(ending, endingLength, PartialEnding) != 0) return 0;
    const std::size_t marker = fileName.rfind(PartialMarker, ending);
    if (marker == std::wstring::npos || marker == 0) return 0;
    std::size_t at = marker + sizeof PartialMarker / sizeof PartialMarker[0] - 1;
    unsigned long long pid = 0;
    const std::size_t digits = at;
    while (at < ending && fileName[at] >= L'0' && fileName[at] <= L'9') {
        pid = pid * 10 + static_cast<unsigned>(fileName[at] - L'0');
        if (pid > 0xFFFFFFFFULL) return 0;
        ++at;
    }
    if (at == digits || pid == 0) return 0;
    if (at < ending) {
        // An attempt number: "-" and digits, nothing else.
        if (fileName[at] != L'-' || at + 1 == ending) return 0;
        for (++at; at < ending; ++at) {
            if (fileName[at] < L'0' || fileName[at] > L'9') return 0;
        }
    }
    return static_cast<unsigned long>(pid);
}

std::string Utf8(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned long c = static_cast<unsigned long>(text[i]) & (sizeof(wchar_t) == 2 ? 0xFFFFUL : 0xFFFFFFFFUL);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            const unsigned long low = static_cast<unsigned long>(text[i + 1]) & 0xFFFFUL;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace vellumo::batch
