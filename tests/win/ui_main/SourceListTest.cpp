// The source list's pieces: size and count texts, the open-file dialog's result, rows and
// their paths, duplicates and column widths, on a real list-view control. The main window's
// journeys (MainWindowTest) show them working together.
#include "ui/main/SourceList.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The open-file dialog's result as it comes back: text with zeros, and the name offset.
std::vector<std::string> Split(const char* bytes, size_t length, WORD offset) {
    std::vector<char> storage(bytes, bytes + length);
    OPENFILENAMEA ofn{};
    ofn.lpstrFile = storage.data();
    ofn.nMaxFile = static_cast<DWORD>(storage.size());
    ofn.nFileOffset = offset;
    CStringArray paths;
    SplitOpenFileSelection(ofn, paths);
    std::vector<std::string> result;
    for (int i = 0; i < paths.GetSize(); ++i)
        result.push_back(static_cast<const char*>(paths[i]));
    // A list the buffer cut off is incomplete: no final zero after its last name.
    if (!IsOpenFileSelectionComplete(ofn)) result.push_back("(incomplete)");
    return result;
}

// A list-view control of the main window's kind (report, sorted), in a hidden window of its own.
class RowList {
public:
    RowList() {
        INITCOMMONCONTROLSEX init{sizeof init, ICC_LISTVIEW_CLASSES};
        ::InitCommonControlsEx(&init);
        m_window = ::CreateWindowExA(0, WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT | LVS_SORTASCENDING, 0, 0,
                                     400, 200, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
        m_list.Attach(m_window);
        const char* headings[3] = {"File Name", "Path", "Size"};
        for (int column = 0; column < 3; ++column)
            m_list.InsertColumn(column, headings[column], LVCFMT_LEFT, 130 - 10 * column);
    }
    ~RowList() {
        m_list.Detach();
        ::DestroyWindow(m_window);
    }
    std::vector<std::string> Row(int row) {
        std::vector<std::string> cells;
        for (int column = 0; column < 3; ++column)
            cells.push_back(static_cast<const char*>(m_list.GetItemText(row, column)));
        return cells;
    }
    // Width of text in the list's font, as the column rule would measure it.
    int TextWidth(const char* text) {
        HDC dc = ::GetDC(m_window);
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(m_window, WM_GETFONT, 0, 0)));
        SIZE size{};
        ::GetTextExtentPoint32A(dc, text, lstrlenA(text), &size);
        ::SelectObject(dc, old);
        ::ReleaseDC(m_window, dc);
        return size.cx;
    }

    HWND m_window;
    CListCtrl m_list;
};

}  // namespace

TEST(SizeText, WholeKilobytesGroupedByThousandsAlsoPastFourGibibytes) {
    const std::pair<ULONGLONG, const char*> cases[] = {{0, "0 KB"},
                                                       {1023, "0 KB"},
                                                       {2047, "1 KB"},
                                                       {999ULL * 1024, "999 KB"},
                                                       {1000ULL * 1024, "1,000 KB"},
                                                       {1263534080, "1,233,920 KB"},
                                                       {4294967295ULL, "4,194,303 KB"},
                                                       {4294967296ULL, "4,194,304 KB"},
                                                       {50ULL << 30, "52,428,800 KB"}};
    for (const auto& c : cases)
        EXPECT_STREQ(c.second, FormatSizeText(c.first)) << c.first;
}

TEST(OpenFileSelection, OneFileOrAFolderAndItsNamesNeverReadPastTheBuffer) {
    using Paths = std::vector<std::string>;
    EXPECT_EQ(Paths{"C:\\Videos\\Show.TiVo"}, Split("C:\\Videos\\Show.TiVo\0", 21, 10));
    EXPECT_EQ(Paths{"C:\\a.TiVo"}, Split("C:\\a.TiVo\0", 11, 3));
    EXPECT_EQ((Paths{"C:\\V\\b.TiVo", "C:\\V\\c d.TiVo"}), Split("C:\\V\0b.TiVo\0c d.TiVo\0\0", 23, 5));
    EXPECT_EQ((Paths{"C:\\x.TiVo", "C:\\y.TiVo"}),
              Split("C:\\\0x.TiVo\0y.TiVo\0\0", 20, 4));  // no second backslash
    // The buffer ends inside the second name ("b.Ti" is not a file), or before the extra zero.
    EXPECT_EQ((Paths{"C:\\V\\a.TiVo", "(incomplete)"}), Split("C:\\V\0a.TiVo\0b.Ti", 16, 5));
    EXPECT_EQ((Paths{"C:\\V\\a", "(incomplete)"}), Split("C:\\V\0a\0", 7, 5));
}

