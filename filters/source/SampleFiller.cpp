#include "SampleFiller.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace korvane::filters {

SampleFiller::SampleFiller(OutputPin* pin, SampleCourier* courier) : m_pin(pin), m_courier(courier) {}

SampleFiller::~SampleFiller() = default;

void SampleFiller::Fail(State state, HRESULT hr) {
    m_state = state;
    m_error = hr;
}

bool SampleFiller::Write(const uint8_t* data, size_t size) {
    while (size > 0 && m_state == State::Going) {
        if (!m_sample) {
            HRESULT hr = m_pin->GetDeliveryBuffer(m_sample.Out());
            if (FAILED(hr)) {
                m_sample.Reset();
                Fail(State::Stopped, hr);  // decommitted: we are being stopped
                break;
            }
            hr = m_sample->GetPointer(&m_buffer);
            if (FAILED(hr) || !m_buffer) {
                Fail(State::Failed, FAILED(hr) ? hr : E_POINTER);
                break;
            }
            m_capacity = static_cast<size_t>(std::max<LONG>(m_sample->GetSize(), 0));
            m_filled = 0;
        }
        size_t take = std::min(size, m_capacity - m_filled);
        std::memcpy(m_buffer + m_filled, data, take);
        m_filled += take;
        data += take;
        size -= take;
        if (m_filled == m_capacity && !Hand()) break;
    }
    return m_state == State::Going;
}

bool SampleFiller::Flush() {
    if (m_sample && m_filled > 0 && m_state == State::Going) Hand();
    return m_state == State::Going;
}

bool SampleFiller::Hand() {
    m_sample->SetActualDataLength(static_cast<LONG>(m_filled));
    m_sample->SetSyncPoint(TRUE);
    if (!m_courier->Post(std::move(m_sample))) Fail(m_courier->Current(), m_courier->Error());
    return m_state == State::Going;
}

}  // namespace korvane::filters
