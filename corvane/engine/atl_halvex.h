// AtlHalvex: the converter. A plain C++ object that holds the paths and the
// parameters, builds one DirectShow graph at a time and raises its events.
// The COM server wraps it (IAtlHalvex, connection point, control window)
// without changing its behaviour.
//
// Contract with the server:
//  - the members below have the signatures of the IAtlHalvex methods and
//    return S_OK (E_POINTER only for a null result pointer, with nothing
//    done); strings follow the automation rules;
//  - Sinks() is the event-sink list the connection point manages;
//  - SetWindow() gives the converter the control's window, or takes it back
//    with null (the current graph and each new one are told to post
//    GraphEventMessage to it); the window procedure calls
//    OnGraphEventMessage() when it receives that message;
//  - sinks may call back into the converter from any event, including
//    LoadFile/Convert from onFinished or onError while the old graph's
//    events are being drained, and may even destroy the converter: after
//    raising an event the converter touches nothing it no longer owns.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>

#include "event_sinks.h"
#include "graph_subject.h"

namespace corvane {

class GraphRunner;
class FilterWrapper;
class FileReaderFilter;
class Mp3EncoderFilter;
class FileWriterFilter;
class AcmWrapperFilter;
class WavDestFilter;
class RealAudioDecoderFilter;

// Error codes raised through onError.
enum ConverterError : LONG {
    ErrorNoGraph = 80000,
    ErrorFileReader = 80001,
    ErrorRealFilters = 80002,
    ErrorSourceConnection = 80003,
    ErrorAcmWrapper = 80004,
    ErrorMp3Encoder = 80005,
    ErrorOutputChain = 80006,
    ErrorGraphAborted = 88890,
};

// Result of LoadFile: the stage at which the source chain failed.
enum LoadResult : LONG {
    LoadOk = 0,
    LoadReaderFailed = 1,
    LoadRealFiltersFailed = 2,
    LoadConnectionFailed = 3,
};

// Message the graph posts to the control's window for each queued event.
constexpr UINT GraphEventMessage = WM_USER + 20;  // 1044

class AtlHalvex {
public:
    AtlHalvex();
    ~AtlHalvex();
    AtlHalvex(const AtlHalvex&) = delete;
    AtlHalvex& operator=(const AtlHalvex&) = delete;

    // IAtlHalvex members, in interface order.
    HRESULT Convert();
    HRESULT get_SaveFile(BSTR* pVal);
    HRESULT put_SaveFile(BSTR newVal);
    HRESULT Play();
    HRESULT Stop();
    HRESULT get_LoadFile(BSTR FileName, LONG* pVal);
    HRESULT get_TotalLength(LONG* pVal);
    HRESULT get_CurrentLength(LONG* pVal);
    HRESULT get_Format(SHORT* pVal);
    HRESULT put_Format(SHORT newVal);
    HRESULT get_MP3_Frequency(SHORT* pVal);
    HRESULT put_MP3_Frequency(SHORT newVal);
    HRESULT get_MP3_Channels(SHORT* pVal);
    HRESULT put_MP3_Channels(SHORT newVal);
    HRESULT get_MP3_Bitrate(SHORT* pVal);
    HRESULT put_MP3_Bitrate(SHORT newVal);
    HRESULT get_MP3_VBR(LONG* pVal);
    HRESULT put_MP3_VBR(LONG newVal);
    HRESULT get_MP3_VBR_MinBitrate(SHORT* pVal);
    HRESULT put_MP3_VBR_MinBitrate(SHORT newVal);
    HRESULT get_MP3_VBR_MaxBitrate(SHORT* pVal);
    HRESULT put_MP3_VBR_MaxBitrate(SHORT newVal);
    HRESULT get_WAV_Frequency(SHORT* pVal);
    HRESULT put_WAV_Frequency(SHORT newVal);
    HRESULT get_WAV_Channels(SHORT* pVal);
    HRESULT put_WAV_Channels(SHORT newVal);
    HRESULT get_WAV_Bits(SHORT* pVal);
    HRESULT put_WAV_Bits(SHORT newVal);

    // Late-bound only (not in IAtlHalvex): whole seconds of sound the last
    // run could not decode, as far as it has gone.
    HRESULT get_DamagedSeconds(LONG* pVal);

    // Host side.
    EventSinkList& Sinks() { return sinks_; }
    void SetWindow(HWND window);
    HWND Window() const { return window_; }
    void OnGraphEventMessage();

private:
    // The converter's observer of its current graph.
    class Observer : public GraphObserver {
    public:
        explicit Observer(AtlHalvex& owner) : owner_(owner) {}
        void OnNotify(LONG code, GraphSubject* subject, LONG extra) override;

    private:
        AtlHalvex& owner_;
    };

    // Pipeline steps.
    void ReleaseFilters();
    bool NewRunner();
    void DisposeRunner(std::unique_ptr<GraphRunner>& runner);
    LONG SourceChain();
    bool OutputChain();
    bool ConnectOutput();
    void ApplySettings();
    void StopGraph();
    // The damaged sound of the last run (100-ns units) and whether its
    // decoder, keeping an account, found only damage: nothing decoded.
    LONGLONG DamagedTime(bool* nothingDecoded = nullptr) const;
    // A run that decoded nothing leaves no file: the output it started goes.
    void DiscardOutput();

    EventSinkList sinks_;
    HWND window_ = nullptr;

    std::unique_ptr<GraphRunner> graph_;
    // Counts the graphs built, so that a member call can tell whether an
    // event it raised had the host replace its graph.
    unsigned long graphsBuilt_ = 0;
    std::wstring sourcePath_;
    std::wstring outputPath_;

    SHORT format_ = 1;
    SHORT mp3Frequency_ = 0;
    SHORT mp3Channels_ = 0;
    SHORT mp3Bitrate_ = 8;
    LONG mp3Vbr_ = 0;
    SHORT mp3VbrMinBitrate_ = 3;
    SHORT mp3VbrMaxBitrate_ = 9;
    SHORT wavFrequency_ = 0;
    SHORT wavChannels_ = 2;
    SHORT wavBits_ = 1;

    std::unique_ptr<FileReaderFilter> reader_;
    std::unique_ptr<Mp3EncoderFilter> encoder_;
    std::unique_ptr<FileWriterFilter> writer_;
    std::unique_ptr<AcmWrapperFilter> acm_;
    std::unique_ptr<FilterWrapper> splitter_;
    std::unique_ptr<RealAudioDecoderFilter> decoder_;
    bool decoderRan_ = false;     // the decoder of the current graph has run
    LONGLONG lastDamaged_ = 0;    // of the run before, once its graph is gone
    std::unique_ptr<WavDestFilter> wavDest_;

    Observer observer_{*this};
};

}  // namespace corvane
