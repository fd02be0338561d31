// File Writer stand-in: writes each sample at the byte offset given by its
// start time (length = stop - start), like the platform's File Writer, with
// IFileSinkFilter2, a working GetCurFile, seeking passed upstream, and
// EC_COMPLETE sent only once the file is completely written and closed. A
// write that fails raises EC_ERRORABORT, and the run then never completes.
#pragma once

#include "base/base_filter.h"
#include "base/handle.h"
#include "base/pins.h"
#include "base/seeking_passthrough.h"

#include <memory>
#include <mutex>
#include <string>

namespace vellumo::filters {

class FileWriterFilter final : public BaseFilter, public IFileSinkFilter2, public IAMFilterMiscFlags {
public:
    FileWriterFilter();
    ~FileWriterFilter() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return BaseFilter::QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return BaseFilter::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return BaseFilter::Release(); }

    // IFileSinkFilter / IFileSinkFilter2
    HRESULT STDMETHODCALLTYPE SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE SetMode(DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetMode(DWORD* flags) override;
    // IAMFilterMiscFlags
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    int PinCount() override { return 1; }
    bool ReportsStreamFailures() const override { return true; }
    BasePin* PinAt(int index) override;

private:
    class Input;
    friend class Input;

    HRESULT QueryFilterInterface(REFIID iid, void** out) override;
    HRESULT OnStartStreaming() override;
    HRESULT OnRun(REFERENCE_TIME start) override;
    HRESULT OnPause() override;
    HRESULT OnStop() override;

    HRESULT OpenFile(bool truncate);
    HRESULT Write(IMediaSample* sample);
    void EndOfStream();
    void AfterFlush();
    void Complete();

    std::unique_ptr<Input> input_;
    SeekingPassThrough seeking_;
    std::mutex writeLock_;       // the file and the stream state below
    std::wstring fileName_;
    DWORD mode_ = 0;
    FileHandle file_;
    LONGLONG appendAt_ = 0;
    bool ended_ = false;         // end of stream reached (file closed)
    bool completeSent_ = false;  // EC_COMPLETE sent for this run
    bool running_ = false;
};

}  // namespace vellumo::filters
