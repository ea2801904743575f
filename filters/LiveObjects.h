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
