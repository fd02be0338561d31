// The RealMedia splitter's input pin: connects to a pull source's
// IAsyncReader (the async file source) and hands it to the splitter, which
// opens the media.
#pragma once

#include "dshow_uuids.h"

#include "base/pins.h"

namespace vellumo::filters {

class RealSplitter;

class SplitterInputPin final : public BasePin {
public:
    explicit SplitterInputPin(RealSplitter& splitter);

    HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override
    {
        return mt.majortype == MEDIATYPE_Stream ? S_OK : S_FALSE;
    }

protected:
    void BreakConnect() override;

private:
    RealSplitter& splitter_;
};

}  // namespace vellumo::filters
