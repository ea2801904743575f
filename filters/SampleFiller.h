// Packs a byte stream of any piece sizes into an output pin's samples and delivers each one
// as it fills: the source's decryptor writes its clear bytes here.
#pragma once

#include <windows.h>

#include <functional>

#include "BaseFilter.h"
#include "media/Io.h"

namespace korvane::filters {

class SampleFiller final : public media::ByteSink {
public:
    enum class State {
        Going,
        DownstreamDone,  // Deliver answered S_FALSE: no more samples, still the end of stream
        Stopped,         // the allocator was decommitted or the graph refuses: being stopped
        Failed,          // Deliver or the sample failed otherwise; Error() says how
    };

    // afterDeliver runs after each delivered sample (the tests' pacing).
    SampleFiller(OutputPin* pin, std::function<void()> afterDeliver);
    ~SampleFiller() override;
    SampleFiller(const SampleFiller&) = delete;
    SampleFiller& operator=(const SampleFiller&) = delete;

    // False once the state is no longer Going; nothing more is taken then.
    bool Write(const uint8_t* data, size_t size) override;
    // Delivers a partly filled sample (the end of the stream).
    bool Flush();

    State Current() const { return state_; }
    HRESULT Error() const { return error_; }

private:
    bool Deliver();
    void Fail(State state, HRESULT hr);

    OutputPin* pin_;
    std::function<void()> afterDeliver_;
    IMediaSample* sample_ = nullptr;  // being filled
    BYTE* buffer_ = nullptr;
    size_t capacity_ = 0;
    size_t filled_ = 0;
    State state_ = State::Going;
    HRESULT error_ = S_OK;
};

}  // namespace korvane::filters
