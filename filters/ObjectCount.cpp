#include "ObjectCount.h"

#include "LiveObjects.h"

namespace korvane::filters {

HINSTANCE g_module = nullptr;

namespace {
volatile LONG g_counts[static_cast<int>(ObjectKind::Count)];
volatile LONG g_serverLocks;
volatile LONG g_sourcePacing;  // written by the test hook, read by streaming threads
}  // namespace

DWORD SourcePacingMilliseconds() {
    return static_cast<DWORD>(InterlockedCompareExchange(&g_sourcePacing, 0, 0));
}

void CountObject(ObjectKind kind, LONG delta) {
    InterlockedExchangeAdd(&g_counts[static_cast<int>(kind)], delta);
}

LONG LiveObjects(ObjectKind kind) {
    return InterlockedCompareExchange(&g_counts[static_cast<int>(kind)], 0, 0);
}

LONG AllLiveObjects() {
    LONG total = 0;
    for (int i = 0; i < static_cast<int>(ObjectKind::Count); ++i)
        total += LiveObjects(static_cast<ObjectKind>(i));
    return total;
}

void LockServer(bool lock) {
    if (lock)
        InterlockedIncrement(&g_serverLocks);
    else
        InterlockedDecrement(&g_serverLocks);
}

LONG ServerLocks() {
    return InterlockedCompareExchange(&g_serverLocks, 0, 0);
}

}  // namespace korvane::filters

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
    InterlockedExchange(&g_sourcePacing, static_cast<LONG>(millisecondsPerSample));
    return S_OK;
}
