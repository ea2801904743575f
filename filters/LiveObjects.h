// The filter pack's test hook: how many of its objects are alive right now.
// Tests load KorvaneFilters.dll and call KorvaneFiltersLiveObjects after tearing a graph
// down; every count must be back at zero.
#pragma once

#include <windows.h>

struct KorvaneLiveObjects {
    LONG filters;
    LONG pins;
    LONG enumerators;
    LONG allocators;
    LONG samples;
    LONG classFactories;
};

// Exported by KorvaneFilters.dll (undecorated on both architectures).
typedef HRESULT(WINAPI* KorvaneFiltersLiveObjectsProc)(KorvaneLiveObjects* counts);

// Second test hook: the sources of this process wait this many milliseconds after each
// sample they deliver (256 KiB), so a test can watch a conversion that would otherwise be
// over before its first 100 ms poll (the pack converts over 1 GB/s). 0, the default, turns
// pacing off; more than 10,000 is refused. Stop ends a pacing wait at once.
//   HRESULT WINAPI KorvaneFiltersSetSourcePacing(DWORD millisecondsPerSample);
typedef HRESULT(WINAPI* KorvaneFiltersSetSourcePacingProc)(DWORD millisecondsPerSample);
