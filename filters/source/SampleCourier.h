// Delivers, on a thread of its own, the samples another thread fills: the source decrypts the
// next piece of an encrypted recording while the demultiplexer, multiplexer and dump (which
// all run inside Deliver) work on the last one, so both cores are busy. Nothing is copied and
// the queue cannot grow: the filling thread holds no more samples than the pin's allocator has.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

#include "base/BaseFilter.h"
#include "base/Sync.h"
#include "win32/Scoped.h"

namespace korvane::filters {

class SampleCourier {
public:
    enum class State {
        Going,
        DownstreamDone,  // Deliver answered S_FALSE: no more samples, still the end of stream
        Stopped,         // the graph is stopping (or *stopping was set)
        Failed,          // Deliver failed otherwise; Error() says how
    };

    // afterDeliver runs on the courier's thread after each delivered sample (tests' pacing).
    // Once *stopping is set, queued samples are dropped instead of delivered.
    SampleCourier(OutputPin* pin, const std::atomic<bool>* stopping, std::function<void()> afterDeliver);
    ~SampleCourier();
    SampleCourier(const SampleCourier&) = delete;
    SampleCourier& operator=(const SampleCourier&) = delete;

    bool Start();
    // Takes over the caller's reference to sample. False (and the sample released) once
    // delivery has ended for any reason.
    bool Post(ComPtr<IMediaSample> sample);
    // Returns once every posted sample is delivered or dropped and the thread has ended.
    void Finish();

    State Current();
    HRESULT Error();

private:
    static constexpr int kSlots = 16;  // well above any allocator's count of ours

    static DWORD WINAPI ThreadProc(void* self);
    void Run();

    OutputPin* m_pin;
    const std::atomic<bool>* m_stopping;
    std::function<void()> m_afterDeliver;
    ScopedHandle m_thread;

    CriticalSection m_lock;                // guards everything below
    CONDITION_VARIABLE m_changed;          // a sample queued or taken, or closed
    ComPtr<IMediaSample> m_queue[kSlots];  // ring: posted, not yet taken
    int m_head = 0;
    int m_count = 0;
    bool m_closed = false;         // Finish: no more posts
    State m_state = State::Going;  // written by the courier's thread
    HRESULT m_error = S_OK;
};

}  // namespace korvane::filters
