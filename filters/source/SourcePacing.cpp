#include "SourcePacing.h"

#include <atomic>

namespace korvane::filters {

namespace {
std::atomic<DWORD> g_sourcePacing;  // written by the test hook, read by streaming threads
}  // namespace

DWORD SourcePacingMilliseconds() {
    return g_sourcePacing;
}

void SetSourcePacingMilliseconds(DWORD milliseconds) {
    g_sourcePacing = milliseconds;
}

}  // namespace korvane::filters
