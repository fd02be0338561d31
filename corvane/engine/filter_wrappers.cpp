#include "filter_wrappers.h"

#include <cwchar>

#include "filter_ids.h"
#include "find_pin.h"
#include "media_type.h"

namespace corvane {

namespace {

// Narrow (ANSI code page) to UTF-16 into a fixed buffer. A string that does
// not fit converts to an empty one rather than to an unterminated buffer.
template <std::size_t N>
void ToWide(const char* text, wchar_t (&out)[N])
{
    out[0] = L'\0';
    if (!text) return;
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, out, static_cast<int>(N)) == 0) out[0] = L'\0';
    out[N - 1] = L'\0';
}

// A path as the filters take it: at most MAX_PATH characters with the
// terminator. One that does not fit is handed over empty rather than cut.
template <std::size_t N>
void CopyPath(const wchar_t* path, wchar_t (&out)[N])
{
    out[0] = L'\0';
    if (path && wcslen(path) < N) wcscpy(out, path);
}

// An empty media type as the GetCurFile calls expect it.
AM_MEDIA_TYPE EmptyMediaType()
{
    AM_MEDIA_TYPE type{};
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = 1;
    return type;
}

}  // namespace

// --- FilterWrapper ---------------------------------------------------------

FilterWrapper::FilterWrapper(IGraphBuilder* graph, REFCLSID classId, const char* name)
    : graph_(graph), classId_(classId)
{
    ToWide(name, name_);
}

FilterWrapper::~FilterWrapper()
{
    Release();
}

bool FilterWrapper::Create()
{
    if (!filter_ && graph_) {
        HRESULT hr = CoCreateInstance(classId_, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter_.PutVoid());
        if (SUCCEEDED(hr) && filter_ && SUCCEEDED(graph_->AddFilter(filter_.Get(), name_))) return true;
        // A filter that was created but not added must not be removed below.
        if (filter_) filter_.Reset();
    }
    Release();
    return false;
}

void FilterWrapper::Release()
{
    ReleaseExtras();
    if (filter_) {
        if (graph_) graph_->RemoveFilter(filter_.Get());
        filter_.Reset();
    }
}

IPin* FilterWrapper::InputPin()
{
    return FindPin(filter_.Get(), PINDIR_INPUT);
}

IPin* FilterWrapper::OutputPin(const wchar_t* pattern)
{
    return FindPin(filter_.Get(), PINDIR_OUTPUT, pattern);
}

// --- FileReaderFilter ------------------------------------------------------

FileReaderFilter::FileReaderFilter(IGraphBuilder* graph) : FilterWrapper(graph, CLSID_AsyncReader, "File Reader") {}

FileReaderFilter::~FileReaderFilter()
{
    Release();
}

bool FileReaderFilter::Create()
{
    if (!FilterWrapper::Create()) return false;
    return QueryExtra(source_);
}

void FileReaderFilter::LoadSource(const wchar_t* path)
{
    wchar_t widePath[MAX_PATH];
    CopyPath(path, widePath);
    if (!source_) return;
    AM_MEDIA_TYPE type = EmptyMediaType();
    LPOLESTR current = nullptr;
    if (SUCCEEDED(source_->GetCurFile(&current, &type))) {
        CoTaskMemFree(current);
        source_->Load(widePath, nullptr);
    }
    FreeMediaTypeContents(type);
}

// --- AcmWrapperFilter ------------------------------------------------------

AcmWrapperFilter::AcmWrapperFilter(IGraphBuilder* graph) : FilterWrapper(graph, CLSID_ACMWrapper, "ACM Wrapper KQ") {}

AcmWrapperFilter::~AcmWrapperFilter()
{
    Release();
}

IPin* AcmWrapperFilter::OutputPin(const wchar_t* /*pattern*/)
{
    IPin* pin = FilterWrapper::OutputPin(nullptr);
    if (pin) {
        ComPtr<IPin> held(pin);
        held.As(streamConfig_);
    }
    return pin;
}

bool AcmWrapperFilter::ApplyFormat()
{
    if (!streamConfig_) return false;
    AM_MEDIA_TYPE* type = nullptr;
    if (FAILED(streamConfig_->GetFormat(&type)) || !type) return false;
    // A format block too small for the PCM fields is not a format we can set.
    if (!type->pbFormat || type->cbFormat < sizeof(PCMWAVEFORMAT)) {
        DeleteMediaType(type);
        return false;
    }
    {
        auto* format = reinterpret_cast<WAVEFORMATEX*>(type->pbFormat);
        LONG blockAlign = static_cast<LONG>(channels_) * bitsPerSample_ / 8;
        format->nSamplesPerSec = static_cast<DWORD>(sampleRate_);
        format->wBitsPerSample = static_cast<WORD>(bitsPerSample_);
        format->nChannels = static_cast<WORD>(channels_);
        format->nBlockAlign = static_cast<WORD>(blockAlign);
        format->nAvgBytesPerSec = static_cast<DWORD>(static_cast<LONG>(format->nBlockAlign) * sampleRate_);
    }
    HRESULT hr = streamConfig_->SetFormat(type);
    DeleteMediaType(type);
    return SUCCEEDED(hr);
}

