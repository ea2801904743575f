#include "BaseFilter.h"

#include <vfwmsgs.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "Allocator.h"
#include "ComGuard.h"
#include "Enumerators.h"
#include "Guids.h"

namespace korvane::filters {

namespace {

bool PartiallyMatches(const AM_MEDIA_TYPE* wanted, const AM_MEDIA_TYPE* candidate) {
    if (!wanted) return true;
    if (!IsEqualGUID(wanted->majortype, GUID_NULL) && !IsEqualGUID(wanted->majortype, candidate->majortype))
        return false;
    if (!IsEqualGUID(wanted->subtype, GUID_NULL) && !IsEqualGUID(wanted->subtype, candidate->subtype))
        return false;
    if (!IsEqualGUID(wanted->formattype, GUID_NULL) &&
        !IsEqualGUID(wanted->formattype, candidate->formattype))
        return false;
    return true;
}

bool FullySpecified(const AM_MEDIA_TYPE* mt) {
    return mt && !IsEqualGUID(mt->majortype, GUID_NULL) && !IsEqualGUID(mt->subtype, GUID_NULL) &&
           !IsEqualGUID(mt->formattype, GUID_NULL);
}

}  // namespace

HRESULT MakeMediaType(AM_MEDIA_TYPE* mt, const GUID& major, const GUID& sub, const GUID& format,
                      const void* formatBlock, ULONG formatSize) {
    ZeroMemory(mt, sizeof(*mt));
    mt->majortype = major;
    mt->subtype = sub;
    mt->formattype = format;
    mt->bFixedSizeSamples = FALSE;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = 0;
    if (formatSize) {
        mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(formatSize));
        if (!mt->pbFormat) return E_OUTOFMEMORY;
        std::memcpy(mt->pbFormat, formatBlock, formatSize);
        mt->cbFormat = formatSize;
    }
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// BasePin

BasePin::BasePin(BaseFilter* filter, PIN_DIRECTION direction, std::wstring name)
    : m_filter(filter), m_direction(direction), m_name(std::move(name)) {}

BasePin::~BasePin() {
    if (m_peer) m_peer->Release();
}

STDMETHODIMP BasePin::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
        *out = static_cast<IPin*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) BasePin::AddRef() {
    return m_filter->AddRef();
}
STDMETHODIMP_(ULONG) BasePin::Release() {
    return m_filter->Release();
}

HRESULT BasePin::GetMediaType(int, AM_MEDIA_TYPE*) {
    return VFW_S_NO_MORE_ITEMS;
}
HRESULT BasePin::CheckConnect(IPin*) {
    return S_OK;
}
HRESULT BasePin::CompleteConnect(IPin*) {
    return S_OK;
}
void BasePin::BreakConnect() {}

