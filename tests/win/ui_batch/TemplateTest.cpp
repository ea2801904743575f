// Templates 129 (progress window) and 130 (question box) as they are stored in the program:
// styles, font, caption, and every control in template order with its rectangle, class,
// text and styles.
#include "resource.h"

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Item {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    int id;
    std::string cls;  // a class name, or "#0x0080" for a predefined class atom
    std::string text;
};

struct Template {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    std::string caption;
    WORD pointSize;
    std::string face;
    std::vector<Item> items;
};

class Reader {
public:
    explicit Reader(const BYTE* data) : m_p(data), m_start(data) {}
    WORD Word() {
        WORD w;
        memcpy(&w, m_p, sizeof w);
        m_p += sizeof w;
        return w;
    }
    DWORD Dword() {
        DWORD d;
        memcpy(&d, m_p, sizeof d);
        m_p += sizeof d;
        return d;
    }
    short Short() { return static_cast<short>(Word()); }
    // A string or an ordinal (0xFFFF then a WORD): ordinals come back as "#0x...."
    std::string SzOrOrd() {
        WORD first = Word();
        if (first == 0xFFFF) {
            char text[16];
            snprintf(text, sizeof text, "#0x%04X", Word());
            return text;
        }
        std::string s;
        while (first) {
            s += static_cast<char>(first);  // the templates hold ASCII only
            first = Word();
        }
        return s;
    }
    void AlignDword() {
        while ((m_p - m_start) % 4) ++m_p;
    }

private:
    const BYTE* m_p;
    const BYTE* m_start;
};

Template Load(int id) {
    Template t{};
    HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
    EXPECT_NE(nullptr, found) << id;
    if (!found) return t;
    Reader r(static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, found))));
    const bool extended = r.Word() == 1 && r.Word() == 0xFFFF;
    EXPECT_FALSE(extended) << "a plain DIALOG template";
    if (extended) return t;
    Reader plain(static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, found))));
    t.style = plain.Dword();
    t.exStyle = plain.Dword();
    const WORD count = plain.Word();
    t.x = plain.Short();
    t.y = plain.Short();
    t.cx = plain.Short();
    t.cy = plain.Short();
    EXPECT_EQ("", plain.SzOrOrd()) << "no menu";
    EXPECT_EQ("", plain.SzOrOrd()) << "the standard dialog class";
    t.caption = plain.SzOrOrd();
    if (t.style & DS_SETFONT) {
        t.pointSize = plain.Word();
        t.face = plain.SzOrOrd();
    }
    for (WORD i = 0; i < count; ++i) {
        plain.AlignDword();
        Item item{};
        item.style = plain.Dword();
        item.exStyle = plain.Dword();
        item.x = plain.Short();
        item.y = plain.Short();
        item.cx = plain.Short();
        item.cy = plain.Short();
        item.id = static_cast<short>(plain.Word());
        item.cls = plain.SzOrOrd();
        item.text = plain.SzOrOrd();
        const WORD extra = plain.Word();
        for (WORD b = 0; b < extra; ++b) plain.Word();  // none expected; keeps the reader honest
        EXPECT_EQ(0, extra);
        t.items.push_back(item);
    }
    return t;
}

const char kButton[] = "#0x0080";
const char kStatic[] = "#0x0082";

void ExpectItem(const Item& item, int id, const std::string& cls, const std::string& text, short x, short y, short cx,
                short cy, DWORD style, DWORD exStyle = 0) {
    SCOPED_TRACE("control " + std::to_string(id));
    EXPECT_EQ(id, item.id);
    EXPECT_EQ(0, lstrcmpiA(cls.c_str(), item.cls.c_str())) << item.cls;  // class names ignore case
    EXPECT_EQ(text, item.text);
    EXPECT_EQ(x, item.x);
    EXPECT_EQ(y, item.y);
    EXPECT_EQ(cx, item.cx);
    EXPECT_EQ(cy, item.cy);
    EXPECT_EQ(style | WS_CHILD | WS_VISIBLE, item.style);
    EXPECT_EQ(exStyle, item.exStyle);
}

