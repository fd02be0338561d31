// The control's stored form: the 12-byte stream and the "Contents" stream of
// a storage, IsDirty, and refusal of newer or truncated data.
#include <gtest/gtest.h>

#include <ocidl.h>

#include <vector>

#include "server_test_support.h"
#include "test_platform.h"

namespace {

using namespace server_test;
using testing_support::ComApartment;

std::vector<BYTE> StreamBytes(IStream* stream)
{
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    std::vector<BYTE> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    return bytes;
}

ComPtr<IStream> StreamOf(const std::vector<BYTE>& bytes)
{
    ComPtr<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, stream.Put());
    ULONG written = 0;
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

class Persistence : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(apartment_.Result());
        persist_ = NewControl();
        ASSERT_TRUE(persist_);
    }

    static ComPtr<IPersistStreamInit> NewControl()
    {
        ComPtr<IPersistStreamInit> p;
        CoCreateInstance(CLSID_AtlHalvex, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistStreamInit, p.PutVoid());
        return p;
    }

    static SIZEL ExtentOf(const ComPtr<IPersistStreamInit>& p)
    {
        ComPtr<IOleObject> ole;
        p.As(ole);
        SIZEL size = {-1, -1};
        ole->GetExtent(DVASPECT_CONTENT, &size);
        return size;
    }

    static void Resize(const ComPtr<IPersistStreamInit>& p, LONG cx, LONG cy)
    {
        ComPtr<IOleObject> ole;
        p.As(ole);
        SIZEL size = {cx, cy};
        ASSERT_EQ(S_OK, ole->SetExtent(DVASPECT_CONTENT, &size));
    }

    ComApartment apartment_;
    ComPtr<IPersistStreamInit> persist_;
};

TEST_F(Persistence, NeverResizedControlSavesTwelveBytes)
{
    EXPECT_EQ(S_FALSE, persist_->IsDirty());
    EXPECT_EQ(S_OK, persist_->InitNew());
    EXPECT_EQ(S_OK, persist_->IsDirty());

    ComPtr<IStream> stream;
    ASSERT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()));
    ASSERT_EQ(S_OK, persist_->Save(stream.Get(), TRUE));
    const std::vector<BYTE> expected = {0x00, 0x07, 0x00, 0x00, 0xD8, 0x13, 0x00, 0x00, 0xD8, 0x13, 0x00, 0x00};
    EXPECT_EQ(expected, StreamBytes(stream.Get()));
    EXPECT_EQ(S_OK, persist_->IsDirty());  // Save leaves the flag as it was

    ULARGE_INTEGER max = {};
    EXPECT_EQ(S_OK, persist_->GetSizeMax(&max));
    EXPECT_EQ(12u, max.QuadPart);

    CLSID clsid;
    EXPECT_EQ(S_OK, persist_->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_AtlHalvex, clsid));
}

TEST_F(Persistence, ResizedControlRoundTrips)
{
    Resize(persist_, 1720, 1720);
    ComPtr<IStream> stream;
    ASSERT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()));
    ASSERT_EQ(S_OK, persist_->Save(stream.Get(), TRUE));
    const std::vector<BYTE> expected = {0x00, 0x07, 0x00, 0x00, 0xB8, 0x06, 0x00, 0x00, 0xB8, 0x06, 0x00, 0x00};
    EXPECT_EQ(expected, StreamBytes(stream.Get()));

    ComPtr<IPersistStreamInit> copy = NewControl();
    EXPECT_EQ(S_OK, copy->InitNew());
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(S_OK, copy->Load(stream.Get()));
    EXPECT_EQ(S_FALSE, copy->IsDirty());
    const SIZEL size = ExtentOf(copy);
    EXPECT_EQ(1720, size.cx);
    EXPECT_EQ(1720, size.cy);

    // Older versions and odd sizes load too.
    ComPtr<IStream> older = StreamOf({0x00, 0x06, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00});
    ASSERT_EQ(S_OK, copy->Load(older.Get()));
    EXPECT_EQ(16, ExtentOf(copy).cx);
    EXPECT_EQ(32, ExtentOf(copy).cy);
}

TEST_F(Persistence, NewerVersionIsRefusedAndLeavesTheExtent)
{
    Resize(persist_, 3000, 4000);
    ComPtr<IStream> newer = StreamOf({0x01, 0x07, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00});
    EXPECT_EQ(E_FAIL, persist_->Load(newer.Get()));
    EXPECT_EQ(3000, ExtentOf(persist_).cx);
    EXPECT_EQ(4000, ExtentOf(persist_).cy);
    EXPECT_EQ(S_OK, persist_->IsDirty());

    ComPtr<IStream> huge = StreamOf({0x00, 0x00, 0x00, 0x80, 0x10, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00});
    EXPECT_EQ(E_FAIL, persist_->Load(huge.Get()));

    // A stream that ends inside the record changes nothing either.
    ComPtr<IStream> truncated = StreamOf({0x00, 0x07, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x20});
    EXPECT_HRESULT_FAILED(persist_->Load(truncated.Get()));
    EXPECT_EQ(3000, ExtentOf(persist_).cx);
    EXPECT_EQ(4000, ExtentOf(persist_).cy);
    ComPtr<IStream> empty = StreamOf({});
    EXPECT_HRESULT_FAILED(persist_->Load(empty.Get()));
    EXPECT_EQ(E_POINTER, persist_->Load(nullptr));
}

TEST_F(Persistence, StorageHoldsTheSameBytesInContents)
{
    ComPtr<IPersistStorage> storageForm;
    ASSERT_EQ(S_OK, persist_.As(storageForm));
    ComPtr<IStorage> storage;
    ASSERT_HRESULT_SUCCEEDED(StgCreateDocfile(
        nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE, 0, storage.Put()));
    EXPECT_EQ(S_OK, storageForm->InitNew(storage.Get()));
    EXPECT_EQ(S_OK, storageForm->IsDirty());
    Resize(persist_, 2540, 1270);
    ASSERT_EQ(S_OK, storageForm->Save(storage.Get(), TRUE));
    EXPECT_EQ(S_OK, storageForm->SaveCompleted(nullptr));

    ComPtr<IStream> contents;
    ASSERT_EQ(S_OK, storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, contents.Put()));
    const std::vector<BYTE> expected = {0x00, 0x07, 0x00, 0x00, 0xEC, 0x09, 0x00, 0x00, 0xF6, 0x04, 0x00, 0x00};
    EXPECT_EQ(expected, StreamBytes(contents.Get()));
    contents.Reset();

    ComPtr<IPersistStreamInit> copy = NewControl();
    ComPtr<IPersistStorage> copyStorage;
    ASSERT_EQ(S_OK, copy.As(copyStorage));
    ASSERT_EQ(S_OK, copyStorage->Load(storage.Get()));
    EXPECT_EQ(2540, ExtentOf(copy).cx);
    EXPECT_EQ(1270, ExtentOf(copy).cy);
    EXPECT_EQ(S_FALSE, copyStorage->IsDirty());
}

}  // namespace
