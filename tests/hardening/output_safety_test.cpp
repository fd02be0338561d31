// Conversions whose output cannot be written, or whose source goes away:
// each must end with an error report, within a bounded time, and leave the
// source exactly as it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "atl_halvex.h"
#include "event_recorder.h"
#include "event_window.h"
#include "filter_pack.h"
#include "test_media.h"
#include "test_platform.h"

using corvane::AtlHalvex;

namespace {

constexpr DWORD kEndLimitMs = 60000;

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : b_(SysAllocString(text.c_str())) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return b_; }

private:
    BSTR b_;
};

std::vector<uint8_t> ReadAll(const std::wstring& path)
{
    std::vector<uint8_t> out;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return out;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) out.insert(out.end(), buffer, buffer + n);
    std::fclose(f);
    return out;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring BuildTree()
{
    std::wstring media = realmedia_test::MediaDir();
    return media.substr(0, media.find(L"\\test-media\\"));
}

// Folders made by mount_test_disks.sh: "full" is a tiny filesystem that is
// almost full, "readonly" a filesystem mounted read-only. Absent when the
// machine does not let the tests mount.
std::wstring DiskDir(const wchar_t* name) { return BuildTree() + L"\\test-disks\\" + name; }

class OutputSafety : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(com_.Result()));
        ASSERT_EQ(S_OK, pack_.Result());
        work_ = BuildTree() + L"\\test-output\\output-safety";
        CreateDirectoryW((BuildTree() + L"\\test-output").c_str(), nullptr);
        CreateDirectoryW(work_.c_str(), nullptr);
        converter_ = std::make_unique<AtlHalvex>();
        window_ = std::make_unique<corvane::GraphEventWindow>(*converter_);
        cookie_ = converter_->Sinks().Add(&events_);
    }
    void TearDown() override
    {
        if (converter_) converter_->Sinks().Remove(cookie_);
        window_.reset();
        converter_.reset();
    }

    // A converter of its own for the next case: the previous one keeps its
    // last graph, and with it the source open, until it builds another.
    void FreshConverter()
    {
        TearDown();
        converter_ = std::make_unique<AtlHalvex>();
        window_ = std::make_unique<corvane::GraphEventWindow>(*converter_);
        cookie_ = converter_->Sinks().Add(&events_);
    }

    // A private copy of a generated source.
    std::wstring CopyOfSource(const wchar_t* name, const wchar_t* as)
    {
        std::wstring copy = work_ + L"\\" + as;
        SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_TRUE(CopyFileW(realmedia_test::Media(name).c_str(), copy.c_str(), FALSE));
        return copy;
    }

    void Pump(DWORD ms)
    {
        PumpUntil([] { return false; }, ms);
    }
    bool PumpUntil(const std::function<bool()>& done, DWORD ms)
    {
        DWORD start = GetTickCount();
        while (!done()) {
            if (GetTickCount() - start > ms) return false;
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        return true;
    }

    // LoadFile, Convert and Play; the names of the events up to the first
    // that ends the conversion (empty when none came in time).
    std::vector<std::string> Run(const std::wstring& source, const std::wstring& output, SHORT format,
                                 const std::function<void()>& whilePlaying = {})
    {
        converter_->put_Format(format);
        LONG stage = -1;
        EXPECT_EQ(S_OK, converter_->get_LoadFile(Bstr(source), &stage));
        EXPECT_EQ(0, stage);
        converter_->put_SaveFile(Bstr(output));
        events_.Clear();
        converter_->Convert();
        if (events_.Events().empty()) {
            converter_->Play();
            if (whilePlaying) whilePlaying();
            PumpUntil([&] { return !events_.Events().empty(); }, kEndLimitMs);
        }
        std::vector<std::string> names = events_.Names();
        converter_->Stop();
        return names;
    }

    static bool IsError(const std::vector<std::string>& names)
    {
        return !names.empty() && names.front().rfind("error ", 0) == 0;
    }

    testing_support::ComApartment com_;
    testing_support::FilterPackRegistration pack_;
    std::unique_ptr<AtlHalvex> converter_;
    std::unique_ptr<corvane::GraphEventWindow> window_;
    fakes::EventRecorder events_;
    DWORD cookie_ = 0;
    std::wstring work_;
};

