// In-process COM server plumbing: class factories, DllGetClassObject, DllCanUnloadNow.
#include <windows.h>
#include <unknwn.h>

#include <new>

#include "ComGuard.h"
#include "Demultiplexer.h"
#include "Factories.h"
#include "FileDump.h"
#include "Guids.h"
#include "Multiplexer.h"
#include "ObjectCount.h"
#include "TivoSource.h"

namespace korvane::filters {
namespace {

const FilterClass kClasses[] = {
    {&CLSID_KorvaneDemultiplexer, L"Korvane MPEG-2 Demultiplexer", CreateDemultiplexer},
    {&CLSID_KorvaneMultiplexer, L"Korvane MPEG-2 Multiplexer", CreateMultiplexer},
    {&CLSID_KorvaneFileDump, L"Korvane File Dump", CreateFileDump},
    {&CLSID_KorvaneTivoSource, L"Korvane TiVo File Source", CreateTivoSource},
};

class ClassFactory final : public IClassFactory, private Counted<ObjectKind::ClassFactory> {
public:
    explicit ClassFactory(CreateFunction create) : m_create(create) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) delete this;
        return refs;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return GuardedCall("IClassFactory::CreateInstance", [&] { return m_create(outer, iid, out); });
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        korvane::filters::LockServer(lock != FALSE);
        return S_OK;
    }

private:
    LONG m_refs = 1;
    CreateFunction m_create;
};

}  // namespace

const FilterClass* FilterClasses(size_t* count) {
    *count = sizeof(kClasses) / sizeof(kClasses[0]);
    return kClasses;
}

}  // namespace korvane::filters

using namespace korvane::filters;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const auto& c : kClasses) {
        if (IsEqualCLSID(clsid, *c.clsid)) {
            auto* factory = new (std::nothrow) ClassFactory(c.create);
            if (!factory) return E_OUTOFMEMORY;
            HRESULT hr = factory->QueryInterface(iid, out);
            factory->Release();
            return hr;
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return AllLiveObjects() == 0 && ServerLocks() == 0 ? S_OK : S_FALSE;
}
