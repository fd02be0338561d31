// The batch's own logic, apart from any window and any platform: which name
// each output takes, what happens to a file of that name that is already
// there, what became of each source, the report of the whole batch and the
// time it has left. The window drives it and draws what it says.
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace vellumo::batch {

// What a batch does when a file of an output's name is already there.
enum class ExistingFiles {
    Replace,  // the new output takes its place
    Skip,     // the source is not converted: an interrupted batch resumes
    KeepBoth  // the new output takes a numbered name beside it
};

// The word settings.ini keeps for a choice ("replace", "skip", "keep both").
std::wstring ExistingFilesWord(ExistingFiles choice);
// The choice a word stands for, letter case and surrounding blanks ignored;
// fallback for anything else.
ExistingFiles ExistingFilesOfWord(const std::wstring& word, ExistingFiles fallback = ExistingFiles::Replace);

// "D:\Out\song (2).mp3" for "D:\Out\song.mp3" and 2: the number before the
// last extension of the file name.
std::wstring NumberedName(const std::wstring& path, int number);

// Makes a path comparable the way the file system compares names (upper case).
using FoldCase = std::function<std::wstring(const std::wstring&)>;
// Tells whether a file or folder of that path is there now.
using Exists = std::function<bool(const std::wstring&)>;

// The names the outputs of one batch take.
class OutputNames {
public:
    OutputNames(ExistingFiles choice, FoldCase fold) : choice_(choice), fold_(std::move(fold)) {}

    // The path the output planned for a source takes, or empty when the
    // source is skipped. A name this batch has written already is never
    // written over: the later source gets the next free numbered name,
    // whatever the choice. A file that was there before the batch is
    // replaced, skipped or kept beside as chosen.
    std::wstring OutputFor(const std::wstring& planned, const Exists& exists) const;
    // The output now holds a file of this batch.
    void Written(const std::wstring& output) { written_.insert(fold_(output)); }

private:
    std::wstring FreeNumbered(const std::wstring& planned, const Exists& exists) const;

    ExistingFiles choice_;
    FoldCase fold_;
    std::set<std::wstring> written_;
};

enum class Outcome { Converted, Damaged, Skipped, Failed, NotStarted };

struct FileResult {
    Outcome outcome = Outcome::NotStarted;
    std::wstring source;
    std::wstring output;        // empty when none was written
    std::wstring reason;        // why it failed or was skipped
    long damagedSeconds = 0;    // Damaged: audio that could not be decoded
    long lengthSeconds = 0;     // Damaged: the source's length
};

struct Counts {
    std::size_t converted = 0, damaged = 0, skipped = 0, failed = 0, notStarted = 0;
};

// "damaged: 112 of 204 s".
std::wstring DamageText(long damagedSeconds, long lengthSeconds);

// What became of each source of a batch, in the batch's order.
class BatchResults {
public:
    void Add(FileResult result);
    // A temporary file of an earlier, interrupted run that was removed.
    void LeftoverRemoved(std::wstring path) { leftovers_.push_back(std::move(path)); }

    const std::vector<FileResult>& Files() const { return files_; }
    const std::vector<std::wstring>& Leftovers() const { return leftovers_; }
    const Counts& Totals() const { return counts_; }
    // The reason of the last file that failed ("" before any).
    const std::wstring& LastFailure() const { return lastFailure_; }

    // The report: UTF-8 text with a byte-order mark and CRLF lines; a heading
    // line, then one line per source with its result, the source, the
    // output and the reason or the damage, separated by tabs; then one line
    // per leftover removed.
    std::string Report() const;
    // The final box's text: "Finished converting", the counts, and the
    // question whether to open the report (none when there is no report).
    std::wstring FinalMessage(bool offerReport) const;
    // The window's status line: how many failed, and the last reason.
    std::wstring StatusLine() const;

private:
    std::vector<FileResult> files_;
    std::vector<std::wstring> leftovers_;
    Counts counts_;
    std::wstring lastFailure_;
};

// The time a batch has left, from the audio seconds done and left: the pace
// so far, applied to what remains of the current file and to the files not
// yet started, taken at the mean length of the files seen.
class TimeLeft {
public:
    // A file ended; length is its audio length in seconds (0 when nothing was
    // converted: skipped, failed).
    void FileEnded(long lengthSeconds);
    // Seconds left, or -1 while there is nothing to go by yet. elapsed is the
    // batch's converting time so far in seconds.
    long Estimate(double elapsedSeconds, long currentPosition, long currentLength, std::size_t filesAfter) const;

private:
    double audioDone_ = 0;   // seconds of audio of the files ended
    std::size_t lengthsSeen_ = 0;
};

// "Time left: 1:02:03"; "Time left:" without an estimate.
std::wstring TimeLeftText(long seconds);

// The process id in a temporary output's name ("song.mp3.vellumo-1234.partial"
// or ".vellumo-1234-2.partial"), or 0 when the name is not one.
unsigned long PartialOwner(const std::wstring& fileName);

// Text as UTF-8 (a lone surrogate becomes U+FFFD).
std::string Utf8(const std::wstring& text);

}  // namespace vellumo::batch
