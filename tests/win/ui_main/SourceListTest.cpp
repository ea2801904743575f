// The source list's pieces: size and count texts, the open-file dialog's result, rows and
// their paths, duplicates and column widths, on a real list-view control.
#include "ui/main/SourceList.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

// The open-file dialog's result as it comes back: text with zeros, and the name offset.
OPENFILENAMEA Selection(const char* bytes, size_t length, WORD offset, std::vector<char>& storage) {
    storage.assign(bytes, bytes + length);
    storage.resize(length + 2, '\0');
    OPENFILENAMEA ofn{};
    ofn.lpstrFile = storage.data();
    ofn.nMaxFile = static_cast<DWORD>(storage.size());
    ofn.nFileOffset = offset;
    return ofn;
}

struct BoundList {
    ScratchList window;
    CListCtrl list;
    BoundList() { list.Attach(window.Handle()); }
    ~BoundList() { list.Detach(); }
};

}  // namespace

TEST(SizeText, WholeKilobytesGroupedByThousands) {
    EXPECT_STREQ("0 KB", FormatSizeText(0));
    EXPECT_STREQ("0 KB", FormatSizeText(1023));
    EXPECT_STREQ("1 KB", FormatSizeText(1024));
    EXPECT_STREQ("1 KB", FormatSizeText(2047));
    EXPECT_STREQ("123 KB", FormatSizeText(125952));
    EXPECT_STREQ("123 KB", FormatSizeText(123ULL * 1024));
    EXPECT_STREQ("999 KB", FormatSizeText(999ULL * 1024));
    EXPECT_STREQ("1,000 KB", FormatSizeText(1000ULL * 1024));
    EXPECT_STREQ("1,024 KB", FormatSizeText(1048576));
    EXPECT_STREQ("123,456 KB", FormatSizeText(123456ULL * 1024));
    EXPECT_STREQ("1,233,920 KB", FormatSizeText(1263534080));
    EXPECT_STREQ("1,234,567 KB", FormatSizeText(1234567ULL * 1024));
}

TEST(SizeText, FilesOfTwoGibibytesAndMoreShowTheirTrueSize) {
    EXPECT_STREQ("2,097,152 KB", FormatSizeText(2147483648ULL));
    EXPECT_STREQ("4,194,303 KB", FormatSizeText(4294967295ULL));
    EXPECT_STREQ("4,194,304 KB", FormatSizeText(4294967296ULL));
    EXPECT_STREQ("52,428,800 KB", FormatSizeText(50ULL << 30));
}

TEST(OpenFileSelection, OneFileIsTheWholePath) {
    std::vector<char> storage;
    const char text[] = "C:\\Videos\\Show.TiVo";
    OPENFILENAMEA ofn = Selection(text, sizeof text, 10, storage);
    CStringArray paths;
    SplitOpenFileSelection(ofn, paths);
    ASSERT_EQ(1, paths.GetSize());
    EXPECT_STREQ("C:\\Videos\\Show.TiVo", paths[0]);

    const char root[] = "C:\\a.TiVo";
    ofn = Selection(root, sizeof root, 3, storage);
    SplitOpenFileSelection(ofn, paths);
    ASSERT_EQ(2, paths.GetSize());
    EXPECT_STREQ("C:\\a.TiVo", paths[1]);
}

TEST(OpenFileSelection, SeveralFilesShareTheirFolder) {
    std::vector<char> storage;
    const char text[] = "C:\\Videos\0b.TiVo\0a.TiVo\0c d.TiVo\0";
    OPENFILENAMEA ofn = Selection(text, sizeof text, 10, storage);
    CStringArray paths;
    SplitOpenFileSelection(ofn, paths);
    ASSERT_EQ(3, paths.GetSize());
    EXPECT_STREQ("C:\\Videos\\b.TiVo", paths[0]);
    EXPECT_STREQ("C:\\Videos\\a.TiVo", paths[1]);
    EXPECT_STREQ("C:\\Videos\\c d.TiVo", paths[2]);
}

TEST(OpenFileSelection, DriveRootGetsNoSecondBackslash) {
    std::vector<char> storage;
    const char text[] = "C:\\\0x.TiVo\0y.TiVo\0";
    OPENFILENAMEA ofn = Selection(text, sizeof text, 4, storage);
    CStringArray paths;
    SplitOpenFileSelection(ofn, paths);
    ASSERT_EQ(2, paths.GetSize());
    EXPECT_STREQ("C:\\x.TiVo", paths[0]);
    EXPECT_STREQ("C:\\y.TiVo", paths[1]);
}