TEST_F(OutputSafety, FolderThatDoesNotExistIsAnErrorAndMakesNothing)
{
    const std::wstring source = CopyOfSource(L"sine1000_ac3.rm", L"missing-folder.rm");
    const auto before = ReadAll(source);
    for (SHORT format : {SHORT(0), SHORT(1)}) {
        const std::wstring out = work_ + L"\\no such folder\\out" + (format ? L".mp3" : L".wav");
        auto names = Run(source, out, format);
        EXPECT_TRUE(IsError(names)) << (names.empty() ? "no event" : names.front());
        EXPECT_FALSE(Exists(out));
        EXPECT_FALSE(Exists(work_ + L"\\no such folder"));
    }
    EXPECT_EQ(before, ReadAll(source));
}

TEST_F(OutputSafety, OutputPathEqualToTheSourceIsRefusedAndTheSourceSurvives)
{
    for (SHORT format : {SHORT(0), SHORT(1)}) {
        const std::wstring source = CopyOfSource(L"sine1000_ac3.rm", L"same path.rm");
        const auto before = ReadAll(source);
        ASSERT_FALSE(before.empty());
        auto names = Run(source, source, format);
        EXPECT_TRUE(IsError(names)) << (names.empty() ? "no event" : names.front());
        EXPECT_EQ(before, ReadAll(source)) << "the source was overwritten";
        // The same file under another spelling of its name.
        const std::wstring dotted = work_ + L"\\.\\..\\output-safety\\SAME PATH.RM";
        names = Run(source, dotted, format);
        EXPECT_TRUE(IsError(names)) << (names.empty() ? "no event" : names.front());
        EXPECT_EQ(before, ReadAll(source)) << "the source was overwritten through another name";
        FreshConverter();
    }
}

TEST_F(OutputSafety, ReadOnlyFolderIsAnError)
{
    const std::wstring dir = DiskDir(L"readonly");
    if (!Exists(dir)) GTEST_SKIP() << "no read-only filesystem mounted for the tests";
    const std::wstring source = CopyOfSource(L"sine440_144.rm", L"readonly-source.rm");
    const auto before = ReadAll(source);
    for (SHORT format : {SHORT(0), SHORT(1)}) {
        const std::wstring out = dir + L"\\out" + (format ? L".mp3" : L".wav");
        auto names = Run(source, out, format);
        EXPECT_TRUE(IsError(names)) << (names.empty() ? "no event" : names.front());
        EXPECT_FALSE(Exists(out));
    }
    EXPECT_EQ(before, ReadAll(source));
}

TEST_F(OutputSafety, FullDiskIsAnErrorNotAFinishedFile)
{
    const std::wstring dir = DiskDir(L"full");
    if (!Exists(dir)) GTEST_SKIP() << "no small filesystem mounted for the tests";
    const std::wstring source = CopyOfSource(L"sine1000_ac3.rm", L"full-disk-source.rm");
    const auto before = ReadAll(source);
    for (SHORT format : {SHORT(0), SHORT(1)}) {
        // Six seconds of 44.1 kHz stereo: about 1 MB of WAV, 100 kB of MP3;
        // the filesystem has 64 kB.
        const std::wstring out = dir + L"\\out" + (format ? L".mp3" : L".wav");
        auto names = Run(source, out, format);
        EXPECT_TRUE(IsError(names)) << (names.empty() ? "no event" : names.front());
        DeleteFileW(out.c_str());
    }
    EXPECT_EQ(before, ReadAll(source));
}

TEST_F(OutputSafety, SourceDeletedDuringTheConversionEndsTheRun)
{
    // A long source, so that it is still being read when it goes.
    const std::wstring source =
        CopyOfSource(L"cook_44k_stereo__douidou75-pfm__music.rm", L"deleted-source.rm");
    const std::wstring out = work_ + L"\\deleted-source.mp3";
    bool deleted = false;
    auto names = Run(source, out, 1, [&] {
        Pump(300);
        deleted = DeleteFileW(source.c_str()) != FALSE;
    });
    // Deleting an open file is allowed (the reader shares delete) or refused;
    // either way the run ends with an event within the limit.
    EXPECT_FALSE(names.empty()) << "no event after the source was deleted";
    if (!deleted) {
        EXPECT_TRUE(Exists(source));
    }
    DeleteFileW(out.c_str());
}

}  // namespace
