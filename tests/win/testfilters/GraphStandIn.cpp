// A filter graph manager without IMediaControl: Wine's own graph (through its second class,
// the one without a worker thread, since CLSID_FilterGraph is this DLL's then) aggregated in
// an object that answers every interface but that one. Served when the tests point
// CLSID_FilterGraph at this DLL and ask for it.
#include "TestFilters.h"

#include "base/ObjectCount.h"

#include "win32/ComObject.h"
#include "win32/ComPtr.h"

#include <control.h>
#include <uuids.h>

namespace {

using korvane::filters::Counted;
using korvane::filters::ObjectKind;

// Counted with the filters: the tests expect it gone with the graph's filters.
class GraphWithoutControl final : public ComObject<IUnknown>, private Counted<ObjectKind::Filter> {
public:
    HRESULT Aggregate() {
        return CoCreateInstance(CLSID_FilterGraphNoThread, this, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(m_inner.Out()));
    }
    void* FindInterface(REFIID iid) override {
        void* found = nullptr;
        if (iid == IID_IMediaControl || FAILED(m_inner->QueryInterface(iid, &found))) return nullptr;
        static_cast<IUnknown*>(found)->Release();  // counted on this object, which adds its own
        return found;
    }

private:
    ComPtr<IUnknown> m_inner;  // the graph's own IUnknown, the one that does not delegate
};

}  // namespace

HRESULT CreateGraphWithoutControl(int, REFIID iid, void** out) {
    ComPtr<GraphWithoutControl> graph = ComPtr<GraphWithoutControl>::Adopt(new GraphWithoutControl);
    const HRESULT hr = graph->Aggregate();
    return FAILED(hr) ? hr : graph->QueryInterface(iid, out);
}
