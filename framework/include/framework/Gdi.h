// Scoped device-context helpers: each one always gives back what it took.
#pragma once

#include <windows.h>

// GetDC on a window for the scope; ReleaseDC at its end.
class ScopedWindowDC {
public:
    explicit ScopedWindowDC(HWND window) : m_window(window), m_dc(::GetDC(window)) {}
    ScopedWindowDC(const ScopedWindowDC&) = delete;
    ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;
    ~ScopedWindowDC() {
        if (m_dc) ::ReleaseDC(m_window, m_dc);
    }
    HDC get() const { return m_dc; }
    operator HDC() const { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};

// BeginPaint for the scope (inside WM_PAINT); EndPaint at its end.
class ScopedPaintDC {
public:
    explicit ScopedPaintDC(HWND window) : m_window(window) { m_dc = ::BeginPaint(window, &m_paint); }
    ScopedPaintDC(const ScopedPaintDC&) = delete;
    ScopedPaintDC& operator=(const ScopedPaintDC&) = delete;
    ~ScopedPaintDC() { ::EndPaint(m_window, &m_paint); }
    HDC get() const { return m_dc; }
    operator HDC() const { return m_dc; }

private:
    HWND m_window;
    PAINTSTRUCT m_paint{};
    HDC m_dc;
};

// SelectObject for the scope; the previous object is selected back at its end.
class ScopedSelect {
public:
    ScopedSelect(HDC dc, HGDIOBJ object)
        : m_dc(dc), m_previous(dc && object ? ::SelectObject(dc, object) : nullptr) {}
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;
    ~ScopedSelect() {
        if (m_previous) ::SelectObject(m_dc, m_previous);
    }

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};
