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
    if (!wanted)
        return true;
    if (!IsEqualGUID(wanted->majortype, GUID_NULL) && !IsEqualGUID(wanted->majortype, candidate->majortype))
        return false;
    if (!IsEqualGUID(wanted->subtype, GUID_NULL) && !IsEqualGUID(wanted->subtype, candidate->subtype))
        return false;
    if (!IsEqualGUID(wanted->formattype, GUID_NULL) && !IsEqualGUID(wanted->formattype, candidate->formattype))
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
        if (!mt->pbFormat)
            return E_OUTOFMEMORY;
        std::memcpy(mt->pbFormat, formatBlock, formatSize);
        mt->cbFormat = formatSize;
    }
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// BasePin

BasePin::BasePin(BaseFilter* filter, PIN_DIRECTION direction, std::wstring name)
    : filter_(filter), direction_(direction), name_(std::move(name)) {}

BasePin::~BasePin() {
    if (peer_)
        peer_->Release();
}

STDMETHODIMP BasePin::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
        *out = static_cast<IPin*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) BasePin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) BasePin::Release() { return filter_->Release(); }

HRESULT BasePin::GetMediaType(int, AM_MEDIA_TYPE*) { return VFW_S_NO_MORE_ITEMS; }
HRESULT BasePin::CheckConnect(IPin*) { return S_OK; }
HRESULT BasePin::CompleteConnect(IPin*) { return S_OK; }
void BasePin::BreakConnect() {}

