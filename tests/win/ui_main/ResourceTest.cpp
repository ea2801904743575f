// The resources as compiled: the four dialog templates item by item with their exact styles,
// and the icon group. The dialog manager hides some of this once a window is up (WS_GROUP,
// the template's font, tab stops of disabled controls), so these checks read the templates
// themselves. The version record is the installer tests', read from the installed files.
#include "res/resource.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// A template's little-endian fields in order; a read past its end gives zeros and is noted.
struct Reader {
    const BYTE* m_data;
    size_t m_size;
    size_t m_at = 0;
    bool m_overran = false;

    DWORD Read(int bytes) {
        DWORD value = 0;
        for (int i = 0; i < bytes; ++i, ++m_at) {
            if (m_at >= m_size)
                m_overran = true;
            else
                value |= static_cast<DWORD>(m_data[m_at]) << (8 * i);
        }
        return value;
    }
    // A string, or an ordinal (0xFFFF then the number): predefined classes by name, others as "#<n>".
    std::string Text(bool className = false) {
        WORD c = static_cast<WORD>(Read(2));
        if (c == 0xFFFF) {
            const WORD n = static_cast<WORD>(Read(2));
            if (className && n >= 0x80 && n <= 0x82)
                return n == 0x80 ? "Button" : n == 0x81 ? "Edit" : "Static";
            return "#" + std::to_string(n);
        }
        std::string text;
        for (; c != 0 && !m_overran; c = static_cast<WORD>(Read(2)))
            text += static_cast<char>(c < 0x80 ? c : '?');
        return text;
    }
};

// One line per item, the dialog first: "<id> <class> <text>|<x> <y> <cx> <cy>|<style> <exstyle>",
// where the dialog's id is 0 and its class is its font, "<points> <face>".
std::string Line(int id, const std::string& className, const std::string& text, const short (&rect)[4],
                 DWORD style, DWORD exStyle) {
    std::string upper = className;  // class names in any letter case
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return std::toupper(c); });
    char line[512];
    std::snprintf(line, sizeof line, "%d %s %s|%d %d %d %d|%08lx %lx", id, upper.c_str(), text.c_str(),
                  rect[0], rect[1], rect[2], rect[3], style, exStyle);
    return line;
}

std::vector<std::string> ReadTemplate(int id) {
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(id), reinterpret_cast<LPCSTR>(RT_DIALOG));
    if (!found) return {"no template"};
    Reader in{static_cast<const BYTE*>(::LockResource(::LoadResource(module, found))),
              ::SizeofResource(module, found)};
    const bool extended = in.m_data[2] == 0xFF && in.m_data[3] == 0xFF;  // DIALOGEX: extended style first
    auto styles = [&](DWORD& style, DWORD& exStyle) {
        style = in.Read(4);
        exStyle = in.Read(4);
        if (extended) std::swap(style, exStyle);
    };
    if (extended) in.Read(8);  // version, signature and help id
    DWORD style, exStyle;
    styles(style, exStyle);
    const WORD count = static_cast<WORD>(in.Read(2));
    short rect[4];
    for (short& v : rect)
        v = static_cast<short>(in.Read(2));
    const std::string menuAndClass = in.Text() + in.Text();
    const std::string caption = in.Text();
    std::string font = std::to_string(in.Read(2));
    if (extended) in.Read(4);  // weight, italic, character set
    font += " " + in.Text();
    std::vector<std::string> items{Line(0, font + menuAndClass, caption, rect, style, exStyle)};
    for (WORD i = 0; i < count && !in.m_overran; ++i) {
        in.m_at = (in.m_at + 3) & ~static_cast<size_t>(3);  // items start on DWORD boundaries
        if (extended) in.Read(4);                           // help id
        styles(style, exStyle);
        for (short& v : rect)
            v = static_cast<short>(in.Read(2));
        const int control = extended ? static_cast<int>(in.Read(4)) : static_cast<short>(in.Read(2));
        const std::string className = in.Text(true);
        const std::string text = in.Text();
        items.push_back(Line(control, className, text, rect, style, exStyle) + (in.Read(2) ? " +data" : ""));
    }
    if (in.m_overran) items.push_back("ends early");
    return items;
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kDialog = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kButton = kChild | BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kDefault = kChild | BS_DEFPUSHBUTTON | WS_TABSTOP;
constexpr DWORD kLabel = kChild | SS_LEFT | WS_GROUP;
constexpr DWORD kBar = kChild | WS_BORDER | PBS_SMOOTH;

