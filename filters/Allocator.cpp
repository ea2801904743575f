#include "Allocator.h"

#include <vfwmsgs.h>

#include <cstdlib>

#include "ComGuard.h"
#include "MediaTypes.h"

namespace korvane::filters {

Sample::Sample(Allocator* owner, BYTE* buffer, LONG size)
    : owner_(owner), home_(buffer), homeSize_(size), buffer_(buffer), size_(size) {}

Sample::~Sample() { DeleteMediaType(type_); }

void Sample::Reset() {
    buffer_ = home_;
    size_ = homeSize_;
    actual_ = size_;
    hasTime_ = hasStop_ = sync_ = preroll_ = discontinuity_ = hasMediaTime_ = false;
    DeleteMediaType(type_);
    type_ = nullptr;
}

void Sample::Borrow(const BYTE* data, LONG size) {
    buffer_ = const_cast<BYTE*>(data);
    size_ = size;
    actual_ = size;
}

STDMETHODIMP Sample::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMediaSample)) {
        *out = static_cast<IMediaSample*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) Sample::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) Sample::Release() {
    LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0)
        owner_->ReturnSample(this);
    return refs;
}

STDMETHODIMP Sample::GetPointer(BYTE** buffer) {
    if (!buffer)
        return E_POINTER;
    *buffer = buffer_;
    return S_OK;
}

STDMETHODIMP_(LONG) Sample::GetSize() { return size_; }

STDMETHODIMP Sample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
    if (!start || !end)
        return E_POINTER;
    if (!hasTime_)
        return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = start_;
    if (!hasStop_) {
        *end = start_ + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *end = stop_;
    return S_OK;
}

STDMETHODIMP Sample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
    hasTime_ = start != nullptr;
    hasStop_ = hasTime_ && end != nullptr;
    if (start)
        start_ = *start;
    if (end)
        stop_ = *end;
    return S_OK;
}

STDMETHODIMP Sample::IsSyncPoint() { return sync_ ? S_OK : S_FALSE; }
STDMETHODIMP Sample::SetSyncPoint(BOOL value) {
    sync_ = value != FALSE;
    return S_OK;
}
STDMETHODIMP Sample::IsPreroll() { return preroll_ ? S_OK : S_FALSE; }
STDMETHODIMP Sample::SetPreroll(BOOL value) {
    preroll_ = value != FALSE;
    return S_OK;
}
STDMETHODIMP_(LONG) Sample::GetActualDataLength() { return actual_; }
STDMETHODIMP Sample::SetActualDataLength(LONG length) {
    if (length < 0 || length > size_)
        return VFW_E_BUFFER_OVERFLOW;
    actual_ = length;
    return S_OK;
}

STDMETHODIMP Sample::GetMediaType(AM_MEDIA_TYPE** type) {
    if (!type)
        return E_POINTER;
    *type = nullptr;
    if (!type_)
        return S_FALSE;
    *type = CreateMediaTypeCopy(type_);
    return *type ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP Sample::SetMediaType(AM_MEDIA_TYPE* type) {
    DeleteMediaType(type_);
    type_ = nullptr;
    if (!type)
        return S_OK;
    type_ = CreateMediaTypeCopy(type);
    return type_ ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP Sample::IsDiscontinuity() { return discontinuity_ ? S_OK : S_FALSE; }
STDMETHODIMP Sample::SetDiscontinuity(BOOL value) {
    discontinuity_ = value != FALSE;
    return S_OK;
}

STDMETHODIMP Sample::GetMediaTime(LONGLONG* start, LONGLONG* end) {
    if (!start || !end)
        return E_POINTER;
    if (!hasMediaTime_)
        return VFW_E_MEDIA_TIME_NOT_SET;
    *start = mediaStart_;
    *end = mediaStop_;
    return S_OK;
}

STDMETHODIMP Sample::SetMediaTime(LONGLONG* start, LONGLONG* end) {
    hasMediaTime_ = start && end;
    if (hasMediaTime_) {
        mediaStart_ = *start;
        mediaStop_ = *end;
    }
    return S_OK;
}

Allocator::Allocator() = default;

Allocator::~Allocator() {
    // Every sample holds a reference on us while it is out, so all are home here.
    FreeBuffersLocked();
}

STDMETHODIMP Allocator::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMemAllocator)) {
        *out = static_cast<IMemAllocator*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) Allocator::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) Allocator::Release() {
    LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP Allocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    return GuardedCall("Allocator::SetProperties", [&]() -> HRESULT {
        if (!request || !actual)
            return E_POINTER;
        if (request->cBuffers <= 0 || request->cbBuffer <= 0 || request->cbAlign <= 0 ||
            (request->cbAlign & (request->cbAlign - 1)) != 0 || request->cbPrefix < 0)
            return VFW_E_BADALIGN;
        AcquireSRWLockExclusive(&lock_);
        HRESULT hr = S_OK;
        if (committed_)
            hr = VFW_E_ALREADY_COMMITTED;
        else if (free_.size() != all_.size())
            hr = VFW_E_BUFFERS_OUTSTANDING;
        else {
            props_ = *request;
            propsSet_ = true;
            *actual = props_;
        }
        ReleaseSRWLockExclusive(&lock_);
        return hr;
    });
}

