#include "SampleSink.h"

#include <cstring>

#include "base/Allocator.h"

namespace korvane::filters {

namespace {
constexpr size_t kLendMinimum = 64 << 10;  // smaller writes are gathered into samples
}  // namespace

bool SampleSink::Write(const uint8_t* data, size_t size) {
    if (m_result != S_OK) return false;
    if (m_lend && !m_current && size >= kLendMinimum && size <= static_cast<size_t>(MAXLONG)) {
        ComPtr<IMediaSample> sample;
        HRESULT hr = m_pin->GetDeliveryBuffer(sample.Out());
        if (FAILED(hr)) {
            m_result = hr;
            return false;
        }
        // Our output pins hand out our allocator's samples.
        static_cast<Sample*>(sample.Get())->Borrow(data, static_cast<LONG>(size));
        sample->SetSyncPoint(TRUE);
        hr = m_pin->Deliver(sample.Get());
        sample.Reset();
        if (hr != S_OK) {
            m_result = hr;
            return false;
        }
        return true;
    }
    while (size > 0) {
        if (!m_current) {
            HRESULT hr = m_pin->GetDeliveryBuffer(m_current.Out());
            if (FAILED(hr)) {
                m_current.Reset();
                m_result = hr;
                return false;
            }
            hr = m_current->GetPointer(&m_buffer);
            if (FAILED(hr) || !m_buffer) {
                Discard();
                m_result = FAILED(hr) ? hr : E_POINTER;
                return false;
            }
            m_capacity = m_current->GetSize();
            m_used = 0;
        }
        size_t n = std::min(size, static_cast<size_t>(m_capacity - m_used));
        std::memcpy(m_buffer + m_used, data, n);
        m_used += static_cast<LONG>(n);
        data += n;
        size -= n;
        if (m_used == m_capacity && !DeliverCurrent()) return false;
    }
    return true;
}

bool SampleSink::Flush() {
    if (m_result != S_OK) return false;
    return m_current ? DeliverCurrent() : true;
}

void SampleSink::Discard() {
    m_current.Reset();
}

bool SampleSink::DeliverCurrent() {
    m_current->SetActualDataLength(m_used);
    m_current->SetSyncPoint(TRUE);
    HRESULT hr = m_pin->Deliver(m_current.Get());
    m_current.Reset();
    if (hr != S_OK) {
        m_result = hr;
        return false;
    }
    return true;
}

}  // namespace korvane::filters
