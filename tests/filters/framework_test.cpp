// The pack's framework and parsers on their own: the allocator contract the
// pins rely on (against the platform's CLSID_MemoryAllocator too), the sample
// worker behind the encoder, the AC3 reframer and the decoder's format block.
#include "dshow_uuids.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <thread>
#include <vector>

#include "ac3_reframer.h"
#include "base/allocator.h"
#include "base/enumerators.h"
#include "base/sample_worker.h"
#include "codec_setup.h"
#include "com_ptr.h"
#include "test_platform.h"

namespace {

using corvane::ComPtr;

// Parameter: true for the platform's allocator, false for the pack's.
class AllocatorContract : public testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, GetParam() ? CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                                      IID_IMemAllocator, allocator_.PutVoid())
                                   : vellumo::filters::CreateMemoryAllocator(allocator_.Put()));
    }
    // Sets count buffers of size bytes aligned to align and commits.
    void Commit(long count, long size = 1000, long align = 16)
    {
        ALLOCATOR_PROPERTIES want{count, size, align, 0}, got{};
        ASSERT_EQ(S_OK, allocator_->SetProperties(&want, &got));
        ASSERT_GE(got.cBuffers, count);
        ASSERT_GE(got.cbBuffer, size);
        ASSERT_EQ(S_OK, allocator_->Commit());
    }
    ComPtr<IMediaSample> Take(DWORD flags = 0, HRESULT expect = S_OK)
    {
        ComPtr<IMediaSample> s;
        EXPECT_EQ(expect, allocator_->GetBuffer(s.Put(), nullptr, nullptr, flags));
        return s;
    }
    testing_support::ComApartment com_{COINIT_MULTITHREADED};
    ComPtr<IMemAllocator> allocator_;
};

TEST_P(AllocatorContract, PropertiesAndCommitRules)
{
    ALLOCATOR_PROPERTIES got{};
    ALLOCATOR_PROPERTIES unaligned{2, 100, 0, 0};
    EXPECT_EQ(VFW_E_BADALIGN, allocator_->SetProperties(&unaligned, &got));
    Take(0, VFW_E_NOT_COMMITTED);
    Commit(2, 1000, 64);
    ALLOCATOR_PROPERTIES again{4, 100, 1, 0};
    EXPECT_EQ(VFW_E_ALREADY_COMMITTED, allocator_->SetProperties(&again, &got));
    ASSERT_EQ(S_OK, allocator_->GetProperties(&got));
    EXPECT_EQ(2, got.cBuffers);
    EXPECT_GE(got.cbBuffer, 1000);
    auto a = Take(), b = Take();
    ASSERT_TRUE(a && b);
    Take(AM_GBF_NOWAIT, VFW_E_TIMEOUT);
    BYTE *pa = nullptr, *pb = nullptr;
    ASSERT_EQ(S_OK, a->GetPointer(&pa));
    ASSERT_EQ(S_OK, b->GetPointer(&pb));
    EXPECT_NE(pa, pb);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(pa) % 64);
    EXPECT_GE(a->GetSize(), 1000);
    EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, a->SetActualDataLength(a->GetSize() + 1));
    a.Reset();
    EXPECT_TRUE(Take(AM_GBF_NOWAIT)) << "a released buffer is free again";
}

