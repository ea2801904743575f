// The exports of the test build (the extension hook lives beside registration) (KorvaneFiltersTesting), which the shipped DLL leaves
// out: see LiveObjects.h.
#include "LiveObjects.h"
#include "base/ObjectCount.h"
#include "source/SourcePacing.h"

using namespace korvane::filters;

extern "C" HRESULT WINAPI KorvaneFiltersLiveObjects(KorvaneLiveObjects* counts) {
    if (!counts) return E_POINTER;
    counts->filters = LiveObjects(ObjectKind::Filter);
    counts->pins = LiveObjects(ObjectKind::Pin);
    counts->enumerators = LiveObjects(ObjectKind::Enumerator);
    counts->allocators = LiveObjects(ObjectKind::Allocator);
    counts->samples = LiveObjects(ObjectKind::Sample);
    counts->classFactories = LiveObjects(ObjectKind::ClassFactory);
    return S_OK;
}

extern "C" HRESULT WINAPI KorvaneFiltersSetSourcePacing(DWORD millisecondsPerSample) {
    if (millisecondsPerSample > 10000) return E_INVALIDARG;
    SetSourcePacingMilliseconds(millisecondsPerSample);
    return S_OK;
}

