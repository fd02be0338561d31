// Conversions whose output cannot be written: each must end with an error
// report, within a bounded time, and leave the source exactly as it was.
#include <gtest/gtest.h>

#include <algorithm>

#include "converter_session.h"
#include "filter_pack.h"
#include "test_media.h"

namespace {

using realmedia_test::Narrow;
using realmedia_test::ReadAll;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class OutputSafety : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(com_.Result()));
        ASSERT_EQ(S_OK, pack_.Result());
    }
    // A private copy of a generated source.
    std::wstring CopyOfSource(const wchar_t* name, const wchar_t* as)
    {
        const std::wstring copy = work_ + L"\\" + as;
        SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_TRUE(CopyFileW(realmedia_test::Media(name).c_str(), copy.c_str(), FALSE));
        return copy;
    }
    // Converts through a converter of its own (a converter keeps its last
    // graph, and with it the source open, until it builds another) and
    // expects the run to end in an error.
    void ExpectError(const std::wstring& source, const std::wstring& output, SHORT format)
    {
        testing_support::ConverterSession session;
        session.converter->put_Format(format);
        EXPECT_EQ(0, session.Load(source));
        const auto names = session.Run(output, 60000, {}, {}, 1000);
        EXPECT_TRUE(!names.empty() && names[0].rfind("error ", 0) == 0) << (names.empty() ? "no event" : names[0]);
        EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), "finished")) << "finished after an error";
    }

    testing_support::ComApartment com_;
    testing_support::FilterPackRegistration pack_;
    const std::wstring work_ = realmedia_test::OutputDir(L"output-safety");
};

// Outputs that cannot be written: a missing folder and the folders of
// mount_test_disks.sh (absent, and the cases skipped, where the tests may not
// mount): "readonly" is mounted read-only, "full" has 64 kB for six seconds
// of 44.1 kHz stereo (about 1 MB of WAV, 100 kB of MP3) and may keep what
// fitted, just not as a finished file. And the source itself, by its own name
// and by another spelling of it.
TEST_F(OutputSafety, UnwritableOutputsAndTheSourceItselfAreErrorsAndTheSourceSurvives)
{
    const std::wstring source = CopyOfSource(L"sine1000_ac3.rm", L"same path.rm");
    const std::wstring disks = realmedia_test::BuildDir() + L"\\test-disks\\";
    const auto before = ReadAll(source);
    ASSERT_FALSE(before.empty());
    const struct {
        std::wstring folder;
        const wchar_t* name;  // empty: out.wav or out.mp3
        bool mounted, leavesNoFile;
    } cases[] = {{work_ + L"\\no such folder", L"", false, true}, {disks + L"readonly", L"", true, true},
                 {disks + L"full", L"", true, false}, {work_, L"same path.rm", false, false},
                 {work_ + L"\\.\\..\\output-safety", L"SAME PATH.RM", false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.folder + L"\\" + c.name));
        if (c.mounted && !Exists(c.folder)) {
            std::printf("skipped: no test filesystem at %s\n", Narrow(c.folder).c_str());
            continue;
        }
        for (SHORT format : {SHORT(0), SHORT(1)}) {
            const std::wstring out = c.folder + L"\\" + (*c.name ? c.name : format ? L"out.mp3" : L"out.wav");
            ExpectError(source, out, format);
            EXPECT_EQ(before, ReadAll(source)) << "the source was overwritten as " << Narrow(out);
            if (c.leavesNoFile) { EXPECT_FALSE(Exists(out)); }
            if (!*c.name) DeleteFileW(out.c_str());
        }
    }
    EXPECT_FALSE(Exists(work_ + L"\\no such folder"));
}

}  // namespace