// Called with the state lock held: a pin joins only while unconnected and stopped, and only
// a pin of the opposite direction.
HRESULT BasePin::CheckCanConnect(IPin* other, PIN_DIRECTION otherDirection) {
    if (m_peer) return VFW_E_ALREADY_CONNECTED;
    if (m_filter->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION direction;
    HRESULT hr = other->QueryDirection(&direction);
    if (FAILED(hr)) return hr;
    return direction == otherDirection ? S_OK : VFW_E_INVALID_DIRECTION;
}

// Called with the state lock held: undoes a connection, whole or half made.
void BasePin::DropConnection() {
    BreakConnect();
    m_peer->Release();
    m_peer = nullptr;
    m_connectedType.Clear();
}

HRESULT BasePin::TryConnection(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    if (CheckMediaType(mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    HRESULT hr = CheckConnect(receivePin);
    if (FAILED(hr)) return hr;
    m_peer = receivePin;
    m_peer->AddRef();
    hr = m_connectedType.Set(mt);
    if (SUCCEEDED(hr)) {
        hr = receivePin->ReceiveConnection(this, mt);
        if (SUCCEEDED(hr)) {
            hr = CompleteConnect(receivePin);
            if (FAILED(hr)) receivePin->Disconnect();
        }
    }
    if (FAILED(hr)) DropConnection();
    return hr;
}

STDMETHODIMP BasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    return GuardedCall("BasePin::Connect", [&]() -> HRESULT {
        if (!receivePin) return E_POINTER;
        if (m_direction != PINDIR_OUTPUT) return E_UNEXPECTED;
        AutoLock lock(m_filter->StateLock());
        HRESULT hr = CheckCanConnect(receivePin, PINDIR_INPUT);
        if (FAILED(hr)) return hr;

        if (FullySpecified(mt)) return TryConnection(receivePin, mt);

        // Our preferred types first, then the receiver's.
        for (int i = 0;; ++i) {
            MediaType ours;
            if (GetMediaType(i, ours.Get()) != S_OK) break;
            if (PartiallyMatches(mt, ours.Get()) && SUCCEEDED(TryConnection(receivePin, ours.Get())))
                return S_OK;
        }
        IEnumMediaTypes* theirs = nullptr;
        if (SUCCEEDED(receivePin->EnumMediaTypes(&theirs)) && theirs) {
            AM_MEDIA_TYPE* t = nullptr;
            ULONG fetched = 0;
            while (theirs->Next(1, &t, &fetched) == S_OK && fetched == 1) {
                bool ok = PartiallyMatches(mt, t) && SUCCEEDED(TryConnection(receivePin, t));
                DeleteMediaType(t);
                if (ok) {
                    theirs->Release();
                    return S_OK;
                }
            }
            theirs->Release();
        }
        return VFW_E_NO_ACCEPTABLE_TYPES;
    });
}

STDMETHODIMP BasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    return GuardedCall("BasePin::ReceiveConnection", [&]() -> HRESULT {
        if (!connector || !mt) return E_POINTER;
        if (m_direction != PINDIR_INPUT) return E_UNEXPECTED;
        AutoLock lock(m_filter->StateLock());
        HRESULT hr = CheckCanConnect(connector, PINDIR_OUTPUT);
        if (FAILED(hr)) return hr;
        hr = CheckConnect(connector);
        if (FAILED(hr)) return hr;
        if (CheckMediaType(mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        m_peer = connector;
        m_peer->AddRef();
        hr = m_connectedType.Set(mt);
        if (SUCCEEDED(hr)) hr = CompleteConnect(connector);
        if (FAILED(hr)) DropConnection();
        return hr;
    });
}

STDMETHODIMP BasePin::Disconnect() {
    return GuardedCall("BasePin::Disconnect", [&]() -> HRESULT {
        AutoLock lock(m_filter->StateLock());
        if (m_filter->State() != State_Stopped) return VFW_E_NOT_STOPPED;
        if (!m_peer) return S_FALSE;
        DropConnection();
        return S_OK;
    });
}

STDMETHODIMP BasePin::ConnectedTo(IPin** pin) {
    return GuardedCall("BasePin::ConnectedTo", [&]() -> HRESULT {
        if (!pin) return E_POINTER;
        AutoLock lock(m_filter->StateLock());
        *pin = m_peer;
        if (!m_peer) return VFW_E_NOT_CONNECTED;
        m_peer->AddRef();
        return S_OK;
    });
}

STDMETHODIMP BasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    return GuardedCall("BasePin::ConnectionMediaType", [&]() -> HRESULT {
        if (!mt) return E_POINTER;
        AutoLock lock(m_filter->StateLock());
        if (!m_peer) {
            ZeroMemory(mt, sizeof(*mt));
            return VFW_E_NOT_CONNECTED;
        }
        return CopyMediaType(mt, m_connectedType.Get());
    });
}

STDMETHODIMP BasePin::QueryPinInfo(PIN_INFO* info) {
    return GuardedCall("BasePin::QueryPinInfo", [&]() -> HRESULT {
        if (!info) return E_POINTER;
        info->pFilter = m_filter;
        m_filter->AddRef();
        info->dir = m_direction;
        lstrcpynW(info->achName, m_name.c_str(), MAX_PIN_NAME);
        return S_OK;
    });
}

STDMETHODIMP BasePin::QueryDirection(PIN_DIRECTION* direction) {
    return GuardedCall("BasePin::QueryDirection", [&]() -> HRESULT {
        if (!direction) return E_POINTER;
        *direction = m_direction;
        return S_OK;
    });
}

STDMETHODIMP BasePin::QueryId(LPWSTR* id) {
    return GuardedCall("BasePin::QueryId", [&]() -> HRESULT {
        if (!id) return E_POINTER;
        const size_t bytes = (m_name.size() + 1) * sizeof(WCHAR);
        *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (!*id) return E_OUTOFMEMORY;
        std::memcpy(*id, m_name.c_str(), bytes);
        return S_OK;
    });
}

STDMETHODIMP BasePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    return GuardedCall("BasePin::QueryAccept", [&]() -> HRESULT {
        if (!mt) return E_POINTER;
        return CheckMediaType(mt) == S_OK ? S_OK : S_FALSE;
    });
}

STDMETHODIMP BasePin::EnumMediaTypes(IEnumMediaTypes** types) {
    return GuardedCall("BasePin::EnumMediaTypes",
                       [&]() -> HRESULT { return MediaTypeEnumerator::Create(this, 0, types); });
}

STDMETHODIMP BasePin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}
STDMETHODIMP BasePin::EndOfStream() {
    return E_UNEXPECTED;
}
STDMETHODIMP BasePin::BeginFlush() {
    return E_UNEXPECTED;
}
STDMETHODIMP BasePin::EndFlush() {
    return E_UNEXPECTED;
}
STDMETHODIMP BasePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// OutputPin

