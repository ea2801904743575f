#include "SampleFiller.h"

#include <vfwmsgs.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace korvane::filters {

SampleFiller::SampleFiller(OutputPin* pin, std::function<void()> afterDeliver)
    : pin_(pin), afterDeliver_(std::move(afterDeliver)) {}

SampleFiller::~SampleFiller() {
    if (sample_)
        sample_->Release();
}

void SampleFiller::Fail(State state, HRESULT hr) {
    state_ = state;
    error_ = hr;
}

bool SampleFiller::Write(const uint8_t* data, size_t size) {
    while (size > 0 && state_ == State::Going) {
        if (!sample_) {
            HRESULT hr = pin_->GetDeliveryBuffer(&sample_);
            if (FAILED(hr)) {
                sample_ = nullptr;
                Fail(State::Stopped, hr);  // decommitted: we are being stopped
                break;
            }
            hr = sample_->GetPointer(&buffer_);
            if (FAILED(hr) || !buffer_) {
                Fail(State::Failed, FAILED(hr) ? hr : E_POINTER);
                break;
            }
            capacity_ = static_cast<size_t>(std::max<LONG>(sample_->GetSize(), 0));
            filled_ = 0;
        }
        size_t take = std::min(size, capacity_ - filled_);
        std::memcpy(buffer_ + filled_, data, take);
        filled_ += take;
        data += take;
        size -= take;
        if (filled_ == capacity_ && !Deliver())
            break;
    }
    return state_ == State::Going;
}

bool SampleFiller::Flush() {
    if (sample_ && filled_ > 0 && state_ == State::Going)
        Deliver();
    return state_ == State::Going;
}

bool SampleFiller::Deliver() {
    sample_->SetActualDataLength(static_cast<LONG>(filled_));
    sample_->SetSyncPoint(TRUE);
    HRESULT hr = pin_->Deliver(sample_);
    sample_->Release();
    sample_ = nullptr;
    if (hr == S_FALSE)
        Fail(State::DownstreamDone, S_OK);
    else if (hr == VFW_E_WRONG_STATE || hr == VFW_E_NOT_COMMITTED)
        Fail(State::Stopped, hr);  // the graph is stopping, downstream first
    else if (FAILED(hr))
        Fail(State::Failed, hr);
    if (state_ != State::Going)
        return false;
    if (afterDeliver_)
        afterDeliver_();
    return true;
}

}  // namespace korvane::filters
