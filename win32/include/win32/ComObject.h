// IUnknown for the COM objects we implement ourselves (the filter pack's filters, enumerators,
// allocators and class factories, and the test filters): one reference count, one
// QueryInterface, written once.
//
//   class Enumerator final : public ComObject<IEnumPins> { ... };
//   class Filter : public ComObject<IBaseFilter> { void* FindInterface(REFIID) override; };
//   class Dump final : public AlsoImplements<Filter, IFileSinkFilter> { ... };
//
// QueryInterface answers IID_IUnknown and the IID of each listed interface (__uuidof), then
// asks FindInterface, where a class answers the interfaces its listed ones derive from
// (IPersist, IMediaFilter) or ones it offers only in some states. The count is atomic: the
// graph's thread and streaming threads take and drop references at the same time. The
// object deletes itself through its virtual destructor when the count reaches zero. No
// aggregation: none of our objects is ever created inside another.
#pragma once

#include <objbase.h>

#include <atomic>

#include "ComPtr.h"

namespace comobject_detail {

template <class First, class... Others>
struct FirstOf {
    using Type = First;
};

// The interface iid names among Interfaces, as a pointer of that type; null for none.
template <class Object, class... Interfaces>
void* FindListed(Object* object, REFIID iid) {
    void* found = nullptr;
    ((found = found                                   ? found
              : IsEqualIID(iid, __uuidof(Interfaces)) ? static_cast<Interfaces*>(object)
                                                      : nullptr),
     ...);
    return found;
}

}  // namespace comobject_detail

template <class... Interfaces>
class ComObject : public Interfaces... {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        using First = typename comobject_detail::FirstOf<Interfaces...>::Type;
        *out = IsEqualIID(iid, IID_IUnknown)
                   ? static_cast<IUnknown*>(static_cast<First*>(this))
                   : comobject_detail::FindListed<ComObject, Interfaces...>(this, iid);
        if (!*out) *out = FindInterface(iid);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

    // Interfaces beyond the listed ones, as a pointer of the interface's type; null for none.
    virtual void* FindInterface(REFIID) { return nullptr; }

private:
    std::atomic<ULONG> m_refs{1};
};

// Base, whose IUnknown is written already (a ComObject, or a pin that delegates to its
// filter), with more interfaces on the same identity and the same count: a filter that is also
// a file sink, an input pin that is also an IMemInputPin. Base's constructors are inherited.
template <class Base, class... Extra>
class AlsoImplements : public Base, public Extra... {
public:
    using Base::Base;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        void* found = comobject_detail::FindListed<AlsoImplements, Extra...>(this, iid);
        if (!found) return Base::QueryInterface(iid, out);
        *out = found;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return Base::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return Base::Release(); }
};

// Hands a new object (holding only its creator's reference) out as iid: afterwards the
// caller's reference, if the query succeeded, is the only one, and a failed query frees it.
template <class Object>
HRESULT HandOut(Object* object, REFIID iid, void** out) {
    if (!out) {
        if (object) object->Release();
        return E_POINTER;
    }
    *out = nullptr;
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

// A reference of our own to p, which the caller keeps too (an argument we store, a member we
// hand out through an out-parameter with Detach).
template <class T>
ComPtr<T> Share(T* p) {
    if (p) p->AddRef();
    return ComPtr<T>::Adopt(p);
}
