// The test hooks of the filter pack: how many of its objects are alive right now, and source
// pacing. Only the test build of the pack (target KorvaneFiltersTesting, built from the same
// sources plus TestHooks.cpp) exports them; the DLL that ships does not. Tests load that
// build and call KorvaneFiltersLiveObjects after tearing a graph down; every count must be
// back at zero.
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

// Exported undecorated on both architectures.
typedef HRESULT(WINAPI* KorvaneFiltersLiveObjectsProc)(KorvaneLiveObjects* counts);

// Second test hook: the sources of this process wait this many milliseconds after each
// sample they deliver (256 KiB), so a test can watch a conversion that would otherwise be
// over before its first 100 ms poll (the pack converts over 1 GB/s). 0, the default, turns
// pacing off; more than 10,000 is refused. Stop ends a pacing wait at once.
//   HRESULT WINAPI KorvaneFiltersSetSourcePacing(DWORD millisecondsPerSample);
typedef HRESULT(WINAPI* KorvaneFiltersSetSourcePacingProc)(DWORD millisecondsPerSample);

// Third: whether registration writes the .tivo extension key. By default it does on Windows
// and not under Wine, whose AddSourceFilter hands a file whose extension has a key to its own
// async reader without looking at the check bytes. 1 writes it, 0 does not, -1 goes back to
// the default; the test build lets the registration tests see both.
//   HRESULT WINAPI KorvaneFiltersRegisterExtension(int mode);
typedef HRESULT(WINAPI* KorvaneFiltersRegisterExtensionProc)(int mode);
