// CString. CStringArray's Add, GetSize and indexing are the source list's and the batch's
// (tests/win/ui_main, tests/win/ui_batch).
#include "framework/String.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

TEST(CString, FormatsJoinsAndLendsItsBuffer) {
    CString s;
    s.Format("%llu", 2147483648ULL * 3);
    EXPECT_STREQ("6442450944", s);
    s.Format("%s", std::string(5000, 'x').c_str());
    EXPECT_EQ(5000, s.GetLength());
    EXPECT_STREQ("C:\\a.TiVo", CString("C:") + "\\" + CString("a.TiVo"));
    EXPECT_STREQ("", CString(static_cast<const char*>(nullptr)));

    std::strcpy(s.GetBuffer(64), "Z:\\tmp");
    s.ReleaseBuffer();
    EXPECT_EQ(6, s.GetLength());
    s.GetBuffer(10);
    s.ReleaseBuffer(2);
    EXPECT_STREQ("Z:", s);
}

TEST(CString, CutsInsertsAndDeletesWithinBounds) {
    CString s("abcdef");
    EXPECT_STREQ("cd", s.Mid(2, 2));
    EXPECT_STREQ("", s.Mid(10, 3));
    EXPECT_STREQ("ef", s.Mid(4, 100));
    EXPECT_STREQ("abcdef", s.Left(100));
    EXPECT_STREQ("", s.Left(-1));
    EXPECT_STREQ("abcdef", s.Right(100));
    CString n("1234567");
    EXPECT_EQ(8, n.Insert(4, ','));
    n.Insert(100, " KB");
    EXPECT_STREQ("1234,567 KB", n);
    n.Delete(0, 2);
    EXPECT_STREQ("34,567 KB", n);
}

TEST(CString, FindsAndComparesCharacterByCharacter) {
    CString s("C:\\dir\\sub\\file.tivo.TiVo");
    EXPECT_EQ(6, s.Find('\\', 3));
    EXPECT_EQ(10, s.ReverseFind('\\'));
    EXPECT_EQ(-1, s.Find('?'));
    EXPECT_EQ(-1, s.Find("dir", 4));
    EXPECT_EQ(0, CString("C:\\Videos\\Show.TiVo").CompareNoCase("c:\\VIDEOS\\show.tivo"));
    EXPECT_EQ(
        0, CString("C:\\\xC9T\xC9.TiVo").CompareNoCase("c:\\\xE9t\xE9.tivo"));  // letters of code page 1252
    // Characters that the system's sorting ignores or folds still make two names different.
    const char* const pairs[][2] = {{"a\x81.TiVo", "a.TiVo"},
                                    {"a\xAD"
                                     "b.TiVo",
                                     "ab.TiVo"},
                                    {"co-op.TiVo", "coop.TiVo"},
                                    {"\xE9t\xE9", "ete"}};
    for (const auto& pair : pairs)
        EXPECT_NE(0, CString(pair[0]).CompareNoCase(pair[1])) << pair[1];
    EXPECT_NE(0, CString("a").CompareNoCase(""));
    EXPECT_NE(0, CString("a").Compare("A"));
}

// In code page 932, 0x95 0x5C is one character whose trail byte equals "\".
TEST(CStringMultibyte, StepsOverDoubleByteCharacters) {
    if (!std::getenv("KORVANE_EXPECT_ACP") && GetACP() != 932)
        GTEST_SKIP() << "needs the double-byte code page 932 (framework_test_cp932)";
    ASSERT_EQ(932u, GetACP());
    CString path("C:\\dir\\\x95\x5C");  // C:\dir\<kanji>
    EXPECT_EQ(6, path.ReverseFind('\\'));
    EXPECT_EQ(-1, path.Find('\\', 7));
    EXPECT_EQ(-1, path.Find("\\", 7));
    EXPECT_EQ(2, CString("\x95\x5C\\").Find('\\', 1));  // a start inside a character: the next whole one
    EXPECT_EQ(0, CString("C:\\\x95\x5C\\A.TIVO").CompareNoCase("c:\\\x95\x5C\\a.tivo"));
    EXPECT_NE(0, CString("C:\\\x95\x5C\\a.tivo").CompareNoCase("C:\\\x95\x5D\\a.tivo"));
}
