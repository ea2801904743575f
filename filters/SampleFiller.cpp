#include "SampleFiller.h"


#include <algorithm>
#include <cstring>

namespace korvane::filters {

SampleFiller::SampleFiller(OutputPin* pin, SampleCourier* courier) : pin_(pin), courier_(courier) {}

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
        if (filled_ == capacity_ && !Hand())
            break;
    }
    return state_ == State::Going;
}

bool SampleFiller::Flush() {
    if (sample_ && filled_ > 0 && state_ == State::Going)
        Hand();
    return state_ == State::Going;
}

bool SampleFiller::Hand() {
    sample_->SetActualDataLength(static_cast<LONG>(filled_));
    sample_->SetSyncPoint(TRUE);
    IMediaSample* sample = sample_;
    sample_ = nullptr;
    if (!courier_->Post(sample))
        Fail(courier_->Current(), courier_->Error());
    return state_ == State::Going;
}

}  // namespace korvane::filters
