// The control's stored form: the 12-byte stream and the "Contents" stream of
// a storage, IsDirty, and refusal of newer or truncated data.
#include <gtest/gtest.h>

#include <ocidl.h>

#include "server_test_support.h"
#include "test_platform.h"

namespace {

using namespace server_test;
using Bytes = std::vector<BYTE>;

Bytes StreamBytes(IStream* stream)
{
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    Bytes bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    return bytes;
}

ComPtr<IStream> StreamOf(const Bytes& bytes)
{
    ComPtr<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, stream.Put());
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

// The stored record: version 0x0700, then the extent in HIMETRIC.
Bytes Record(LONG cx, LONG cy)
{
    Bytes bytes = {0x00, 0x07, 0x00, 0x00};
    for (LONG v : {cx, cy})
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<BYTE>(v >> (8 * i)));
    return bytes;
}

class Persistence : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(apartment_.Result());
        persist_ = NewControl<IPersistStreamInit>();
        ASSERT_TRUE(persist_);
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

    testing_support::ComApartment apartment_;
    ComPtr<IPersistStreamInit> persist_;
};

TEST_F(Persistence, StreamHoldsTwelveBytesAndRoundTrips)
{
    EXPECT_EQ(S_FALSE, persist_->IsDirty());
    EXPECT_EQ(S_OK, persist_->InitNew());
    EXPECT_EQ(S_OK, persist_->IsDirty());
    ComPtr<IStream> stream = StreamOf({});
    ASSERT_EQ(S_OK, persist_->Save(stream.Get(), TRUE));
    EXPECT_EQ(Record(5080, 5080), StreamBytes(stream.Get()));  // never resized: 2 x 2 inches
    EXPECT_EQ(S_OK, persist_->IsDirty());  // Save leaves the flag as it was
    ULARGE_INTEGER max = {};
    EXPECT_EQ(S_OK, persist_->GetSizeMax(&max));
    EXPECT_EQ(12u, max.QuadPart);

    Resize(persist_, 1720, 1720);
    stream = StreamOf({});
    ASSERT_EQ(S_OK, persist_->Save(stream.Get(), TRUE));
    EXPECT_EQ(Record(1720, 1720), StreamBytes(stream.Get()));
    ComPtr<IPersistStreamInit> copy = NewControl<IPersistStreamInit>();
    EXPECT_EQ(S_OK, copy->InitNew());
    ASSERT_EQ(S_OK, copy->Load(StreamOf(StreamBytes(stream.Get())).Get()));
    EXPECT_EQ(S_FALSE, copy->IsDirty());
    EXPECT_EQ(1720, ExtentOf(copy).cx);

    // Older versions and odd sizes load too.
    ASSERT_EQ(S_OK, copy->Load(StreamOf({0x00, 0x06, 0x00, 0x00, 16, 0, 0, 0, 32, 0, 0, 0}).Get()));
    EXPECT_EQ(16, ExtentOf(copy).cx);
    EXPECT_EQ(32, ExtentOf(copy).cy);
}

TEST_F(Persistence, NewerOrTruncatedDataIsRefusedAndChangesNothing)
{
    Resize(persist_, 3000, 4000);
    const Bytes refused[] = {
        {0x01, 0x07, 0x00, 0x00, 16, 0, 0, 0, 32, 0, 0, 0},  // newer version
        {0x00, 0x00, 0x00, 0x80, 16, 0, 0, 0, 32, 0, 0, 0},
        {0x00, 0x07, 0x00, 0x00, 16, 0, 0, 0, 32},           // ends inside the record
        {},
    };
    for (const Bytes& bytes : refused) {
        EXPECT_HRESULT_FAILED(persist_->Load(StreamOf(bytes).Get())) << bytes.size();
        EXPECT_EQ(3000, ExtentOf(persist_).cx);
        EXPECT_EQ(4000, ExtentOf(persist_).cy);
    }
    EXPECT_EQ(S_OK, persist_->IsDirty());
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
    Resize(persist_, 2540, 1270);
    ASSERT_EQ(S_OK, storageForm->Save(storage.Get(), TRUE));
    EXPECT_EQ(S_OK, storageForm->SaveCompleted(nullptr));
    ComPtr<IStream> contents;
    ASSERT_EQ(S_OK, storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, contents.Put()));
    EXPECT_EQ(Record(2540, 1270), StreamBytes(contents.Get()));
    contents.Reset();

    ComPtr<IPersistStorage> copy;
    ASSERT_EQ(S_OK, NewControl<IPersistStreamInit>().As(copy));
    ASSERT_EQ(S_OK, copy->Load(storage.Get()));
    EXPECT_EQ(S_FALSE, copy->IsDirty());
    ComPtr<IPersistStreamInit> copyStream;
    ASSERT_EQ(S_OK, copy.As(copyStream));
    EXPECT_EQ(2540, ExtentOf(copyStream).cx);
    EXPECT_EQ(1270, ExtentOf(copyStream).cy);
}

}  // namespace
