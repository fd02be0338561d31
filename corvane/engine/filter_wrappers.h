// Filter wrappers: one small object per installed filter of the converter's
// graphs. A wrapper creates its filter, adds it to the graph under its name,
// finds its pins, holds the extra interface the converter configures it
// through, and removes and releases it again.
#pragma once

#include "dshow_uuids.h"

#include <string>

#include "com_ptr.h"
#include "filter_interfaces.h"

namespace corvane {

class FilterWrapper {
public:
    // graph must outlive the wrapper; name is in the ANSI code page (may be null).
    FilterWrapper(IGraphBuilder* graph, REFCLSID classId, const char* name);
    virtual ~FilterWrapper();
    FilterWrapper(const FilterWrapper&) = delete;
    FilterWrapper& operator=(const FilterWrapper&) = delete;

    virtual bool Create();
    virtual void Release();

    IPin* InputPin();
    virtual IPin* OutputPin(const wchar_t* pattern = nullptr);

    IBaseFilter* Filter() const { return filter_.Get(); }
    const wchar_t* Name() const { return name_; }
    const CLSID& ClassId() const { return classId_; }

protected:
    // Releases the interfaces of a specialisation (before the filter goes).
    virtual void ReleaseExtras() {}
    // Queries the filter for an extra interface of a specialisation.
    template <class T>
    bool QueryExtra(ComPtr<T>& out) { return SUCCEEDED(filter_.As(out)); }

private:
    IGraphBuilder* graph_;
    ComPtr<IBaseFilter> filter_;
    CLSID classId_;
    wchar_t name_[256];
};

// The RealAudio decoder; where it keeps an account of what it could and
// could not decode (the pack's does), the converter reads it.
class RealAudioDecoderFilter : public FilterWrapper {
public:
    explicit RealAudioDecoderFilter(IGraphBuilder* graph);
    ~RealAudioDecoderFilter() override;
    bool Create() override;
    // The run's damaged and decoded sound in 100-ns units; false when the
    // decoder keeps no account.
    bool Account(LONGLONG& damaged, LONGLONG& decoded) const;

private:
    void ReleaseExtras() override { account_.Reset(); }
    ComPtr<IDecodeAccount> account_;
};

class FileReaderFilter : public FilterWrapper {
public:
    explicit FileReaderFilter(IGraphBuilder* graph);
    ~FileReaderFilter() override;
    bool Create() override;
    void LoadSource(const wchar_t* path);

private:
    void ReleaseExtras() override { source_.Reset(); }
    ComPtr<IFileSourceFilter> source_;
};

class AcmWrapperFilter : public FilterWrapper {
public:
    explicit AcmWrapperFilter(IGraphBuilder* graph);
    ~AcmWrapperFilter() override;
    // The first output pin; also obtains its IAMStreamConfig.
    IPin* OutputPin(const wchar_t* pattern = nullptr) override;
    void SetSampleRate(LONG hz) { sampleRate_ = hz; }
    void SetChannels(SHORT channels) { channels_ = channels; }
    void SetBitsPerSample(SHORT bits) { bitsPerSample_ = bits; }
    bool ApplyFormat();

private:
    void ReleaseExtras() override { streamConfig_.Reset(); }
    ComPtr<IAMStreamConfig> streamConfig_;
    LONG sampleRate_ = 44100;
    SHORT channels_ = 1;
    SHORT bitsPerSample_ = 16;
};

class Mp3EncoderFilter : public FilterWrapper {
public:
    explicit Mp3EncoderFilter(IGraphBuilder* graph);
    ~Mp3EncoderFilter() override;
    bool Create() override;
    bool SetBitrate(LONG kbps);
    bool SetVariable(LONG variable);
    bool SetVariableMin(LONG kbps);
    bool SetVariableMax(LONG kbps);
    bool SetSampleRate(LONG hz);
    bool SetChannelMode(LONG mode);

private:
    void ReleaseExtras() override { encoder_.Reset(); }
    ComPtr<IAudioEncoderProperties> encoder_;
};

class WavDestFilter : public FilterWrapper {
public:
    explicit WavDestFilter(IGraphBuilder* graph);
    ~WavDestFilter() override;
    bool Create() override;
    void SetWaveOutput(LONG waveOutput);
    double ElapsedSeconds();
    // The length the output file has once all the filter delivered is
    // written; 0 when the filter does not tell.
    ULONGLONG OutputLength();

private:
    void ReleaseExtras() override { control_.Reset(); }
    ComPtr<IWavDestControl> control_;
};

class FileWriterFilter : public FilterWrapper {
public:
    explicit FileWriterFilter(IGraphBuilder* graph);
    ~FileWriterFilter() override;
    bool Create() override;
    void SetOutputFile(const wchar_t* path);
    // Whether the file it was given holds at least `bytes` bytes: a writer
    // may lose a write without a word (the platform's on a full disk).
    bool FileHolds(ULONGLONG bytes) const;
    const std::wstring& Path() const { return path_; }

private:
    void ReleaseExtras() override
    {
        sink_.Reset();
        sink2_.Reset();
    }
    ComPtr<IFileSinkFilter> sink_;
    ComPtr<IFileSinkFilter2> sink2_;
    std::wstring path_;
};

}  // namespace corvane