struct Item {
    int id;
    const char* className;
    const char* text;
    short rect[4];
    DWORD style, exStyle;
};

void ExpectTemplate(int id, const std::vector<Item>& expected) {
    std::vector<std::string> lines;
    for (const Item& e : expected)
        lines.push_back(Line(e.id, e.className, e.text, e.rect, e.style, e.exStyle));
    EXPECT_EQ(lines, ReadTemplate(id)) << "template " << id;
}

}  // namespace

TEST(Resources, DialogTemplatesItemByItemInTabOrder) {
    const char* const kFont = "8 MS Sans Serif";
    constexpr DWORD kList =
        kChild | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SORTASCENDING | WS_BORDER | WS_TABSTOP;
    constexpr DWORD kField = kChild | ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_DISABLED;
    // clang-format off
    ExpectTemplate(IDD_CONVERTER, {
        {0, kFont, "Korvane Converter", {0, 0, 284, 241}, kDialog | WS_VISIBLE | WS_MINIMIZEBOX, WS_EX_APPWINDOW},
        {IDOK, "Button", "&Convert!", {175, 216, 50, 18}, kDefault, 0},
        {IDC_EXIT, "Button", "E&xit", {227, 216, 50, 18}, kButton, 0},
        {IDC_ADD, "Button", "&Add", {183, 129, 43, 14}, kButton, 0},
        {IDC_REMOVE, "Button", "&Remove", {228, 129, 43, 14}, kButton | WS_DISABLED, 0},
        {IDC_OUTPUT_GROUP, "Button", "Output: MPG", {7, 153, 270, 56}, kChild | BS_GROUPBOX, 0},
        {IDC_COUNT_LABEL, "Static", "0 Files Selected", {178, 18, 93, 8}, kChild | SS_RIGHT | WS_GROUP, 0},
        {IDC_FILE_LIST, "SysListView32", "List1", {13, 27, 258, 99}, kList, WS_EX_CLIENTEDGE},
        {IDC_SAME_FOLDER, "Button", "Create MPG files in same directory as source TiVo files", {13, 164, 258, 11},
         kChild | BS_AUTOCHECKBOX | WS_TABSTOP, 0},
        {IDC_STATIC, "Static", "Select TiVo Files to Convert:", {13, 18, 127, 8}, kLabel, 0},
        {IDC_INPUT_GROUP, "Button", "Input: TiVo", {7, 7, 270, 142}, kChild | BS_GROUPBOX, 0},
        {IDC_OUTPUT_FOLDER, "Edit", "", {13, 190, 211, 13}, kField, 0},
        {IDC_OUTPUT_FOLDER_LABEL, "Static", "Select Output Directory:", {13, 180, 80, 8}, kLabel | WS_DISABLED, 0},
        {IDC_BROWSE, "Button", "&Browse...", {227, 189, 44, 14}, kButton | WS_DISABLED, 0},
        {ID_HELP, "Button", "&Help", {7, 216, 50, 18}, kButton, 0}});
    ExpectTemplate(IDD_ABOUT, {
        {0, kFont, "About Korvane Converter", {0, 0, 193, 137}, kDialog, 0},
        {IDOK, "Button", "OK", {72, 116, 50, 14}, kDefault, 0},
        {IDC_STATIC, "Static", "#128", {7, 7, 21, 20}, kChild | SS_ICON, 0},  // the icon, in its own size
        {IDC_STATIC, "Static", "Copyright (C) 2026 Halvenor. Korvane Converter turns TiVo Desktop recordings, "
         "encrypted or not, into MPEG files. It is provided as is, without warranty of any kind.", {38, 57, 148, 56}, kLabel, 0},
        {IDC_ABOUT_TITLE, "Static", "Korvane\nConverter", {38, 7, 148, 30}, kLabel, 0},
        {IDC_ABOUT_VERSION, "Static", "Version 1.0", {38, 38, 148, 13}, kLabel, 0}});
    ExpectTemplate(IDD_PROGRESS, {
        {0, kFont, "Converting TiVo to MPG", {0, 0, 186, 94}, kDialog, 0},
        {IDCANCEL, "Button", "Cancel", {67, 73, 50, 14}, kButton, 0},
        {IDC_OVERALL_PROGRESS, PROGRESS_CLASSA, "Progress1", {7, 16, 172, 15}, kBar, WS_EX_STATICEDGE},
        {IDC_OVERALL_TEXT, "Static", "Conversion Progress: 0%", {7, 7, 172, 10}, kLabel, 0},
        {IDC_FILE_PROGRESS, PROGRESS_CLASSA, "Progress2", {7, 52, 172, 15}, kBar, WS_EX_STATICEDGE},
        {IDC_FILE_TEXT, "Static", "File 1: 0%", {7, 34, 172, 10}, kLabel, 0},
        {IDC_SOURCE_PATH, "Static", "", {20, 43, 159, 8}, kLabel, 0},
        {IDC_SPINNER, "Static", "(/)", {7, 43, 8, 8}, kChild | SS_CENTER | WS_GROUP, 0}});
    // The five answers in one row, one unit apart, spanning the text's width.
    ExpectTemplate(IDD_CHOICE, {
        {0, kFont, "Dialog Title", {0, 0, 243, 87}, kDialog, 0},
        {IDC_CHOICE_B1, "Button", "B1", {7, 66, 45, 14}, kDefault, 0},
        {IDC_CHOICE_TEXT, "Static", "Message...", {7, 7, 229, 57}, kLabel, 0},
        {IDC_CHOICE_B2, "Button", "B2", {53, 66, 45, 14}, kButton, 0},
        {IDC_CHOICE_B3, "Button", "B3", {99, 66, 45, 14}, kButton, 0},
        {IDC_CHOICE_B4, "Button", "B4", {145, 66, 45, 14}, kButton, 0},
        {IDC_CHOICE_B5, "Button", "B5", {191, 66, 45, 14}, kButton, 0}});
    // clang-format on
}

