// AsyncReaderSource: the ByteSource of the splitter, reading the upstream
// pin's IAsyncReader with SyncRead.
#pragma once

#include "dshow_uuids.h"

#include "byte_source.h"
#include "com_ptr.h"

namespace vellumo::filters {

class AsyncReaderSource final : public realmedia::ByteSource {
public:
    AsyncReaderSource(IAsyncReader* reader, std::wstring path);

    int64_t Length() override { return length_; }
    int32_t ReadAt(int64_t offset, uint8_t* buffer, int32_t size) override;
    std::wstring Path() const override { return path_; }

private:
    corvane::ComPtr<IAsyncReader> reader_;
    std::wstring path_;
    int64_t length_ = -1;
};

// The file name of the filter that owns pin, when it is a file source; empty otherwise.
std::wstring SourceFileOf(IPin* pin);

}  // namespace vellumo::filters
