// The MPEG program stream demultiplexer: one input for the source's program stream, one
// output pin per elementary stream the source listed.
#pragma once

#include "base/BaseFilter.h"

namespace korvane::filters {

HRESULT CreateDemultiplexer(IUnknown* outer, REFIID iid, void** out);

}  // namespace korvane::filters
