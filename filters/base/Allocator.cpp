#include "Allocator.h"

#include <vfwmsgs.h>

#include <cstdlib>

#include "ComGuard.h"
#include "MediaTypes.h"
#include "Sync.h"

namespace korvane::filters {

Sample::Sample(Allocator* owner, BYTE* buffer, LONG size)
    : m_owner(owner), m_home(buffer), m_homeSize(size), m_buffer(buffer), m_size(size) {}

Sample::~Sample() {
    DeleteMediaType(m_type);
}

void Sample::Reset() {
    m_buffer = m_home;
    m_size = m_homeSize;
    m_actual = m_size;
    m_hasTime = m_hasStop = m_sync = m_preroll = m_discontinuity = m_hasMediaTime = false;
    DeleteMediaType(m_type);
    m_type = nullptr;
}

void Sample::Borrow(const BYTE* data, LONG size) {
    m_buffer = const_cast<BYTE*>(data);
    m_size = size;
    m_actual = size;
}

STDMETHODIMP Sample::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMediaSample)) {
        *out = static_cast<IMediaSample*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) Sample::AddRef() {
    return ++m_refs;
}

STDMETHODIMP_(ULONG) Sample::Release() {
    const ULONG refs = --m_refs;
    if (refs == 0) m_owner->ReturnSample(this);
    return refs;
}

STDMETHODIMP Sample::GetPointer(BYTE** buffer) {
    if (!buffer) return E_POINTER;
    *buffer = m_buffer;
    return S_OK;
}

STDMETHODIMP_(LONG) Sample::GetSize() {
    return m_size;
}

STDMETHODIMP Sample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
    if (!start || !end) return E_POINTER;
    if (!m_hasTime) return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = m_start;
    if (!m_hasStop) {
        *end = m_start + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *end = m_stop;
    return S_OK;
}

STDMETHODIMP Sample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
    m_hasTime = start != nullptr;
    m_hasStop = m_hasTime && end != nullptr;
    if (start) m_start = *start;
    if (end) m_stop = *end;
    return S_OK;
}

STDMETHODIMP Sample::IsSyncPoint() {
    return m_sync ? S_OK : S_FALSE;
}
STDMETHODIMP Sample::SetSyncPoint(BOOL value) {
    m_sync = value != FALSE;
    return S_OK;
}
STDMETHODIMP Sample::IsPreroll() {
    return m_preroll ? S_OK : S_FALSE;
}
STDMETHODIMP Sample::SetPreroll(BOOL value) {
    m_preroll = value != FALSE;
    return S_OK;
}
STDMETHODIMP_(LONG) Sample::GetActualDataLength() {
    return m_actual;
}
STDMETHODIMP Sample::SetActualDataLength(LONG length) {
    if (length < 0 || length > m_size) return VFW_E_BUFFER_OVERFLOW;
    m_actual = length;
    return S_OK;
}

STDMETHODIMP Sample::GetMediaType(AM_MEDIA_TYPE** type) {
    if (!type) return E_POINTER;
    *type = nullptr;
    if (!m_type) return S_FALSE;
    *type = CreateMediaTypeCopy(m_type);
    return *type ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP Sample::SetMediaType(AM_MEDIA_TYPE* type) {
    DeleteMediaType(m_type);
    m_type = nullptr;
    if (!type) return S_OK;
    m_type = CreateMediaTypeCopy(type);
    return m_type ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP Sample::IsDiscontinuity() {
    return m_discontinuity ? S_OK : S_FALSE;
}
STDMETHODIMP Sample::SetDiscontinuity(BOOL value) {
    m_discontinuity = value != FALSE;
    return S_OK;
}

STDMETHODIMP Sample::GetMediaTime(LONGLONG* start, LONGLONG* end) {
    if (!start || !end) return E_POINTER;
    if (!m_hasMediaTime) return VFW_E_MEDIA_TIME_NOT_SET;
    *start = m_mediaStart;
    *end = m_mediaStop;
    return S_OK;
}

STDMETHODIMP Sample::SetMediaTime(LONGLONG* start, LONGLONG* end) {
    m_hasMediaTime = start && end;
    if (m_hasMediaTime) {
        m_mediaStart = *start;
        m_mediaStop = *end;
    }
    return S_OK;
}

Allocator::Allocator() = default;

Allocator::~Allocator() {
    // Every sample holds a reference on us while it is out, so all are home here.
    FreeBuffersLocked();
}

STDMETHODIMP Allocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    return GuardedCall("Allocator::SetProperties", [&]() -> HRESULT {
        if (!request || !actual) return E_POINTER;
        if (request->cBuffers <= 0 || request->cbBuffer <= 0 || request->cbAlign <= 0 ||
            (request->cbAlign & (request->cbAlign - 1)) != 0 || request->cbPrefix < 0)
            return VFW_E_BADALIGN;
        ExclusiveLock lock(m_lock);
        if (m_committed) return VFW_E_ALREADY_COMMITTED;
        if (m_free.size() != m_all.size()) return VFW_E_BUFFERS_OUTSTANDING;
        m_props = *request;
        m_propsSet = true;
        *actual = m_props;
        return S_OK;
    });
}

STDMETHODIMP Allocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
    if (!props) return E_POINTER;
    SharedLock lock(m_lock);
    *props = m_props;
    return S_OK;
}

