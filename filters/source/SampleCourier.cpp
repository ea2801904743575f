#include "SampleCourier.h"

#include <vfwmsgs.h>

#include <utility>

namespace korvane::filters {

SampleCourier::SampleCourier(OutputPin* pin, const std::atomic<bool>* stopping,
                             std::function<void()> afterDeliver)
    : m_pin(pin), m_stopping(stopping), m_afterDeliver(std::move(afterDeliver)) {
    InitializeConditionVariable(&m_changed);
}

SampleCourier::~SampleCourier() {
    Finish();
}

bool SampleCourier::Start() {
    m_thread = ScopedHandle(CreateThread(nullptr, 0, &SampleCourier::ThreadProc, this, 0, nullptr));
    return static_cast<bool>(m_thread);
}

bool SampleCourier::Post(ComPtr<IMediaSample> sample) {
    {
        AutoLock lock(m_lock);
        while (m_count == kSlots && m_state == State::Going)
            SleepConditionVariableCS(&m_changed, m_lock.Native(), INFINITE);
        if (m_state == State::Going && !m_closed) {
            m_queue[(m_head + m_count) % kSlots] = std::move(sample);
            ++m_count;
            WakeAllConditionVariable(&m_changed);
            return true;
        }
    }
    return false;
}

void SampleCourier::Finish() {
    {
        AutoLock lock(m_lock);
        m_closed = true;
        WakeAllConditionVariable(&m_changed);
    }
    if (m_thread) {
        WaitForSingleObject(m_thread.Get(), INFINITE);
        m_thread.Reset();
    }
    // Without a thread (Start failed) nothing took the queue.
    AutoLock lock(m_lock);
    for (; m_count > 0; --m_count, m_head = (m_head + 1) % kSlots)
        m_queue[m_head].Reset();
}

SampleCourier::State SampleCourier::Current() {
    AutoLock lock(m_lock);
    return m_state;
}

HRESULT SampleCourier::Error() {
    AutoLock lock(m_lock);
    return m_error;
}

DWORD WINAPI SampleCourier::ThreadProc(void* self) {
    static_cast<SampleCourier*>(self)->Run();
    return 0;
}

void SampleCourier::Run() {
    for (;;) {
        ComPtr<IMediaSample> sample;
        State state;
        {
            AutoLock lock(m_lock);
            while (m_count == 0 && !m_closed)
                SleepConditionVariableCS(&m_changed, m_lock.Native(), INFINITE);
            if (m_count == 0) return;  // closed and drained
            sample = std::move(m_queue[m_head]);
            m_head = (m_head + 1) % kSlots;
            --m_count;
            WakeAllConditionVariable(&m_changed);
            state = m_state;
        }
        State next = state;
        HRESULT error = S_OK;
        if (state == State::Going && *m_stopping) {
            next = State::Stopped;
        } else if (state == State::Going) {
            HRESULT hr = m_pin->Deliver(sample.Get());
            if (hr == S_FALSE)
                next = State::DownstreamDone;
            else if (hr == VFW_E_WRONG_STATE || hr == VFW_E_NOT_COMMITTED)
                next = State::Stopped;  // the graph is stopping, downstream first
            else if (FAILED(hr))
                next = State::Failed, error = hr;
        }
        sample.Reset();
        if (next != state) {
            AutoLock lock(m_lock);
            m_state = next;
            m_error = error;
            WakeAllConditionVariable(&m_changed);
        } else if (state == State::Going && m_afterDeliver) {
            m_afterDeliver();
        }
    }
}

}  // namespace korvane::filters
