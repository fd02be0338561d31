// The File Writer stand-in: sink interfaces, renderer flag, overwrite mode,
// and EC_COMPLETE only once the file is closed.
#include <gtest/gtest.h>

#include "filter_interfaces.h"
#include "filter_test_support.h"

namespace filter_tests {
namespace {

class FileWriterStandIn : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, pack_.Result());
        writer_ = Create(CLSID_FileWriter);
        ASSERT_TRUE(writer_);
        ASSERT_EQ(S_OK, writer_.As(sink_));
    }
    testing_support::ComApartment com_;
    testing_support::FilterPackRegistration pack_;
    ComPtr<IBaseFilter> writer_;
    ComPtr<IFileSinkFilter2> sink_;
};

TEST_F(FileWriterStandIn, AnswersTheSinkInterfaces)
{
    // No name yet: success with no name, as the converter expects of Windows' writer.
    LPOLESTR name = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(S_OK, sink_->GetCurFile(&name, nullptr));
    EXPECT_EQ(nullptr, name);
    const std::wstring path = OutputPath(L"name with spaces \x00e9\x4e2d.bin");
    EXPECT_EQ(E_POINTER, sink_->SetFileName(nullptr, nullptr));
    ASSERT_EQ(S_OK, sink_->SetFileName(path.c_str(), nullptr));
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(S_OK, sink_->GetCurFile(&name, &mt));
    EXPECT_EQ(path, name);
    CoTaskMemFree(name);
    EXPECT_EQ(GUID_NULL, mt.majortype);

    DWORD mode = 99;
    EXPECT_EQ(S_OK, sink_->GetMode(&mode));
    EXPECT_EQ(0u, mode);
    EXPECT_EQ(S_OK, sink_->SetMode(AM_FILE_OVERWRITE));
    EXPECT_EQ(S_OK, sink_->GetMode(&mode));
    EXPECT_EQ(static_cast<DWORD>(AM_FILE_OVERWRITE), mode);
    EXPECT_EQ(E_INVALIDARG, sink_->SetMode(0x10));

    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(S_OK, writer_.As(flags));
    EXPECT_EQ(static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_RENDERER), flags->GetMiscFlags());
}

// Writes `frames` of 8 kHz mono PCM through the WAV writer in pass-through mode.
std::vector<uint8_t> WriteRaw(IBaseFilter* writer, const std::wstring& path, LONGLONG frames, int* completes,
                              bool* closedAtComplete)
{
    TestGraph g;
    auto source = MakeSine({8000, 1, 16, 500.0, 0.5, frames});
    auto wav = Create(corvane::CLSID_WavDest);
    ComPtr<IWavDestControl> control;
    wav.As(control);
    control->SetWaveOutput(0);
    g.Add(source.Get(), L"Sine");
    g.Add(wav.Get(), L"TestFilter Class");
    g.Add(writer, L"File Writer");
    EXPECT_EQ(S_OK, g.Connect(source.Get(), wav.Get()));
    EXPECT_EQ(S_OK, g.Connect(wav.Get(), writer));
    EXPECT_EQ(S_OK, g.control->Run());
    // At EC_COMPLETE the file must already be closed: nobody else holds it.
    const DWORD deadline = GetTickCount() + 20000;
    *completes = 0;
    *closedAtComplete = false;
    DWORD settle = 0;
    while (static_cast<LONG>(deadline - GetTickCount()) > 0) {
        long code;
        LONG_PTR p1, p2;
        if (g.events->GetEvent(&code, &p1, &p2, 50) != S_OK) {
            if (*completes && static_cast<LONG>(settle - GetTickCount()) <= 0) break;
            continue;
        }
        g.events->FreeEventParams(code, p1, p2);
        if (code != EC_COMPLETE) continue;
        if (++*completes == 1) {
            HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            *closedAtComplete = h != INVALID_HANDLE_VALUE;
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
            settle = GetTickCount() + 500;
        }
    }
    g.control->Stop();
    return ReadAll(path);
}

TEST_F(FileWriterStandIn, CompletesOnceWithTheFileClosed)
{
    const std::wstring path = OutputPath(L"filewriter-complete.raw");
    ASSERT_EQ(S_OK, sink_->SetFileName(path.c_str(), nullptr));
    int completes = 0;
    bool closed = false;
    const auto bytes = WriteRaw(writer_.Get(), path, 8000, &completes, &closed);
    EXPECT_EQ(1, completes);
    EXPECT_TRUE(closed);
    EXPECT_EQ(16000u, bytes.size());
}

