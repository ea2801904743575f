#include "SampleCourier.h"

#include <vfwmsgs.h>

#include <utility>

namespace korvane::filters {

SampleCourier::SampleCourier(OutputPin* pin, const volatile bool* stopping, std::function<void()> afterDeliver)
    : pin_(pin), stopping_(stopping), afterDeliver_(std::move(afterDeliver)) {
    InitializeConditionVariable(&changed_);
}

SampleCourier::~SampleCourier() { Finish(); }

bool SampleCourier::Start() {
    thread_ = CreateThread(nullptr, 0, &SampleCourier::ThreadProc, this, 0, nullptr);
    return thread_ != nullptr;
}

bool SampleCourier::Post(IMediaSample* sample) {
    {
        AutoLock lock(lock_);
        while (count_ == kSlots && state_ == State::Going)
            SleepConditionVariableCS(&changed_, lock_.Native(), INFINITE);
        if (state_ == State::Going && !closed_) {
            queue_[(head_ + count_) % kSlots] = sample;
            ++count_;
            WakeAllConditionVariable(&changed_);
            return true;
        }
    }
    sample->Release();
    return false;
}

void SampleCourier::Finish() {
    {
        AutoLock lock(lock_);
        closed_ = true;
        WakeAllConditionVariable(&changed_);
    }
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    // Without a thread (Start failed) nothing took the queue.
    AutoLock lock(lock_);
    for (; count_ > 0; --count_, head_ = (head_ + 1) % kSlots)
        queue_[head_]->Release();
}

SampleCourier::State SampleCourier::Current() {
    AutoLock lock(lock_);
    return state_;
}

HRESULT SampleCourier::Error() {
    AutoLock lock(lock_);
    return error_;
}

DWORD WINAPI SampleCourier::ThreadProc(void* self) {
    static_cast<SampleCourier*>(self)->Run();
    return 0;
}

void SampleCourier::Run() {
    for (;;) {
        IMediaSample* sample = nullptr;
        State state;
        {
            AutoLock lock(lock_);
            while (count_ == 0 && !closed_)
                SleepConditionVariableCS(&changed_, lock_.Native(), INFINITE);
            if (count_ == 0)
                return;  // closed and drained
            sample = queue_[head_];
            head_ = (head_ + 1) % kSlots;
            --count_;
            WakeAllConditionVariable(&changed_);
            state = state_;
        }
        State next = state;
        HRESULT error = S_OK;
        if (state == State::Going && *stopping_) {
            next = State::Stopped;
        } else if (state == State::Going) {
            HRESULT hr = pin_->Deliver(sample);
            if (hr == S_FALSE)
                next = State::DownstreamDone;
            else if (hr == VFW_E_WRONG_STATE || hr == VFW_E_NOT_COMMITTED)
                next = State::Stopped;  // the graph is stopping, downstream first
            else if (FAILED(hr))
                next = State::Failed, error = hr;
        }
        sample->Release();
        if (next != state) {
            AutoLock lock(lock_);
            state_ = next;
            error_ = error;
            WakeAllConditionVariable(&changed_);
        } else if (state == State::Going && afterDeliver_) {
            afterDeliver_();
        }
    }
}

}  // namespace korvane::filters
