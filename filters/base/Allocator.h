// Our own memory allocator for the pins between our filters. Wine's CLSID_MemoryAllocator
// waits on a kernel semaphore for every buffer (a wineserver round trip each time); this one
// waits on an SRW lock and a condition variable, which Wine runs on futexes. It also counts
// its samples, so the test hook sees buffers that were never returned.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "win32/ComObject.h"

#include <atomic>
#include <vector>

#include "ObjectCount.h"

namespace korvane::filters {

class Allocator;

// Not a ComObject: when its count reaches zero a sample goes home to its allocator's pool
// instead of being deleted.
class Sample final : public IMediaSample, private Counted<ObjectKind::Sample> {
public:
    Sample(Allocator* owner, BYTE* buffer, LONG size);

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetPointer(BYTE** buffer) override;
    STDMETHODIMP_(LONG) GetSize() override;
    STDMETHODIMP GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    STDMETHODIMP SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    STDMETHODIMP IsSyncPoint() override;
    STDMETHODIMP SetSyncPoint(BOOL value) override;
    STDMETHODIMP IsPreroll() override;
    STDMETHODIMP SetPreroll(BOOL value) override;
    STDMETHODIMP_(LONG) GetActualDataLength() override;
    STDMETHODIMP SetActualDataLength(LONG length) override;
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** type) override;
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* type) override;
    STDMETHODIMP IsDiscontinuity() override;
    STDMETHODIMP SetDiscontinuity(BOOL value) override;
    STDMETHODIMP GetMediaTime(LONGLONG* start, LONGLONG* end) override;
    STDMETHODIMP SetMediaTime(LONGLONG* start, LONGLONG* end) override;

    // Called by the allocator when it hands the sample out.
    void Reset();
    // Points the sample at memory of the caller's for one delivery, instead of copying into
    // its own buffer. Only for a receiver that is done with the sample when Receive returns
    // (our file dump); the sample's own buffer is back when it is handed out again.
    void Borrow(const BYTE* data, LONG size);

private:
    friend class Allocator;
    ~Sample();

    Allocator* m_owner;
    std::atomic<ULONG> m_refs{0};
    BYTE* const m_home;  // the allocator's buffer
    const LONG m_homeSize;
    BYTE* m_buffer;  // m_home, or borrowed memory for one delivery
    LONG m_size;
    LONG m_actual = 0;
    bool m_hasTime = false, m_hasStop = false, m_sync = false, m_preroll = false, m_discontinuity = false,
         m_hasMediaTime = false;
    REFERENCE_TIME m_start = 0, m_stop = 0;
    LONGLONG m_mediaStart = 0, m_mediaStop = 0;
    AM_MEDIA_TYPE* m_type = nullptr;
};

class Allocator final : public ComObject<IMemAllocator>, private Counted<ObjectKind::Allocator> {
public:
    Allocator();

    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* props) override;
    STDMETHODIMP Commit() override;
    STDMETHODIMP Decommit() override;
    STDMETHODIMP GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                           DWORD flags) override;
    STDMETHODIMP ReleaseBuffer(IMediaSample* sample) override;

private:
    friend class Sample;
    ~Allocator() override;
    void ReturnSample(Sample* sample);
    void FreeBuffersLocked();  // only when every sample is home

    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_returned = CONDITION_VARIABLE_INIT;  // a sample came home or decommit
    ALLOCATOR_PROPERTIES m_props{};
    bool m_propsSet = false;
    bool m_committed = false;
    std::vector<Sample*> m_all;   // every sample made at Commit
    std::vector<Sample*> m_free;  // samples at home
    BYTE* m_memory = nullptr;
};

}  // namespace korvane::filters
