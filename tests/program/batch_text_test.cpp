// The batch window's output names, progress arithmetic and texts.
#include <gtest/gtest.h>

#include "conversion/batch_text.h"

using namespace vellumo::batch;

TEST(BatchOutputNames, TakeTheBaseNameTheFolderAsTypedAndTheFormatsEnding)
{
    EXPECT_EQ(OutputPathFor(L"C:\\Music\\song.rmvb", L"D:\\Out", true), L"D:\\Out\\song.mp3");
    EXPECT_EQ(OutputPathFor(L"C:\\Music\\song.rmvb", L"D:\\Out\\", true), L"D:\\Out\\song.mp3");
    EXPECT_EQ(OutputPathFor(L"C:\\Music\\song.rmvb", L"  D:\\Out  ", false), L"D:\\Out\\song.wav");
    EXPECT_EQ(OutputPathFor(L"C:\\a.b.rm", L"D:\\Out", true), L"D:\\Out\\a.b.mp3");
    EXPECT_EQ(OutputPathFor(L"C:\\track.audio", L"D:\\Out", true), L"D:\\Out\\track.audio.mp3");
    EXPECT_EQ(OutputPathFor(L"C:\\name.", L"D:\\Out", true), L"D:\\Out\\name..mp3");
    EXPECT_EQ(OutputPathFor(L"C:\\.rm", L"D:\\Out", true), L"D:\\Out\\.rm.mp3");
    EXPECT_EQ(OutputPathFor(L"C:\\x\\tune.ra", L"D:\\Out", false), L"D:\\Out\\tune.wav");
    // The same base name from two folders gives the same output.
    EXPECT_EQ(OutputPathFor(L"C:\\one\\same.rm", L"E:\\", true), OutputPathFor(L"C:\\two\\same.ra", L"E:\\", true));
    // The folder is not checked: a name alone when it is blank.
    EXPECT_EQ(OutputPathFor(L"C:\\x\\tune.ra", L"   ", true), L"tune.mp3");
}

TEST(BatchProgress, RoundsHalvesToEven)
{
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(62.5), 62);
    EXPECT_EQ(RoundHalfEven(63.5), 64);
    EXPECT_EQ(RoundHalfEven(36.6), 37);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
    EXPECT_EQ(RoundHalfEven(-2.4), -2);
}

TEST(BatchProgress, FilesPercentOfThreeEightAndTheLargestBatch)
{
    EXPECT_EQ(FilesPercent(0, 3), 0);
    EXPECT_EQ(FilesPercent(1, 3), 33);
    EXPECT_EQ(FilesPercent(2, 3), 67);
    EXPECT_EQ(FilesPercent(3, 3), 100);
    EXPECT_EQ(FilesPercent(1, 8), 12);  // 12.5
    EXPECT_EQ(FilesPercent(3, 8), 38);  // 37.5
    EXPECT_EQ(FilesPercent(32766, 32767), 100);
    EXPECT_EQ(FilesPercent(32767, 32767), 100);
    EXPECT_EQ(FilesPercent(1, 32767), 0);
}

TEST(BatchProgress, FilePercentIsNotRoundedAndItsCaptionIs)
{
    EXPECT_FLOAT_EQ(FilePercent(50, 125), 40.0f);
    EXPECT_EQ(PercentCaption(FilePercent(50, 125)), L"40%");
    EXPECT_GT(FilePercent(126, 125), 100.0f);
    EXPECT_FLOAT_EQ(FilePercent(1, 3), 100.0f / 3.0f);
    EXPECT_EQ(PercentCaption(FilePercent(1, 3)), L"33%");
    EXPECT_EQ(PercentCaption(FilePercent(1, 8)), L"12%");
    EXPECT_EQ(PercentCaption(100.0f), L"100%");
    EXPECT_LT(FilePercent(-1, 10), 0.0f);
    // Large lengths do not overflow.
    EXPECT_FLOAT_EQ(FilePercent(2000000000, 2000000000), 100.0f);
}

TEST(BatchTexts, LengthsCountsAndReplacement)
{
    EXPECT_EQ(FormatSeconds(59), L"[0:59]");
    EXPECT_EQ(FormatSeconds(65), L"[1:5]");
    EXPECT_EQ(FormatSeconds(3600), L"[60:0]");
    EXPECT_EQ(FormatSeconds(0), L"[0:0]");
    EXPECT_EQ(TotalLengthText(125), L"Total Length: 125 [2:5]");
    EXPECT_EQ(CurrentPosText(50), L"Current Pos: 50 [0:50]");
    EXPECT_EQ(FilesProgressText(0, 3), L"Converted Files: 0/3");
    EXPECT_EQ(FilesProgressText(199, 200), L"Converted Files: 199/200");
    EXPECT_EQ(ReplaceAll(L"Total Length: 125 [2:5]", L"Total Length: ", L"Current Pos: "),
              L"Current Pos: 125 [2:5]");
    EXPECT_EQ(ReplaceAll(L"aXaXa", L"X", L"XX"), L"aXXaXXa");
    EXPECT_EQ(ReplaceAll(L"Total Length:", L"Total Length: ", L"Current Pos: "), L"Total Length:");
}
