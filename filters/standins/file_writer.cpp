#include "standins/file_writer.h"

#include "base/module.h"

#include <cstring>

namespace vellumo::filters {

class FileWriterFilter::Input final : public InputPin {
public:
    explicit Input(FileWriterFilter& owner) : InputPin(owner, L"in"), owner_(owner) {}

    // Like the platform's writer: the bytes of any stream go to the file.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override
    {
        return mt.majortype != GUID_NULL ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

protected:
    HRESULT OnReceive(IMediaSample* sample) override { return owner_.CheckStream(owner_.Write(sample)); }
    HRESULT OnEndOfStream() override
    {
        owner_.EndOfStream();
        return S_OK;
    }
    HRESULT OnEndFlush() override
    {
        owner_.AfterFlush();
        return S_OK;
    }

private:
    FileWriterFilter& owner_;
};

FileWriterFilter::FileWriterFilter()
    : BaseFilter(CLSID_FileWriter),
      input_(std::make_unique<Input>(*this)),
      seeking_(static_cast<IBaseFilter*>(this), input_.get(), true)
{
}

FileWriterFilter::~FileWriterFilter() = default;

BasePin* FileWriterFilter::PinAt(int index) { return index == 0 ? input_.get() : nullptr; }

HRESULT FileWriterFilter::QueryFilterInterface(REFIID iid, void** out)
{
    if (iid == IID_IFileSinkFilter || iid == IID_IFileSinkFilter2) {
        *out = static_cast<IFileSinkFilter2*>(this);
        AddRef();
        return S_OK;
    }
    if (iid == IID_IAMFilterMiscFlags) {
        *out = static_cast<IAMFilterMiscFlags*>(this);
        AddRef();
        return S_OK;
    }
    if (SeekingPassThrough::Handles(iid)) return seeking_.Query(iid, out);
    return BaseFilter::QueryFilterInterface(iid, out);
}

HRESULT FileWriterFilter::SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE*)
{
    if (!name) return E_POINTER;
    if (!*name) return E_INVALIDARG;
    std::lock_guard<RecursiveLock> lock(FilterLock());
    if (State() != State_Stopped) return VFW_E_WRONG_STATE;
    std::lock_guard<std::mutex> writeLock(writeLock_);
    fileName_ = name;
    return S_OK;
}

HRESULT FileWriterFilter::GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mt)
{
    if (!name) return E_POINTER;
    *name = nullptr;
    std::lock_guard<RecursiveLock> lock(FilterLock());
    if (mt) {
        if (input_->IsConnected()) {
            HRESULT hr = CopyMediaTypeContents(*mt, *input_->ConnectionType());
            if (FAILED(hr)) return hr;
        } else {
            *mt = AM_MEDIA_TYPE{};
        }
    }
    std::wstring current;
    {
        std::lock_guard<std::mutex> writeLock(writeLock_);
        current = fileName_;
    }
    // Like Windows' writer: with no file set yet the call succeeds with no
    // name (the converter asks before it sets the name).
    if (current.empty()) return S_OK;
    const size_t bytes = (current.size() + 1) * sizeof(wchar_t);
    *name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!*name) {
        if (mt) FreeMediaTypeContents(*mt);
        return E_OUTOFMEMORY;
    }
    std::memcpy(*name, current.c_str(), bytes);
    return S_OK;
}

HRESULT FileWriterFilter::SetMode(DWORD flags)
{
    if (flags & ~static_cast<DWORD>(AM_FILE_OVERWRITE)) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(writeLock_);
    mode_ = flags;
    return S_OK;
}

HRESULT FileWriterFilter::GetMode(DWORD* flags)
{
    if (!flags) return E_POINTER;
    std::lock_guard<std::mutex> lock(writeLock_);
    *flags = mode_;
    return S_OK;
}

