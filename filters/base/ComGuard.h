// No C++ exception may leave a COM method, an exported function or a thread procedure of the
// filter pack: the caller is the graph manager, another compiler's code or the system, and an
// exception unwinding into it ends the process. Every method that could throw (it allocates,
// or calls a filter's own hooks) runs its body through GuardedCall.
#pragma once

#include <windows.h>

#include <cstdio>
#include <exception>
#include <new>

namespace korvane::filters {

// Leaves a trace for a debugger or DebugView: a caught exception is never silent. Formats
// into a fixed buffer, since allocating here could throw again.
inline void TraceCaughtException(const char* where, const char* what) noexcept {
    char text[256];
    std::snprintf(text, sizeof text, "Korvane filters: %s caught an exception: %s\n", where, what);
    OutputDebugStringA(text);
}

// Runs body and hands back its HRESULT; out of memory becomes E_OUTOFMEMORY, any other
// exception E_UNEXPECTED, each with a trace.
template <class Body>
HRESULT GuardedCall(const char* where, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        TraceCaughtException(where, "out of memory");
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        TraceCaughtException(where, e.what());
        return E_UNEXPECTED;
    } catch (...) {
        TraceCaughtException(where, "not a standard exception");
        return E_UNEXPECTED;
    }
}

}  // namespace korvane::filters
