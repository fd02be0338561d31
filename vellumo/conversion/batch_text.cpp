#include "batch_text.h"

#include <cmath>

#include "common/paths.h"

namespace vellumo::batch {

std::wstring FormatSeconds(LONG seconds)
{
    // Whole-number division truncates towards zero, and the remainder keeps
    // the sign of the seconds.
    return L"[" + std::to_wstring(seconds / 60) + L":" + std::to_wstring(seconds % 60) + L"]";
}

long RoundHalfEven(double value)
{
    if (!std::isfinite(value)) return 0;
    const double whole = std::floor(value);
    const double fraction = value - whole;
    double rounded = whole;
    if (fraction > 0.5) {
        rounded = whole + 1;
    } else if (fraction == 0.5) {
        rounded = std::fmod(whole, 2.0) == 0.0 ? whole : whole + 1;
    }
    return static_cast<long>(rounded);
}

long FilesPercent(int done, int total)
{
    if (total <= 0) return 0;
    return RoundHalfEven(static_cast<double>(done) * 100.0 / static_cast<double>(total));
}

float FilePercent(LONG current, LONG total)
{
    return static_cast<float>(static_cast<double>(current) * 100.0 / static_cast<double>(total));
}

std::wstring PercentCaption(float percent) { return std::to_wstring(RoundHalfEven(percent)) + L"%"; }

std::wstring FilesProgressText(int done, int total)
{
    return L"Converted Files: " + std::to_wstring(done) + L"/" + std::to_wstring(total);
}

std::wstring TotalLengthText(LONG seconds)
{
    return L"Total Length: " + std::to_wstring(seconds) + L" " + FormatSeconds(seconds);
}

std::wstring CurrentPosText(LONG seconds)
{
    return L"Current Pos: " + std::to_wstring(seconds) + L" " + FormatSeconds(seconds);
}

std::wstring OutputPathFor(const std::wstring& source, const std::wstring& folder, bool toMp3)
{
    // A source name can carry anything a script or an archive puts in it: the
    // output is always one plain file name in the folder.
    return JoinPath(folder, SafeFileName(BaseNameOf(source) + (toMp3 ? L".mp3" : L".wav")));
}

std::wstring MirroredOutputPath(const std::wstring& source, const std::wstring& origin, const std::wstring& folder,
                                bool toMp3)
{
    const std::size_t name = source.rfind(L'\\');
    if (origin.empty() || name == std::wstring::npos || name < origin.size() ||
        source.compare(0, origin.size(), origin) != 0 || source[origin.size()] != L'\\')
        return OutputPathFor(source, folder, toMp3);
    std::wstring levels;
    for (std::size_t start = origin.size() + 1; start <= name;) {
        const std::size_t end = source.find(L'\\', start);
        levels += SafeFileName(source.substr(start, end - start)) + L'\\';
        start = end + 1;
    }
    return JoinPath(folder, levels + SafeFileName(BaseNameOf(source) + (toMp3 ? L".mp3" : L".wav")));
}

std::wstring UpperCase(std::wstring path)
{
    if (!path.empty()) CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
    return path;
}

std::wstring ReplaceAll(std::wstring text, const std::wstring& what, const std::wstring& with)
{
    if (what.empty()) return text;
    for (std::size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
    return text;
}

}  // namespace vellumo::batch
