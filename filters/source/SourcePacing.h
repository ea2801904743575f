// How long the sources of this process wait after each sample they deliver: 0 (no wait)
// unless the test build of the pack was told otherwise (KorvaneFiltersSetSourcePacing, see
// LiveObjects.h). The shipped DLL has no way to change it.
#pragma once

#include <windows.h>

namespace korvane::filters {

DWORD SourcePacingMilliseconds();
void SetSourcePacingMilliseconds(DWORD milliseconds);

}  // namespace korvane::filters
