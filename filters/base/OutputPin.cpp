#include "OutputPin.h"

#include <vfwmsgs.h>

#include <algorithm>
#include <new>

#include "Allocator.h"
#include "BaseFilter.h"

namespace korvane::filters {

OutputPin::OutputPin(BaseFilter* filter, std::wstring name, LONG buffers, LONG bufferSize)
    : BasePin(filter, PINDIR_OUTPUT, std::move(name)), m_buffers(buffers), m_bufferSize(bufferSize) {}

OutputPin::~OutputPin() {
    BreakConnect();
}

HRESULT OutputPin::CompleteConnect(IPin* peer) {
    HRESULT hr = peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(m_memInput.Out()));
    if (FAILED(hr)) return VFW_E_NO_TRANSPORT;
    ALLOCATOR_PROPERTIES request{m_buffers, m_bufferSize, 1, 0};
    ALLOCATOR_PROPERTIES wanted{};
    if (SUCCEEDED(m_memInput->GetAllocatorRequirements(&wanted))) {
        request.cBuffers = std::max(request.cBuffers, wanted.cBuffers);
        request.cbBuffer = std::max(request.cbBuffer, wanted.cbBuffer);
        request.cbAlign = std::max(request.cbAlign, wanted.cbAlign);
        request.cbPrefix = std::max(request.cbPrefix, wanted.cbPrefix);
    }
    m_allocator = ComPtr<IMemAllocator>::Adopt(new (std::nothrow) Allocator());
    if (!m_allocator) {
        BreakConnect();
        return E_OUTOFMEMORY;
    }
    ALLOCATOR_PROPERTIES actual{};
    hr = m_allocator->SetProperties(&request, &actual);
    if (SUCCEEDED(hr)) hr = m_memInput->NotifyAllocator(m_allocator.Get(), FALSE);
    if (FAILED(hr)) BreakConnect();
    return hr;
}

void OutputPin::BreakConnect() {
    if (m_allocator) m_allocator->Decommit();
    m_allocator.Reset();
    m_memInput.Reset();
}

BaseFilter* OutputPin::PeerFilterOfOurs() const {
    return FilterOfOurs(m_peer.Get());
}

HRESULT OutputPin::Active() {
    return m_allocator ? m_allocator->Commit() : S_OK;
}

void OutputPin::Inactive() {
    if (m_allocator) m_allocator->Decommit();
}

HRESULT OutputPin::GetDeliveryBuffer(IMediaSample** sample) {
    if (!m_allocator) return VFW_E_NOT_CONNECTED;
    return m_allocator->GetBuffer(sample, nullptr, nullptr, 0);
}

HRESULT OutputPin::Deliver(IMediaSample* sample) {
    if (!m_memInput) return VFW_E_NOT_CONNECTED;
    return m_memInput->Receive(sample);
}

HRESULT OutputPin::DeliverEndOfStream() {
    return m_peer ? m_peer->EndOfStream() : VFW_E_NOT_CONNECTED;
}
HRESULT OutputPin::DeliverBeginFlush() {
    return m_peer ? m_peer->BeginFlush() : VFW_E_NOT_CONNECTED;
}
HRESULT OutputPin::DeliverEndFlush() {
    return m_peer ? m_peer->EndFlush() : VFW_E_NOT_CONNECTED;
}

}  // namespace korvane::filters
