#include "OutputPin.h"

#include <vfwmsgs.h>

#include <algorithm>
#include <new>

#include "Allocator.h"
#include "BaseFilter.h"
#include "Guids.h"

namespace korvane::filters {

OutputPin::OutputPin(BaseFilter* filter, std::wstring name, LONG buffers, LONG bufferSize)
    : BasePin(filter, PINDIR_OUTPUT, std::move(name)), m_buffers(buffers), m_bufferSize(bufferSize) {}

OutputPin::~OutputPin() {
    BreakConnect();
}

HRESULT OutputPin::CompleteConnect(IPin* peer) {
    HRESULT hr = peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_memInput));
    if (FAILED(hr)) return VFW_E_NO_TRANSPORT;
    ALLOCATOR_PROPERTIES request{m_buffers, m_bufferSize, 1, 0};
    ALLOCATOR_PROPERTIES wanted{};
    if (SUCCEEDED(m_memInput->GetAllocatorRequirements(&wanted))) {
        request.cBuffers = std::max(request.cBuffers, wanted.cBuffers);
        request.cbBuffer = std::max(request.cbBuffer, wanted.cbBuffer);
        request.cbAlign = std::max(request.cbAlign, wanted.cbAlign);
        request.cbPrefix = std::max(request.cbPrefix, wanted.cbPrefix);
    }
    auto* allocator = new (std::nothrow) Allocator();
    if (!allocator) {
        BreakConnect();
        return E_OUTOFMEMORY;
    }
    m_allocator = allocator;
    ALLOCATOR_PROPERTIES actual{};
    hr = m_allocator->SetProperties(&request, &actual);
    if (SUCCEEDED(hr)) hr = m_memInput->NotifyAllocator(m_allocator, FALSE);
    if (FAILED(hr)) BreakConnect();
    return hr;
}

void OutputPin::BreakConnect() {
    if (m_allocator) {
        m_allocator->Decommit();
        m_allocator->Release();
        m_allocator = nullptr;
    }
    if (m_memInput) {
        m_memInput->Release();
        m_memInput = nullptr;
    }
}

BaseFilter* OutputPin::PeerFilterOfOurs() const {
    if (!m_peer) return nullptr;
    PIN_INFO info;
    if (FAILED(m_peer->QueryPinInfo(&info)) || !info.pFilter) return nullptr;
    BaseFilter* ours = nullptr;
    if (SUCCEEDED(info.pFilter->QueryInterface(IID_KorvaneBaseFilter, reinterpret_cast<void**>(&ours))) &&
        ours)
        ours->Release();  // the peer connection keeps it alive
    info.pFilter->Release();
    return ours;
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
