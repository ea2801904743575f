// CFont: owns one GDI font and deletes it; not copyable.
#pragma once

#include <windows.h>

class CFont {
public:
    CFont() = default;
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;
    ~CFont() { DeleteObject(); }

    // Creates the font with CreateFontIndirectA, replacing (and deleting) any previous one.
    // FALSE when GDI refuses; the object then holds no font.
    BOOL CreateFontIndirect(const LOGFONTA* description);
    BOOL DeleteObject();

    HFONT GetSafeHandle() const { return m_hFont; }
    operator HFONT() const { return m_hFont; }

private:
    HFONT m_hFont = nullptr;
};