// Called with the state lock held: a pin joins only while unconnected and stopped, and only
// a pin of the opposite direction.
HRESULT BasePin::CheckCanConnect(IPin* other, PIN_DIRECTION otherDirection) {
    if (peer_)
        return VFW_E_ALREADY_CONNECTED;
    if (filter_->State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    PIN_DIRECTION direction;
    HRESULT hr = other->QueryDirection(&direction);
    if (FAILED(hr))
        return hr;
    return direction == otherDirection ? S_OK : VFW_E_INVALID_DIRECTION;
}

// Called with the state lock held: undoes a connection, whole or half made.
void BasePin::DropConnection() {
    BreakConnect();
    peer_->Release();
    peer_ = nullptr;
    connectedType_.Clear();
}

HRESULT BasePin::TryConnection(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    if (CheckMediaType(mt) != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    HRESULT hr = CheckConnect(receivePin);
    if (FAILED(hr))
        return hr;
    peer_ = receivePin;
    peer_->AddRef();
    hr = connectedType_.Set(mt);
    if (SUCCEEDED(hr)) {
        hr = receivePin->ReceiveConnection(this, mt);
        if (SUCCEEDED(hr)) {
            hr = CompleteConnect(receivePin);
            if (FAILED(hr))
                receivePin->Disconnect();
        }
    }
    if (FAILED(hr))
        DropConnection();
    return hr;
}

STDMETHODIMP BasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    return GuardedCall("BasePin::Connect", [&]() -> HRESULT {
        if (!receivePin)
            return E_POINTER;
        if (direction_ != PINDIR_OUTPUT)
            return E_UNEXPECTED;
        AutoLock lock(filter_->StateLock());
        HRESULT hr = CheckCanConnect(receivePin, PINDIR_INPUT);
        if (FAILED(hr))
            return hr;

        if (FullySpecified(mt))
            return TryConnection(receivePin, mt);

        // Our preferred types first, then the receiver's.
        for (int i = 0;; ++i) {
            MediaType ours;
            if (GetMediaType(i, ours.Get()) != S_OK)
                break;
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
        if (!connector || !mt)
            return E_POINTER;
        if (direction_ != PINDIR_INPUT)
            return E_UNEXPECTED;
        AutoLock lock(filter_->StateLock());
        HRESULT hr = CheckCanConnect(connector, PINDIR_OUTPUT);
        if (FAILED(hr))
            return hr;
        hr = CheckConnect(connector);
        if (FAILED(hr))
            return hr;
        if (CheckMediaType(mt) != S_OK)
            return VFW_E_TYPE_NOT_ACCEPTED;
        peer_ = connector;
        peer_->AddRef();
        hr = connectedType_.Set(mt);
        if (SUCCEEDED(hr))
            hr = CompleteConnect(connector);
        if (FAILED(hr))
            DropConnection();
        return hr;
    });
}

STDMETHODIMP BasePin::Disconnect() {
    return GuardedCall("BasePin::Disconnect", [&]() -> HRESULT {
        AutoLock lock(filter_->StateLock());
        if (filter_->State() != State_Stopped)
            return VFW_E_NOT_STOPPED;
        if (!peer_)
            return S_FALSE;
        DropConnection();
        return S_OK;
    });
}

STDMETHODIMP BasePin::ConnectedTo(IPin** pin) {
    return GuardedCall("BasePin::ConnectedTo", [&]() -> HRESULT {
        if (!pin)
            return E_POINTER;
        AutoLock lock(filter_->StateLock());
        *pin = peer_;
        if (!peer_)
            return VFW_E_NOT_CONNECTED;
        peer_->AddRef();
        return S_OK;
    });
}

STDMETHODIMP BasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    return GuardedCall("BasePin::ConnectionMediaType", [&]() -> HRESULT {
        if (!mt)
            return E_POINTER;
        AutoLock lock(filter_->StateLock());
        if (!peer_) {
            ZeroMemory(mt, sizeof(*mt));
            return VFW_E_NOT_CONNECTED;
        }
        return CopyMediaType(mt, connectedType_.Get());
    });
}

STDMETHODIMP BasePin::QueryPinInfo(PIN_INFO* info) {
    return GuardedCall("BasePin::QueryPinInfo", [&]() -> HRESULT {
        if (!info)
            return E_POINTER;
        info->pFilter = filter_;
        filter_->AddRef();
        info->dir = direction_;
        lstrcpynW(info->achName, name_.c_str(), MAX_PIN_NAME);
        return S_OK;
    });
}

STDMETHODIMP BasePin::QueryDirection(PIN_DIRECTION* direction) {
    return GuardedCall("BasePin::QueryDirection", [&]() -> HRESULT {
        if (!direction)
            return E_POINTER;
        *direction = direction_;
        return S_OK;
    });
}

STDMETHODIMP BasePin::QueryId(LPWSTR* id) {
    return GuardedCall("BasePin::QueryId", [&]() -> HRESULT {
        if (!id)
            return E_POINTER;
        const size_t bytes = (name_.size() + 1) * sizeof(WCHAR);
        *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (!*id)
            return E_OUTOFMEMORY;
        std::memcpy(*id, name_.c_str(), bytes);
        return S_OK;
    });
}

STDMETHODIMP BasePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    return GuardedCall("BasePin::QueryAccept", [&]() -> HRESULT {
        if (!mt)
            return E_POINTER;
        return CheckMediaType(mt) == S_OK ? S_OK : S_FALSE;
    });
}

STDMETHODIMP BasePin::EnumMediaTypes(IEnumMediaTypes** types) {
    return GuardedCall("BasePin::EnumMediaTypes", [&]() -> HRESULT {
        return MediaTypeEnumerator::Create(this, 0, types);
    });
}

STDMETHODIMP BasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
STDMETHODIMP BasePin::EndOfStream() { return E_UNEXPECTED; }
STDMETHODIMP BasePin::BeginFlush() { return E_UNEXPECTED; }
STDMETHODIMP BasePin::EndFlush() { return E_UNEXPECTED; }
STDMETHODIMP BasePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

// ---------------------------------------------------------------------------------------
// OutputPin

OutputPin::OutputPin(BaseFilter* filter, std::wstring name, LONG buffers, LONG bufferSize)
    : BasePin(filter, PINDIR_OUTPUT, std::move(name)), buffers_(buffers), bufferSize_(bufferSize) {}

OutputPin::~OutputPin() { BreakConnect(); }

