#include "ObjectCount.h"

#include <atomic>

namespace korvane::filters {

namespace {
std::atomic<LONG> g_counts[static_cast<int>(ObjectKind::Count)];
std::atomic<LONG> g_serverLocks;
}  // namespace

void CountObject(ObjectKind kind, LONG delta) {
    g_counts[static_cast<int>(kind)] += delta;
}

LONG LiveObjects(ObjectKind kind) {
    return g_counts[static_cast<int>(kind)];
}

LONG AllLiveObjects() {
    LONG total = 0;
    for (int i = 0; i < static_cast<int>(ObjectKind::Count); ++i)
        total += LiveObjects(static_cast<ObjectKind>(i));
    return total;
}

void LockServer(bool lock) {
    g_serverLocks += lock ? 1 : -1;
}

LONG ServerLocks() {
    return g_serverLocks;
}

}  // namespace korvane::filters
