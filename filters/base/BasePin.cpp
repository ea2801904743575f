#include "BasePin.h"

#include <vfwmsgs.h>

#include <cstring>

#include "BaseFilter.h"
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

BaseFilter* FilterOfOurs(IPin* pin) {
    PIN_INFO info{};
    if (!pin || FAILED(pin->QueryPinInfo(&info)) || !info.pFilter) return nullptr;
    const auto filter = ComPtr<IBaseFilter>::Adopt(info.pFilter);
    ComPtr<BaseFilter> ours;
    if (FAILED(filter->QueryInterface(IID_KorvaneBaseFilter, reinterpret_cast<void**>(ours.Out()))))
        return nullptr;
    return ours.Get();
}

BasePin::BasePin(BaseFilter* filter, PIN_DIRECTION direction, std::wstring name)
    : m_filter(filter), m_direction(direction), m_name(std::move(name)) {}

BasePin::~BasePin() = default;

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
    m_peer.Reset();
    m_connectedType.Clear();
}

HRESULT BasePin::TryConnection(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    if (CheckMediaType(mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    HRESULT hr = CheckConnect(receivePin);
    if (FAILED(hr)) return hr;
    m_peer = Share(receivePin);
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
        ComPtr<IEnumMediaTypes> theirs;
        if (SUCCEEDED(receivePin->EnumMediaTypes(theirs.Out())) && theirs) {
            AM_MEDIA_TYPE* t = nullptr;
            ULONG fetched = 0;
            while (theirs->Next(1, &t, &fetched) == S_OK && fetched == 1) {
                bool ok = PartiallyMatches(mt, t) && SUCCEEDED(TryConnection(receivePin, t));
                DeleteMediaType(t);
                if (ok) return S_OK;
            }
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
        m_peer = Share(connector);
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
        *pin = Share(m_peer.Get()).Detach();
        return *pin ? S_OK : VFW_E_NOT_CONNECTED;
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
        info->pFilter = Share<IBaseFilter>(m_filter).Detach();
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

}  // namespace korvane::filters
