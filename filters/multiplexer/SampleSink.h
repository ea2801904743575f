// A media::ByteSink that fills an output pin's samples and delivers each one when it is full.
#pragma once

#include "base/BaseFilter.h"
#include "media/Io.h"

namespace korvane::filters {

class SampleSink final : public media::ByteSink {
public:
    explicit SampleSink(OutputPin* pin) : m_pin(pin) {}
    ~SampleSink() override { Discard(); }
    SampleSink(const SampleSink&) = delete;
    SampleSink& operator=(const SampleSink&) = delete;

    // Whole chunks of the writer then reach the receiver without a copy (Sample::Borrow).
    void LendBuffers(bool lend) { m_lend = lend; }

    bool Write(const uint8_t* data, size_t size) override;
    // Delivers a partly filled sample.
    bool Flush();
    void Discard();
    // Why the last Write or Flush returned false: the downstream answer (S_FALSE when it
    // wants no more data) or the allocator's failure.
    HRESULT Result() const { return m_result; }

private:
    bool DeliverCurrent();

    OutputPin* m_pin;
    ComPtr<IMediaSample> m_current;
    BYTE* m_buffer = nullptr;
    LONG m_used = 0;
    LONG m_capacity = 0;
    HRESULT m_result = S_OK;
    bool m_lend = false;
};

}  // namespace korvane::filters
