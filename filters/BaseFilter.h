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
// reference someone still holds stays valid.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <amvideo.h>

#include <memory>
#include <string>
#include <vector>

#include "MediaTypes.h"
#include "ObjectCount.h"
#include "Sync.h"

namespace korvane::filters {

class BaseFilter;
class Allocator;

class BasePin : public IPin, private Counted<ObjectKind::Pin> {
public:
    BasePin(BaseFilter* filter, PIN_DIRECTION direction, std::wstring name);
    virtual ~BasePin();
    BasePin(const BasePin&) = delete;
    BasePin& operator=(const BasePin&) = delete;

    // IUnknown: delegated to the filter.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPin
    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
    STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // What a pin accepts and offers. S_OK accepts; anything else refuses.
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE* mt) = 0;
    // Preferred type number index; VFW_S_NO_MORE_ITEMS past the last one.
    virtual HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mt);
    // Called with the filter's state lock held, after the type is agreed.
    virtual HRESULT CheckConnect(IPin* peer);
    virtual HRESULT CompleteConnect(IPin* peer);
    virtual void BreakConnect();

    BaseFilter* Filter() const { return m_filter; }
    PIN_DIRECTION Direction() const { return m_direction; }
    const std::wstring& Name() const { return m_name; }
    bool IsConnected() const { return m_peer != nullptr; }
    IPin* Peer() const { return m_peer; }
    const AM_MEDIA_TYPE* ConnectedType() const { return m_connectedType.Get(); }

protected:
    BaseFilter* m_filter;
    PIN_DIRECTION m_direction;
    std::wstring m_name;
    IPin* m_peer = nullptr;  // one reference while connected; written under the state lock
    MediaType m_connectedType;

private:
    HRESULT CheckCanConnect(IPin* other, PIN_DIRECTION otherDirection);
    void DropConnection();
    HRESULT TryConnection(IPin* receivePin, const AM_MEDIA_TYPE* mt);
};

// An output pin that delivers through the peer's IMemInputPin with an allocator of ours.
class OutputPin : public BasePin {
public:
    OutputPin(BaseFilter* filter, std::wstring name, LONG buffers, LONG bufferSize);
    ~OutputPin() override;

    HRESULT CompleteConnect(IPin* peer) override;
    void BreakConnect() override;

    // Streaming side; safe without the state lock while the filter is active.
    HRESULT GetDeliveryBuffer(IMediaSample** sample);
    HRESULT Deliver(IMediaSample* sample);
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();

    // Called by the filter on Pause from stopped and on Stop.
    HRESULT Active();
    void Inactive();

    LONG BufferSize() const { return m_bufferSize; }
    // The connected filter if it is one of this pack's, else null (no reference).
    BaseFilter* PeerFilterOfOurs() const;

private:
    LONG m_buffers;
    LONG m_bufferSize;
    IMemInputPin* m_memInput = nullptr;  // peer's transport while connected
    IMemAllocator* m_allocator = nullptr;
};

// An input pin that receives samples through IMemInputPin.
class InputPin : public BasePin, public IMemInputPin {
public:
    InputPin(BaseFilter* filter, std::wstring name);
    ~InputPin() override;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return BasePin::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return BasePin::Release(); }

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
    STDMETHODIMP ReceiveCanBlock() override;

    // IPin data path
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP Disconnect() override;

    // The filter's handlers, called with the filter's stream lock held, after the checks
    // that every receive needs (state, flushing, end of stream already seen).
    virtual HRESULT OnReceive(IMediaSample* sample) = 0;
    virtual HRESULT OnEndOfStream() = 0;
    virtual void OnBeginFlush() {}
    virtual void OnEndFlush() {}

    // Refuses pull-mode (IAsyncReader) peers: they never push a sample, so connecting
    // to one would leave a graph that runs forever.
    HRESULT CheckConnect(IPin* peer) override;

    // Back to the start of a stream; the filter calls it when it pauses from stopped.
    void ResetStream();

private:
    IMemAllocator* m_allocator = nullptr;  // the one NotifyAllocator named
    volatile bool m_flushing = false;      // written by BeginFlush/EndFlush
    bool m_endOfStream = false;            // written under the stream lock
};

class BaseFilter : public IBaseFilter, private Counted<ObjectKind::Filter> {
public:
    BaseFilter(const CLSID& clsid);
    virtual ~BaseFilter();
    BaseFilter(const BaseFilter&) = delete;
    BaseFilter& operator=(const BaseFilter&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

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

    // Interfaces beyond IBaseFilter that a filter exposes.
    virtual HRESULT QueryExtraInterface(REFIID iid, void** out);
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
    LONG m_refs = 1;
    CLSID m_clsid;
    CriticalSection m_stateLock;
    CriticalSection m_streamLock;
    volatile FILTER_STATE m_state = State_Stopped;  // written under the state lock
    IFilterGraph* m_graph = nullptr;                // not referenced: the graph holds us
    IMediaEventSink* m_eventSink = nullptr;         // not referenced, for the same reason
    std::wstring m_name;
    IReferenceClock* m_clock = nullptr;  // one reference
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

// Helper: fills mt with a copy of a static type description plus a format block.
HRESULT MakeMediaType(AM_MEDIA_TYPE* mt, const GUID& major, const GUID& sub, const GUID& format,
                      const void* formatBlock, ULONG formatSize);

}  // namespace korvane::filters
