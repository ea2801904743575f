#include "PayloadReader.h"

#include <vfwmsgs.h>

#include <new>

#include "base/Allocator.h"
#include "base/ComGuard.h"
#include "win32/ComObject.h"

namespace korvane::filters {
namespace {

// A request's sample times carry byte offsets, scaled as reference times are.
constexpr LONGLONG kUnitsPerByte = 10000000;

}  // namespace

PayloadReader::PayloadReader(IUnknown* owner, std::unique_ptr<media::ByteSource> payload)
    : m_owner(owner), m_payload(std::move(payload)) {}

PayloadReader::~PayloadReader() = default;

STDMETHODIMP PayloadReader::QueryInterface(REFIID iid, void** out) {
    return m_owner->QueryInterface(iid, out);
}
STDMETHODIMP_(ULONG) PayloadReader::AddRef() {
    return m_owner->AddRef();
}
STDMETHODIMP_(ULONG) PayloadReader::Release() {
    return m_owner->Release();
}

STDMETHODIMP PayloadReader::RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* properties,
                                             IMemAllocator** actual) {
    if (!properties || !actual) return E_POINTER;
    *actual = nullptr;
    // Any alignment serves: reads go through a buffer of the view's own.
    ALLOCATOR_PROPERTIES wanted = *properties;
    if (wanted.cbAlign < 1) wanted.cbAlign = 1;
    ALLOCATOR_PROPERTIES got{};
    if (preferred && SUCCEEDED(preferred->SetProperties(&wanted, &got))) {
        *actual = Share(preferred).Detach();
        return S_OK;
    }
    auto ours = ComPtr<IMemAllocator>::Adopt(new (std::nothrow) Allocator());
    if (!ours) return E_OUTOFMEMORY;
    const HRESULT hr = ours->SetProperties(&wanted, &got);
    if (FAILED(hr)) return hr;
    *actual = ours.Detach();
    return S_OK;
}

HRESULT PayloadReader::ReadAt(LONGLONG position, LONG length, BYTE* buffer, LONG* got) {
    *got = 0;
    if (position < 0 || length < 0) return E_INVALIDARG;
    const uint64_t size = m_payload->Size();
    if (static_cast<uint64_t>(position) > size) return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    if (length == 0) return S_OK;
    if (!buffer) return E_POINTER;
    size_t n = 0;
    bool failed = false;
    const HRESULT hr = GuardedCall("PayloadReader::ReadAt", [&] {
        AutoLock lock(m_readLock);
        n = m_payload->ReadAt(static_cast<uint64_t>(position), buffer, static_cast<size_t>(length));
        failed = n < static_cast<size_t>(length) && m_payload->Failed();
        return S_OK;
    });
    if (FAILED(hr)) return hr;
    *got = static_cast<LONG>(n);
    if (failed) return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
    return n == static_cast<size_t>(length) ? S_OK : S_FALSE;
}

HRESULT PayloadReader::ReadSample(IMediaSample* sample) {
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT hr = sample->GetTime(&start, &stop);
    if (FAILED(hr)) return hr;
    if (start < 0 || stop < start) return E_INVALIDARG;
    const LONGLONG position = start / kUnitsPerByte;
    const LONGLONG bytes = (stop - start) / kUnitsPerByte;
    if (bytes > sample->GetSize()) return E_INVALIDARG;
    BYTE* buffer = nullptr;
    hr = sample->GetPointer(&buffer);
    if (FAILED(hr)) return hr;
    LONG got = 0;
    hr = ReadAt(position, static_cast<LONG>(bytes), buffer, &got);
    if (FAILED(hr)) return hr;
    sample->SetActualDataLength(got);
    // The times name what the sample holds, as the system's file source leaves them.
    REFERENCE_TIME end = start + static_cast<REFERENCE_TIME>(got) * kUnitsPerByte;
    sample->SetTime(&start, &end);
    return hr;
}

STDMETHODIMP PayloadReader::Request(IMediaSample* sample, DWORD_PTR user) {
    if (!sample) return E_POINTER;
    {
        SharedLock lock(m_queueLock);
        if (m_flushing) return VFW_E_WRONG_STATE;
    }
    const HRESULT hr = ReadSample(sample);
    // A request that cannot even start fails here, and the caller keeps its sample.
    if (FAILED(hr) && hr != HRESULT_FROM_WIN32(ERROR_READ_FAULT)) return hr;
    {
        ExclusiveLock lock(m_queueLock);
        m_done.push_back({sample, user, hr});
    }
    WakeAllConditionVariable(&m_queueChanged);
    return S_OK;
}

STDMETHODIMP PayloadReader::WaitForNext(DWORD milliseconds, IMediaSample** sample, DWORD_PTR* user) {
    if (!sample || !user) return E_POINTER;
    *sample = nullptr;
    *user = 0;
    ExclusiveLock lock(m_queueLock);
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    while (m_done.empty()) {
        // Flushing, nothing more will come: the caller stops waiting.
        if (m_flushing) return VFW_E_WRONG_STATE;
        DWORD wait = INFINITE;
        if (milliseconds != INFINITE) {
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) return VFW_E_TIMEOUT;
            wait = static_cast<DWORD>(deadline - now);
        }
        lock.Wait(m_queueChanged, wait);
    }
    const Done done = m_done.front();
    m_done.pop_front();
    *sample = done.sample;
    *user = done.user;
    // While flushing, requests already made come back failed, as the caller expects them to.
    return m_flushing ? VFW_E_WRONG_STATE : done.result;
}

STDMETHODIMP PayloadReader::SyncReadAligned(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    return ReadSample(sample);
}

STDMETHODIMP PayloadReader::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
    LONG got = 0;
    return ReadAt(position, length, buffer, &got);
}

STDMETHODIMP PayloadReader::Length(LONGLONG* total, LONGLONG* available) {
    if (!total || !available) return E_POINTER;
    *total = *available = static_cast<LONGLONG>(m_payload->Size());
    return S_OK;
}

STDMETHODIMP PayloadReader::BeginFlush() {
    {
        ExclusiveLock lock(m_queueLock);
        m_flushing = true;
    }
    WakeAllConditionVariable(&m_queueChanged);
    return S_OK;
}

STDMETHODIMP PayloadReader::EndFlush() {
    ExclusiveLock lock(m_queueLock);
    m_flushing = false;
    return S_OK;
}

}  // namespace korvane::filters
