#include "framework/Font.h"

BOOL CFont::CreateFontIndirect(const LOGFONTA* description) {
    DeleteObject();
    m_hFont = description ? ::CreateFontIndirectA(description) : nullptr;
    return m_hFont != nullptr;
}

BOOL CFont::DeleteObject() {
    if (!m_hFont) return FALSE;
    BOOL deleted = ::DeleteObject(m_hFont);
    m_hFont = nullptr;
    return deleted;
}
