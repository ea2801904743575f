// Inside the framework: the per-thread maps from window handles to window objects.
#pragma once

#include <windows.h>

class CWnd;

namespace fw {

void MapPermanent(HWND hWnd, CWnd* wnd);
void UnmapPermanent(HWND hWnd);
CWnd* LookupPermanent(HWND hWnd);

// Marks the time a framework window procedure runs; temporary window objects are
// deleted when the outermost one returns.
class HandlerScope {
public:
    HandlerScope();
    ~HandlerScope();
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;
};

}  // namespace fw
