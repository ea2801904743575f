#include "Enumerators.h"

#include <vfwmsgs.h>

#include "BaseFilter.h"
#include "ComGuard.h"

namespace korvane::filters {

PinEnumerator::PinEnumerator(BaseFilter* filter) : m_filter(Share(filter)) {
    Snapshot();
}

void PinEnumerator::Snapshot() {
    AutoLock lock(m_filter->StateLock());
    m_pins = m_filter->Pins();
    m_version = m_filter->PinVersion();
}

HRESULT PinEnumerator::Create(BaseFilter* filter, ULONG position, IEnumPins** out) {
    if (!out) return E_POINTER;
    auto* e = new (std::nothrow) PinEnumerator(filter);
    if (!e) {
        *out = nullptr;
        return E_OUTOFMEMORY;
    }
    e->m_position = position;
    *out = e;
    return S_OK;
}

STDMETHODIMP PinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched) {
    return GuardedCall("PinEnumerator::Next", [&]() -> HRESULT {
        if (!pins) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        if (fetched) *fetched = 0;
        {
            AutoLock lock(m_filter->StateLock());
            if (m_version != m_filter->PinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
        }
        ULONG n = 0;
        while (n < count && m_position < m_pins.size()) {
            pins[n] = m_pins[m_position++];
            pins[n]->AddRef();
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    });
}

STDMETHODIMP PinEnumerator::Skip(ULONG count) {
    return GuardedCall("PinEnumerator::Skip", [&]() -> HRESULT {
        AutoLock lock(m_filter->StateLock());
        if (m_version != m_filter->PinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
        if (m_position + count > m_pins.size()) {
            m_position = static_cast<ULONG>(m_pins.size());
            return S_FALSE;
        }
        m_position += count;
        return S_OK;
    });
}

STDMETHODIMP PinEnumerator::Reset() {
    return GuardedCall("PinEnumerator::Reset", [&]() -> HRESULT {
        Snapshot();
        m_position = 0;
        return S_OK;
    });
}

STDMETHODIMP PinEnumerator::Clone(IEnumPins** out) {
    return GuardedCall("PinEnumerator::Clone", [&]() -> HRESULT {
        if (!out) return E_POINTER;
        HRESULT hr = Create(m_filter.Get(), m_position, out);
        if (SUCCEEDED(hr)) {
            auto* clone = static_cast<PinEnumerator*>(*out);
            clone->m_pins = m_pins;
            clone->m_version = m_version;
        }
        return hr;
    });
}

MediaTypeEnumerator::MediaTypeEnumerator(BasePin* pin) : m_pin(Share(pin)) {}

HRESULT MediaTypeEnumerator::Create(BasePin* pin, ULONG position, IEnumMediaTypes** out) {
    if (!out) return E_POINTER;
    auto* e = new (std::nothrow) MediaTypeEnumerator(pin);
    if (!e) {
        *out = nullptr;
        return E_OUTOFMEMORY;
    }
    e->m_position = position;
    *out = e;
    return S_OK;
}

ULONG MediaTypeEnumerator::Count() {
    AM_MEDIA_TYPE mt;
    ULONG n = 0;
    for (;;) {
        ZeroMemory(&mt, sizeof(mt));
        if (m_pin->GetMediaType(static_cast<int>(n), &mt) != S_OK) return n;
        FreeMediaTypeContents(&mt);
        ++n;
    }
}

STDMETHODIMP MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
    return GuardedCall("MediaTypeEnumerator::Next", [&]() -> HRESULT {
        if (!types) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        while (n < count) {
            AM_MEDIA_TYPE mt;
            ZeroMemory(&mt, sizeof(mt));
            if (m_pin->GetMediaType(static_cast<int>(m_position), &mt) != S_OK) break;
            types[n] = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
            if (!types[n]) {
                FreeMediaTypeContents(&mt);
                for (ULONG i = 0; i < n; ++i)
                    DeleteMediaType(types[i]);
                if (fetched) *fetched = 0;
                return E_OUTOFMEMORY;
            }
            *types[n] = mt;  // ownership of the format block moves with it
            ++n;
            ++m_position;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    });
}

STDMETHODIMP MediaTypeEnumerator::Skip(ULONG count) {
    return GuardedCall("MediaTypeEnumerator::Skip", [&]() -> HRESULT {
        ULONG total = Count();
        if (m_position + count > total) {
            m_position = total;
            return S_FALSE;
        }
        m_position += count;
        return S_OK;
    });
}

STDMETHODIMP MediaTypeEnumerator::Reset() {
    return GuardedCall("MediaTypeEnumerator::Reset", [&]() -> HRESULT {
        m_position = 0;
        return S_OK;
    });
}

STDMETHODIMP MediaTypeEnumerator::Clone(IEnumMediaTypes** out) {
    return GuardedCall("MediaTypeEnumerator::Clone",
                       [&]() -> HRESULT { return Create(m_pin.Get(), m_position, out); });
}

}  // namespace korvane::filters
