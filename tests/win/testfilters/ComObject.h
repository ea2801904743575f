// Reference counting and QueryInterface for the COM objects of the test filter DLL. Each
// object counts itself among the live objects, which the tests expect back at zero once a
// graph is gone.
#pragma once

#include <objbase.h>

#include <atomic>

extern std::atomic<long> liveObjects;

template <class First, class... Others>
class ComObject : public First, public Others... {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = iid == IID_IUnknown ? static_cast<First*>(this) : Find(iid);
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
    ComObject() { ++liveObjects; }
    virtual ~ComObject() { --liveObjects; }
    // The interface iid names, as a pointer of that interface's type; null for any other.
    virtual void* Find(REFIID iid) = 0;

private:
    std::atomic<ULONG> m_refs{1};
};

// Hands a new object out as iid: the caller's reference is the only one left.
template <class Object>
HRESULT HandOut(Object* object, REFIID iid, void** out) {
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}