TEST_P(AllocatorContract, SampleKeepsItsPropertiesUntilReleased)
{
    Commit(1);
    auto s = Take();
    ComPtr<IMediaSample2> s2;
    ASSERT_EQ(S_OK, s.As(s2));
    REFERENCE_TIME start = 5, stop = 9;
    LONGLONG mstart = 0, mstop = 0;
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, s->GetTime(&start, &stop));
    EXPECT_EQ(VFW_E_MEDIA_TIME_NOT_SET, s->GetMediaTime(&mstart, &mstop));
    start = 100;
    ASSERT_EQ(S_OK, s->SetTime(&start, nullptr));
    EXPECT_EQ(VFW_S_NO_STOP_TIME, s->GetTime(&start, &stop));
    EXPECT_EQ(101, stop);
    start = 200, stop = 300, mstart = 4096, mstop = 8192;
    ASSERT_EQ(S_OK, s->SetTime(&start, &stop));
    ASSERT_EQ(S_OK, s->SetMediaTime(&mstart, &mstop));
    ASSERT_EQ(S_OK, s->SetSyncPoint(TRUE));
    ASSERT_EQ(S_OK, s->SetDiscontinuity(TRUE));
    ASSERT_EQ(S_OK, s->SetActualDataLength(10));
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = MEDIASUBTYPE_PCM;
    ASSERT_EQ(S_OK, s->SetMediaType(&mt));

    start = stop = mstart = mstop = 0;
    EXPECT_EQ(S_OK, s->GetTime(&start, &stop));
    EXPECT_EQ(S_OK, s->GetMediaTime(&mstart, &mstop));
    EXPECT_EQ((std::vector<LONGLONG>{200, 300, 4096, 8192}), (std::vector<LONGLONG>{start, stop, mstart, mstop}));
    EXPECT_EQ(S_OK, s->IsSyncPoint());
    EXPECT_EQ(S_FALSE, s->IsPreroll());
    AM_MEDIA_TYPE* copy = nullptr;
    ASSERT_EQ(S_OK, s->GetMediaType(&copy));
    ASSERT_TRUE(copy);
    EXPECT_EQ(MEDIASUBTYPE_PCM, copy->subtype);
    CoTaskMemFree(copy);
    AM_SAMPLE2_PROPERTIES props{};
    ASSERT_EQ(S_OK, s2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)));
    EXPECT_EQ((std::vector<LONGLONG>{10, 200, 300}), (std::vector<LONGLONG>{props.lActual, props.tStart, props.tStop}));
    const DWORD set = AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_DATADISCONTINUITY | AM_SAMPLE_TIMEVALID |
                      AM_SAMPLE_STOPVALID | AM_SAMPLE_TYPECHANGED;
    EXPECT_EQ(set, props.dwSampleFlags & set);
    props.dwSampleFlags = AM_SAMPLE_PREROLL;
    props.lActual = 20;
    ASSERT_EQ(S_OK, s2->SetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)));
    EXPECT_EQ(S_OK, s->IsPreroll());
    EXPECT_EQ(S_FALSE, s->IsSyncPoint());
    EXPECT_EQ(20, s->GetActualDataLength());
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, s->GetTime(&start, &stop));

    // The next user of the buffer starts clean.
    s2.Reset();
    s.Reset();
    s = Take();
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, s->GetTime(&start, &stop));
    EXPECT_EQ(VFW_E_MEDIA_TIME_NOT_SET, s->GetMediaTime(&mstart, &mstop));
    EXPECT_EQ((std::vector<HRESULT>{S_FALSE, S_FALSE, S_FALSE, S_FALSE}),
              (std::vector<HRESULT>{s->IsSyncPoint(), s->IsPreroll(), s->IsDiscontinuity(), s->GetMediaType(&copy)}));
}

TEST_P(AllocatorContract, WaitersWakeOnReleaseAndAllOnDecommit)
{
    // As many waiters as buffers: Wine's allocator wakes no more than that.
    Commit(3);
    std::vector<ComPtr<IMediaSample>> held;
    for (int i = 0; i < 3; ++i) held.push_back(Take());
    HRESULT first = E_FAIL;
    std::thread waiter([&] {
        ComPtr<IMediaSample> s;
        first = allocator_->GetBuffer(s.Put(), nullptr, nullptr, 0);
    });
    Sleep(50);
    held.pop_back();
    waiter.join();
    EXPECT_EQ(S_OK, first);

    held.push_back(Take());
    std::vector<HRESULT> results(3, S_OK);
    std::vector<std::thread> waiters;
    for (auto& r : results)
        waiters.emplace_back([&r, this] {
            ComPtr<IMediaSample> s;
            r = allocator_->GetBuffer(s.Put(), nullptr, nullptr, 0);
        });
    Sleep(100);
    ASSERT_EQ(S_OK, allocator_->Decommit());
    for (auto& t : waiters) t.join();
    // Every waiter wakes with a failure (ours: VFW_E_NOT_COMMITTED; Wine's: VFW_E_TIMEOUT).
    for (HRESULT r : results) EXPECT_TRUE(FAILED(r)) << std::hex << r;
}

TEST_P(AllocatorContract, SamplesOutliveDecommit)
{
    Commit(2);
    auto s = Take();
    ASSERT_EQ(S_OK, allocator_->Decommit());
    Take(0, VFW_E_NOT_COMMITTED);
    BYTE* p = nullptr;
    ASSERT_EQ(S_OK, s->GetPointer(&p));
    std::fill(p, p + s->GetSize(), BYTE{0x5a});
    EXPECT_EQ(S_OK, s->SetActualDataLength(s->GetSize()));
    s.Reset();
    ASSERT_EQ(S_OK, allocator_->Commit());
    EXPECT_TRUE(Take());
}

INSTANTIATE_TEST_SUITE_P(Both, AllocatorContract, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "Platform" : "Pack"; });

