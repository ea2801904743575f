#include "BaseFilter.h"

#include <vfwmsgs.h>

#include "ComGuard.h"
#include "Enumerators.h"
#include "Guids.h"

namespace korvane::filters {

BaseFilter::BaseFilter(const CLSID& clsid) : m_clsid(clsid) {}

BaseFilter::~BaseFilter() {
    // Pins go first while the filter's locks still exist.
    m_pins.clear();
    m_retired.clear();
}

void* BaseFilter::FindInterface(REFIID iid) {
    if (IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IMediaFilter))
        return static_cast<IBaseFilter*>(this);
    if (IsEqualIID(iid, IID_KorvaneBaseFilter)) return static_cast<BaseFilter*>(this);
    return nullptr;
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
                    pin->Inactive();
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
                    hr = pin->Active();
                    if (FAILED(hr)) break;
                }
                if (SUCCEEDED(hr)) {
                    m_state = State_Paused;
                    hr = OnPause(true);
                    if (FAILED(hr)) m_state = State_Stopped;
                }
                if (FAILED(hr)) {
                    for (auto& pin : m_pins)
                        pin->Inactive();
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
        m_clock = Share(clock);
        return S_OK;
    });
}

STDMETHODIMP BaseFilter::GetSyncSource(IReferenceClock** clock) {
    return GuardedCall("BaseFilter::GetSyncSource", [&]() -> HRESULT {
        if (!clock) return E_POINTER;
        AutoLock lock(m_stateLock);
        *clock = Share(m_clock.Get()).Detach();
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
                *pin = Share<IPin>(p.get()).Detach();
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
        info->pGraph = Share(m_graph).Detach();
        return S_OK;
    });
}

STDMETHODIMP BaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    return GuardedCall("BaseFilter::JoinFilterGraph", [&]() -> HRESULT {
        AutoLock lock(m_stateLock);
        m_graph = graph;
        m_name = name ? name : L"";
        m_eventSink = nullptr;
        ComPtr<IMediaEventSink> sink;
        if (graph &&
            SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(sink.Out()))))
            m_eventSink =
                sink.Get();  // not kept: the graph outlives its membership, a reference would be a cycle
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
    ExclusiveLock lock(m_eventLock);
    m_pendingEvents.push_back({code, param1, param2});
}

void BaseFilter::FlushEvents() {
    std::vector<PendingEvent> events;
    {
        ExclusiveLock lock(m_eventLock);
        events.swap(m_pendingEvents);
    }
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
