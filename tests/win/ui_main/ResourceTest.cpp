// The resources as compiled: the two templates of the main window and the About box, item by
// item with their exact styles, the icon group and the version record. The dialog manager
// hides some of this once a window is up (WS_GROUP, the template's font, tab stops of disabled
// controls), so these checks read the templates themselves.
#include "res/resource.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// One control or the dialog itself, as the template gives it.
struct Item {
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::string className;  // predefined classes by their names ("Button", "Edit", "Static")
    std::string text;       // an ordinal as "#<number>"
};

struct Template {
    Item dialog;  // className unused; id unused
    int pointSize = 0;
    std::string face;
    std::vector<Item> items;
};

class Reader {
public:
    Reader(const BYTE* data, size_t size) : m_data(data), m_size(size) {}
    BYTE Byte() {
        if (m_at >= m_size) {
            m_overran = true;
            return 0;
        }
        return m_data[m_at++];
    }
    WORD Word() {
        WORD low = Byte();
        return static_cast<WORD>(low | (Byte() << 8));
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    // Template items start on DWORD boundaries (the resource data itself is DWORD-aligned).
    void AlignDword() { m_at = (m_at + 3) & ~static_cast<size_t>(3); }
    // A string or an ordinal (0xFFFF then the number); an empty field gives "".
    std::string SzOrOrd() {
        WORD first = Word();
        if (first == 0xFFFF) return "#" + std::to_string(Word());
        std::string text;
        for (WORD c = first; c != 0 && !m_overran; c = Word()) text += static_cast<char>(c < 0x80 ? c : '?');
        return text;
    }
    bool Overran() const { return m_overran; }

private:
    const BYTE* m_data;
    size_t m_size;
    size_t m_at = 0;
    bool m_overran = false;
};

std::string ClassName(std::string name) {
    if (name == "#128") return "Button";
    if (name == "#129") return "Edit";
    if (name == "#130") return "Static";
    return name;
}

Template LoadTemplate(int id) {
    Template result;
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(id), reinterpret_cast<LPCSTR>(RT_DIALOG));
    if (!found) {
        ADD_FAILURE() << "no dialog template " << id;
        return result;
    }
    const BYTE* data = static_cast<const BYTE*>(::LockResource(::LoadResource(module, found)));
    Reader in(data, ::SizeofResource(module, found));
    bool extended = data[0] == 1 && data[1] == 0 && data[2] == 0xFF && data[3] == 0xFF;
    Item& dialog = result.dialog;
    if (extended) {
        in.Dword();  // version and signature
        in.Dword();  // help id
        dialog.exStyle = in.Dword();
        dialog.style = in.Dword();
    } else {
        dialog.style = in.Dword();
        dialog.exStyle = in.Dword();
    }
    WORD count = in.Word();
    dialog.x = in.Short();
    dialog.y = in.Short();
    dialog.cx = in.Short();
    dialog.cy = in.Short();
    EXPECT_EQ("", in.SzOrOrd()) << "menu";
    EXPECT_EQ("", in.SzOrOrd()) << "window class";
    dialog.text = in.SzOrOrd();
    if (dialog.style & DS_SETFONT) {
        result.pointSize = in.Word();
        if (extended) {
            in.Word();  // weight
            in.Byte();  // italic
            in.Byte();  // character set
        }
        result.face = in.SzOrOrd();
    }
    for (WORD i = 0; i < count && !in.Overran(); ++i) {
        in.AlignDword();
        Item item;
        if (extended) {
            in.Dword();  // help id
            item.exStyle = in.Dword();
            item.style = in.Dword();
        } else {
            item.style = in.Dword();
            item.exStyle = in.Dword();
        }
        item.x = in.Short();
        item.y = in.Short();
        item.cx = in.Short();
        item.cy = in.Short();
        item.id = extended ? static_cast<int>(in.Dword()) : static_cast<short>(in.Word());
        item.className = ClassName(in.SzOrOrd());
        item.text = in.SzOrOrd();
        WORD extra = in.Word();
        for (WORD b = 0; b < extra; ++b) in.Byte();
        result.items.push_back(item);
    }
    EXPECT_FALSE(in.Overran()) << "template " << id << " ends early";
    return result;
}