HRESULT OutputPin::CompleteConnect(IPin* peer) {
    HRESULT hr = peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&memInput_));
    if (FAILED(hr))
        return VFW_E_NO_TRANSPORT;
    ALLOCATOR_PROPERTIES request{buffers_, bufferSize_, 1, 0};
    ALLOCATOR_PROPERTIES wanted{};
    if (SUCCEEDED(memInput_->GetAllocatorRequirements(&wanted))) {
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
    allocator_ = allocator;
    ALLOCATOR_PROPERTIES actual{};
    hr = allocator_->SetProperties(&request, &actual);
    if (SUCCEEDED(hr))
        hr = memInput_->NotifyAllocator(allocator_, FALSE);
    if (FAILED(hr))
        BreakConnect();
    return hr;
}

void OutputPin::BreakConnect() {
    if (allocator_) {
        allocator_->Decommit();
        allocator_->Release();
        allocator_ = nullptr;
    }
    if (memInput_) {
        memInput_->Release();
        memInput_ = nullptr;
    }
}

BaseFilter* OutputPin::PeerFilterOfOurs() const {
    if (!peer_)
        return nullptr;
    PIN_INFO info;
    if (FAILED(peer_->QueryPinInfo(&info)) || !info.pFilter)
        return nullptr;
    BaseFilter* ours = nullptr;
    if (SUCCEEDED(info.pFilter->QueryInterface(IID_KorvaneBaseFilter, reinterpret_cast<void**>(&ours))) && ours)
        ours->Release();  // the peer connection keeps it alive
    info.pFilter->Release();
    return ours;
}

HRESULT OutputPin::Active() { return allocator_ ? allocator_->Commit() : S_OK; }

void OutputPin::Inactive() {
    if (allocator_)
        allocator_->Decommit();
}

HRESULT OutputPin::GetDeliveryBuffer(IMediaSample** sample) {
    if (!allocator_)
        return VFW_E_NOT_CONNECTED;
    return allocator_->GetBuffer(sample, nullptr, nullptr, 0);
}

HRESULT OutputPin::Deliver(IMediaSample* sample) {
    if (!memInput_)
        return VFW_E_NOT_CONNECTED;
    return memInput_->Receive(sample);
}

HRESULT OutputPin::DeliverEndOfStream() { return peer_ ? peer_->EndOfStream() : VFW_E_NOT_CONNECTED; }
HRESULT OutputPin::DeliverBeginFlush() { return peer_ ? peer_->BeginFlush() : VFW_E_NOT_CONNECTED; }
HRESULT OutputPin::DeliverEndFlush() { return peer_ ? peer_->EndFlush() : VFW_E_NOT_CONNECTED; }

// ---------------------------------------------------------------------------------------
// InputPin

InputPin::InputPin(BaseFilter* filter, std::wstring name)
    : BasePin(filter, PINDIR_INPUT, std::move(name)) {}

InputPin::~InputPin() {
    if (allocator_)
        allocator_->Release();
}

STDMETHODIMP InputPin::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
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
        if (!allocator)
            return E_POINTER;
        *allocator = nullptr;
        return VFW_E_NO_ALLOCATOR;
    });
}

STDMETHODIMP InputPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
    return GuardedCall("InputPin::NotifyAllocator", [&]() -> HRESULT {
        if (!allocator)
            return E_POINTER;
        AutoLock lock(filter_->StateLock());
        allocator->AddRef();
        if (allocator_)
            allocator_->Release();
        allocator_ = allocator;
        return S_OK;
    });
}

STDMETHODIMP InputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

STDMETHODIMP InputPin::Receive(IMediaSample* sample) {
    return GuardedCall("InputPin::Receive", [&]() -> HRESULT {
        if (!sample)
            return E_POINTER;
        HRESULT hr;
        {
            AutoLock lock(filter_->StreamLock());
            if (filter_->State() == State_Stopped)
                hr = VFW_E_WRONG_STATE;
            else if (flushing_)
                hr = S_FALSE;
            else if (endOfStream_)
                hr = VFW_E_SAMPLE_REJECTED_EOS;
            else
                hr = OnReceive(sample);
        }
        filter_->FlushEvents();
        filter_->AfterStreamingCall();
        return hr;
    });
}

