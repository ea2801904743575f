// In-process COM server plumbing: class factories, DllGetClassObject, DllCanUnloadNow.
#include <windows.h>
#include <unknwn.h>

#include "win32/ComObject.h"

#include <new>

#include "base/ComGuard.h"
#include "demultiplexer/Demultiplexer.h"
#include "Factories.h"
#include "filedump/FileDump.h"
#include "base/Guids.h"
#include "multiplexer/Multiplexer.h"
#include "base/ObjectCount.h"
#include "source/TivoSource.h"

namespace korvane::filters {

HINSTANCE g_module = nullptr;

namespace {

const FilterClass kClasses[] = {
    {&CLSID_KorvaneDemultiplexer, L"Korvane MPEG-2 Demultiplexer", CreateDemultiplexer},
    {&CLSID_KorvaneMultiplexer, L"Korvane MPEG-2 Multiplexer", CreateMultiplexer},
    {&CLSID_KorvaneFileDump, L"Korvane File Dump", CreateFileDump},
    {&CLSID_KorvaneTivoSource, L"Korvane TiVo File Source", CreateTivoSource},
};

class ClassFactory final : public ComObject<IClassFactory>, private Counted<ObjectKind::ClassFactory> {
public:
    explicit ClassFactory(CreateFunction create) : m_create(create) {}

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
            return HandOut(new (std::nothrow) ClassFactory(c.create), iid, out);
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return AllLiveObjects() == 0 && ServerLocks() == 0 ? S_OK : S_FALSE;
}