TEST_F(FileWriterStandIn, OverwriteModeTruncatesAnExistingFile)
{
    const std::wstring path = OutputPath(L"filewriter-overwrite.raw");
    {
        std::vector<uint8_t> old(40000, 0xAB);
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD written;
        WriteFile(h, old.data(), static_cast<DWORD>(old.size()), &written, nullptr);
        CloseHandle(h);
    }
    ASSERT_EQ(S_OK, sink_->SetFileName(path.c_str(), nullptr));
    ASSERT_EQ(S_OK, sink_->SetMode(AM_FILE_OVERWRITE));
    int completes = 0;
    bool closed = false;
    EXPECT_EQ(16000u, WriteRaw(writer_.Get(), path, 8000, &completes, &closed).size());

    // Without overwrite the old file is written over in place, as the platform's writer does.
    ASSERT_EQ(S_OK, sink_->SetMode(0));
    {
        std::vector<uint8_t> old(40000, 0xAB);
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written;
        WriteFile(h, old.data(), static_cast<DWORD>(old.size()), &written, nullptr);
        CloseHandle(h);
    }
    const auto bytes = WriteRaw(writer_.Get(), path, 8000, &completes, &closed);
    ASSERT_EQ(40000u, bytes.size());
    EXPECT_EQ(0xAB, bytes[16000]);
}

TEST_F(FileWriterStandIn, AnEndReachedWhilePausedIsReportedOnRun)
{
    const std::wstring path = OutputPath(L"filewriter-paused.raw");
    ASSERT_EQ(S_OK, sink_->SetFileName(path.c_str(), nullptr));
    TestGraph g;
    auto source = MakeSine({8000, 1, 16, 500.0, 0.5, 800});
    g.Add(source.Get(), L"Sine");
    g.Add(writer_.Get(), L"File Writer");
    ASSERT_EQ(S_OK, g.Connect(source.Get(), writer_.Get()));
    ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
    // The whole stream is written while paused...
    const DWORD deadline = GetTickCount() + 10000;
    while (ReadAll(path).size() < 1600 && static_cast<LONG>(deadline - GetTickCount()) > 0) Sleep(20);
    EXPECT_EQ(1600u, ReadAll(path).size());
    long code;
    LONG_PTR p1, p2;
    bool early = false;
    while (g.events->GetEvent(&code, &p1, &p2, 300) == S_OK) {
        early = early || code == EC_COMPLETE;
        g.events->FreeEventParams(code, p1, p2);
    }
    EXPECT_FALSE(early) << "EC_COMPLETE while paused";
    // ...and completion is reported once the graph runs.
    EXPECT_TRUE(g.RunToCompletion(10000));
    EXPECT_EQ(1, g.completes);
}

TEST(FilterPackModule, UnloadsOnlyWithoutLiveObjects)
{
    testing_support::ComApartment com;
    HMODULE module = testing_support::FilterPackModule();
    ASSERT_TRUE(module);
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
    auto get = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    auto canUnload = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_TRUE(get && canUnload);
    EXPECT_EQ(S_OK, canUnload());
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, get(corvane::CLSID_Mp3Encoder, IID_IClassFactory, factory.PutVoid()));
    ComPtr<IUnknown> outer(factory.Get());
    ComPtr<IBaseFilter> encoder;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer.Get(), IID_IUnknown, encoder.PutVoid()));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter, encoder.PutVoid()));
    factory.Reset();
    outer.Reset();
    EXPECT_EQ(S_FALSE, canUnload());
    // Pins and seeking share the filter's lifetime: the last release frees all.
    ComPtr<IPin> out = PinOf(encoder.Get(), PINDIR_OUTPUT);
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, out.As(seeking));
    ComPtr<IMediaSeeking> filterSeeking;
    ASSERT_EQ(S_OK, encoder.As(filterSeeking));
    seeking.Reset();
    filterSeeking.Reset();
    out.Reset();
    EXPECT_EQ(0u, encoder.Detach()->Release());
    EXPECT_EQ(S_OK, canUnload());
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, get(GUID_NULL, IID_IClassFactory, factory.PutVoid()));
}

TEST_F(FileWriterStandIn, UnwritableFolderFailsTheRun)
{
    ASSERT_EQ(S_OK, sink_->SetFileName(L"Z:\\nonexistent-folder-vellumo\\out.raw", nullptr));
    TestGraph g;
    auto source = MakeSine({8000, 1, 16, 500.0, 0.5, 8000});
    g.Add(source.Get(), L"Sine");
    g.Add(writer_.Get(), L"File Writer");
    ASSERT_EQ(S_OK, g.Connect(source.Get(), writer_.Get()));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), g.control->Run());
    // The graph leaves the filters that did pause paused; releasing them must not hang.
}

}  // namespace
}  // namespace filter_tests
