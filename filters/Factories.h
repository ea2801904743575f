// The pack's classes: what DllGetClassObject can make and what registration writes.
#pragma once

#include <windows.h>

#include "win32/ComObject.h"

#include <new>

namespace korvane::filters {

using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

struct FilterClass {
    const CLSID* clsid;
    const wchar_t* name;
    CreateFunction create;
};

// Makes a filter that cannot be aggregated and hands out the interface asked for; the new
// object's own reference is dropped once the query holds one.
template <class Filter>
HRESULT CreateFilter(IUnknown* outer, REFIID iid, void** out) {
    if (outer) return CLASS_E_NOAGGREGATION;
    return HandOut(new (std::nothrow) Filter(), iid, out);
}

// The DLL's module handle, for registration (our own path).
extern HINSTANCE g_module;

// The four filters, source last.
const FilterClass* FilterClasses(size_t* count);

}  // namespace korvane::filters
