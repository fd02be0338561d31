#include "atl_halvex.h"

#include <climits>
#include <cmath>

#include "filter_ids.h"
#include "filter_wrappers.h"
#include "graph_runner.h"

namespace corvane {

namespace {

// Parameter tables.
constexpr LONG kFrequencies[] = {44100, 22050, 11025};
constexpr SHORT kSampleSizes[] = {8, 16};
constexpr LONG kMpeg1Bitrates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr LONG kMpeg2Bitrates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

// The table entry at index, or false when the index is outside the table.
template <class T, std::size_t N>
bool Lookup(const T (&table)[N], LONG index, T& value)
{
    if (index < 0 || static_cast<std::size_t>(index) >= N) return false;
    value = table[index];
    return true;
}

// Paths stay UTF-16 from the BSTR to the filters: a name with characters
// outside the ANSI code page must reach the file system as it was given.
std::wstring FromBstr(BSTR text)
{
    return text ? std::wstring(text) : std::wstring();
}

BSTR ToBstr(const std::wstring& text)
{
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// Whole seconds, truncated toward zero.
LONG WholeSeconds(double seconds)
{
    if (!std::isfinite(seconds)) return 0;
    if (seconds >= static_cast<double>(LONG_MAX)) return LONG_MAX;
    if (seconds <= static_cast<double>(LONG_MIN)) return LONG_MIN;
    return static_cast<LONG>(seconds);
}

// The error code reported for a refused run: the Win32 code of a Win32
// HRESULT, else the thread's system error, else the HRESULT itself. "Already
// exists" is what a writer leaves on the thread when it replaces an earlier
// file, and hosts ignore that code, so a refused run is never reported by it:
// it is reported as an aborted graph instead.
LONG RunFailureCode(HRESULT hr, DWORD threadError)
{
    DWORD code = static_cast<DWORD>(hr);
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32 && HRESULT_CODE(hr) != 0) code = static_cast<DWORD>(HRESULT_CODE(hr));
    else if (threadError != ERROR_SUCCESS) code = threadError;
    return code == ERROR_ALREADY_EXISTS ? static_cast<LONG>(ErrorGraphAborted) : static_cast<LONG>(code);
}

}  // namespace

// --- Lifetime --------------------------------------------------------------

AtlHalvex::AtlHalvex() = default;

AtlHalvex::~AtlHalvex()
{
    StopGraph();
    ReleaseFilters();
    DisposeRunner(graph_);
}

void AtlHalvex::SetWindow(HWND window)
{
    window_ = window;
    if (!graph_) return;
    // The current graph follows the window: a control that its container
    // deactivates and activates again gets its job's events in the new
    // window, and none go to a destroyed one. What the graph queued in
    // between is fetched at once.
    const bool live = window_ && IsWindow(window_);
    graph_->SetNotifyWindow(live ? window_ : nullptr);
    if (live) PostMessageW(window_, GraphEventMessage, 0, 0);
}

void AtlHalvex::OnGraphEventMessage()
{
    if (graph_) graph_->OnGraphEvent();
}

void AtlHalvex::Observer::OnNotify(LONG code, GraphSubject* subject, LONG extra)
{
    switch (code) {
    case NotifyGraphComplete:
        if (owner_.graph_) owner_.graph_->Stop();
        // A writer that lost a write without a word leaves a file shorter
        // than what it was given: that run failed.
        if (owner_.writer_ && owner_.wavDest_ && !owner_.writer_->FileHolds(owner_.wavDest_->OutputLength()))
            owner_.sinks_.RaiseError(ErrorGraphAborted);
        else
            owner_.sinks_.RaiseFinished();
        break;
    case NotifyGraphAborted: {
        bool nothingDecoded = false;
        owner_.DamagedTime(&nothingDecoded);
        if (nothingDecoded) owner_.DiscardOutput();
        owner_.sinks_.RaiseError(ErrorGraphAborted);
        break;
    }
    default:
        GraphObserver::OnNotify(code, subject, extra);
        break;
    }
}

// --- Members ---------------------------------------------------------------

HRESULT AtlHalvex::Convert()
{
    StopGraph();
    ReleaseFilters();
    if (!NewRunner()) return S_OK;
    // A sink may answer an error raised on the way by building a new graph
    // (LoadFile, Convert): this call then has nothing left to do.
    const unsigned long job = graphsBuilt_;
    bool outputOk = true;
    if (SourceChain() == LoadOk) outputOk = OutputChain();
    if (graphsBuilt_ != job) return S_OK;
    if (!outputOk) sinks_.RaiseError(ErrorOutputChain);
    if (graphsBuilt_ != job) return S_OK;
    if (!ConnectOutput()) sinks_.RaiseError(ErrorOutputChain);
    return S_OK;
}

HRESULT AtlHalvex::get_SaveFile(BSTR* pVal)
{
    if (!pVal) return E_POINTER;
    *pVal = ToBstr(outputPath_);
    return S_OK;
}

HRESULT AtlHalvex::put_SaveFile(BSTR newVal)
{
    outputPath_ = FromBstr(newVal);
    return S_OK;
}

HRESULT AtlHalvex::Play()
{
    // Only an error of the run request itself is reported: not a value some
    // earlier call left behind on this thread, nor one that the graph
    // manager's own successful internal calls leave behind.
    SetLastError(ERROR_SUCCESS);
    bool ran = !graph_ || graph_->Run();
    DWORD error = GetLastError();
    if (ran && decoder_) decoderRan_ = true;
    if (!ran) {
        // A refused run always reaches the host. The graph manager's own
        // internal calls may leave an unrelated system error behind (Wine
        // leaves 14007), so a run refused with a Win32 HRESULT (a file writer
        // that cannot create its file) is reported by that code.
        sinks_.RaiseError(RunFailureCode(graph_->LastRunResult(), error));
    }
    return S_OK;
}

HRESULT AtlHalvex::Stop()
{
    if (!graph_) return S_OK;
    // Stopped first, then rewound: a running graph sought to its start would
    // stream the source again into the output before the stop reached it.
    graph_->Stop();
    graph_->Seek(0.0);
    sinks_.RaiseStopped();
    return S_OK;
}

HRESULT AtlHalvex::get_LoadFile(BSTR FileName, LONG* pVal)
{
    if (!pVal) return E_POINTER;
    sourcePath_ = FromBstr(FileName);
    StopGraph();
    ReleaseFilters();
    if (!NewRunner()) return S_OK;
    *pVal = SourceChain();
    return S_OK;
}

HRESULT AtlHalvex::get_TotalLength(LONG* pVal)
{
    if (!pVal) return E_POINTER;
    *pVal = graph_ ? WholeSeconds(graph_->Duration()) : 0;
    return S_OK;
}

HRESULT AtlHalvex::get_CurrentLength(LONG* pVal)
{
    if (!pVal) return E_POINTER;
    *pVal = wavDest_ ? WholeSeconds(wavDest_->ElapsedSeconds()) : 0;
    return S_OK;
}

HRESULT AtlHalvex::get_DamagedSeconds(LONG* pVal)
{
    if (!pVal) return E_POINTER;
    *pVal = WholeSeconds(static_cast<double>(DamagedTime()) / 1e7);
    return S_OK;
}

#define CORVANE_PARAMETER(Name, Type, field)            \
    HRESULT AtlHalvex::get_##Name(Type* pVal)           \
    {                                                   \
        if (!pVal) return E_POINTER;                    \
        *pVal = field;                                  \
        return S_OK;                                    \
    }                                                   \
    HRESULT AtlHalvex::put_##Name(Type newVal)          \
    {                                                   \
        field = newVal;                                 \
        return S_OK;                                    \
    }

CORVANE_PARAMETER(Format, SHORT, format_)
CORVANE_PARAMETER(MP3_Frequency, SHORT, mp3Frequency_)
CORVANE_PARAMETER(MP3_Channels, SHORT, mp3Channels_)
CORVANE_PARAMETER(MP3_Bitrate, SHORT, mp3Bitrate_)
CORVANE_PARAMETER(MP3_VBR, LONG, mp3Vbr_)
CORVANE_PARAMETER(MP3_VBR_MinBitrate, SHORT, mp3VbrMinBitrate_)
CORVANE_PARAMETER(MP3_VBR_MaxBitrate, SHORT, mp3VbrMaxBitrate_)
CORVANE_PARAMETER(WAV_Frequency, SHORT, wavFrequency_)
CORVANE_PARAMETER(WAV_Channels, SHORT, wavChannels_)
CORVANE_PARAMETER(WAV_Bits, SHORT, wavBits_)

#undef CORVANE_PARAMETER

// --- Pipeline steps --------------------------------------------------------

void AtlHalvex::StopGraph()
{
    if (graph_) graph_->Stop();
}

LONGLONG AtlHalvex::DamagedTime(bool* nothingDecoded) const
{
    if (nothingDecoded) *nothingDecoded = false;
    if (!decoderRan_ || !decoder_) return lastDamaged_;
    LONGLONG damaged = 0, decoded = 0;
    const bool known = decoder_->Account(damaged, decoded);
    // Only a source whose every packet was garbage: a run that failed before
    // the decoder saw anything (a target the writer could not open) has no
    // file of ours to take away.
    if (nothingDecoded) *nothingDecoded = known && decoded == 0 && damaged > 0;
    return damaged;
}

void AtlHalvex::DiscardOutput()
{
    if (!writer_) return;
    // The writer lets go of the file when its graph stops.
    if (graph_) graph_->Stop();
    DeleteFileW(writer_->Path().c_str());
}

void AtlHalvex::ReleaseFilters()
{
    if (decoderRan_) lastDamaged_ = DamagedTime();
    decoderRan_ = false;
    reader_.reset();
    encoder_.reset();
    acm_.reset();
    writer_.reset();
    splitter_.reset();
    decoder_.reset();
    wavDest_.reset();
}

void AtlHalvex::DisposeRunner(std::unique_ptr<GraphRunner>& runner)
{
    if (!runner) return;
    runner->SetNotifyWindow(nullptr);
    runner->DetachObserver(&observer_);
    runner.reset();
}

bool AtlHalvex::NewRunner()
{
    DisposeRunner(graph_);
    auto runner = std::make_unique<GraphRunner>();
    if (!runner->Create()) {
        // Not yet in the slot: a sink that reacts to the error finds no graph.
        sinks_.RaiseError(ErrorNoGraph);
        DisposeRunner(runner);
        return false;
    }
    if (window_ && IsWindow(window_)) runner->SetNotifyWindow(window_);
    runner->AttachObserver(&observer_);
    graph_ = std::move(runner);
    ++graphsBuilt_;
    return true;
}

LONG AtlHalvex::SourceChain()
{
    IGraphBuilder* graph = graph_ ? graph_->Graph() : nullptr;

    reader_ = std::make_unique<FileReaderFilter>(graph);
    bool created = reader_->Create();
    reader_->LoadSource(sourcePath_.c_str());
    if (!created) {
        sinks_.RaiseError(ErrorFileReader);
        return LoadReaderFailed;
    }

    splitter_ = std::make_unique<FilterWrapper>(graph, CLSID_RealSplitter, "Real Spliter");
    if (!splitter_->Create()) {
        sinks_.RaiseError(ErrorRealFilters);
        return LoadRealFiltersFailed;
    }
    decoder_ = std::make_unique<RealAudioDecoderFilter>(graph);
    if (!decoder_->Create()) {
        sinks_.RaiseError(ErrorRealFilters);
        return LoadRealFiltersFailed;
    }

    // The splitter's audio output may only appear once its input is connected:
    // look it up after the first connection.
    bool connected = graph_->ConnectDirect(reader_->OutputPin(), splitter_->InputPin()) &&
                     graph_->ConnectDirect(splitter_->OutputPin(L"udio"), decoder_->InputPin());
    if (!connected) {
        sinks_.RaiseError(ErrorSourceConnection);
        return LoadConnectionFailed;
    }
    return LoadOk;
}

bool AtlHalvex::OutputChain()
{
    IGraphBuilder* graph = graph_ ? graph_->Graph() : nullptr;

    writer_ = std::make_unique<FileWriterFilter>(graph);
    bool created = writer_->Create();
    writer_->SetOutputFile(outputPath_.c_str());
    if (!created) return false;

    wavDest_ = std::make_unique<WavDestFilter>(graph);
    if (!wavDest_->Create()) return false;
    wavDest_->SetWaveOutput(1);

    acm_ = std::make_unique<AcmWrapperFilter>(graph);
    if (!acm_->Create()) {
        sinks_.RaiseError(ErrorAcmWrapper);
        return false;
    }

    if (format_ == 0) return true;

    wavDest_->SetWaveOutput(0);
    encoder_ = std::make_unique<Mp3EncoderFilter>(graph);
    if (!encoder_->Create()) {
        sinks_.RaiseError(ErrorMp3Encoder);
        return false;
    }
    return true;
}

bool AtlHalvex::ConnectOutput()
{
    if (!graph_ || !decoder_ || !acm_) return false;
    if (!graph_->ConnectDirect(decoder_->OutputPin(), acm_->InputPin())) return false;

    IPin* current = acm_->OutputPin();
    if (!current) return false;

    if (format_ != 0) {
        if (!encoder_) return false;
        if (!graph_->ConnectDirect(current, encoder_->InputPin())) return false;
        current = encoder_->OutputPin();
        if (!current) return false;
    }

    ApplySettings();

    if (!wavDest_) return false;
    if (!graph_->ConnectDirect(current, wavDest_->InputPin())) return false;
    if (!writer_) return false;
    return graph_->ConnectDirect(wavDest_->OutputPin(), writer_->InputPin());
}

void AtlHalvex::ApplySettings()
{
    // Values outside the tables make no call for that value.
    if (format_ == 1 && encoder_) {
        LONG frequency = 0;
        if (Lookup(kFrequencies, mp3Frequency_, frequency)) encoder_->SetSampleRate(frequency);
        encoder_->SetChannelMode(mp3Channels_);
        encoder_->SetVariable(mp3Vbr_);

        // MPEG-1 rates for 44100 Hz, MPEG-2 rates for 22050 and 11025 Hz.
        const LONG(*bitrates)[14] = nullptr;
        if (mp3Frequency_ == 0) bitrates = &kMpeg1Bitrates;
        else if (mp3Frequency_ == 1 || mp3Frequency_ == 2) bitrates = &kMpeg2Bitrates;
        if (bitrates) {
            LONG kbps = 0;
            if (mp3Vbr_ != 0) {
                if (Lookup(*bitrates, mp3VbrMaxBitrate_, kbps)) encoder_->SetVariableMax(kbps);
                if (Lookup(*bitrates, mp3VbrMinBitrate_, kbps)) encoder_->SetVariableMin(kbps);
            } else {
                if (Lookup(*bitrates, mp3Bitrate_, kbps)) encoder_->SetBitrate(kbps);
            }
        }
    } else if (format_ == 0 && acm_) {
        LONG frequency = 0;
        if (Lookup(kFrequencies, wavFrequency_, frequency)) acm_->SetSampleRate(frequency);
        acm_->SetChannels(wavChannels_);
        SHORT bits = 0;
        if (Lookup(kSampleSizes, wavBits_, bits)) acm_->SetBitsPerSample(bits);
        acm_->ApplyFormat();
    }
}

}  // namespace corvane