OutputPin::OutputPin(BaseFilter* filter, std::wstring name, LONG buffers, LONG bufferSize)
    : BasePin(filter, PINDIR_OUTPUT, std::move(name)), m_buffers(buffers), m_bufferSize(bufferSize) {}

OutputPin::~OutputPin() {
    BreakConnect();
}

HRESULT OutputPin::CompleteConnect(IPin* peer) {
    HRESULT hr = peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_memInput));
    if (FAILED(hr)) return VFW_E_NO_TRANSPORT;
    ALLOCATOR_PROPERTIES request{m_buffers, m_bufferSize, 1, 0};
    ALLOCATOR_PROPERTIES wanted{};
    if (SUCCEEDED(m_memInput->GetAllocatorRequirements(&wanted))) {
        request.cBuffers = std::max(request.cBuffers, wanted.cBuffers);
        request.cbBuffer = std::max(request.cbBuffer, wanted.cbBuffer);
        request.cbAlign = std::max(request.cbAlign, wanted.cbAlign);
        request.cbPrefix = std::max(request.cbPrefix, wanted.cbPrefix);
    }
    auto* allocator = new (std::nothrow) Allocator();
    if (!allocator) {
        BreakConnect();
        return E_OUTOFMEMORY;
    }
    m_allocator = allocator;
    ALLOCATOR_PROPERTIES actual{};
    hr = m_allocator->SetProperties(&request, &actual);
    if (SUCCEEDED(hr)) hr = m_memInput->NotifyAllocator(m_allocator, FALSE);
    if (FAILED(hr)) BreakConnect();
    return hr;
}

void OutputPin::BreakConnect() {
    if (m_allocator) {
        m_allocator->Decommit();
        m_allocator->Release();
        m_allocator = nullptr;
    }
    if (m_memInput) {
        m_memInput->Release();
        m_memInput = nullptr;
    }
}

BaseFilter* OutputPin::PeerFilterOfOurs() const {
    if (!m_peer) return nullptr;
    PIN_INFO info;
    if (FAILED(m_peer->QueryPinInfo(&info)) || !info.pFilter) return nullptr;
    BaseFilter* ours = nullptr;
    if (SUCCEEDED(info.pFilter->QueryInterface(IID_KorvaneBaseFilter, reinterpret_cast<void**>(&ours))) &&
        ours)
        ours->Release();  // the peer connection keeps it alive
    info.pFilter->Release();
    return ours;
}

HRESULT OutputPin::Active() {
    return m_allocator ? m_allocator->Commit() : S_OK;
}

void OutputPin::Inactive() {
    if (m_allocator) m_allocator->Decommit();
}

HRESULT OutputPin::GetDeliveryBuffer(IMediaSample** sample) {
    if (!m_allocator) return VFW_E_NOT_CONNECTED;
    return m_allocator->GetBuffer(sample, nullptr, nullptr, 0);
}

HRESULT OutputPin::Deliver(IMediaSample* sample) {
    if (!m_memInput) return VFW_E_NOT_CONNECTED;
    return m_memInput->Receive(sample);
}

HRESULT OutputPin::DeliverEndOfStream() {
    return m_peer ? m_peer->EndOfStream() : VFW_E_NOT_CONNECTED;
}
HRESULT OutputPin::DeliverBeginFlush() {
    return m_peer ? m_peer->BeginFlush() : VFW_E_NOT_CONNECTED;
}
HRESULT OutputPin::DeliverEndFlush() {
    return m_peer ? m_peer->EndFlush() : VFW_E_NOT_CONNECTED;
}

