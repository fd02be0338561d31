// The batch's logic on its own, natively: output names under each choice for
// existing files, results, the report's bytes, the time left, and the names
// of leftover temporary files.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "batch_plan.h"

using namespace vellumo::batch;

namespace {

std::wstring Upper(const std::wstring& text)
{
    std::wstring upper = text;
    for (wchar_t& c : upper) c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
    return upper;
}

struct Folder {
    std::set<std::wstring> files;  // upper case
    Exists exists() const
    {
        return [this](const std::wstring& path) { return files.count(Upper(path)) != 0; };
    }
};

}  // namespace

TEST(BatchNames, EachChoiceMeetsAFileThatWasThereBefore)
{
    Folder folder;
    folder.files = {L"D:\\OUT\\SONG.MP3", L"D:\\OUT\\SONG (2).MP3"};
    EXPECT_EQ(OutputNames(ExistingFiles::Replace, Upper).OutputFor(L"D:\\Out\\song.mp3", folder.exists()),
              L"D:\\Out\\song.mp3");
    EXPECT_EQ(OutputNames(ExistingFiles::Skip, Upper).OutputFor(L"D:\\Out\\Song.mp3", folder.exists()), L"");
    // Keep both: the first numbered name nothing holds.
    EXPECT_EQ(OutputNames(ExistingFiles::KeepBoth, Upper).OutputFor(L"D:\\Out\\song.mp3", folder.exists()),
              L"D:\\Out\\song (3).mp3");
    // A name nobody holds is taken as planned under every choice.
    for (ExistingFiles choice : {ExistingFiles::Replace, ExistingFiles::Skip, ExistingFiles::KeepBoth})
        EXPECT_EQ(OutputNames(choice, Upper).OutputFor(L"D:\\Out\\new.wav", folder.exists()), L"D:\\Out\\new.wav");
}

TEST(BatchNames, AnOutputOfThisBatchIsNeverWrittenOverNorTakenForAnEarlierFile)
{
    for (ExistingFiles choice : {ExistingFiles::Replace, ExistingFiles::Skip, ExistingFiles::KeepBoth}) {
        Folder folder;
        OutputNames names(choice, Upper);
        names.Written(L"D:\\Out\\tune.mp3");
        folder.files.insert(L"D:\\OUT\\TUNE.MP3");
        // Two sources of one base name: the second is numbered, also under
        // "skip", and a name an earlier run left is passed over.
        folder.files.insert(L"D:\\OUT\\TUNE (2).MP3");
        EXPECT_EQ(names.OutputFor(L"d:\\out\\TUNE.mp3", folder.exists()), L"d:\\out\\TUNE (3).mp3")
            << ExistingFilesWord(choice).c_str();
    }
    // The number goes before the last extension of the file name only.
    EXPECT_EQ(NumberedName(L"D:\\O.ut\\.rm.mp3", 3), L"D:\\O.ut\\.rm (3).mp3");
    EXPECT_EQ(NumberedName(L"D:\\O.ut\\tune", 2), L"D:\\O.ut\\tune (2)");
}

TEST(BatchNames, TheChoiceIsKeptAsAWord)
{
    for (ExistingFiles choice : {ExistingFiles::Replace, ExistingFiles::Skip, ExistingFiles::KeepBoth})
        EXPECT_EQ(ExistingFilesOfWord(ExistingFilesWord(choice)), choice);
    EXPECT_EQ(ExistingFilesOfWord(L"  Keep Both "), ExistingFiles::KeepBoth);
    EXPECT_EQ(ExistingFilesOfWord(L"SKIP"), ExistingFiles::Skip);
    // Anything else (an edited file, a word of a later version) is the default.
    for (const wchar_t* word : {L"", L"skipped", L"keep", L"1", L"skip\x0301"})
        EXPECT_EQ(ExistingFilesOfWord(word), ExistingFiles::Replace) << word;
}

