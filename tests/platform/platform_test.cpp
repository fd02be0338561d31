// What the other tests rely on in this build and on this platform: the
// cross-built FFmpeg has every RealAudio decoder the splitter's codec table
// names (the samples exercise only some), and the resource counts of
// tests/support/process_counts.h follow objects made and released (a count
// that stays 0 would hide every leak).
#include <gtest/gtest.h>

#include <cstring>

#include "process_counts.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

using testing_support::MeasureProcess;
using testing_support::ProcessCounts;

TEST(CodecLibraries, FfmpegHasTheRealMediaDemuxerAndEveryRealAudioDecoder)
{
    EXPECT_NE(nullptr, av_find_input_format("rm"));
    for (AVCodecID id : {AV_CODEC_ID_COOK, AV_CODEC_ID_SIPR, AV_CODEC_ID_RA_144, AV_CODEC_ID_RA_288,
                         AV_CODEC_ID_ATRAC3, AV_CODEC_ID_AAC, AV_CODEC_ID_AC3, AV_CODEC_ID_RALF})
        EXPECT_NE(nullptr, avcodec_find_decoder(id)) << avcodec_get_name(id);
}

DWORD WINAPI WaitForEvent(void* event) { return WaitForSingleObject(static_cast<HANDLE>(event), INFINITE); }

TEST(ProcessCounts, FollowObjectsMadeAndReleased)
{
    // One of each first, so that lazily made platform objects are in the baseline.
    DestroyWindow(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr));
    DeleteObject(CreateSolidBrush(RGB(1, 2, 3)));
    const ProcessCounts before = MeasureProcess();

    HANDLE events[10];
    for (HANDLE& e : events) e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, WaitForEvent, events[0], 0, nullptr);
    HBRUSH brushes[10];
    for (HBRUSH& b : brushes) b = CreateSolidBrush(RGB(4, 5, 6));
    HWND top = CreateWindowExW(0, L"STATIC", L"counts", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    HWND message = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
    constexpr SIZE_T kCommit = 16 << 20;
    void* memory = VirtualAlloc(nullptr, kCommit, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_TRUE(memory && thread && top && message);
    std::memset(memory, 1, kCommit);
    const ProcessCounts during = MeasureProcess();

    SetEvent(events[0]);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    for (HANDLE e : events) CloseHandle(e);
    for (HBRUSH b : brushes) DeleteObject(b);
    DestroyWindow(message);
    DestroyWindow(top);
    VirtualFree(memory, 0, MEM_RELEASE);
    ProcessCounts after = MeasureProcess();
    for (int i = 0; i < 40 && after.threads > before.threads; ++i, after = MeasureProcess()) Sleep(50);

    EXPECT_GT(before.handles, 0u);
    EXPECT_GE(during.handles, before.handles + 11);  // ten events and the thread
    EXPECT_LE(after.handles, before.handles + 2);
    EXPECT_EQ(during.threads, before.threads + 1);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_GT(before.gdi, 0u);
    EXPECT_GE(during.gdi, before.gdi + 10);
    EXPECT_EQ(after.gdi, before.gdi);
    EXPECT_GE(during.user, before.user + 2);
    EXPECT_EQ(after.user, before.user);
    EXPECT_GE(during.privateBytes, before.privateBytes + kCommit);
    EXPECT_LT(after.privateBytes, during.privateBytes - kCommit / 2);
}

}  // namespace