STDMETHODIMP InputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
    return GuardedCall("InputPin::ReceiveMultiple", [&]() -> HRESULT {
        if (!samples || !processed)
            return E_POINTER;
        HRESULT hr = S_OK;
        *processed = 0;
        while (*processed < count) {
            hr = Receive(samples[*processed]);
            if (hr != S_OK)
                break;
            ++*processed;
        }
        return hr;
    });
}

STDMETHODIMP InputPin::ReceiveCanBlock() { return S_OK; }

STDMETHODIMP InputPin::EndOfStream() {
    return GuardedCall("InputPin::EndOfStream", [&]() -> HRESULT {
        HRESULT hr = S_OK;
        {
            AutoLock lock(filter_->StreamLock());
            if (flushing_)
                hr = S_FALSE;
            else if (!endOfStream_) {
                endOfStream_ = true;
                hr = OnEndOfStream();
            }
        }
        filter_->FlushEvents();
        filter_->AfterStreamingCall();
        return hr;
    });
}

STDMETHODIMP InputPin::BeginFlush() {
    return GuardedCall("InputPin::BeginFlush", [&]() -> HRESULT {
        flushing_ = true;
        OnBeginFlush();
        return S_OK;
    });
}

STDMETHODIMP InputPin::EndFlush() {
    return GuardedCall("InputPin::EndFlush", [&]() -> HRESULT {
        {
            AutoLock lock(filter_->StreamLock());
            flushing_ = false;
            endOfStream_ = false;
            OnEndFlush();
        }
        filter_->FlushEvents();
        return S_OK;
    });
}

STDMETHODIMP InputPin::Disconnect() {
    return GuardedCall("InputPin::Disconnect", [&]() -> HRESULT {
        HRESULT hr = BasePin::Disconnect();
        if (hr == S_OK) {
            AutoLock lock(filter_->StateLock());
            if (allocator_) {
                allocator_->Release();
                allocator_ = nullptr;
            }
        }
        return hr;
    });
}

void InputPin::ResetStream() {
    AutoLock lock(filter_->StreamLock());
    endOfStream_ = false;
    flushing_ = false;
}

// ---------------------------------------------------------------------------------------
// BaseFilter

BaseFilter::BaseFilter(const CLSID& clsid) : clsid_(clsid) {}

BaseFilter::~BaseFilter() {
    if (clock_)
        clock_->Release();
    // Pins go first while the filter's locks still exist.
    pins_.clear();
    retired_.clear();
}