STDMETHODIMP Allocator::Commit() {
    return GuardedCall("Allocator::Commit", [&]() -> HRESULT {
        ExclusiveLock lock(m_lock);
        if (!m_propsSet) return VFW_E_SIZENOTSET;
        if (m_committed) return S_OK;
        if (m_all.empty()) {
            const size_t stride =
                (static_cast<size_t>(m_props.cbBuffer) + m_props.cbPrefix + m_props.cbAlign - 1) &
                ~static_cast<size_t>(m_props.cbAlign - 1);
            m_memory = static_cast<BYTE*>(
                VirtualAlloc(nullptr, stride * m_props.cBuffers, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
            if (!m_memory) return E_OUTOFMEMORY;
            try {
                m_all.reserve(m_props.cBuffers);
                m_free.reserve(m_props.cBuffers);
                for (LONG i = 0; i < m_props.cBuffers; ++i) {
                    m_all.push_back(
                        new Sample(this, m_memory + stride * i + m_props.cbPrefix, m_props.cbBuffer));
                    m_free.push_back(m_all.back());
                }
            } catch (...) {
                FreeBuffersLocked();  // uncommitted and empty again, as before the call
                throw;
            }
        }
        m_committed = true;
        return S_OK;
    });
}

STDMETHODIMP Allocator::Decommit() {
    return GuardedCall("Allocator::Decommit", [&]() -> HRESULT {
        {
            ExclusiveLock lock(m_lock);
            m_committed = false;
            if (m_free.size() == m_all.size()) FreeBuffersLocked();
        }
        // Wakes every thread blocked in GetBuffer: they return VFW_E_NOT_COMMITTED.
        WakeAllConditionVariable(&m_returned);
        return S_OK;
    });
}

STDMETHODIMP Allocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD flags) {
    return GuardedCall("Allocator::GetBuffer", [&]() -> HRESULT {
        if (!sample) return E_POINTER;
        *sample = nullptr;
        Sample* s = nullptr;
        {
            ExclusiveLock lock(m_lock);
            while (m_committed && m_free.empty()) {
                if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
                lock.Wait(m_returned);
            }
            if (!m_committed) return VFW_E_NOT_COMMITTED;
            s = m_free.back();
            m_free.pop_back();
        }
        s->Reset();
        s->m_refs = 1;
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
    {
        // m_free has room for every sample (Commit reserved it): the push cannot throw.
        ExclusiveLock lock(m_lock);
        m_free.push_back(sample);
        if (!m_committed && m_free.size() == m_all.size()) FreeBuffersLocked();
    }
    WakeConditionVariable(&m_returned);
    Release();
}

void Allocator::FreeBuffersLocked() {
    for (Sample* s : m_all)
        delete s;
    m_all.clear();
    m_free.clear();
    if (m_memory) VirtualFree(m_memory, 0, MEM_RELEASE);
    m_memory = nullptr;
}

}  // namespace korvane::filters