TEST(Templates, ProgressWindow129) {
    const Template t = Load(IDD_PROGRESS);
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT), t.style);
    EXPECT_EQ(0u, t.exStyle);
    EXPECT_EQ(0, t.x);
    EXPECT_EQ(0, t.y);
    EXPECT_EQ(186, t.cx);
    EXPECT_EQ(94, t.cy);
    EXPECT_EQ("Converting TiVo to MPG", t.caption);
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ("MS Sans Serif", t.face);
    ASSERT_EQ(7u, t.items.size());
    ExpectItem(t.items[0], IDCANCEL, kButton, "Cancel", 67, 73, 50, 14, BS_PUSHBUTTON | WS_TABSTOP);
    ExpectItem(t.items[1], IDC_OVERALL_PROGRESS, PROGRESS_CLASSA, "Progress1", 7, 16, 172, 15, WS_BORDER | PBS_SMOOTH,
               WS_EX_STATICEDGE);
    ExpectItem(t.items[2], IDC_OVERALL_TEXT, kStatic, "Conversion Progress: 0%", 7, 7, 172, 10, SS_LEFT | WS_GROUP);
    ExpectItem(t.items[3], IDC_FILE_PROGRESS, PROGRESS_CLASSA, "Progress2", 7, 52, 172, 15, WS_BORDER | PBS_SMOOTH,
               WS_EX_STATICEDGE);
    ExpectItem(t.items[4], IDC_FILE_TEXT, kStatic, "File 1: 0%", 7, 34, 172, 10, SS_LEFT | WS_GROUP);
    ExpectItem(t.items[5], IDC_SOURCE_PATH, kStatic, "", 20, 43, 159, 8, SS_LEFT | WS_GROUP);
    ExpectItem(t.items[6], IDC_SPINNER, kStatic, "(/)", 7, 43, 8, 8, SS_CENTER | WS_GROUP);
}

TEST(Templates, QuestionBox130) {
    const Template t = Load(IDD_CHOICE);
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT), t.style);
    EXPECT_EQ(0u, t.exStyle);
    EXPECT_EQ(0, t.x);
    EXPECT_EQ(0, t.y);
    EXPECT_EQ(243, t.cx);
    EXPECT_EQ(87, t.cy);
    EXPECT_EQ("Dialog Title", t.caption);
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ("MS Sans Serif", t.face);
    ASSERT_EQ(6u, t.items.size());
    ExpectItem(t.items[0], IDC_CHOICE_B1, kButton, "B1", 7, 66, 45, 14, BS_DEFPUSHBUTTON | WS_TABSTOP);
    ExpectItem(t.items[1], IDC_CHOICE_TEXT, kStatic, "Message...", 7, 7, 229, 57, SS_LEFT | WS_GROUP);
    ExpectItem(t.items[2], IDC_CHOICE_B2, kButton, "B2", 53, 66, 45, 14, BS_PUSHBUTTON | WS_TABSTOP);
    ExpectItem(t.items[3], IDC_CHOICE_B3, kButton, "B3", 99, 66, 45, 14, BS_PUSHBUTTON | WS_TABSTOP);
    ExpectItem(t.items[4], IDC_CHOICE_B4, kButton, "B4", 145, 66, 45, 14, BS_PUSHBUTTON | WS_TABSTOP);
    ExpectItem(t.items[5], IDC_CHOICE_B5, kButton, "B5", 191, 66, 45, 14, BS_PUSHBUTTON | WS_TABSTOP);
    // One row, one unit apart, spanning the text's width.
    EXPECT_EQ(t.items[1].x + t.items[1].cx, t.items[5].x + t.items[5].cx);
}

}  // namespace