STDMETHODIMP BaseFilter::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) ||
        IsEqualIID(iid, IID_IMediaFilter) || IsEqualIID(iid, IID_IBaseFilter)) {
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

STDMETHODIMP_(ULONG) BaseFilter::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) BaseFilter::Release() {
    LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP BaseFilter::GetClassID(CLSID* clsid) {
    if (!clsid)
        return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

STDMETHODIMP BaseFilter::Stop() {
    return GuardedCall("BaseFilter::Stop", [&]() -> HRESULT {
        {
            AutoLock lock(stateLock_);
            if (state_ != State_Stopped) {
                state_ = State_Stopped;
                // Decommitting wakes a streaming thread blocked in GetBuffer.
                for (auto& pin : pins_)
                    if (pin->Direction() == PINDIR_OUTPUT)
                        static_cast<OutputPin*>(pin.get())->Inactive();
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
            AutoLock lock(stateLock_);
            if (state_ == State_Stopped) {
                for (auto& pin : pins_) {
                    if (pin->Direction() == PINDIR_INPUT) {
                        static_cast<InputPin*>(pin.get())->ResetStream();
                    } else {
                        hr = static_cast<OutputPin*>(pin.get())->Active();
                        if (FAILED(hr))
                            break;
                    }
                }
                if (SUCCEEDED(hr)) {
                    state_ = State_Paused;
                    hr = OnPause(true);
                    if (FAILED(hr))
                        state_ = State_Stopped;
                }
                if (FAILED(hr)) {
                    for (auto& pin : pins_)
                        if (pin->Direction() == PINDIR_OUTPUT)
                            static_cast<OutputPin*>(pin.get())->Inactive();
                }
            } else {
                hr = OnPause(false);
                if (SUCCEEDED(hr))
                    state_ = State_Paused;
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
            AutoLock lock(stateLock_);
            stopped = state_ == State_Stopped;
        }
        if (stopped)
            hr = Pause();
        if (SUCCEEDED(hr)) {
            AutoLock lock(stateLock_);
            if (state_ != State_Running) {
                hr = OnRun(start);
                if (SUCCEEDED(hr))
                    state_ = State_Running;
            }
        }
        FlushEvents();
        return hr;
    });
}

STDMETHODIMP BaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    *state = state_;
    return S_OK;
}

STDMETHODIMP BaseFilter::SetSyncSource(IReferenceClock* clock) {
    return GuardedCall("BaseFilter::SetSyncSource", [&]() -> HRESULT {
        AutoLock lock(stateLock_);
        if (clock)
            clock->AddRef();
        if (clock_)
            clock_->Release();
        clock_ = clock;
        return S_OK;
    });
}

STDMETHODIMP BaseFilter::GetSyncSource(IReferenceClock** clock) {
    return GuardedCall("BaseFilter::GetSyncSource", [&]() -> HRESULT {
        if (!clock)
            return E_POINTER;
        AutoLock lock(stateLock_);
        *clock = clock_;
        if (clock_)
            clock_->AddRef();
        return S_OK;
    });
}

STDMETHODIMP BaseFilter::EnumPins(IEnumPins** pins) { return PinEnumerator::Create(this, 0, pins); }

STDMETHODIMP BaseFilter::FindPin(LPCWSTR id, IPin** pin) {
    return GuardedCall("BaseFilter::FindPin", [&]() -> HRESULT {
        if (!id || !pin)
            return E_POINTER;
        AutoLock lock(stateLock_);
        for (auto& p : pins_) {
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
        if (!info)
            return E_POINTER;
        AutoLock lock(stateLock_);
        lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
        info->pGraph = graph_;
        if (graph_)
            graph_->AddRef();
        return S_OK;
    });
}

STDMETHODIMP BaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    return GuardedCall("BaseFilter::JoinFilterGraph", [&]() -> HRESULT {
        AutoLock lock(stateLock_);
        graph_ = graph;
        name_ = name ? name : L"";
        eventSink_ = nullptr;
        if (graph) {
            IMediaEventSink* sink = nullptr;
            if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) && sink) {
                eventSink_ = sink;
                sink->Release();  // the graph outlives its membership; a reference would be a cycle
            }
        }
        return S_OK;
    });
}

STDMETHODIMP BaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

void BaseFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink;
    {
        AutoLock lock(stateLock_);
        sink = eventSink_;
    }
    if (sink)
        sink->Notify(code, param1, param2);
}

void BaseFilter::QueueEvent(long code, LONG_PTR param1, LONG_PTR param2) {
    AcquireSRWLockExclusive(&eventLock_);
    pendingEvents_.push_back({code, param1, param2});
    ReleaseSRWLockExclusive(&eventLock_);
}

void BaseFilter::FlushEvents() {
    std::vector<PendingEvent> events;
    AcquireSRWLockExclusive(&eventLock_);
    events.swap(pendingEvents_);
    ReleaseSRWLockExclusive(&eventLock_);
    for (const auto& e : events)
        NotifyEvent(e.code, e.param1, e.param2);
}

std::vector<BasePin*> BaseFilter::Pins() {
    std::vector<BasePin*> pins;
    for (auto& p : pins_)
        pins.push_back(p.get());
    return pins;
}

void BaseFilter::AddPin(std::unique_ptr<BasePin> pin) {
    pins_.push_back(std::move(pin));
    ++pinVersion_;
}

void BaseFilter::RetirePin(BasePin* pin) {
    for (auto it = pins_.begin(); it != pins_.end(); ++it) {
        if (it->get() == pin) {
            retired_.push_back(std::move(*it));
            pins_.erase(it);
            ++pinVersion_;
            return;
        }
    }
}

HRESULT BaseFilter::OnPause(bool) { return S_OK; }
HRESULT BaseFilter::OnRun(REFERENCE_TIME) { return S_OK; }
void BaseFilter::OnStop() {}

}  // namespace korvane::filters
