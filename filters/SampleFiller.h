// Packs a byte stream of any piece sizes into an output pin's samples and hands each one, as
// it fills, to the courier that delivers it: the source's decryptor writes its clear bytes
// here.
#pragma once

#include <windows.h>

#include "BaseFilter.h"
#include "SampleCourier.h"
#include "media/Io.h"

namespace korvane::filters {

class SampleFiller final : public media::ByteSink {
public:
    using State = SampleCourier::State;

    SampleFiller(OutputPin* pin, SampleCourier* courier);
    ~SampleFiller() override;
    SampleFiller(const SampleFiller&) = delete;
    SampleFiller& operator=(const SampleFiller&) = delete;

    // False once the state is no longer Going; nothing more is taken then.
    bool Write(const uint8_t* data, size_t size) override;
    // Hands over a partly filled sample (the end of the stream).
    bool Flush();

    State Current() const { return state_; }
    HRESULT Error() const { return error_; }

private:
    bool Hand();
    void Fail(State state, HRESULT hr);

    OutputPin* pin_;
    SampleCourier* courier_;
    IMediaSample* sample_ = nullptr;  // being filled
    BYTE* buffer_ = nullptr;
    size_t capacity_ = 0;
    size_t filled_ = 0;
    State state_ = State::Going;
    HRESULT error_ = S_OK;
};

}  // namespace korvane::filters