TEST(BatchReport, OneLinePerSourceInUtf8WithItsResultAndReason)
{
    BatchResults results;
    results.Add({Outcome::Converted, L"C:\\In\\a.rm", L"D:\\Out\\a.mp3", L"", 0, 0});
    results.Add({Outcome::Damaged, L"C:\\In\\b.rm", L"D:\\Out\\b.mp3", L"", 112, 204});
    results.Add({Outcome::Skipped, L"C:\\In\\c.rm", L"D:\\Out\\c.mp3", L"the output file exists", 0, 0});
    results.Add({Outcome::Failed, L"C:\\Müsik\\\x97F3\x697D\\\xD83C\xDFB5.rm", L"",
                 L"File format error or lack Real Lib!\r\nPlease make sure\tthat", 0, 0});
    results.LeftoverRemoved(L"D:\\Out\\x.mp3.vellumo-77.partial");
    const Counts& counts = results.Totals();
    EXPECT_EQ(counts.converted + counts.damaged + counts.skipped + counts.failed, 4u);
    EXPECT_EQ(results.LastFailure(), L"File format error or lack Real Lib! Please make sure that");

    const std::string report = results.Report();
    const std::string expected =
        "\xEF\xBB\xBFResult\tSource\tOutput\tReason or damage\r\n"
        "converted\tC:\\In\\a.rm\tD:\\Out\\a.mp3\t\r\n"
        "damaged\tC:\\In\\b.rm\tD:\\Out\\b.mp3\tdamaged: 112 of 204 s\r\n"
        "skipped\tC:\\In\\c.rm\tD:\\Out\\c.mp3\tthe output file exists\r\n"
        "failed\tC:\\M\xC3\xBCsik\\\xE9\x9F\xB3\xE6\xA5\xBD\\\xF0\x9F\x8E\xB5.rm\t\t"
        "File format error or lack Real Lib! Please make sure that\r\n"
        "removed\t\tD:\\Out\\x.mp3.vellumo-77.partial\tleft by an interrupted conversion\r\n";
    EXPECT_EQ(report, expected);
    // A name with a broken surrogate (possible in NTFS) still gives valid UTF-8.
    EXPECT_EQ(Utf8(std::wstring(L"a") + static_cast<wchar_t>(0xDC01) + L"b"), "a\xEF\xBF\xBD" "b");

    EXPECT_EQ(results.FinalMessage(true),
              L"Finished converting\r\n\r\nConverted: 1\r\nConverted with damage: 1\r\nSkipped: 1\r\nFailed: 1"
              L"\r\nLeftover temporary files removed: 1\r\n\r\nOpen the report?");
    EXPECT_EQ(results.StatusLine(), L"Leftover temporary files removed: 1   Damaged: 1   Failed: 1  (last: "
                                    L"File format error or lack Real Lib! Please make sure that)");
    EXPECT_EQ(BatchResults().StatusLine(), L"");
}

TEST(BatchTimeLeft, ThePaceSoFarAppliedToTheAudioLeft)
{
    TimeLeft left;
    // Nothing to go by at the start, nor from a second of work.
    EXPECT_EQ(left.Estimate(0, 0, 0, 10), -1);
    EXPECT_EQ(left.Estimate(1, 50, 100, 10), -1);
    // 50 of 100 s done in 10 s: 50 s of this file and 3 more of 100 s at 5 s of audio a second.
    EXPECT_EQ(left.Estimate(10, 50, 100, 3), 70);
    left.FileEnded(100);
    left.FileEnded(0);  // failed or skipped: no audio, no length
    // 100 + 100 s done in 40 s; a file of 200 s now, then 2 files of the mean of 150 s.
    EXPECT_EQ(left.Estimate(40, 100, 200, 2), (100 + 300) * 40 / 200);
    // The last file, past its stated length.
    EXPECT_EQ(left.Estimate(60, 250, 200, 0), 0);
    // A length that reads 0: the mean of the files ended stands for it.
    EXPECT_EQ(left.Estimate(40, 0, 0, 2), 200 * 40 / 100);
    EXPECT_EQ(TimeLeftText(-1), L"Time left:");
    EXPECT_EQ(TimeLeftText(3723), L"Time left: 1:02:03");
    EXPECT_EQ(TimeLeftText(59), L"Time left: 0:00:59");
    EXPECT_EQ(TimeLeftText(360000), L"Time left: 100:00:00");
}

TEST(BatchLeftovers, OnlyTemporaryOutputNamesCarryAnOwner)
{
    EXPECT_EQ(PartialOwner(L"song.mp3.vellumo-1234.partial"), 1234u);
    EXPECT_EQ(PartialOwner(L"song.mp3.vellumo-1234-3.partial"), 1234u);
    EXPECT_EQ(PartialOwner(L"a.vellumo-1.b.mp3.vellumo-4294967295.partial"), 4294967295u);
    for (const wchar_t* name : {L"song.mp3", L".vellumo-12.partial", L"song.mp3.vellumo-.partial",
                                L"song.mp3.vellumo-0.partial", L"song.mp3.vellumo-12-.partial",
                                L"song.mp3.vellumo-12x.partial", L"song.mp3.vellumo-4294967296.partial",
                                L"song.mp3.vellumo-12.partial.txt", L"song.mp3.vellumo-1-2-3.partial",
                                L"song.mp3.VELLUMO-12.partial"})
        EXPECT_EQ(PartialOwner(name), 0u) << name;
}