// ---------------------------------------------------------------------------------------
// InputPin

InputPin::InputPin(BaseFilter* filter, std::wstring name) : BasePin(filter, PINDIR_INPUT, std::move(name)) {}

InputPin::~InputPin() {
    if (m_allocator) m_allocator->Release();
}

STDMETHODIMP InputPin::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IMemInputPin)) {
        *out = static_cast<IMemInputPin*>(this);
        AddRef();
        return S_OK;
    }
    return BasePin::QueryInterface(iid, out);
}

HRESULT InputPin::CheckConnect(IPin* peer) {
    IUnknown* reader = nullptr;
    if (SUCCEEDED(peer->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&reader))) && reader) {
        reader->Release();
        return VFW_E_NO_TRANSPORT;
    }
    return S_OK;
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
        allocator->AddRef();
        if (m_allocator) m_allocator->Release();
        m_allocator = allocator;
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
            if (m_allocator) {
                m_allocator->Release();
                m_allocator = nullptr;
            }
        }
        return hr;
    });
}

void InputPin::ResetStream() {
    AutoLock lock(m_filter->StreamLock());
    m_endOfStream = false;
    m_flushing = false;
}

// ---------------------------------------------------------------------------------------
// BaseFilter

BaseFilter::BaseFilter(const CLSID& clsid) : m_clsid(clsid) {}

BaseFilter::~BaseFilter() {
    if (m_clock) m_clock->Release();
    // Pins go first while the filter's locks still exist.
    m_pins.clear();
    m_retired.clear();
}

STDMETHODIMP BaseFilter::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IMediaFilter) ||
        IsEqualIID(iid, IID_IBaseFilter)) {
        *out = static_cast<IBaseFilter*>(this);
        AddRef();
        return S_OK;
    }
    if (IsEqualIID(iid, IID_KorvaneBaseFilter)) {
        *out = this;
        AddRef();
        return S_OK;
    }
    return QueryExtraInterface(iid, out);
}

HRESULT BaseFilter::QueryExtraInterface(REFIID, void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) BaseFilter::AddRef() {
    return InterlockedIncrement(&m_refs);
}

STDMETHODIMP_(ULONG) BaseFilter::Release() {
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return refs;
}

STDMETHODIMP BaseFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

STDMETHODIMP BaseFilter::Stop() {
    return GuardedCall("BaseFilter::Stop", [&]() -> HRESULT {
        {
            AutoLock lock(m_stateLock);
            if (m_state != State_Stopped) {
                m_state = State_Stopped;
                // Decommitting wakes a streaming thread blocked in GetBuffer.
                for (auto& pin : m_pins)
                    if (pin->Direction() == PINDIR_OUTPUT) static_cast<OutputPin*>(pin.get())->Inactive();
                OnStop();
            }
        }
        AfterStop();
        FlushEvents();
        return S_OK;
    });
}

STDMETHODIMP BaseFilter::Pause() {
    return GuardedCall("BaseFilter::Pause", [&]() -> HRESULT {
        HRESULT hr = S_OK;
        {
            AutoLock lock(m_stateLock);
            if (m_state == State_Stopped) {
                for (auto& pin : m_pins) {
                    if (pin->Direction() == PINDIR_INPUT) {
                        static_cast<InputPin*>(pin.get())->ResetStream();
                    } else {
                        hr = static_cast<OutputPin*>(pin.get())->Active();
                        if (FAILED(hr)) break;
                    }
                }
                if (SUCCEEDED(hr)) {
                    m_state = State_Paused;
                    hr = OnPause(true);
                    if (FAILED(hr)) m_state = State_Stopped;
                }
                if (FAILED(hr)) {
                    for (auto& pin : m_pins)
                        if (pin->Direction() == PINDIR_OUTPUT) static_cast<OutputPin*>(pin.get())->Inactive();
                }
            } else {
                hr = OnPause(false);
                if (SUCCEEDED(hr)) m_state = State_Paused;
            }
        }
        FlushEvents();
        return hr;
    });
}

STDMETHODIMP BaseFilter::Run(REFERENCE_TIME start) {
    return GuardedCall("BaseFilter::Run", [&]() -> HRESULT {
        HRESULT hr = S_OK;
        bool stopped;
        {
            AutoLock lock(m_stateLock);
            stopped = m_state == State_Stopped;
        }
        if (stopped) hr = Pause();
        if (SUCCEEDED(hr)) {
            AutoLock lock(m_stateLock);
            if (m_state != State_Running) {
                hr = OnRun(start);
                if (SUCCEEDED(hr)) m_state = State_Running;
            }
        }
        FlushEvents();
        return hr;
    });
}

