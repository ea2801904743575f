// A pin of the filter base: connection, media type negotiation and the pin's identity.
// Pins are part of their filter: they share its reference count (their IUnknown delegates to
// it), so a pin lives as long as its filter.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "win32/ComObject.h"

#include <string>

#include "MediaTypes.h"
#include "ObjectCount.h"

namespace korvane::filters {

class BaseFilter;

// The filter of pin if it is one of this pack's (or built on its base), else null. No reference
// is kept: a connection to the pin keeps its filter alive.
BaseFilter* FilterOfOurs(IPin* pin);

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
    // Called by the filter, with its state lock held, when it pauses from stopped (streaming
    // is about to start) and when it stops.
    virtual HRESULT Active() { return S_OK; }
    virtual void Inactive() {}

    BaseFilter* Filter() const { return m_filter; }
    PIN_DIRECTION Direction() const { return m_direction; }
    const std::wstring& Name() const { return m_name; }
    bool IsConnected() const { return static_cast<bool>(m_peer); }
    IPin* Peer() const { return m_peer.Get(); }
    const AM_MEDIA_TYPE* ConnectedType() const { return m_connectedType.Get(); }

protected:
    BaseFilter* m_filter;
    PIN_DIRECTION m_direction;
    std::wstring m_name;
    ComPtr<IPin> m_peer;  // set while connected; written under the state lock
    MediaType m_connectedType;

private:
    HRESULT CheckCanConnect(IPin* other, PIN_DIRECTION otherDirection);
    void DropConnection();
    HRESULT TryConnection(IPin* receivePin, const AM_MEDIA_TYPE* mt);
};

}  // namespace korvane::filters