// In code page 932, 0x95 0x5C is one character whose trail byte equals "\".
TEST(OpenFileSelectionMultibyte, FolderEndingInATrailBackslashByteGetsItsSeparator) {
    if (!std::getenv("KORVANE_EXPECT_ACP") && GetACP() != 932)
        GTEST_SKIP() << "needs code page 932 (ui_main_test_cp932)";
    ASSERT_EQ(932u, GetACP());
    EXPECT_EQ(std::vector<std::string>{"C:\\\x95\x5C\\a.TiVo"}, Split("C:\\\x95\x5C\0a.TiVo\0\0", 15, 6));
    // The row keeps the whole double-byte folder name.
    RowList rows;
    AddFileRow(rows.m_list, "C:\\\x95\x5C\\a.TiVo");
    EXPECT_EQ((std::vector<std::string>{"a.TiVo", "C:\\\x95\x5C", ""}), rows.Row(0));
    EXPECT_STREQ("C:\\\x95\x5C\\a.TiVo", GetRowPath(rows.m_list, 0));
}

TEST(Rows, PathsComeBackExactlyAndDuplicatesAreSkippedWhateverTheirCase) {
    RowList rows;
    for (const char* path : {"C:\\a.TiVo", "Z:\\tmp\\deep\\Show One.TiVo", "\\\\server\\share\\x.TiVo",
                             "\\top.TiVo", "z:\\TMP\\deep\\show one.tivo"})
        AddFileRow(rows.m_list, path);
    std::vector<std::string> listed;  // in name order
    for (int row = 0; row < rows.m_list.GetItemCount(); ++row)
        listed.push_back(static_cast<const char*>(GetRowPath(rows.m_list, row)));
    EXPECT_EQ((std::vector<std::string>{"C:\\a.TiVo", "Z:\\tmp\\deep\\Show One.TiVo", "\\top.TiVo",
                                        "\\\\server\\share\\x.TiVo"}),
              listed);
    // The drive root keeps "C:" as its folder; a path whose last "\" stands first has none.
    EXPECT_EQ("C:", rows.Row(0)[1]);  // sorted: "a.TiVo" first
    EXPECT_EQ("", rows.Row(2)[1]);    // "top.TiVo"
    EXPECT_TRUE(IsPathListed(rows.m_list, "Z:\\Tmp\\DEEP\\SHOW ONE.TIVO"));
    EXPECT_FALSE(IsPathListed(rows.m_list, "Z:\\tmp\\deep\\Show One.TiVo2"));
    EXPECT_FALSE(
        IsPathListed(rows.m_list, "Z:\\tmp\\deep\\Show\xAD One.TiVo"));  // a soft hyphen: another file
}

TEST(Rows, SizesComeFromTheFileSystemAndTheCountFromTheRows) {
    TestFolder folder("rows");
    RowList rows;
    EXPECT_STREQ("0 Files Selected", FormatCountText(rows.m_list));
    AddFileRow(rows.m_list, folder.AddFile("big.TiVo", 3ULL << 30).c_str());
    EXPECT_STREQ("1 File Selected", FormatCountText(rows.m_list));
    AddFileRow(rows.m_list, folder.Path("missing.TiVo").c_str());
    rows.m_list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_STREQ("2 Files Selected", FormatCountText(rows.m_list));
    EXPECT_EQ((std::vector<std::string>{"big.TiVo", folder.Path(), "3,145,728 KB"}), rows.Row(0));
    EXPECT_EQ("", rows.Row(1)[2]);  // no size could be read
}

TEST(Columns, FitTheWidestCellPlusPaddingAndStayWhenEmpty) {
    RowList rows;
    AutoSizeColumns(rows.m_list);
    EXPECT_EQ(130, rows.m_list.GetColumnWidth(0));
    AddFileRow(rows.m_list, "C:\\Folder\\a.TiVo");
    AddFileRow(rows.m_list, "C:\\A much longer folder name\\wide file name.TiVo");
    AutoSizeColumns(rows.m_list);
    EXPECT_EQ(rows.TextWidth("wide file name.TiVo") + 8, rows.m_list.GetColumnWidth(0));
    EXPECT_EQ(rows.TextWidth("C:\\A much longer folder name") + 12, rows.m_list.GetColumnWidth(1));
    EXPECT_EQ(12, rows.m_list.GetColumnWidth(2));  // empty size cells: the padding alone
    rows.m_list.DeleteAllItems();
    AutoSizeColumns(rows.m_list);
    EXPECT_EQ(12, rows.m_list.GetColumnWidth(2));
}
