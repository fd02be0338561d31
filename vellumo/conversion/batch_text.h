// The batch window's arithmetic and texts, kept apart from the window so
// that they can be checked on their own.
#pragma once

#include <windows.h>

#include <string>

namespace vellumo::batch {

// A file whose conversion stood still at its end without finishing.
constexpr wchar_t NotFinishedMessage[] = L"File not finished converting\xFF01";

// Title of the window's information boxes and questions.
constexpr wchar_t ProgramTitle[] = L"Vellumo";
// Where settings.ini keeps what a batch does with existing output files.
constexpr wchar_t ExistingSection[] = L"Batch";
constexpr wchar_t ExistingKey[] = L"ExistingFiles";

// "[" minutes ":" seconds "]", neither padded: 65 gives [1:5].
std::wstring FormatSeconds(LONG seconds);

// Nearest whole number, halves to the even neighbour (2.5 gives 2, 3.5 gives 4).
long RoundHalfEven(double value);

// Share of files done, rounded: done * 100 / total.
long FilesPercent(int done, int total);

// Position in the current file as a percentage, not rounded.
float FilePercent(LONG current, LONG total);

// "37%" for 36.6.
std::wstring PercentCaption(float percent);

// "Converted Files: 2/3".
std::wstring FilesProgressText(int done, int total);

// "Total Length: 125 [2:5]" / "Current Pos: 50 [0:50]".
std::wstring TotalLengthText(LONG seconds);
std::wstring CurrentPosText(LONG seconds);

// The output path of a source: the folder as typed, then the source's base
// name with ".mp3" or ".wav", made one safe file name (SafeFileName).
std::wstring OutputPathFor(const std::wstring& source, const std::wstring& folder, bool toMp3);

// The output path of a source found in a dropped folder: below the output
// folder, the folders from origin (the dropped folder's parent) down to the
// source, each level made a safe name, then the base name and ".mp3" or
// ".wav". A source without an origin, or not below it, goes to the output
// folder itself (OutputPathFor).
std::wstring MirroredOutputPath(const std::wstring& source, const std::wstring& origin, const std::wstring& folder,
                                bool toMp3);

// The path in upper case, for comparing file names as the file system does.
std::wstring UpperCase(std::wstring path);

// Every occurrence of what replaced by with.
std::wstring ReplaceAll(std::wstring text, const std::wstring& what, const std::wstring& with);

}  // namespace vellumo::batch