TEST(OpenFileSelection, ACutOffListIsIncompleteAndNeverReadPastTheBuffer) {
    std::vector<char> storage;
    const char whole[] = "C:\\V\0a.TiVo\0b.TiVo\0";
    OPENFILENAMEA ofn = Selection(whole, sizeof whole, 5, storage);
    EXPECT_TRUE(IsOpenFileSelectionComplete(ofn));
    const char single[] = "C:\\V\\a.TiVo";
    ofn = Selection(single, sizeof single, 5, storage);
    EXPECT_TRUE(IsOpenFileSelectionComplete(ofn));

    // The buffer ends inside the second name: no final zero, and "b.Ti" is not a file.
    char cut[] = {'C', ':', '\\', 'V', '\0', 'a', '.', 'T', 'i', 'V', 'o', '\0', 'b', '.', 'T', 'i'};
    OPENFILENAMEA shortResult{};
    shortResult.lpstrFile = cut;
    shortResult.nMaxFile = sizeof cut;
    shortResult.nFileOffset = 5;
    EXPECT_FALSE(IsOpenFileSelectionComplete(shortResult));
    CStringArray paths;
    SplitOpenFileSelection(shortResult, paths);
    ASSERT_EQ(1, paths.GetSize());
    EXPECT_STREQ("C:\\V\\a.TiVo", paths[0]);

    // Names all complete but the extra zero after the last one missing.
    char noEnd[] = {'C', ':', '\\', 'V', '\0', 'a', '\0'};
    shortResult.lpstrFile = noEnd;
    shortResult.nMaxFile = sizeof noEnd;
    EXPECT_FALSE(IsOpenFileSelectionComplete(shortResult));
}

// In code page 932, 0x95 0x5C is one character whose trail byte equals "\".
TEST(OpenFileSelectionMultibyte, FolderEndingInATrailBackslashByteGetsItsSeparator) {
    if (!std::getenv("KORVANE_EXPECT_ACP") && GetACP() != 932)
        GTEST_SKIP() << "needs code page 932 (ui_main_test_cp932)";
    ASSERT_EQ(932u, GetACP());
    std::vector<char> storage;
    const char text[] = "C:\\\x95\x5C\0a.TiVo\0";
    OPENFILENAMEA ofn = Selection(text, sizeof text, 6, storage);
    CStringArray paths;
    SplitOpenFileSelection(ofn, paths);
    ASSERT_EQ(1, paths.GetSize());
    EXPECT_STREQ("C:\\\x95\x5C\\a.TiVo", paths[0]);

    // The row keeps the whole double-byte folder name.
    BoundList rows;
    AddFileRow(rows.list, paths[0]);
    EXPECT_STREQ("C:\\\x95\x5C", rows.list.GetItemText(0, 1));
    EXPECT_STREQ("a.TiVo", rows.list.GetItemText(0, 0));
    EXPECT_STREQ(paths[0], GetRowPath(rows.list, 0));
}

TEST(Rows, PathsComeBackExactly) {
    BoundList rows;
    const char* paths[] = {"C:\\a.TiVo", "Z:\\tmp\\deep\\folder\\Show One.TiVo", "\\\\server\\share\\x.TiVo",
                           "\\top.TiVo"};
    for (const char* path : paths)
        AddFileRow(rows.list, path);
    ASSERT_EQ(4, rows.list.GetItemCount());
    for (int row = 0; row < 4; ++row) {
        CString path = GetRowPath(rows.list, row);
        bool known = false;
        for (const char* added : paths)
            known = known || path == added;
        EXPECT_TRUE(known) << path;
    }
    // The drive root keeps "C:" as its folder; a path whose last "\" stands first has none.
    for (int row = 0; row < 4; ++row) {
        if (rows.list.GetItemText(row, 0) == "a.TiVo") {
            EXPECT_STREQ("C:", rows.list.GetItemText(row, 1));
        }
        if (rows.list.GetItemText(row, 0) == "top.TiVo") {
            EXPECT_STREQ("", rows.list.GetItemText(row, 1));
        }
    }
}

