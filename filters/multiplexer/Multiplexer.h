// The MPEG-2 program stream multiplexer: a free input pin appears after each connection,
// one output pin carries the program stream that media's writer makes.
#pragma once

#include "base/BaseFilter.h"

namespace korvane::filters {

HRESULT CreateMultiplexer(IUnknown* outer, REFIID iid, void** out);

}  // namespace korvane::filters