TEST(Resources, IconGroupHoldsFiveSixteenColourImages) {
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC found =
        ::FindResourceA(module, MAKEINTRESOURCEA(IDI_CONVERTER), reinterpret_cast<LPCSTR>(RT_GROUP_ICON));
    ASSERT_NE(nullptr, found);
    const BYTE* data = static_cast<const BYTE*>(::LockResource(::LoadResource(module, found)));
    // GRPICONDIR: reserved, type 1, count; then 14-byte entries (width, height, colours, ...,
    // bits per pixel at 6).
    ASSERT_EQ(6u + 14u * 5, ::SizeofResource(module, found));
    std::vector<std::string> images;
    for (const BYTE* entry = data + 6; entry < data + 6 + 14 * 5; entry += 14)
        images.push_back(std::to_string(entry[0]) + "x" + std::to_string(entry[1]) + " " +
                         std::to_string(entry[2]) + " colours " + std::to_string(entry[6]) + " bits");
    std::sort(images.begin(), images.end());
    EXPECT_EQ((std::vector<std::string>{"16x16 16 colours 4 bits", "20x20 16 colours 4 bits",
                                        "24x24 16 colours 4 bits", "28x28 16 colours 4 bits",
                                        "32x32 16 colours 4 bits"}),
              images);
}
