// The output pin of the filter base.
#pragma once

#include "BasePin.h"

namespace korvane::filters {

// An output pin that delivers through the peer's IMemInputPin with an allocator of ours.
class OutputPin : public BasePin {
public:
    OutputPin(BaseFilter* filter, std::wstring name, LONG buffers, LONG bufferSize);
    ~OutputPin() override;

    HRESULT CompleteConnect(IPin* peer) override;
    void BreakConnect() override;

    // Streaming side; safe without the state lock while the filter is active.
    HRESULT GetDeliveryBuffer(IMediaSample** sample);
    HRESULT Deliver(IMediaSample* sample);
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();

    // Commits the allocator on Pause from stopped and decommits it on Stop, which wakes a
    // streaming thread blocked in GetBuffer.
    HRESULT Active() override;
    void Inactive() override;

    LONG BufferSize() const { return m_bufferSize; }
    // The connected filter if it is one of this pack's, else null (no reference).
    BaseFilter* PeerFilterOfOurs() const;

private:
    LONG m_buffers;
    LONG m_bufferSize;
    ComPtr<IMemInputPin> m_memInput;  // peer's transport while connected
    ComPtr<IMemAllocator> m_allocator;
};

}  // namespace korvane::filters
