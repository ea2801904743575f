#include "SourcePacing.h"

namespace korvane::filters {

namespace {
volatile LONG g_sourcePacing;  // written by the test hook, read by streaming threads
}  // namespace

DWORD SourcePacingMilliseconds() {
    return static_cast<DWORD>(InterlockedCompareExchange(&g_sourcePacing, 0, 0));
}

void SetSourcePacingMilliseconds(DWORD milliseconds) {
    InterlockedExchange(&g_sourcePacing, static_cast<LONG>(milliseconds));
}

}  // namespace korvane::filters
