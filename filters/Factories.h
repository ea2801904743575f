// The pack's classes: what DllGetClassObject can make and what registration writes.
#pragma once

#include <windows.h>

namespace korvane::filters {

using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

struct FilterClass {
    const CLSID* clsid;
    const wchar_t* name;
    CreateFunction create;
};

// The four filters, source last.
const FilterClass* FilterClasses(size_t* count);

}  // namespace korvane::filters
