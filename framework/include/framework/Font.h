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

// The description the dialogs' own fonts share: ANSI, clipped by strokes, draft quality, a
// variable-pitch Swiss face; the face, size, weight, output precision and italic as given.
inline LOGFONTA DialogFontDescription(const char* face, LONG height, LONG weight,
                                      BYTE outPrecision = OUT_STRING_PRECIS, BYTE italic = FALSE) {
    LOGFONTA font{};
    font.lfHeight = height;
    font.lfWeight = weight;
    font.lfItalic = italic;
    font.lfCharSet = ANSI_CHARSET;
    font.lfOutPrecision = outPrecision;
    font.lfClipPrecision = CLIP_STROKE_PRECIS;
    font.lfQuality = DRAFT_QUALITY;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    lstrcpynA(font.lfFaceName, face, LF_FACESIZE);
    return font;
}