STDMETHODIMP Allocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
    if (!props)
        return E_POINTER;
    AcquireSRWLockShared(&lock_);
    *props = props_;
    ReleaseSRWLockShared(&lock_);
    return S_OK;
}

STDMETHODIMP Allocator::Commit() {
    return GuardedCall("Allocator::Commit", [&]() -> HRESULT {
        AcquireSRWLockExclusive(&lock_);
        HRESULT hr = S_OK;
        if (!propsSet_) {
            hr = VFW_E_SIZENOTSET;
        } else if (!committed_) {
            if (all_.empty()) {
                const size_t stride = (static_cast<size_t>(props_.cbBuffer) + props_.cbPrefix +
                                       props_.cbAlign - 1) & ~static_cast<size_t>(props_.cbAlign - 1);
                memory_ = static_cast<BYTE*>(VirtualAlloc(nullptr, stride * props_.cBuffers,
                                                          MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
                if (!memory_) {
                    hr = E_OUTOFMEMORY;
                } else {
                    for (LONG i = 0; i < props_.cBuffers; ++i) {
                        auto* s = new Sample(this, memory_ + stride * i + props_.cbPrefix, props_.cbBuffer);
                        all_.push_back(s);
                        free_.push_back(s);
                    }
                }
            }
            if (SUCCEEDED(hr))
                committed_ = true;
        }
        ReleaseSRWLockExclusive(&lock_);
        return hr;
    });
}

STDMETHODIMP Allocator::Decommit() {
    return GuardedCall("Allocator::Decommit", [&]() -> HRESULT {
        AcquireSRWLockExclusive(&lock_);
        committed_ = false;
        if (free_.size() == all_.size())
            FreeBuffersLocked();
        ReleaseSRWLockExclusive(&lock_);
        // Wakes every thread blocked in GetBuffer: they return VFW_E_NOT_COMMITTED.
        WakeAllConditionVariable(&returned_);
        return S_OK;
    });
}

STDMETHODIMP Allocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD flags) {
    return GuardedCall("Allocator::GetBuffer", [&]() -> HRESULT {
        if (!sample)
            return E_POINTER;
        *sample = nullptr;
        AcquireSRWLockExclusive(&lock_);
        while (committed_ && free_.empty()) {
            if (flags & AM_GBF_NOWAIT) {
                ReleaseSRWLockExclusive(&lock_);
                return VFW_E_TIMEOUT;
            }
            SleepConditionVariableSRW(&returned_, &lock_, INFINITE, 0);
        }
        if (!committed_) {
            ReleaseSRWLockExclusive(&lock_);
            return VFW_E_NOT_COMMITTED;
        }
        Sample* s = free_.back();
        free_.pop_back();
        ReleaseSRWLockExclusive(&lock_);
        s->Reset();
        s->refs_ = 1;
        AddRef();  // the sample keeps its allocator alive while it is out
        *sample = s;
        return S_OK;
    });
}

STDMETHODIMP Allocator::ReleaseBuffer(IMediaSample* sample) {
    return GuardedCall("Allocator::ReleaseBuffer", [&]() -> HRESULT {
        // Samples come home through their own Release.
        return sample ? S_OK : E_POINTER;
    });
}

void Allocator::ReturnSample(Sample* sample) {
    AcquireSRWLockExclusive(&lock_);
    free_.push_back(sample);
    if (!committed_ && free_.size() == all_.size())
        FreeBuffersLocked();
    ReleaseSRWLockExclusive(&lock_);
    WakeConditionVariable(&returned_);
    Release();
}

void Allocator::FreeBuffersLocked() {
    for (Sample* s : all_)
        delete s;
    all_.clear();
    free_.clear();
    if (memory_)
        VirtualFree(memory_, 0, MEM_RELEASE);
    memory_ = nullptr;
}

}  // namespace korvane::filters
