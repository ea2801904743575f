#include "Enumerators.h"

#include <vfwmsgs.h>

#include "BaseFilter.h"
#include "ComGuard.h"

namespace korvane::filters {

PinEnumerator::PinEnumerator(BaseFilter* filter) : filter_(filter) {
    filter_->AddRef();
    Snapshot();
}

PinEnumerator::~PinEnumerator() { filter_->Release(); }

void PinEnumerator::Snapshot() {
    AutoLock lock(filter_->StateLock());
    pins_ = filter_->Pins();
    version_ = filter_->PinVersion();
}

HRESULT PinEnumerator::Create(BaseFilter* filter, ULONG position, IEnumPins** out) {
    if (!out)
        return E_POINTER;
    auto* e = new (std::nothrow) PinEnumerator(filter);
    if (!e) {
        *out = nullptr;
        return E_OUTOFMEMORY;
    }
    e->position_ = position;
    *out = e;
    return S_OK;
}

STDMETHODIMP PinEnumerator::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumPins)) {
        *out = static_cast<IEnumPins*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PinEnumerator::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) PinEnumerator::Release() {
    LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP PinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched) {
    return GuardedCall("PinEnumerator::Next", [&]() -> HRESULT {
        if (!pins)
            return E_POINTER;
        if (count > 1 && !fetched)
            return E_INVALIDARG;
        if (fetched)
            *fetched = 0;
        {
            AutoLock lock(filter_->StateLock());
            if (version_ != filter_->PinVersion())
                return VFW_E_ENUM_OUT_OF_SYNC;
        }
        ULONG n = 0;
        while (n < count && position_ < pins_.size()) {
            pins[n] = pins_[position_++];
            pins[n]->AddRef();
            ++n;
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    });
}

STDMETHODIMP PinEnumerator::Skip(ULONG count) {
    return GuardedCall("PinEnumerator::Skip", [&]() -> HRESULT {
        AutoLock lock(filter_->StateLock());
        if (version_ != filter_->PinVersion())
            return VFW_E_ENUM_OUT_OF_SYNC;
        if (position_ + count > pins_.size()) {
            position_ = static_cast<ULONG>(pins_.size());
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    });
}

STDMETHODIMP PinEnumerator::Reset() {
    return GuardedCall("PinEnumerator::Reset", [&]() -> HRESULT {
        Snapshot();
        position_ = 0;
        return S_OK;
    });
}

STDMETHODIMP PinEnumerator::Clone(IEnumPins** out) {
    return GuardedCall("PinEnumerator::Clone", [&]() -> HRESULT {
        if (!out)
            return E_POINTER;
        HRESULT hr = Create(filter_, position_, out);
        if (SUCCEEDED(hr)) {
            auto* clone = static_cast<PinEnumerator*>(*out);
            clone->pins_ = pins_;
            clone->version_ = version_;
        }
        return hr;
    });
}

MediaTypeEnumerator::MediaTypeEnumerator(BasePin* pin) : pin_(pin) { pin_->AddRef(); }

MediaTypeEnumerator::~MediaTypeEnumerator() { pin_->Release(); }

HRESULT MediaTypeEnumerator::Create(BasePin* pin, ULONG position, IEnumMediaTypes** out) {
    if (!out)
        return E_POINTER;
    auto* e = new (std::nothrow) MediaTypeEnumerator(pin);
    if (!e) {
        *out = nullptr;
        return E_OUTOFMEMORY;
    }
    e->position_ = position;
    *out = e;
    return S_OK;
}

STDMETHODIMP MediaTypeEnumerator::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumMediaTypes)) {
        *out = static_cast<IEnumMediaTypes*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) MediaTypeEnumerator::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) MediaTypeEnumerator::Release() {
    LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0)
        delete this;
    return refs;
}

ULONG MediaTypeEnumerator::Count() {
    AM_MEDIA_TYPE mt;
    ULONG n = 0;
    for (;;) {
        ZeroMemory(&mt, sizeof(mt));
        if (pin_->GetMediaType(static_cast<int>(n), &mt) != S_OK)
            return n;
        FreeMediaTypeContents(&mt);
        ++n;
    }
}

STDMETHODIMP MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
    return GuardedCall("MediaTypeEnumerator::Next", [&]() -> HRESULT {
        if (!types)
            return E_POINTER;
        if (count > 1 && !fetched)
            return E_INVALIDARG;
        ULONG n = 0;
        while (n < count) {
            AM_MEDIA_TYPE mt;
            ZeroMemory(&mt, sizeof(mt));
            if (pin_->GetMediaType(static_cast<int>(position_), &mt) != S_OK)
                break;
            types[n] = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
            if (!types[n]) {
                FreeMediaTypeContents(&mt);
                for (ULONG i = 0; i < n; ++i)
                    DeleteMediaType(types[i]);
                if (fetched)
                    *fetched = 0;
                return E_OUTOFMEMORY;
            }
            *types[n] = mt;  // ownership of the format block moves with it
            ++n;
            ++position_;
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    });
}

STDMETHODIMP MediaTypeEnumerator::Skip(ULONG count) {
    return GuardedCall("MediaTypeEnumerator::Skip", [&]() -> HRESULT {
        ULONG total = Count();
        if (position_ + count > total) {
            position_ = total;
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    });
}

STDMETHODIMP MediaTypeEnumerator::Reset() {
    return GuardedCall("MediaTypeEnumerator::Reset", [&]() -> HRESULT {
        position_ = 0;
        return S_OK;
    });
}

STDMETHODIMP MediaTypeEnumerator::Clone(IEnumMediaTypes** out) {
    return GuardedCall("MediaTypeEnumerator::Clone", [&]() -> HRESULT {
        return Create(pin_, position_, out);
    });
}

}  // namespace korvane::filters
