// The control's stored form: the 12-byte stream and the "Contents" stream of
// a storage, IsDirty, and refusal of newer or truncated data.
#include <gtest/gtest.h>

#include <ocidl.h>

#include <utility>

#include "server_test_support.h"

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

// The stored record: the version (0x0700 now), then the extent in HIMETRIC.
Bytes Record(LONG cx, LONG cy, DWORD version = 0x0700)
{
    Bytes bytes;
    for (DWORD v : {version, static_cast<DWORD>(cx), static_cast<DWORD>(cy)})
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<BYTE>(v >> (8 * i)));
    return bytes;
}

using Extent = std::pair<LONG, LONG>;

Extent ExtentOf(IUnknown* control)
{
    ComPtr<IOleObject> ole;
    control->QueryInterface(IID_IOleObject, ole.PutVoid());
    SIZEL size = {-1, -1};
    ole->GetExtent(DVASPECT_CONTENT, &size);
    return {size.cx, size.cy};
}

void Resize(IUnknown* control, LONG cx, LONG cy)
{
    ComPtr<IOleObject> ole;
    control->QueryInterface(IID_IOleObject, ole.PutVoid());
    SIZEL size = {cx, cy};
    ASSERT_EQ(S_OK, ole->SetExtent(DVASPECT_CONTENT, &size));
}

using Persistence = ControlTest<IPersistStreamInit>;

TEST_F(Persistence, StreamHoldsTwelveBytesAndRoundTrips)
{
    EXPECT_EQ(S_FALSE, control_->IsDirty());
    EXPECT_EQ(S_OK, control_->InitNew());
    EXPECT_EQ(S_OK, control_->IsDirty());
    ComPtr<IStream> stream = StreamOf({});
    ASSERT_EQ(S_OK, control_->Save(stream.Get(), TRUE));
    EXPECT_EQ(Record(5080, 5080), StreamBytes(stream.Get()));  // never resized: 2 x 2 inches
    EXPECT_EQ(S_OK, control_->IsDirty());  // Save leaves the flag as it was
    ULARGE_INTEGER max = {};
    EXPECT_EQ(S_OK, control_->GetSizeMax(&max));
    EXPECT_EQ(12u, max.QuadPart);

    Resize(control_.Get(), 1720, 1720);
    stream = StreamOf({});
    ASSERT_EQ(S_OK, control_->Save(stream.Get(), TRUE));
    EXPECT_EQ(Record(1720, 1720), StreamBytes(stream.Get()));
    ComPtr<IPersistStreamInit> copy = NewControl<IPersistStreamInit>();
    EXPECT_EQ(S_OK, copy->InitNew());
    ASSERT_EQ(S_OK, copy->Load(StreamOf(StreamBytes(stream.Get())).Get()));
    EXPECT_EQ(S_FALSE, copy->IsDirty());
    EXPECT_EQ(Extent(1720, 1720), ExtentOf(copy.Get()));
    // Older versions and odd sizes load too.
    ASSERT_EQ(S_OK, copy->Load(StreamOf(Record(16, 32, 0x0600)).Get()));
    EXPECT_EQ(Extent(16, 32), ExtentOf(copy.Get()));
}

TEST_F(Persistence, NewerOrTruncatedDataIsRefusedAndChangesNothing)
{
    Resize(control_.Get(), 3000, 4000);
    Bytes cut = Record(16, 32);
    cut.resize(9);  // ends inside the record
    for (const Bytes& bytes : {Record(16, 32, 0x0701), Record(16, 32, 0x80000000u), cut, Bytes()}) {
        EXPECT_HRESULT_FAILED(control_->Load(StreamOf(bytes).Get())) << bytes.size();
        EXPECT_EQ(Extent(3000, 4000), ExtentOf(control_.Get()));
    }
    EXPECT_EQ(S_OK, control_->IsDirty());
    EXPECT_EQ(E_POINTER, control_->Load(nullptr));
}

TEST_F(Persistence, StorageHoldsTheSameBytesInContents)
{
    ComPtr<IPersistStorage> storageForm;
    ASSERT_EQ(S_OK, control_.As(storageForm));
    ComPtr<IStorage> storage;
    ASSERT_HRESULT_SUCCEEDED(StgCreateDocfile(
        nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE, 0, storage.Put()));
    EXPECT_EQ(S_OK, storageForm->InitNew(storage.Get()));
    Resize(control_.Get(), 2540, 1270);
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
    EXPECT_EQ(Extent(2540, 1270), ExtentOf(copy.Get()));
    // A storage that holds no "Contents", or cannot take one: its own error.
    ComPtr<IStorage> readOnly;
    const DWORD mode = STGM_SHARE_EXCLUSIVE;
    ASSERT_HRESULT_SUCCEEDED(storage->CreateStorage(L"ro", mode | STGM_READWRITE, 0, 0, readOnly.Put()));
    readOnly.Reset();
    ASSERT_HRESULT_SUCCEEDED(storage->OpenStorage(L"ro", nullptr, mode | STGM_READ, nullptr, 0, readOnly.Put()));
    EXPECT_EQ(STG_E_FILENOTFOUND, copy->Load(readOnly.Get()));
    EXPECT_EQ(STG_E_ACCESSDENIED, storageForm->Save(readOnly.Get(), TRUE));
}

}  // namespace
