#include "SampleSink.h"

#include <cstring>

#include "Allocator.h"

namespace korvane::filters {

namespace {
constexpr size_t kLendMinimum = 64 << 10;  // smaller writes are gathered into samples
}  // namespace

bool SampleSink::Write(const uint8_t* data, size_t size) {
    if (result_ != S_OK)
        return false;
    if (lend_ && !current_ && size >= kLendMinimum && size <= static_cast<size_t>(MAXLONG)) {
        IMediaSample* sample = nullptr;
        HRESULT hr = pin_->GetDeliveryBuffer(&sample);
        if (FAILED(hr)) {
            result_ = hr;
            return false;
        }
        // Our output pins hand out our allocator's samples.
        static_cast<Sample*>(sample)->Borrow(data, static_cast<LONG>(size));
        sample->SetSyncPoint(TRUE);
        hr = pin_->Deliver(sample);
        sample->Release();
        if (hr != S_OK) {
            result_ = hr;
            return false;
        }
        return true;
    }
    while (size > 0) {
        if (!current_) {
            HRESULT hr = pin_->GetDeliveryBuffer(&current_);
            if (FAILED(hr)) {
                current_ = nullptr;
                result_ = hr;
                return false;
            }
            hr = current_->GetPointer(&buffer_);
            if (FAILED(hr) || !buffer_) {
                Discard();
                result_ = FAILED(hr) ? hr : E_POINTER;
                return false;
            }
            capacity_ = current_->GetSize();
            used_ = 0;
        }
        size_t n = std::min(size, static_cast<size_t>(capacity_ - used_));
        std::memcpy(buffer_ + used_, data, n);
        used_ += static_cast<LONG>(n);
        data += n;
        size -= n;
        if (used_ == capacity_ && !DeliverCurrent())
            return false;
    }
    return true;
}

bool SampleSink::Flush() {
    if (result_ != S_OK)
        return false;
    return current_ ? DeliverCurrent() : true;
}

void SampleSink::Discard() {
    if (current_)
        current_->Release();
    current_ = nullptr;
}

bool SampleSink::DeliverCurrent() {
    current_->SetActualDataLength(used_);
    current_->SetSyncPoint(TRUE);
    HRESULT hr = pin_->Deliver(current_);
    current_->Release();
    current_ = nullptr;
    if (hr != S_OK) {
        result_ = hr;
        return false;
    }
    return true;
}

}  // namespace korvane::filters