// --- RealAudioDecoderFilter ------------------------------------------------

RealAudioDecoderFilter::RealAudioDecoderFilter(IGraphBuilder* graph)
    : FilterWrapper(graph, CLSID_RealAudioDecoder, "Real ADecoder")
{
}

RealAudioDecoderFilter::~RealAudioDecoderFilter()
{
    Release();
}

bool RealAudioDecoderFilter::Create()
{
    if (!FilterWrapper::Create()) return false;
    QueryExtra(account_);  // another decoder without one does as well
    return true;
}

bool RealAudioDecoderFilter::Account(LONGLONG& damaged, LONGLONG& decoded) const
{
    damaged = decoded = 0;
    return account_ && SUCCEEDED(account_->GetDecodeAccount(&damaged, &decoded));
}

// --- Mp3EncoderFilter ------------------------------------------------------

Mp3EncoderFilter::Mp3EncoderFilter(IGraphBuilder* graph) : FilterWrapper(graph, CLSID_Mp3Encoder, "Mpeg Layer-3 KQ") {}

Mp3EncoderFilter::~Mp3EncoderFilter()
{
    Release();
}

bool Mp3EncoderFilter::Create()
{
    if (!FilterWrapper::Create()) return false;
    return QueryExtra(encoder_);
}

bool Mp3EncoderFilter::SetBitrate(LONG kbps)
{
    return encoder_ && SUCCEEDED(encoder_->set_Bitrate(static_cast<DWORD>(kbps)));
}

bool Mp3EncoderFilter::SetVariable(LONG variable)
{
    return encoder_ && SUCCEEDED(encoder_->set_Variable(static_cast<DWORD>(variable)));
}

bool Mp3EncoderFilter::SetVariableMin(LONG kbps)
{
    return encoder_ && SUCCEEDED(encoder_->set_VariableMin(static_cast<DWORD>(kbps)));
}

bool Mp3EncoderFilter::SetVariableMax(LONG kbps)
{
    return encoder_ && SUCCEEDED(encoder_->set_VariableMax(static_cast<DWORD>(kbps)));
}

bool Mp3EncoderFilter::SetSampleRate(LONG hz)
{
    return encoder_ && SUCCEEDED(encoder_->set_SampleRate(static_cast<DWORD>(hz)));
}

bool Mp3EncoderFilter::SetChannelMode(LONG mode)
{
    // The low 16 bits, sign-extended.
    LONG value = static_cast<SHORT>(mode & 0xFFFF);
    return encoder_ && SUCCEEDED(encoder_->set_ChannelMode(static_cast<DWORD>(value)));
}

// --- WavDestFilter ---------------------------------------------------------

WavDestFilter::WavDestFilter(IGraphBuilder* graph) : FilterWrapper(graph, CLSID_WavDest, "TestFilter Class") {}

WavDestFilter::~WavDestFilter()
{
    Release();
}

bool WavDestFilter::Create()
{
    if (!FilterWrapper::Create()) return false;
    return QueryExtra(control_);
}

void WavDestFilter::SetWaveOutput(LONG waveOutput)
{
    if (control_) control_->SetWaveOutput(waveOutput);
}

double WavDestFilter::ElapsedSeconds()
{
    if (!control_) return 0.0;
    LONGLONG time = 0;
    if (FAILED(control_->GetTime(&time))) return 0.0;
    return static_cast<double>(time / 10000000LL);
}

ULONGLONG WavDestFilter::OutputLength()
{
    ComPtr<IWavDestOutput> output;
    ULONGLONG bytes = 0;
    if (!control_ || FAILED(control_.As(output)) || FAILED(output->GetOutputLength(&bytes))) return 0;
    return bytes;
}

// --- FileWriterFilter ------------------------------------------------------

FileWriterFilter::FileWriterFilter(IGraphBuilder* graph) : FilterWrapper(graph, CLSID_FileWriter, "File Writer") {}

FileWriterFilter::~FileWriterFilter()
{
    Release();
}

bool FileWriterFilter::Create()
{
    if (!FilterWrapper::Create()) return false;
    if (!QueryExtra(sink_)) return false;
    if (QueryExtra(sink2_)) sink2_->SetMode(AM_FILE_OVERWRITE);
    return true;
}

void FileWriterFilter::SetOutputFile(const wchar_t* path)
{
    wchar_t widePath[MAX_PATH];
    CopyPath(path, widePath);
    path_ = widePath;
    if (!sink_) return;
    AM_MEDIA_TYPE type = EmptyMediaType();
    LPOLESTR current = nullptr;
    if (SUCCEEDED(sink_->GetCurFile(&current, &type))) {
        CoTaskMemFree(current);
        sink_->SetFileName(widePath, &type);
    }
    FreeMediaTypeContents(type);
}

bool FileWriterFilter::FileHolds(ULONGLONG bytes) const
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) return bytes == 0;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow) >= bytes;
}

}  // namespace corvane