// writeLock_ held.
HRESULT FileWriterFilter::OpenFile(bool truncate)
{
    if (fileName_.empty()) return E_UNEXPECTED;
    // Overwrite mode starts a new file; otherwise an existing file is written
    // over in place, as the platform's writer does.
    const DWORD disposition = truncate ? CREATE_ALWAYS : OPEN_ALWAYS;
    file_ = FileHandle(CreateFileW(fileName_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) return HRESULT_FROM_WIN32(GetLastError());
    return S_OK;
}

HRESULT FileWriterFilter::OnStartStreaming()
{
    std::lock_guard<std::mutex> lock(writeLock_);
    ended_ = false;
    completeSent_ = false;
    appendAt_ = 0;
    if (!input_->IsConnected()) return S_OK;
    return OpenFile((mode_ & AM_FILE_OVERWRITE) != 0);
}

HRESULT FileWriterFilter::OnRun(REFERENCE_TIME)
{
    bool send = false;
    {
        std::lock_guard<std::mutex> lock(writeLock_);
        running_ = true;
        // With nothing connected there is nothing to wait for; an end of
        // stream that came while paused is reported now.
        if (!input_->IsConnected()) ended_ = true;
        send = ended_ && !completeSent_;
        completeSent_ = completeSent_ || send;
    }
    if (send) NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    return S_OK;
}

HRESULT FileWriterFilter::OnPause()
{
    std::lock_guard<std::mutex> lock(writeLock_);
    running_ = false;
    return S_OK;
}

HRESULT FileWriterFilter::OnStop()
{
    std::lock_guard<std::mutex> lock(writeLock_);
    running_ = false;
    file_.Close();
    return S_OK;
}

HRESULT FileWriterFilter::Write(IMediaSample* sample)
{
    BYTE* data = nullptr;
    HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr)) return hr;
    const long actual = sample->GetActualDataLength();
    if (actual <= 0) return S_OK;

    std::lock_guard<std::mutex> lock(writeLock_);
    if (!file_) return VFW_E_WRONG_STATE;
    REFERENCE_TIME start = 0, stop = 0;
    LONGLONG offset = appendAt_;
    LONGLONG length = actual;
    hr = sample->GetTime(&start, &stop);
    if (hr == S_OK || hr == VFW_S_NO_STOP_TIME) {
        // Byte positions: start is the offset; stop - start the length.
        if (start < 0) return E_INVALIDARG;
        offset = start;
        if (hr == S_OK && stop >= start && stop - start < length) length = stop - start;
    }
    LARGE_INTEGER position;
    position.QuadPart = offset;
    DWORD written = 0;
    if (!SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN) ||
        !WriteFile(file_.Get(), data, static_cast<DWORD>(length), &written, nullptr) || written != length) {
        hr = HRESULT_FROM_WIN32(GetLastError());
        return SUCCEEDED(hr) ? E_FAIL : hr;
    }
    appendAt_ = offset + length;
    return S_OK;
}

void FileWriterFilter::EndOfStream()
{
    {
        std::lock_guard<std::mutex> lock(writeLock_);
        if (file_ && !file_.Close()) StreamFailed(HRESULT_FROM_WIN32(GetLastError()));
        // A file that missed a write is not complete.
        if (FAILED(StreamFailure())) return;
        ended_ = true;
    }
    Complete();
}

void FileWriterFilter::AfterFlush()
{
    // A seek after the end: the stream goes on into the same file.
    std::lock_guard<std::mutex> lock(writeLock_);
    if (ended_ && State() != State_Stopped) {
        ended_ = false;
        completeSent_ = false;
        OpenFile(false);
    }
}

void FileWriterFilter::Complete()
{
    {
        std::lock_guard<std::mutex> lock(writeLock_);
        // Like every renderer, the writer reports the end only while running
        // (OnRun reports an end that came while paused).
        if (completeSent_ || !running_) return;
        completeSent_ = true;
    }
    NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
}

namespace {
const REGPINTYPES kInputTypes[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_NULL}};
const REGFILTERPINS2 kPins[] = {{REG_PINFLAG_B_RENDERER, 1, 1, kInputTypes, 0, nullptr, nullptr}};
const FilterClass kClass = {&CLSID_FileWriter, L"File writer", &CreateInstance<FileWriterFilter>, MERIT_DO_NOT_USE,
                            &CLSID_LegacyAmFilterCategory, kPins, 1, true};
const FilterClassEntry kEntry(kClass);
}  // namespace

}  // namespace vellumo::filters
