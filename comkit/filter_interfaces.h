// Control interfaces of the third-party filters the converter configures:
// the MP3 encoder's IAudioEncoderProperties and the WAV-writing filter's
// IWavDestControl. The companion filter pack implements both from this
// header, its WAV writer also IWavDestOutput and its RealAudio decoder
// IDecodeAccount.
#pragma once

#include <unknwn.h>

// {CA7E9EF0-1CBE-11D3-8D29-00A0C94BBFEE}
inline constexpr GUID IID_IAudioEncoderProperties =
    {0xca7e9ef0, 0x1cbe, 0x11d3, {0x8d, 0x29, 0x00, 0xa0, 0xc9, 0x4b, 0xbf, 0xee}};
// {F1AD4BB8-2BF8-46E3-9C49-497D7FCECBDE}
inline constexpr GUID IID_IWavDestControl =
    {0xf1ad4bb8, 0x2bf8, 0x46e3, {0x9c, 0x49, 0x49, 0x7d, 0x7f, 0xce, 0xcb, 0xde}};
// {8E3B6F21-5C47-4D0A-B1E9-2A7C4F90D635}
inline constexpr GUID IID_IWavDestOutput =
    {0x8e3b6f21, 0x5c47, 0x4d0a, {0xb1, 0xe9, 0x2a, 0x7c, 0x4f, 0x90, 0xd6, 0x35}};
// {7883974C-F5BA-411E-83E0-43835CD59101}
inline constexpr GUID IID_IDecodeAccount =
    {0x7883974c, 0xf5ba, 0x411e, {0x83, 0xe0, 0x43, 0x83, 0x5c, 0xd5, 0x91, 0x01}};

// COM interfaces are released, never deleted: they have no virtual destructor.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// Settings of an MP3 encoder filter. Slot numbers count QueryInterface as 0.
struct IAudioEncoderProperties : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_PESOutputEnabled(DWORD* enabled) = 0;  // 3
    virtual HRESULT STDMETHODCALLTYPE set_PESOutputEnabled(DWORD enabled) = 0;   // 4
    virtual HRESULT STDMETHODCALLTYPE get_Bitrate(DWORD* kbps) = 0;              // 5
    virtual HRESULT STDMETHODCALLTYPE set_Bitrate(DWORD kbps) = 0;               // 6
    virtual HRESULT STDMETHODCALLTYPE get_Variable(DWORD* vbr) = 0;              // 7
    virtual HRESULT STDMETHODCALLTYPE set_Variable(DWORD vbr) = 0;               // 8
    virtual HRESULT STDMETHODCALLTYPE get_VariableMin(DWORD* kbps) = 0;          // 9
    virtual HRESULT STDMETHODCALLTYPE set_VariableMin(DWORD kbps) = 0;           // 10
    virtual HRESULT STDMETHODCALLTYPE get_VariableMax(DWORD* kbps) = 0;          // 11
    virtual HRESULT STDMETHODCALLTYPE set_VariableMax(DWORD kbps) = 0;           // 12
    virtual HRESULT STDMETHODCALLTYPE get_Quality(DWORD* quality) = 0;           // 13
    virtual HRESULT STDMETHODCALLTYPE set_Quality(DWORD quality) = 0;            // 14
    virtual HRESULT STDMETHODCALLTYPE get_VariableQ(DWORD* quality) = 0;         // 15
    virtual HRESULT STDMETHODCALLTYPE set_VariableQ(DWORD quality) = 0;          // 16
    virtual HRESULT STDMETHODCALLTYPE get_SourceSampleRate(DWORD* hz) = 0;       // 17
    virtual HRESULT STDMETHODCALLTYPE get_SourceChannels(DWORD* channels) = 0;   // 18
    virtual HRESULT STDMETHODCALLTYPE get_SampleRate(DWORD* hz) = 0;             // 19
    virtual HRESULT STDMETHODCALLTYPE set_SampleRate(DWORD hz) = 0;              // 20
    virtual HRESULT STDMETHODCALLTYPE get_ChannelMode(DWORD* mode) = 0;          // 21
    virtual HRESULT STDMETHODCALLTYPE set_ChannelMode(DWORD mode) = 0;           // 22
    virtual HRESULT STDMETHODCALLTYPE get_CRCFlag(DWORD* crc) = 0;               // 23
    virtual HRESULT STDMETHODCALLTYPE set_CRCFlag(DWORD crc) = 0;                // 24
    virtual HRESULT STDMETHODCALLTYPE get_CopyrightFlag(DWORD* flag) = 0;        // 25
    virtual HRESULT STDMETHODCALLTYPE set_CopyrightFlag(DWORD flag) = 0;         // 26
    virtual HRESULT STDMETHODCALLTYPE get_OriginalFlag(DWORD* flag) = 0;         // 27
    virtual HRESULT STDMETHODCALLTYPE set_OriginalFlag(DWORD flag) = 0;          // 28
};
__CRT_UUID_DECL(IAudioEncoderProperties,
                0xca7e9ef0, 0x1cbe, 0x11d3, 0x8d, 0x29, 0x00, 0xa0, 0xc9, 0x4b, 0xbf, 0xee)

// The WAV-writing filter's control. Slot numbers count QueryInterface as 0.
struct IWavDestControl : public IUnknown {
    // Stream time written so far, in 100-ns units.
    virtual HRESULT STDMETHODCALLTYPE GetTime(LONGLONG* time) = 0;               // 3
    // 1: write a RIFF/WAVE file; 0: pass the (MP3) bytes through unchanged.
    virtual HRESULT STDMETHODCALLTYPE SetWaveOutput(LONG waveOutput) = 0;         // 4
};

// The pack's WAV-writing filter's account of its output (other WAV writers
// may not have it). Slot numbers count QueryInterface as 0.
struct IWavDestOutput : public IUnknown {
    // The length the output file has once every byte delivered in this run
    // is written: the end of the furthest one.
    virtual HRESULT STDMETHODCALLTYPE GetOutputLength(ULONGLONG* bytes) = 0;      // 3
    // The largest RIFF size a plain RIFF/WAVE header is written for (the
    // 32-bit size field's limit unless set; while stopped). A run expected to
    // pass it is written as RF64; one that passes it unexpectedly fails.
    virtual HRESULT STDMETHODCALLTYPE SetRiffSizeLimit(ULONGLONG bytes) = 0;      // 4
};

// The pack's RealAudio decoder's account of the run (other decoders may not
// have it). Slot numbers count QueryInterface as 0.
struct IDecodeAccount : public IUnknown {
    // Sound of the run that could not be decoded (concealed by silence, or
    // lost) and sound that was decoded, in 100-ns units, so far. A run
    // starts when the graph leaves the stopped state; the figures stay
    // after it until the next one starts.
    virtual HRESULT STDMETHODCALLTYPE GetDecodeAccount(LONGLONG* damaged, LONGLONG* decoded) = 0;  // 3
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
__CRT_UUID_DECL(IWavDestControl,
                0xf1ad4bb8, 0x2bf8, 0x46e3, 0x9c, 0x49, 0x49, 0x7d, 0x7f, 0xce, 0xcb, 0xde)
__CRT_UUID_DECL(IWavDestOutput,
                0x8e3b6f21, 0x5c47, 0x4d0a, 0xb1, 0xe9, 0x2a, 0x7c, 0x4f, 0x90, 0xd6, 0x35)
__CRT_UUID_DECL(IDecodeAccount,
                0x7883974c, 0xf5ba, 0x411e, 0x83, 0xe0, 0x43, 0x83, 0x5c, 0xd5, 0x91, 0x01)
