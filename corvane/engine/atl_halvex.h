// AtlHalvex: the converter. A plain C++ object that holds the paths and the
// parameters, builds one DirectShow graph at a time and raises its events.
// The COM server wraps it (IAtlHalvex, connection point, control window)
// without changing its behaviour.
//
// Contract with the server:
//  - the members below have the signatures of the IAtlHalvex methods and
//    always return S_OK; strings follow the automation rules;
//  - Sinks() is the event-sink list the connection point manages;
//  - SetWindow() gives the converter the control's window (each new graph is
//    told to post GraphEventMessage to it); the window procedure calls
//    OnGraphEventMessage() when it receives that message.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "event_sinks.h"

namespace corvane {

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

    // Host side.
    EventSinkList& Sinks() { return sinks_; }
    void SetWindow(HWND window);
    HWND Window() const { return window_; }
    void OnGraphEventMessage();

private:
    EventSinkList sinks_;
    HWND window_ = nullptr;
    // The rest of the converter's state lives in the engine's implementation.
};

}  // namespace corvane
