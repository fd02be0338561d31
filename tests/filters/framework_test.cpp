// The pack's framework and parsers on their own: the allocator contract the
// pins rely on (against the platform's CLSID_MemoryAllocator too; its waiters
// are woken by every encoding and every stop in the middle of one), the sample
// worker behind the encoder, the AC3 reframer and the decoder's format block.
#include "dshow_uuids.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
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

    // A sample held over a decommit stays usable; once back, the allocator commits again.
    ASSERT_EQ(S_OK, allocator_->Decommit());
    Take(0, VFW_E_NOT_COMMITTED);
    std::fill(pb, pb + b->GetSize(), BYTE{0x5a});
    EXPECT_EQ(S_OK, b->SetActualDataLength(b->GetSize()));
    b.Reset();
    ASSERT_EQ(S_OK, allocator_->Commit());
    EXPECT_TRUE(Take());
}

TEST_P(AllocatorContract, SampleKeepsItsPropertiesUntilReleased)
{
    Commit(1);
    auto s = Take();
    ComPtr<IMediaSample2> s2;
    ASSERT_EQ(S_OK, s.As(s2));
    EXPECT_EQ(2u, (s2->AddRef(), s2->Release())) << "the interface asked for holds the sample too";
    REFERENCE_TIME start = 100, stop = 0, mstart = 4096, mstop = 8192;
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, s->GetTime(&start, &stop));
    EXPECT_EQ(VFW_E_MEDIA_TIME_NOT_SET, s->GetMediaTime(&start, &stop));
    ASSERT_EQ(S_OK, s->SetTime(&start, nullptr));
    EXPECT_EQ(VFW_S_NO_STOP_TIME, s->GetTime(&start, &stop));
    EXPECT_EQ(101, stop);
    start = 200, stop = 300;
    AM_MEDIA_TYPE mt{MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FALSE, FALSE, 0, GUID_NULL, nullptr, 0, nullptr};
    for (HRESULT hr : {s->SetTime(&start, &stop), s->SetMediaTime(&mstart, &mstop), s->SetSyncPoint(TRUE),
                       s->SetDiscontinuity(TRUE), s->SetActualDataLength(10), s->SetMediaType(&mt)})
        ASSERT_EQ(S_OK, hr);
    start = stop = mstart = mstop = 0;
    EXPECT_EQ(S_OK, s->GetTime(&start, &stop));
    EXPECT_EQ(S_OK, s->GetMediaTime(&mstart, &mstop));
    EXPECT_EQ((std::vector<LONGLONG>{200, 300, 4096, 8192}), (std::vector<LONGLONG>{start, stop, mstart, mstop}));
    EXPECT_EQ(S_OK, s->IsSyncPoint());
    EXPECT_EQ(S_FALSE, s->IsPreroll());
    AM_MEDIA_TYPE* copy = nullptr;
    ASSERT_EQ(S_OK, s->GetMediaType(&copy));
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
    EXPECT_EQ((std::vector<HRESULT>{S_OK, S_FALSE, 20, VFW_E_SAMPLE_TIME_NOT_SET}),
              (std::vector<HRESULT>{s->IsPreroll(), s->IsSyncPoint(), s->GetActualDataLength(), s->GetTime(&start, &stop)}));

    // The next user of the buffer starts clean.
    s2.Reset();
    s.Reset();
    s = Take();
    EXPECT_EQ((std::vector<HRESULT>{VFW_E_SAMPLE_TIME_NOT_SET, VFW_E_MEDIA_TIME_NOT_SET, S_FALSE, S_FALSE, S_FALSE, S_FALSE}),
              (std::vector<HRESULT>{s->GetTime(&start, &stop), s->GetMediaTime(&mstart, &mstop), s->IsSyncPoint(),
                                    s->IsPreroll(), s->IsDiscontinuity(), s->GetMediaType(&copy)}));
}

INSTANTIATE_TEST_SUITE_P(Both, AllocatorContract, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "Platform" : "Pack"; });

