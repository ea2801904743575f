// A filter graph manager without IMediaControl: Wine's own graph (through its second class,
// the one without a worker thread) behind a wrapper that answers only the building
// interfaces. Served when the tests point CLSID_FilterGraph at this DLL and ask for it.
#include "TestFilters.h"

#include "ObjectCount.h"

#include <win32/ComObject.h>
#include <win32/ComPtr.h>

#include <strmif.h>
#include <uuids.h>

namespace {

using korvane::filters::Counted;
using korvane::filters::ObjectKind;

// Counted with the filters: the tests expect it gone with the graph's filters.
class GraphWithoutControl final : public ComObject<IGraphBuilder>, private Counted<ObjectKind::Filter> {
public:
    explicit GraphWithoutControl(ComPtr<IGraphBuilder> inner) : m_inner(std::move(inner)) {}
    void* FindInterface(REFIID iid) override {
        return iid == IID_IFilterGraph ? static_cast<IGraphBuilder*>(this) : nullptr;
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
    ComPtr<IGraphBuilder> m_inner;
};

}  // namespace

HRESULT CreateGraphWithoutControl(int, REFIID iid, void** out) {
    ComPtr<IGraphBuilder> inner;
    const HRESULT hr = CoCreateInstance(CLSID_FilterGraphNoThread, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IGraphBuilder, reinterpret_cast<void**>(inner.Out()));
    if (FAILED(hr)) return hr;
    return HandOut(new GraphWithoutControl(std::move(inner)), iid, out);
}
