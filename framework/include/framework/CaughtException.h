// Nothing may unwind through the dialog manager, a timer callback or WinMain: the callers are
// the system's. Their catch-all blocks call TraceCaughtException so that no failure is silent.
#pragma once

#include <windows.h>

#include <cstdio>
#include <exception>
#include <new>

namespace fw {

// Call only inside a catch block: names the exception being handled in a debugger trace.
// Formats into a fixed buffer, since allocating here could throw again.
inline void TraceCaughtException(const char* where) noexcept {
    char text[256];
    try {
        throw;
    } catch (const std::bad_alloc&) {
        std::snprintf(text, sizeof text, "Korvane: %s caught an exception: out of memory\n", where);
    } catch (const std::exception& e) {
        std::snprintf(text, sizeof text, "Korvane: %s caught an exception: %s\n", where, e.what());
    } catch (...) {
        std::snprintf(text, sizeof text, "Korvane: %s caught an exception that is not a standard one\n",
                      where);
    }
    ::OutputDebugStringA(text);
}

}  // namespace fw
