// Packs a byte stream of any piece sizes into an output pin's samples and hands each one, as
// it fills, to the courier that delivers it: the source's decryptor writes its clear bytes
// here.
#pragma once

#include <windows.h>

#include "base/BaseFilter.h"
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

    State Current() const { return m_state; }
    HRESULT Error() const { return m_error; }

private:
    bool Hand();
    void Fail(State state, HRESULT hr);

    OutputPin* m_pin;
    SampleCourier* m_courier;
    ComPtr<IMediaSample> m_sample;  // being filled
    BYTE* m_buffer = nullptr;
    size_t m_capacity = 0;
    size_t m_filled = 0;
    State m_state = State::Going;
    HRESULT m_error = S_OK;
};

}  // namespace korvane::filters