void ExpectItems(const std::vector<Item>& expected, const std::vector<Item>& actual) {
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Item& e = expected[i];
        const Item& a = actual[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(e.id) + ")");
        EXPECT_EQ(e.id, a.id);
        EXPECT_STRCASEEQ(e.className.c_str(), a.className.c_str());
        EXPECT_EQ(e.text, a.text);
        EXPECT_EQ(e.x, a.x);
        EXPECT_EQ(e.y, a.y);
        EXPECT_EQ(e.cx, a.cx);
        EXPECT_EQ(e.cy, a.cy);
        EXPECT_EQ(e.style, a.style) << std::hex << "expected 0x" << e.style << ", got 0x" << a.style;
        EXPECT_EQ(e.exStyle, a.exStyle) << std::hex << "expected 0x" << e.exStyle << ", got 0x" << a.exStyle;
    }
}

Item Control(int id, const char* className, const char* text, int x, int y, int cx, int cy, DWORD style, DWORD exStyle = 0) {
    Item item;
    item.id = id;
    item.className = className;
    item.text = text;
    item.x = x;
    item.y = y;
    item.cx = cx;
    item.cy = cy;
    item.style = WS_CHILD | WS_VISIBLE | style;
    item.exStyle = exStyle;
    return item;
}

}  // namespace