STDMETHODIMP BaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = m_state;
    return S_OK;
}

STDMETHODIMP BaseFilter::SetSyncSource(IReferenceClock* clock) {
    return GuardedCall("BaseFilter::SetSyncSource", [&]() -> HRESULT {
        AutoLock lock(m_stateLock);
        if (clock) clock->AddRef();
        if (m_clock) m_clock->Release();
        m_clock = clock;
        return S_OK;
    });
}

STDMETHODIMP BaseFilter::GetSyncSource(IReferenceClock** clock) {
    return GuardedCall("BaseFilter::GetSyncSource", [&]() -> HRESULT {
        if (!clock) return E_POINTER;
        AutoLock lock(m_stateLock);
        *clock = m_clock;
        if (m_clock) m_clock->AddRef();
        return S_OK;
    });
}

STDMETHODIMP BaseFilter::EnumPins(IEnumPins** pins) {
    return PinEnumerator::Create(this, 0, pins);
}

STDMETHODIMP BaseFilter::FindPin(LPCWSTR id, IPin** pin) {
    return GuardedCall("BaseFilter::FindPin", [&]() -> HRESULT {
        if (!id || !pin) return E_POINTER;
        AutoLock lock(m_stateLock);
        for (auto& p : m_pins) {
            if (p->Name() == id) {
                *pin = p.get();
                p->AddRef();
                return S_OK;
            }
        }
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    });
}

STDMETHODIMP BaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    return GuardedCall("BaseFilter::QueryFilterInfo", [&]() -> HRESULT {
        if (!info) return E_POINTER;
        AutoLock lock(m_stateLock);
        lstrcpynW(info->achName, m_name.c_str(), MAX_FILTER_NAME);
        info->pGraph = m_graph;
        if (m_graph) m_graph->AddRef();
        return S_OK;
    });
}

STDMETHODIMP BaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    return GuardedCall("BaseFilter::JoinFilterGraph", [&]() -> HRESULT {
        AutoLock lock(m_stateLock);
        m_graph = graph;
        m_name = name ? name : L"";
        m_eventSink = nullptr;
        if (graph) {
            IMediaEventSink* sink = nullptr;
            if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) &&
                sink) {
                m_eventSink = sink;
                sink->Release();  // the graph outlives its membership; a reference would be a cycle
            }
        }
        return S_OK;
    });
}

STDMETHODIMP BaseFilter::QueryVendorInfo(LPWSTR*) {
    return E_NOTIMPL;
}

void BaseFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink;
    {
        AutoLock lock(m_stateLock);
        sink = m_eventSink;
    }
    if (sink) sink->Notify(code, param1, param2);
}

void BaseFilter::QueueEvent(long code, LONG_PTR param1, LONG_PTR param2) {
    AcquireSRWLockExclusive(&m_eventLock);
    m_pendingEvents.push_back({code, param1, param2});
    ReleaseSRWLockExclusive(&m_eventLock);
}

void BaseFilter::FlushEvents() {
    std::vector<PendingEvent> events;
    AcquireSRWLockExclusive(&m_eventLock);
    events.swap(m_pendingEvents);
    ReleaseSRWLockExclusive(&m_eventLock);
    for (const auto& e : events)
        NotifyEvent(e.code, e.param1, e.param2);
}

std::vector<BasePin*> BaseFilter::Pins() {
    std::vector<BasePin*> pins;
    for (auto& p : m_pins)
        pins.push_back(p.get());
    return pins;
}

void BaseFilter::AddPin(std::unique_ptr<BasePin> pin) {
    m_pins.push_back(std::move(pin));
    ++m_pinVersion;
}

void BaseFilter::RetirePin(BasePin* pin) {
    for (auto it = m_pins.begin(); it != m_pins.end(); ++it) {
        if (it->get() == pin) {
            m_retired.push_back(std::move(*it));
            m_pins.erase(it);
            ++m_pinVersion;
            return;
        }
    }
}

HRESULT BaseFilter::OnPause(bool) {
    return S_OK;
}
HRESULT BaseFilter::OnRun(REFERENCE_TIME) {
    return S_OK;
}
void BaseFilter::OnStop() {}

}  // namespace korvane::filters
