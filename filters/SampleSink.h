// A media::ByteSink that fills an output pin's samples and delivers each one when it is full.
#pragma once

#include "BaseFilter.h"
#include "media/Io.h"

namespace korvane::filters {

class SampleSink final : public media::ByteSink {
public:
    explicit SampleSink(OutputPin* pin) : pin_(pin) {}
    ~SampleSink() override { Discard(); }
    SampleSink(const SampleSink&) = delete;
    SampleSink& operator=(const SampleSink&) = delete;

    // Whole chunks of the writer then reach the receiver without a copy (Sample::Borrow).
    void LendBuffers(bool lend) { lend_ = lend; }

    bool Write(const uint8_t* data, size_t size) override;
    // Delivers a partly filled sample.
    bool Flush();
    void Discard();
    // Why the last Write or Flush returned false: the downstream answer (S_FALSE when it
    // wants no more data) or the allocator's failure.
    HRESULT Result() const { return result_; }

private:
    bool DeliverCurrent();

    OutputPin* pin_;
    IMediaSample* current_ = nullptr;
    BYTE* buffer_ = nullptr;
    LONG used_ = 0;
    LONG capacity_ = 0;
    HRESULT result_ = S_OK;
    bool lend_ = false;
};

}  // namespace korvane::filters