TEST(Resources, MainWindowTemplateItemByItemInTabOrder) {
    Template t = LoadTemplate(IDD_CONVERTER);
    EXPECT_EQ(static_cast<DWORD>(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              t.dialog.style);
    EXPECT_EQ(static_cast<DWORD>(WS_EX_APPWINDOW), t.dialog.exStyle);
    EXPECT_EQ("Korvane Converter", t.dialog.text);
    EXPECT_EQ(0, t.dialog.x);
    EXPECT_EQ(0, t.dialog.y);
    EXPECT_EQ(284, t.dialog.cx);
    EXPECT_EQ(241, t.dialog.cy);
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ("MS Sans Serif", t.face);

    const std::vector<Item> expected = {
        Control(IDOK, "Button", "&Convert!", 175, 216, 50, 18, BS_DEFPUSHBUTTON | WS_TABSTOP),
        Control(IDC_EXIT, "Button", "E&xit", 227, 216, 50, 18, BS_PUSHBUTTON | WS_TABSTOP),
        Control(IDC_ADD, "Button", "&Add", 183, 129, 43, 14, BS_PUSHBUTTON | WS_TABSTOP),
        Control(IDC_REMOVE, "Button", "&Remove", 228, 129, 43, 14, BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED),
        Control(IDC_OUTPUT_GROUP, "Button", "Output: MPG", 7, 153, 270, 56, BS_GROUPBOX),
        Control(IDC_COUNT_LABEL, "Static", "0 Files Selected", 178, 18, 93, 8, SS_RIGHT | WS_GROUP),
        Control(IDC_FILE_LIST, "SysListView32", "List1", 13, 27, 258, 99,
                LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SORTASCENDING | WS_BORDER | WS_TABSTOP, WS_EX_CLIENTEDGE),
        Control(IDC_SAME_FOLDER, "Button", "Create MPG files in same directory as source TiVo files", 13, 164, 258, 11,
                BS_AUTOCHECKBOX | WS_TABSTOP),
        Control(IDC_STATIC, "Static", "Select TiVo Files to Convert:", 13, 18, 127, 8, SS_LEFT | WS_GROUP),
        Control(IDC_INPUT_GROUP, "Button", "Input: TiVo", 7, 7, 270, 142, BS_GROUPBOX),
        Control(IDC_OUTPUT_FOLDER, "Edit", "", 13, 190, 211, 13, ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_DISABLED),
        Control(IDC_OUTPUT_FOLDER_LABEL, "Static", "Select Output Directory:", 13, 180, 80, 8, SS_LEFT | WS_GROUP | WS_DISABLED),
        Control(IDC_BROWSE, "Button", "&Browse...", 227, 189, 44, 14, BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED),
        Control(ID_HELP, "Button", "&Help", 7, 216, 50, 18, BS_PUSHBUTTON | WS_TABSTOP),
    };
    ExpectItems(expected, t.items);
}

TEST(Resources, AboutBoxTemplateItemByItem) {
    Template t = LoadTemplate(IDD_ABOUT);
    EXPECT_EQ(static_cast<DWORD>(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU), t.dialog.style);
    EXPECT_EQ(0u, t.dialog.exStyle);
    EXPECT_EQ("About Korvane Converter", t.dialog.text);
    EXPECT_EQ(0, t.dialog.x);
    EXPECT_EQ(0, t.dialog.y);
    EXPECT_EQ(193, t.dialog.cx);
    EXPECT_EQ(137, t.dialog.cy);
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ("MS Sans Serif", t.face);

    ASSERT_EQ(5u, t.items.size());
    // The notice's wording is ours to choose: take it as it is.
    const std::string notice = t.items[2].text;
    EXPECT_FALSE(notice.empty());
    const std::vector<Item> expected = {
        Control(IDOK, "Button", "OK", 72, 116, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP),
        Control(IDC_STATIC, "Static", "#128", 7, 7, 21, 20, SS_ICON),
        Control(IDC_STATIC, "Static", notice.c_str(), 38, 57, 148, 56, SS_LEFT | WS_GROUP),
        Control(IDC_ABOUT_TITLE, "Static", "Korvane\nConverter", 38, 7, 148, 30, SS_LEFT | WS_GROUP),
        Control(IDC_ABOUT_VERSION, "Static", "Version 1.0", 38, 38, 148, 13, SS_LEFT | WS_GROUP),
    };
    ExpectItems(expected, t.items);
}

TEST(Resources, IconGroupHoldsFiveSixteenColourImages) {
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(IDI_CONVERTER), reinterpret_cast<LPCSTR>(RT_GROUP_ICON));
    ASSERT_NE(nullptr, found);
    const BYTE* data = static_cast<const BYTE*>(::LockResource(::LoadResource(module, found)));
    ASSERT_GE(::SizeofResource(module, found), 6u);
    // GRPICONDIR: reserved, type 1, count; then 14-byte entries.
    int count = data[4] | (data[5] << 8);
    ASSERT_EQ(5, count);
    ASSERT_GE(::SizeofResource(module, found), 6u + 14u * 5);
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i) {
        const BYTE* entry = data + 6 + 14 * i;
        EXPECT_EQ(entry[0], entry[1]) << "square";
        sizes.push_back(entry[0]);
        EXPECT_EQ(16, entry[2]) << "colours of image " << i;
        EXPECT_EQ(4, entry[6] | (entry[7] << 8)) << "bits per pixel of image " << i;
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ((std::vector<int>{16, 20, 24, 28, 32}), sizes);
}

TEST(Resources, VersionRecordNamesTheProgram) {
    char path[MAX_PATH] = "";
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(::GetFileVersionInfoA(path, 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwProductVersionLS);

    WORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(0x0409, translation[0]);  // U.S. English

    auto text = [&](const char* name) {
        char query[128];
        wsprintfA(query, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], name);
        char* value = nullptr;
        UINT chars = 0;
        return ::VerQueryValueA(info.data(), query, reinterpret_cast<void**>(&value), &chars) && value ? std::string(value)
                                                                                                        : std::string();
    };
    EXPECT_EQ("Korvane", text("InternalName"));
    EXPECT_EQ("Korvane Application", text("ProductName"));
}
