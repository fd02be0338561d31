#include "async_reader_source.h"

#include <algorithm>

#include "base/media_type.h"

namespace vellumo::filters {

AsyncReaderSource::AsyncReaderSource(IAsyncReader* reader, std::wstring path)
    : reader_(reader), path_(std::move(path))
{
    LONGLONG total = 0, available = 0;
    if (reader_ && SUCCEEDED(reader_->Length(&total, &available))) length_ = total;
}

int32_t AsyncReaderSource::ReadAt(int64_t offset, uint8_t* buffer, int32_t size)
{
    if (!reader_ || offset < 0 || size < 0 || length_ < 0) return -1;
    if (offset >= length_ || size == 0) return 0;
    // SyncRead does not say how much it read when it reads less (S_FALSE),
    // so never ask for bytes past the end.
    const auto n = static_cast<LONG>(std::min<int64_t>(size, length_ - offset));
    HRESULT hr = reader_->SyncRead(offset, n, buffer);
    if (hr == S_OK) return n;
    if (hr == HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)) return 0;
    return -1;
}

std::wstring SourceFileOf(IPin* pin)
{
    if (!pin) return {};
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) return {};
    corvane::ComPtr<IBaseFilter> filter = corvane::ComPtr<IBaseFilter>::Attach(info.pFilter);
    corvane::ComPtr<IFileSourceFilter> source;
    if (!filter || FAILED(filter.As(source))) return {};
    LPOLESTR name = nullptr;
    AM_MEDIA_TYPE mt{};
    std::wstring path;
    if (SUCCEEDED(source->GetCurFile(&name, &mt)) && name) path = name;
    CoTaskMemFree(name);
    FreeMediaTypeContents(mt);
    return path;
}

}  // namespace vellumo::filters