TEST(Rows, DuplicatesAreSkippedWhateverTheirCase) {
    BoundList rows;
    AddFileRow(rows.list, "Z:\\Videos\\Show.TiVo");
    AddFileRow(rows.list, "z:\\VIDEOS\\show.tivo");
    EXPECT_EQ(1, rows.list.GetItemCount());
    EXPECT_TRUE(IsPathListed(rows.list, "Z:\\videos\\SHOW.TIVO"));
    EXPECT_FALSE(IsPathListed(rows.list, "Z:\\Videos\\Show.TiVo2"));
    EXPECT_FALSE(IsPathListed(rows.list, "Z:\\Other\\Show.TiVo"));
    AddFileRow(rows.list, "Z:\\Other\\Show.TiVo");
    EXPECT_EQ(2, rows.list.GetItemCount());
    EXPECT_TRUE(IsPathListed(rows.list, "z:\\other\\show.tivo"));
    // A name that differs only by a character that sorting ignores (a soft hyphen) is
    // another file, not a duplicate.
    EXPECT_FALSE(IsPathListed(rows.list, "Z:\\Other\\Sh\xADow.TiVo"));
    AddFileRow(rows.list, "Z:\\Other\\Sh\xADow.TiVo");
    EXPECT_EQ(3, rows.list.GetItemCount());
}

TEST(Rows, SortedByNameWithSizesFromTheFileSystem) {
    TestFolder folder("rows");
    CString big = folder.AddFile("big.TiVo", 3ULL << 30);
    CString small = folder.AddFile("Small.TiVo", 1023);
    CString mid = folder.AddFile("a.TiVo", 125952);
    BoundList rows;
    AddFileRow(rows.list, small);
    AddFileRow(rows.list, big);
    AddFileRow(rows.list, mid);
    AddFileRow(rows.list, folder.Path() + "\\missing.TiVo");
    ASSERT_EQ(4, rows.list.GetItemCount());
    EXPECT_STREQ("a.TiVo", rows.list.GetItemText(0, 0));
    EXPECT_STREQ("123 KB", rows.list.GetItemText(0, 2));
    EXPECT_STREQ("big.TiVo", rows.list.GetItemText(1, 0));
    EXPECT_STREQ("3,145,728 KB", rows.list.GetItemText(1, 2));
    EXPECT_STREQ("missing.TiVo", rows.list.GetItemText(2, 0));
    EXPECT_STREQ("", rows.list.GetItemText(2, 2));
    EXPECT_STREQ(folder.Path(), rows.list.GetItemText(2, 1));
    EXPECT_STREQ("Small.TiVo", rows.list.GetItemText(3, 0));
    EXPECT_STREQ("0 KB", rows.list.GetItemText(3, 2));
}

TEST(Rows, CountTextCountsRowsNotTheSelection) {
    BoundList rows;
    EXPECT_STREQ("0 Files Selected", FormatCountText(rows.list));
    AddFileRow(rows.list, "C:\\one.TiVo");
    EXPECT_STREQ("1 File Selected", FormatCountText(rows.list));
    AddFileRow(rows.list, "C:\\two.TiVo");
    EXPECT_STREQ("2 Files Selected", FormatCountText(rows.list));
    rows.list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_STREQ("2 Files Selected", FormatCountText(rows.list));
}

TEST(Columns, FitTheWidestCellPlusPaddingAndStayWhenEmpty) {
    BoundList rows;
    AutoSizeColumns(rows.list);
    EXPECT_EQ(130, rows.list.GetColumnWidth(0));
    EXPECT_EQ(120, rows.list.GetColumnWidth(1));
    EXPECT_EQ(100, rows.list.GetColumnWidth(2));

    AddFileRow(rows.list, "C:\\Folder\\a.TiVo");
    AddFileRow(rows.list, "C:\\A much longer folder name\\wide file name.TiVo");
    AutoSizeColumns(rows.list);
    HWND list = rows.window.Handle();
    EXPECT_EQ(TextWidthInList(list, "wide file name.TiVo") + 8, rows.list.GetColumnWidth(0));
    EXPECT_EQ(TextWidthInList(list, "C:\\A much longer folder name") + 12, rows.list.GetColumnWidth(1));
    // No size could be read: the widest size cell is empty, so only the padding is left,
    // far narrower than the heading.
    EXPECT_EQ(12, rows.list.GetColumnWidth(2));

    rows.list.DeleteAllItems();
    int widths[3] = {rows.list.GetColumnWidth(0), rows.list.GetColumnWidth(1), rows.list.GetColumnWidth(2)};
    AutoSizeColumns(rows.list);
    for (int column = 0; column < 3; ++column)
        EXPECT_EQ(widths[column], rows.list.GetColumnWidth(column));
}
