// A filter graph manager without IMediaControl: Wine's own graph (through its second class,
// the one without a worker thread) behind a wrapper that answers only the building
// interfaces. Served when the tests point CLSID_FilterGraph at this DLL and ask for it.
#include "ComObject.h"
#include "TestFilterIds.h"

#include <strmif.h>
#include <uuids.h>

namespace {

class GraphWithoutControl final : public ComObject<IGraphBuilder> {
public:
    explicit GraphWithoutControl(IGraphBuilder* inner) : m_inner(inner) {}
    ~GraphWithoutControl() { m_inner->Release(); }
    void* Find(REFIID iid) override {
        return iid == IID_IFilterGraph || iid == IID_IGraphBuilder ? static_cast<IGraphBuilder*>(this)
                                                                   : nullptr;
    }

    STDMETHODIMP AddFilter(IBaseFilter* f, LPCWSTR name) override { return m_inner->AddFilter(f, name); }
    STDMETHODIMP RemoveFilter(IBaseFilter* f) override { return m_inner->RemoveFilter(f); }
    STDMETHODIMP EnumFilters(IEnumFilters** e) override { return m_inner->EnumFilters(e); }
    STDMETHODIMP FindFilterByName(LPCWSTR name, IBaseFilter** f) override {
        return m_inner->FindFilterByName(name, f);
    }
    STDMETHODIMP ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override {
        return m_inner->ConnectDirect(out, in, mt);
    }
    STDMETHODIMP Reconnect(IPin* pin) override { return m_inner->Reconnect(pin); }
    STDMETHODIMP Disconnect(IPin* pin) override { return m_inner->Disconnect(pin); }
    STDMETHODIMP SetDefaultSyncSource() override { return m_inner->SetDefaultSyncSource(); }
    STDMETHODIMP Connect(IPin* out, IPin* in) override { return m_inner->Connect(out, in); }
    STDMETHODIMP Render(IPin* out) override { return m_inner->Render(out); }
    STDMETHODIMP RenderFile(LPCWSTR file, LPCWSTR list) override { return m_inner->RenderFile(file, list); }
    STDMETHODIMP AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter** f) override {
        return m_inner->AddSourceFilter(file, name, f);
    }
    STDMETHODIMP SetLogFile(DWORD_PTR file) override { return m_inner->SetLogFile(file); }
    STDMETHODIMP Abort() override { return m_inner->Abort(); }
    STDMETHODIMP ShouldOperationContinue() override { return m_inner->ShouldOperationContinue(); }

private:
    IGraphBuilder* m_inner;
};

class GraphFactory final : public ComObject<IClassFactory> {
public:
    void* Find(REFIID iid) override {
        return iid == IID_IClassFactory ? static_cast<IClassFactory*>(this) : nullptr;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        IGraphBuilder* inner = nullptr;
        HRESULT hr = CoCreateInstance(CLSID_FilterGraphNoThread, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IGraphBuilder, reinterpret_cast<void**>(&inner));
        if (FAILED(hr)) return hr;
        return HandOut(new GraphWithoutControl(inner), iid, out);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

}  // namespace

// CLSID_FilterGraph is served only while the stand-in settings ask for a graph without
// IMediaControl; otherwise its creation fails, as if the graph manager were missing.
HRESULT CreateGraphStandInFactory(REFIID iid, void** out) {
    *out = nullptr;
    HKEY key = nullptr;
    DWORD wanted = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kStandInDumpKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD size = sizeof wanted;
        DWORD type = 0;
        if (RegQueryValueExA(key, "graphWithoutControl", nullptr, &type, reinterpret_cast<BYTE*>(&wanted),
                             &size) != ERROR_SUCCESS ||
            type != REG_DWORD)
            wanted = 0;
        RegCloseKey(key);
    }
    if (!wanted) return CLASS_E_CLASSNOTAVAILABLE;
    return HandOut(new GraphFactory, iid, out);
}
