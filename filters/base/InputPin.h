// The input pin of the filter base: receives samples through IMemInputPin.
#pragma once

#include "win32/ComObject.h"

#include <atomic>

#include "BasePin.h"

namespace korvane::filters {

// An input pin that receives samples through IMemInputPin.
class InputPin : public AlsoImplements<BasePin, IMemInputPin> {
public:
    InputPin(BaseFilter* filter, std::wstring name);
    ~InputPin() override;

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
    STDMETHODIMP ReceiveCanBlock() override;

    // IPin data path
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP Disconnect() override;

    // The filter's handlers, called with the filter's stream lock held, after the checks
    // that every receive needs (state, flushing, end of stream already seen).
    virtual HRESULT OnReceive(IMediaSample* sample) = 0;
    virtual HRESULT OnEndOfStream() = 0;
    virtual void OnBeginFlush() {}
    virtual void OnEndFlush() {}

    // Refuses pull-mode (IAsyncReader) peers other than our own source: they never push a
    // sample, so connecting to one would leave a graph that runs forever.
    HRESULT CheckConnect(IPin* peer) override;

    // Back to the start of a stream when the filter pauses from stopped.
    HRESULT Active() override;

private:
    ComPtr<IMemAllocator> m_allocator;    // the one NotifyAllocator named
    std::atomic<bool> m_flushing{false};  // written by BeginFlush/EndFlush
    bool m_endOfStream = false;           // written under the stream lock
};

}  // namespace korvane::filters
