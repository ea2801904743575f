// The file dump: writes whatever reaches its one input pin to the file that
// IFileSinkFilter::SetFileName named. It is the graph's renderer.
#pragma once

#include "base/BaseFilter.h"

namespace korvane::filters {

HRESULT CreateFileDump(IUnknown* outer, REFIID iid, void** out);

}  // namespace korvane::filters
