#include "InputPin.h"

#include <vfwmsgs.h>

#include "BaseFilter.h"
#include "ComGuard.h"

namespace korvane::filters {

InputPin::InputPin(BaseFilter* filter, std::wstring name)
    : AlsoImplements(filter, PINDIR_INPUT, std::move(name)) {}

InputPin::~InputPin() = default;

HRESULT InputPin::CheckConnect(IPin* peer) {
    ComPtr<IUnknown> reader;
    if (FAILED(peer->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(reader.Out()))) || !reader)
        return S_OK;
    // Our own source serves parsers through IAsyncReader too, but pushes to our filters.
    return FilterOfOurs(peer) ? S_OK : VFW_E_NO_TRANSPORT;
}

STDMETHODIMP InputPin::GetAllocator(IMemAllocator** allocator) {
    return GuardedCall("InputPin::GetAllocator", [&]() -> HRESULT {
        if (!allocator) return E_POINTER;
        *allocator = nullptr;
        return VFW_E_NO_ALLOCATOR;
    });
}

STDMETHODIMP InputPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
    return GuardedCall("InputPin::NotifyAllocator", [&]() -> HRESULT {
        if (!allocator) return E_POINTER;
        AutoLock lock(m_filter->StateLock());
        m_allocator = Share(allocator);
        return S_OK;
    });
}

STDMETHODIMP InputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
    return E_NOTIMPL;
}

STDMETHODIMP InputPin::Receive(IMediaSample* sample) {
    return GuardedCall("InputPin::Receive", [&]() -> HRESULT {
        if (!sample) return E_POINTER;
        HRESULT hr;
        {
            AutoLock lock(m_filter->StreamLock());
            if (m_filter->State() == State_Stopped)
                hr = VFW_E_WRONG_STATE;
            else if (m_flushing)
                hr = S_FALSE;
            else if (m_endOfStream)
                hr = VFW_E_SAMPLE_REJECTED_EOS;
            else
                hr = OnReceive(sample);
        }
        m_filter->FlushEvents();
        m_filter->AfterStreamingCall();
        return hr;
    });
}

STDMETHODIMP InputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
    return GuardedCall("InputPin::ReceiveMultiple", [&]() -> HRESULT {
        if (!samples || !processed) return E_POINTER;
        HRESULT hr = S_OK;
        *processed = 0;
        while (*processed < count) {
            hr = Receive(samples[*processed]);
            if (hr != S_OK) break;
            ++*processed;
        }
        return hr;
    });
}

STDMETHODIMP InputPin::ReceiveCanBlock() {
    return S_OK;
}

STDMETHODIMP InputPin::EndOfStream() {
    return GuardedCall("InputPin::EndOfStream", [&]() -> HRESULT {
        HRESULT hr = S_OK;
        {
            AutoLock lock(m_filter->StreamLock());
            if (m_flushing)
                hr = S_FALSE;
            else if (!m_endOfStream) {
                m_endOfStream = true;
                hr = OnEndOfStream();
            }
        }
        m_filter->FlushEvents();
        m_filter->AfterStreamingCall();
        return hr;
    });
}

STDMETHODIMP InputPin::BeginFlush() {
    return GuardedCall("InputPin::BeginFlush", [&]() -> HRESULT {
        m_flushing = true;
        OnBeginFlush();
        return S_OK;
    });
}

STDMETHODIMP InputPin::EndFlush() {
    return GuardedCall("InputPin::EndFlush", [&]() -> HRESULT {
        {
            AutoLock lock(m_filter->StreamLock());
            m_flushing = false;
            m_endOfStream = false;
            OnEndFlush();
        }
        m_filter->FlushEvents();
        return S_OK;
    });
}

STDMETHODIMP InputPin::Disconnect() {
    return GuardedCall("InputPin::Disconnect", [&]() -> HRESULT {
        HRESULT hr = BasePin::Disconnect();
        if (hr == S_OK) {
            AutoLock lock(m_filter->StateLock());
            m_allocator.Reset();
        }
        return hr;
    });
}

HRESULT InputPin::Active() {
    AutoLock lock(m_filter->StreamLock());
    m_endOfStream = false;
    m_flushing = false;
    return S_OK;
}

}  // namespace korvane::filters