// A flush that begins while the worker is busy wakes the upstream thread that
// waits for the end of the stream to drain, and one that waits for room.
TEST(SampleWorker, AFlushWakesUpstreamWhileTheWorkerIsBusy)
{
    testing_support::ComApartment com(COINIT_MULTITHREADED);
    ComPtr<IMemAllocator> allocator;
    ALLOCATOR_PROPERTIES want{3, 16, 1, 0}, got{};
    ASSERT_EQ(S_OK, vellumo::filters::CreateMemoryAllocator(allocator.Put()));
    ASSERT_EQ(S_OK, allocator->SetProperties(&want, &got));
    ASSERT_EQ(S_OK, allocator->Commit());
    ComPtr<IMediaSample> samples[3];
    for (auto& s : samples) ASSERT_EQ(S_OK, allocator->GetBuffer(s.Put(), nullptr, nullptr, 0));
    HANDLE busy = CreateEventW(nullptr, TRUE, FALSE, nullptr), release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    vellumo::filters::SampleWorker worker(
        1, [&](IMediaSample*) { SetEvent(busy), WaitForSingleObject(release, INFINITE); return S_OK; },
        [] { return S_OK; });
    ASSERT_EQ(S_OK, worker.Start());
    ASSERT_EQ(S_OK, worker.Push(samples[0].Get()));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(busy, 10000));
    ASSERT_EQ(S_OK, worker.Push(samples[1].Get()));  // the queue is full
    auto push = std::async(std::launch::async, [&] { return worker.Push(samples[2].Get()); });
    auto drain = std::async(std::launch::async, [&] { return worker.Drain(); });
    Sleep(100);
    worker.Interrupt();
    const bool woken = push.wait_for(std::chrono::seconds(10)) == std::future_status::ready &&
                       drain.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    SetEvent(release);
    EXPECT_TRUE(woken) << "still waiting for a worker that is busy";
    EXPECT_EQ(S_FALSE, push.get());
    EXPECT_EQ(S_FALSE, drain.get());
    worker.Resume();
    EXPECT_EQ(S_OK, worker.Push(samples[0].Get()));
    EXPECT_EQ(S_OK, worker.Drain());
    worker.Stop();
    CloseHandle(busy);
    CloseHandle(release);
    EXPECT_EQ(E_POINTER, vellumo::filters::CreateMediaTypeEnumerator(nullptr, {}, nullptr));
}

// AC3 frames are taken; a reserved sample rate or frame size code, or an
// E-AC3 bitstream id, starts no frame.
TEST(Ac3Reframer, TakesAc3FramesOnlyWhereTheHeaderIsAc3)
{
    const struct {
        uint8_t codes, bsid;  // fscod << 6 | frmsizecod; bsid
        size_t frames;
    } cases[] = {{0x00, 8, 3}, {0xC0, 8, 0}, {0x26, 8, 0}, {0x00, 16, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.codes) << " " << int(c.bsid));
        std::vector<uint8_t> stream(3 * 128);  // 48 kHz, 32 kbit/s: 128 bytes a frame
        for (size_t at = 0; at < stream.size(); at += 128) {
            stream[at] = 0x0B, stream[at + 1] = 0x77, stream[at + 4] = c.codes, stream[at + 5] = c.bsid << 3;
        }
        vellumo::realmedia::Ac3Reframer reframer;
        reframer.Append(stream.data(), stream.size());
        vellumo::realmedia::Ac3Reframer::Frame frame;
        size_t lost = 0, taken = 0;
        for (; reframer.Next(true, frame, lost); ++taken) EXPECT_EQ(128u, frame.size);
        EXPECT_EQ(c.frames, taken);
    }
}

// The decoder's format block: refused when shorter than its header or than
// the setup data it announces.
TEST(CodecSetup, FormatBlocksShortOfTheirHeaderOrSetupDataAreRefused)
{
    vellumo::realmedia::AudioCodecSetup setup{vellumo::realmedia::MakeFourcc('c', 'o', 'o', 'k'), 22050, 2, 640, 0,
                                              {1, 2, 3}};
    std::vector<uint8_t> block = vellumo::realmedia::WaveFormatBlock(setup);
    vellumo::realmedia::AudioCodecSetup read;
    for (size_t size : {sizeof(WAVEFORMATEX) - 1, block.size() - 1})
        EXPECT_FALSE(vellumo::realmedia::ParseWaveFormatBlock(block.data(), size, setup.fourcc, read)) << size;
    ASSERT_TRUE(vellumo::realmedia::ParseWaveFormatBlock(block.data(), block.size(), setup.fourcc, read));
    EXPECT_EQ(setup.extradata, read.extradata);
    EXPECT_EQ(22050, read.sampleRate);
}

}  // namespace
