#include "ObjectCount.h"

namespace korvane::filters {

namespace {
volatile LONG g_counts[static_cast<int>(ObjectKind::Count)];
volatile LONG g_serverLocks;
}  // namespace

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
