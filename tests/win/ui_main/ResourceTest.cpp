// The resources as compiled: the four dialog templates item by item with their exact styles,
// the icon group and the version record. The dialog manager hides some of this once a window
// is up (WS_GROUP, the template's font, tab stops of disabled controls), so these checks read
// the templates themselves.
#include "res/resource.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The dialog itself (id 0, no class) or one of its controls, as the template gives it.
struct Item {
    int id;
    std::string className;  // predefined classes by their names ("Button", "Edit", "Static")
    std::string text;       // an ordinal as "#<number>"
    int x, y, cx, cy;
    DWORD style, exStyle;
};

class Reader {
public:
    Reader(const BYTE* data, size_t size) : m_data(data), m_size(size) {}
    WORD Word() {
        if (m_at + 2 > m_size) {
            m_overran = true;
            return 0;
        }
        m_at += 2;
        return static_cast<WORD>(m_data[m_at - 2] | (m_data[m_at - 1] << 8));
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    // Items start on DWORD boundaries (the resource data itself is DWORD-aligned).
    void AlignDword() { m_at = (m_at + 3) & ~static_cast<size_t>(3); }
    // A string or an ordinal (0xFFFF then the number); an empty field gives "".
    std::string SzOrOrd() {
        WORD first = Word();
        if (first == 0xFFFF) return "#" + std::to_string(Word());
        std::string text;
        for (WORD c = first; c != 0 && !m_overran; c = Word())
            text += static_cast<char>(c < 0x80 ? c : '?');
        return text;
    }
    void Rectangle(Item& item) {
        item.x = static_cast<short>(Word());
        item.y = static_cast<short>(Word());
        item.cx = static_cast<short>(Word());
        item.cy = static_cast<short>(Word());
    }
    bool Overran() const { return m_overran; }

private:
    const BYTE* m_data;
    size_t m_size;
    size_t m_at = 0;
    bool m_overran = false;
};

std::string ClassName(const std::string& name) {
    if (name == "#128") return "Button";
    if (name == "#129") return "Edit";
    if (name == "#130") return "Static";
    return name;
}

// The dialog first (its font as "<points> <face>" in className), then its controls.
std::vector<Item> LoadTemplate(int id) {
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(id), reinterpret_cast<LPCSTR>(RT_DIALOG));
    if (!found) {
        ADD_FAILURE() << "no dialog template " << id;
        return {};
    }
    const BYTE* data = static_cast<const BYTE*>(::LockResource(::LoadResource(module, found)));
    Reader in(data, ::SizeofResource(module, found));
    const bool extended = data[0] == 1 && data[1] == 0 && data[2] == 0xFF && data[3] == 0xFF;
    Item dialog{};
    if (extended) {
        in.Dword();  // version and signature
        in.Dword();  // help id
        dialog.exStyle = in.Dword();
        dialog.style = in.Dword();
    } else {
        dialog.style = in.Dword();
        dialog.exStyle = in.Dword();
    }
    const WORD count = in.Word();
    in.Rectangle(dialog);
    EXPECT_EQ("", in.SzOrOrd()) << "menu";
    EXPECT_EQ("", in.SzOrOrd()) << "window class";
    dialog.text = in.SzOrOrd();
    if (dialog.style & DS_SETFONT) {
        dialog.className = std::to_string(in.Word());
        if (extended) in.Dword();  // weight, italic, character set
        dialog.className += " " + in.SzOrOrd();
    }
    std::vector<Item> items{dialog};
    for (WORD i = 0; i < count && !in.Overran(); ++i) {
        in.AlignDword();
        Item item{};
        if (extended) in.Dword();  // help id
        item.style = in.Dword();
        item.exStyle = in.Dword();
        if (extended) std::swap(item.style, item.exStyle);
        in.Rectangle(item);
        item.id = extended ? static_cast<int>(in.Dword()) : static_cast<short>(in.Word());
        item.className = ClassName(in.SzOrOrd());
        item.text = in.SzOrOrd();
        EXPECT_EQ(0, in.Word()) << "creation data of control " << item.id;
        items.push_back(item);
    }
    EXPECT_FALSE(in.Overran()) << "template " << id << " ends early";
    return items;
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kDialog = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kButton = kChild | BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kDefault = kChild | BS_DEFPUSHBUTTON | WS_TABSTOP;
constexpr DWORD kLabel = kChild | SS_LEFT | WS_GROUP;

// A null text is taken as it is but must not be empty (wording that is ours to choose).
void ExpectTemplate(int id, const std::vector<Item>& expected) {
    const std::vector<Item> actual = LoadTemplate(id);
    ASSERT_EQ(expected.size(), actual.size()) << "template " << id;
    for (size_t i = 0; i < expected.size(); ++i) {
        const Item& e = expected[i];
        const Item& a = actual[i];
        SCOPED_TRACE("template " + std::to_string(id) + ", item " + std::to_string(i) + " (id " +
                     std::to_string(e.id) + ")");
        EXPECT_EQ(e.id, a.id);
        EXPECT_STRCASEEQ(e.className.c_str(), a.className.c_str());
        if (e.text == "*")
            EXPECT_FALSE(a.text.empty());
        else
            EXPECT_EQ(e.text, a.text);
        EXPECT_EQ((std::vector<int>{e.x, e.y, e.cx, e.cy}), (std::vector<int>{a.x, a.y, a.cx, a.cy}));
        EXPECT_EQ(e.style, a.style) << std::hex << "expected 0x" << e.style << ", got 0x" << a.style;
        EXPECT_EQ(e.exStyle, a.exStyle) << std::hex << "expected 0x" << e.exStyle << ", got 0x" << a.exStyle;
    }
}

}  // namespace

