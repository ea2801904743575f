// The filter and pin base the four filters plug into, after the shape of Wine's strmbase.
//
// Locks, per filter:
//   m_stateLock   guards state, graph, clock and the pin list. Taken by the graph's calls
//                (Stop/Pause/Run, JoinFilterGraph, EnumPins, Connect...) on the application's
//                thread. Never held while a sample is delivered or an event is sent.
//   m_streamLock  serialises the data path of a filter (Receive, EndOfStream, flushing) with
//                the teardown of what that path uses (files, parsers). Stop takes it after the
//                state has changed, so a Receive in progress finishes first; downstream
//                filters have already stopped (the graph stops them first), so that Receive
//                returns quickly.
// Pins are part of their filter: they share its reference count. Pins removed from a filter
// (dynamic pins of the multiplexer and demultiplexer) are kept until the filter dies, so a
// reference someone still holds stays valid. The pins are in BasePin.h, InputPin.h and
// OutputPin.h.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <amvideo.h>

#include "win32/ComObject.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "BasePin.h"
#include "InputPin.h"
#include "MediaTypes.h"
#include "ObjectCount.h"
#include "OutputPin.h"
#include "Sync.h"

namespace korvane::filters {

class BaseFilter : public ComObject<IBaseFilter>, private Counted<ObjectKind::Filter> {
public:
    BaseFilter(const CLSID& clsid);
    ~BaseFilter() override;

    // IPersist
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    // IMediaFilter
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP GetState(DWORD timeout, FILTER_STATE* state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** pins) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

    // IPersist, IMediaFilter and IID_KorvaneBaseFilter; a filter with more interfaces lists
    // them through AlsoImplements.
    void* FindInterface(REFIID iid) override;
    // True for a filter that is done with every sample when its Receive returns, so a sample
    // may lend it memory that is not the allocator's (Sample::Borrow).
    virtual bool ConsumesSamplesInReceive() const { return false; }

    CriticalSection& StateLock() { return m_stateLock; }
    CriticalSection& StreamLock() { return m_streamLock; }
    FILTER_STATE State() const { return m_state; }

    // Sends an event to the graph. Never call it with a lock of ours held: the graph may be
    // inside our Stop, holding its own lock, waiting for ours.
    void NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);
    // For code that holds a lock of ours: the event is sent by the next FlushEvents, which
    // the base calls after every Receive, EndOfStream and Run once its locks are released.
    void QueueEvent(long code, LONG_PTR param1, LONG_PTR param2);
    void FlushEvents();

    // Pin list; the state lock must be held. Versions let enumerators notice changes.
    std::vector<BasePin*> Pins();
    LONG PinVersion() const { return m_pinVersion; }
    void AddPin(std::unique_ptr<BasePin> pin);
    void RetirePin(BasePin* pin);

protected:
    // Hooks called with the state lock held. OnPause runs on every Pause (fromStopped tells
    // whether streaming starts); OnStop after the output pins are inactive.
    virtual HRESULT OnPause(bool fromStopped);
    virtual HRESULT OnRun(REFERENCE_TIME start);
    virtual void OnStop();
    // Called after OnStop with no lock held: joining threads belongs here.
    virtual void AfterStop() {}

public:
    // Called by the input pins after each Receive and EndOfStream, once the events queued
    // during the call have been sent. A filter that failed ends its outputs here, so its
    // error event is in the graph's queue before the renderer's EC_COMPLETE can be.
    virtual void AfterStreamingCall() {}

protected:
private:
    CLSID m_clsid;
    CriticalSection m_stateLock;
    CriticalSection m_streamLock;
    std::atomic<FILTER_STATE> m_state{State_Stopped};  // written under the state lock
    IFilterGraph* m_graph = nullptr;                   // not referenced: the graph holds us
    IMediaEventSink* m_eventSink = nullptr;            // not referenced, for the same reason
    std::wstring m_name;
    ComPtr<IReferenceClock> m_clock;
    std::vector<std::unique_ptr<BasePin>> m_pins;
    std::vector<std::unique_ptr<BasePin>> m_retired;
    LONG m_pinVersion = 1;
    struct PendingEvent {
        long code;
        LONG_PTR param1, param2;
    };
    SRWLOCK m_eventLock = SRWLOCK_INIT;
    std::vector<PendingEvent> m_pendingEvents;  // written by QueueEvent, drained by FlushEvents
};

}  // namespace korvane::filters