// A flush that begins while the worker is busy wakes the upstream thread that
// waits for room in the queue, and the one that waits for the end of the
// stream to drain.
TEST(SampleWorker, AFlushWakesUpstreamWhileTheWorkerIsBusy)
{
    testing_support::ComApartment com(COINIT_MULTITHREADED);
    ComPtr<IMemAllocator> allocator;
    ALLOCATOR_PROPERTIES want{1, 16, 1, 0}, got{};
    ComPtr<IMediaSample> sample;
    ASSERT_EQ(S_OK, vellumo::filters::CreateMemoryAllocator(allocator.Put()));
    ASSERT_EQ(S_OK, allocator->SetProperties(&want, &got));
    ASSERT_EQ(S_OK, allocator->Commit());
    ASSERT_EQ(S_OK, allocator->GetBuffer(sample.Put(), nullptr, nullptr, 0));
    std::atomic<bool> busy{false};
    std::promise<void> release;
    auto released = release.get_future().share();
    vellumo::filters::SampleWorker worker(1, [&](IMediaSample*) { busy = true, released.wait(); return S_OK; },
                                          [] { return S_OK; });
    ASSERT_EQ(S_OK, worker.Start());
    EXPECT_EQ(S_OK, worker.Push(sample.Get()));
    for (int i = 0; i < 1000 && !busy; ++i) Sleep(10);
    EXPECT_EQ(S_OK, worker.Push(sample.Get()));  // the queue is full
    auto push = std::async(std::launch::async, [&] { return worker.Push(sample.Get()); });
    auto drain = std::async(std::launch::async, [&] { return worker.Drain(); });
    Sleep(100);
    worker.Interrupt();
    const bool woken = push.wait_for(std::chrono::seconds(10)) == std::future_status::ready &&
                       drain.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    release.set_value();
    EXPECT_TRUE(woken) << "still waiting for a worker that is busy";
    EXPECT_EQ((std::vector<HRESULT>{S_FALSE, S_FALSE}), (std::vector<HRESULT>{push.get(), drain.get()}));
    worker.Stop();
    EXPECT_EQ(E_POINTER, vellumo::filters::CreateMediaTypeEnumerator(nullptr, {}, nullptr));
}

// AC3 frames are taken; a reserved sample rate or frame size code, or an
// E-AC3 bitstream id, starts no frame.
TEST(Ac3Reframer, TakesAc3FramesOnlyWhereTheHeaderIsAc3)
{
    // fscod << 6 | frmsizecod, bsid: 48 kHz at 32 kbit/s (128-byte frames), then reserved and E-AC3 codes.
    for (const auto& [codes, bsid] : {std::pair{0x00, 8}, std::pair{0xC0, 8}, std::pair{0x26, 8}, std::pair{0x00, 16}}) {
        std::vector<uint8_t> stream(3 * 128);
        for (size_t at = 0; at < stream.size(); at += 128)
            stream[at] = 0x0B, stream[at + 1] = 0x77, stream[at + 4] = codes, stream[at + 5] = bsid << 3;
        vellumo::realmedia::Ac3Reframer reframer;
        reframer.Append(stream.data(), stream.size());
        vellumo::realmedia::Ac3Reframer::Frame frame;
        size_t lost = 0, taken = 0;
        for (; reframer.Next(true, frame, lost); ++taken) EXPECT_EQ(128u, frame.size);
        EXPECT_EQ(codes == 0 && bsid == 8 ? 3u : 0u, taken) << codes << " " << bsid;
    }
}

// The decoder's format block: refused when shorter than its header or than the setup data it announces.
TEST(CodecSetup, FormatBlocksShortOfTheirHeaderOrSetupDataAreRefused)
{
    vellumo::realmedia::AudioCodecSetup setup{vellumo::realmedia::MakeFourcc('c', 'o', 'o', 'k'), 22050, 2, 640, 0, {1, 2}};
    const std::vector<uint8_t> block = vellumo::realmedia::WaveFormatBlock(setup);
    for (size_t size : {sizeof(WAVEFORMATEX) - 1, block.size() - 1})
        EXPECT_FALSE(vellumo::realmedia::ParseWaveFormatBlock(block.data(), size, setup.fourcc, setup)) << size;
}

}  // namespace