TEST(Resources, DialogTemplatesItemByItemInTabOrder) {
    ExpectTemplate(
        IDD_CONVERTER,
        {
            {0, "8 MS Sans Serif", "Korvane Converter", 0, 0, 284, 241, kDialog | WS_VISIBLE | WS_MINIMIZEBOX,
             WS_EX_APPWINDOW},
            {IDOK, "Button", "&Convert!", 175, 216, 50, 18, kDefault, 0},
            {IDC_EXIT, "Button", "E&xit", 227, 216, 50, 18, kButton, 0},
            {IDC_ADD, "Button", "&Add", 183, 129, 43, 14, kButton, 0},
            {IDC_REMOVE, "Button", "&Remove", 228, 129, 43, 14, kButton | WS_DISABLED, 0},
            {IDC_OUTPUT_GROUP, "Button", "Output: MPG", 7, 153, 270, 56, kChild | BS_GROUPBOX, 0},
            {IDC_COUNT_LABEL, "Static", "0 Files Selected", 178, 18, 93, 8, kChild | SS_RIGHT | WS_GROUP, 0},
            {IDC_FILE_LIST, "SysListView32", "List1", 13, 27, 258, 99,
             kChild | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SORTASCENDING | WS_BORDER | WS_TABSTOP,
             WS_EX_CLIENTEDGE},
            {IDC_SAME_FOLDER, "Button", "Create MPG files in same directory as source TiVo files", 13, 164,
             258, 11, kChild | BS_AUTOCHECKBOX | WS_TABSTOP, 0},
            {IDC_STATIC, "Static", "Select TiVo Files to Convert:", 13, 18, 127, 8, kLabel, 0},
            {IDC_INPUT_GROUP, "Button", "Input: TiVo", 7, 7, 270, 142, kChild | BS_GROUPBOX, 0},
            {IDC_OUTPUT_FOLDER, "Edit", "", 13, 190, 211, 13,
             kChild | ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_DISABLED, 0},
            {IDC_OUTPUT_FOLDER_LABEL, "Static", "Select Output Directory:", 13, 180, 80, 8,
             kLabel | WS_DISABLED, 0},
            {IDC_BROWSE, "Button", "&Browse...", 227, 189, 44, 14, kButton | WS_DISABLED, 0},
            {ID_HELP, "Button", "&Help", 7, 216, 50, 18, kButton, 0},
        });
    ExpectTemplate(IDD_ABOUT,
                   {
                       {0, "8 MS Sans Serif", "About Korvane Converter", 0, 0, 193, 137, kDialog, 0},
                       {IDOK, "Button", "OK", 72, 116, 50, 14, kDefault, 0},
                       {IDC_STATIC, "Static", "#128", 7, 7, 21, 20, kChild | SS_ICON, 0},
                       {IDC_STATIC, "Static", "*", 38, 57, 148, 56, kLabel, 0},
                       {IDC_ABOUT_TITLE, "Static", "Korvane\nConverter", 38, 7, 148, 30, kLabel, 0},
                       {IDC_ABOUT_VERSION, "Static", "Version 1.0", 38, 38, 148, 13, kLabel, 0},
                   });
    ExpectTemplate(IDD_PROGRESS,
                   {
                       {0, "8 MS Sans Serif", "Converting TiVo to MPG", 0, 0, 186, 94, kDialog, 0},
                       {IDCANCEL, "Button", "Cancel", 67, 73, 50, 14, kButton, 0},
                       {IDC_OVERALL_PROGRESS, PROGRESS_CLASSA, "Progress1", 7, 16, 172, 15,
                        kChild | WS_BORDER | PBS_SMOOTH, WS_EX_STATICEDGE},
                       {IDC_OVERALL_TEXT, "Static", "Conversion Progress: 0%", 7, 7, 172, 10, kLabel, 0},
                       {IDC_FILE_PROGRESS, PROGRESS_CLASSA, "Progress2", 7, 52, 172, 15,
                        kChild | WS_BORDER | PBS_SMOOTH, WS_EX_STATICEDGE},
                       {IDC_FILE_TEXT, "Static", "File 1: 0%", 7, 34, 172, 10, kLabel, 0},
                       {IDC_SOURCE_PATH, "Static", "", 20, 43, 159, 8, kLabel, 0},
                       {IDC_SPINNER, "Static", "(/)", 7, 43, 8, 8, kChild | SS_CENTER | WS_GROUP, 0},
                   });
    // The five answers in one row, one unit apart, spanning the text's width.
    ExpectTemplate(IDD_CHOICE, {
                                   {0, "8 MS Sans Serif", "Dialog Title", 0, 0, 243, 87, kDialog, 0},
                                   {IDC_CHOICE_B1, "Button", "B1", 7, 66, 45, 14, kDefault, 0},
                                   {IDC_CHOICE_TEXT, "Static", "Message...", 7, 7, 229, 57, kLabel, 0},
                                   {IDC_CHOICE_B2, "Button", "B2", 53, 66, 45, 14, kButton, 0},
                                   {IDC_CHOICE_B3, "Button", "B3", 99, 66, 45, 14, kButton, 0},
                                   {IDC_CHOICE_B4, "Button", "B4", 145, 66, 45, 14, kButton, 0},
                                   {IDC_CHOICE_B5, "Button", "B5", 191, 66, 45, 14, kButton, 0},
                               });
}

TEST(Resources, IconGroupHoldsFiveSixteenColourImages) {
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC found =
        ::FindResourceA(module, MAKEINTRESOURCEA(IDI_CONVERTER), reinterpret_cast<LPCSTR>(RT_GROUP_ICON));
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
    ASSERT_TRUE(::VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(0x0409, translation[0]);  // U.S. English

    auto text = [&](const char* name) {
        char query[128];
        wsprintfA(query, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], name);
        char* value = nullptr;
        UINT chars = 0;
        return ::VerQueryValueA(info.data(), query, reinterpret_cast<void**>(&value), &chars) && value
                   ? std::string(value)
                   : std::string();
    };
    EXPECT_EQ("Korvane", text("InternalName"));
    EXPECT_EQ("Korvane Application", text("ProductName"));
}
