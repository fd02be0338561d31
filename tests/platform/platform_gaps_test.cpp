// What the platform's own system filters do where Wine is known to differ
// from Windows. The companion filter pack registers its stand-ins exactly
// where these gaps exist; this test states the current platform's answers so
// that a change in Wine shows up here first.
#include <gtest/gtest.h>

#include "dshow_uuids.h"
#include <mmreg.h>

#include <cstdio>

#include "com_ptr.h"
#include "test_platform.h"

using corvane::ComPtr;

namespace {

class SystemFilterGaps : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::printf("platform: %s %s\n", testing_support::IsWine() ? "Wine" : "Windows",
                    testing_support::WineVersion());
    }
    testing_support::ComApartment com_;
};

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION wanted)
{
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Put()))) return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted) return pin;
    }
    return nullptr;
}

TEST_F(SystemFilterGaps, AcmWrapperStreamConfigAndPcmInput)
{
    ComPtr<IBaseFilter> acm;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ACMWrapper, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     acm.PutVoid()));
    ComPtr<IPin> in = PinOf(acm.Get(), PINDIR_INPUT);
    ComPtr<IPin> out = PinOf(acm.Get(), PINDIR_OUTPUT);
    ASSERT_TRUE(in);
    ASSERT_TRUE(out);

    ComPtr<IAMStreamConfig> config;
    const HRESULT configHr = out.As(config);

    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = 2;
    wfx.nSamplesPerSec = 44100;
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = 4;
    wfx.nAvgBytesPerSec = 44100 * 4;
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = MEDIASUBTYPE_PCM;
    mt.bFixedSizeSamples = TRUE;
    mt.lSampleSize = 4;
    mt.formattype = FORMAT_WaveFormatEx;
    mt.cbFormat = sizeof(wfx);
    mt.pbFormat = reinterpret_cast<BYTE*>(&wfx);
    const HRESULT acceptHr = in->QueryAccept(&mt);

    std::printf("ACM wrapper: output IAMStreamConfig 0x%08lx, PCM input QueryAccept 0x%08lx\n",
                static_cast<unsigned long>(configHr), static_cast<unsigned long>(acceptHr));
    // Wine's wrapper accepts the PCM type when asked but cannot open an ACM
    // stream for it once connected; the filter pack's tests connect a real
    // PCM source. Without IAMStreamConfig no output format can be chosen.
    if (testing_support::IsWine()) {
        EXPECT_EQ(E_NOINTERFACE, configHr) << "Wine's ACM wrapper gained IAMStreamConfig";
    } else {
        EXPECT_EQ(S_OK, configHr);
        EXPECT_EQ(S_OK, acceptHr);
    }
}

TEST_F(SystemFilterGaps, FileWriterCurrentFileAndOverwriteMode)
{
    ComPtr<IBaseFilter> writer;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     writer.PutVoid()));
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, writer.As(sink));
    ComPtr<IFileSinkFilter2> sink2;
    const HRESULT sink2Hr = writer.As(sink2);

    wchar_t path[MAX_PATH];
    GetTempPathW(MAX_PATH, path);
    wcscat_s(path, L"vellumo-probe-output.bin");
    EXPECT_EQ(S_OK, sink->SetFileName(path, nullptr));

    LPOLESTR current = nullptr;
    AM_MEDIA_TYPE mt{};
    const HRESULT curHr = sink->GetCurFile(&current, &mt);
    if (SUCCEEDED(curHr)) {
        CoTaskMemFree(current);
        CoTaskMemFree(mt.pbFormat);
        if (mt.pUnk) mt.pUnk->Release();
    }

    std::printf("File Writer: GetCurFile 0x%08lx, IFileSinkFilter2 0x%08lx\n", static_cast<unsigned long>(curHr),
                static_cast<unsigned long>(sink2Hr));
    if (testing_support::IsWine()) {
        EXPECT_EQ(E_NOTIMPL, curHr) << "Wine's File Writer now answers GetCurFile";
        EXPECT_EQ(E_NOINTERFACE, sink2Hr) << "Wine's File Writer gained IFileSinkFilter2";
    } else {
        EXPECT_EQ(S_OK, curHr);
        EXPECT_EQ(S_OK, sink2Hr);
    }
    DeleteFileW(path);
}

}  // namespace
