#include "transform_filter.h"

namespace vellumo::filters {

class TransformFilter::InputImpl final : public InputPin {
public:
    InputImpl(TransformFilter& owner, const wchar_t* name) : InputPin(owner, name), owner_(owner) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override { return owner_.CheckInputType(mt); }

protected:
    HRESULT CompleteConnect(IPin*, const AM_MEDIA_TYPE& mt) override { return owner_.OnInputConnected(mt); }
    void BreakConnect() override
    {
        InputPin::BreakConnect();
        owner_.OnInputDisconnected();
    }
    HRESULT OnReceive(IMediaSample* sample) override
    {
        std::lock_guard<std::mutex> lock(owner_.streamingLock_);
        if (!owner_.streaming_) return VFW_E_WRONG_STATE;
        // After a failure the run's samples are refused with it.
        const HRESULT failure = owner_.StreamFailure();
        if (FAILED(failure)) return failure;
        if (!owner_.Output().IsConnected()) return S_FALSE;
        return owner_.CheckStream(owner_.Process(sample));
    }
    HRESULT OnEndOfStream() override
    {
        {
            std::lock_guard<std::mutex> lock(owner_.streamingLock_);
            if (!owner_.streaming_) return VFW_E_WRONG_STATE;
            if (owner_.Output().IsConnected() && SUCCEEDED(owner_.StreamFailure())) owner_.CheckStream(owner_.Drain());
        }
        // Not after a failure (of this filter or of Drain).
        owner_.Output().DeliverEndOfStream();
        return S_OK;
    }
    HRESULT OnBeginFlush() override
    {
        owner_.Interrupt();
        owner_.Output().DeliverBeginFlush();
        return S_OK;
    }
    HRESULT OnEndFlush() override
    {
        {
            std::lock_guard<std::mutex> lock(owner_.streamingLock_);
            if (owner_.streaming_) owner_.Discard();
        }
        owner_.Output().DeliverEndFlush();
        return S_OK;
    }
    HRESULT OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override
    {
        owner_.OnNewSegment(start, stop, rate);
        owner_.Output().DeliverNewSegment(start, stop, rate);
        return S_OK;
    }

private:
    TransformFilter& owner_;
};

class TransformFilter::OutputImpl final : public OutputPin {
public:
    OutputImpl(TransformFilter& owner, const wchar_t* name)
        : OutputPin(owner, name), owner_(owner), seeking_(static_cast<IPin*>(this), owner.input_.get(), false)
    {
    }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override
    {
        if (!owner_.Input().IsConnected()) return VFW_E_NOT_CONNECTED;
        return owner_.CheckOutputType(mt);
    }
    HRESULT GetMediaType(int index, MediaType& out) override
    {
        if (!owner_.Input().IsConnected()) return VFW_E_NOT_CONNECTED;
        return owner_.GetOutputType(index, out);
    }

protected:
    HRESULT QueryPinInterface(REFIID iid, void** out) override
    {
        if (SeekingPassThrough::Handles(iid)) return seeking_.Query(iid, out);
        return owner_.QueryOutputPinInterface(iid, out);
    }
    HRESULT CompleteConnect(IPin* peer, const AM_MEDIA_TYPE& mt) override
    {
        HRESULT hr = OutputPin::CompleteConnect(peer, mt);
        if (SUCCEEDED(hr)) hr = owner_.OnOutputConnected(mt);
        return hr;
    }
    void BreakConnect() override
    {
        OutputPin::BreakConnect();
        owner_.OnOutputDisconnected();
    }
    void BufferRequirements(ALLOCATOR_PROPERTIES& props) override { owner_.OutputBufferRequirements(props); }

private:
    TransformFilter& owner_;
    SeekingPassThrough seeking_;
};

TransformFilter::TransformFilter(const CLSID& clsid, const wchar_t* inputName, const wchar_t* outputName)
    : BaseFilter(clsid),
      input_(std::make_unique<InputImpl>(*this, inputName)),
      output_(std::make_unique<OutputImpl>(*this, outputName)),
      seeking_(static_cast<IBaseFilter*>(this), input_.get(), false)
{
}

TransformFilter::~TransformFilter() = default;

BasePin* TransformFilter::PinAt(int index)
{
    if (index == 0) return input_.get();
    if (index == 1) return output_.get();
    return nullptr;
}

InputPin& TransformFilter::Input() noexcept { return *input_; }
OutputPin& TransformFilter::Output() noexcept { return *output_; }

HRESULT TransformFilter::CheckOutputType(const AM_MEDIA_TYPE& mt)
{
    for (int i = 0;; ++i) {
        MediaType offered;
        if (GetOutputType(i, offered) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        if (offered.Equals(mt)) return S_OK;
    }
}

void TransformFilter::OutputBufferRequirements(ALLOCATOR_PROPERTIES& props)
{
    props.cBuffers = 4;
    props.cbBuffer = 64 * 1024;
    props.cbAlign = 1;
}

HRESULT TransformFilter::QueryFilterInterface(REFIID iid, void** out)
{
    if (SeekingPassThrough::Handles(iid)) return seeking_.Query(iid, out);
    return BaseFilter::QueryFilterInterface(iid, out);
}

HRESULT TransformFilter::OnStartStreaming()
{
    {
        std::lock_guard<std::mutex> lock(streamingLock_);
        HRESULT hr = StartStreaming();
        if (FAILED(hr)) return hr;
        streaming_ = true;
    }
    // Nothing will ever arrive on an unconnected input: end the stream
    // downstream at once so that the graph can complete.
    if (!input_->IsConnected() && output_->IsConnected()) output_->DeliverEndOfStream();
    return S_OK;
}

HRESULT TransformFilter::OnStop()
{
    // The pins are inactive: Receive is refused and GetBuffer fails, so the
    // streaming thread leaves Process soon.
    Interrupt();
    std::lock_guard<std::mutex> lock(streamingLock_);
    if (!streaming_) return S_OK;
    streaming_ = false;
    return StopStreaming();
}

}  // namespace vellumo::filters
