// The ".TiVo" source: IFileSourceFilter, one output pin with the MPEG payload in large samples
// from a streaming thread of its own.
#pragma once

#include "base/BaseFilter.h"

namespace korvane::filters {

HRESULT CreateTivoSource(IUnknown* outer, REFIID iid, void** out);

}  // namespace korvane::filters
