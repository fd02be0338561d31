// The allocator contract the pins and filters rely on, run against the
// platform's CLSID_MemoryAllocator and the pack's own.
#include "dshow_uuids.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "base/allocator.h"
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

}  // namespace
