// The pure rules of the batch layer: path fitting, output naming, progress arithmetic and
// the remembered answers. The question box's buttons are ChoiceBoxTest's, on real windows.
#include "ui/batch/ChoiceRules.h"
#include "ui/batch/OutputNaming.h"
#include "ui/batch/PathFitting.h"
#include "ui/batch/ProgressMath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One unit per byte.
std::string Fit(const std::string& path, int width, UINT cp = 1252) {
    return FitPathText(
        path, width, [](const std::string& s) { return static_cast<int>(s.size()); }, cp);
}

TEST(FitPathText, FolderShrinksBeforeTheLastBackslashThenTheEnd) {
    const std::string news = "D:\\Videos\\Shows\\Evening News.TiVo";  // 33 bytes
    const struct {
        std::string path;
        int width;
        std::string shown;
    } cases[] = {
        {news, 33, news},
        {news, 200, news},
        {news, 32, "D:\\Videos\\S...\\Evening News.TiVo"},
        {news, 21, "...\\Evening News.TiVo"},
        {news, 20, "...\\Evening News...."},
        {news, 7, "...\\..."},
        {news, 3, "..."},
        {news, -5, "..."},
        // No backslash, or one first: the end is cut.
        {"\\abcdef", 4, "\\..."},
        {"abcdefgh", 6, "abc..."},
        {"ab", 1, "..."},
        // A backslash at 1 or 2: "...\" and the tail straight away, even when longer than the path.
        {"D:\\xyz", 5, "....."},
        {"a\\abcdefgh", 9, "...\\ab..."},
        {"ab\\abcdefgh", 9, "...\\ab..."},
        {"abcd\\abcdefgh", 12, "...\\abcdefgh"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.shown, Fit(c.path, c.width)) << c.path << " in " << c.width;
}

TEST(FitPathText, DoubleByteCharactersStayWhole) {
    // Shift-JIS: 0x95 0x5C is one character whose trail byte is a backslash.
    const std::string path = "C:\\\x95\x5c\x95\x5c\x95\x5c\\a\x95\x5c.TiVo";
    std::vector<std::string> tried;
    FitPathText(
        path, 0,
        [&](const std::string& s) {
            tried.push_back(s);
            return static_cast<int>(s.size());
        },
        932);
    for (const std::string& s : tried) {
        for (size_t i = 0; i < s.size(); ++i) {
            if (static_cast<unsigned char>(s[i]) != 0x95) continue;
            ASSERT_LT(i + 1, s.size()) << "lead byte cut off in " << s;
            EXPECT_EQ('\x5c', s[++i]);
        }
    }
    // The last real backslash is the one before "a": the tail keeps the whole file name.
    EXPECT_EQ("...\\a\x95\x5c.TiVo", Fit(path, 12, 932));
    // Byte-wise, under a single-byte code page, the trail byte counts as a backslash.
    EXPECT_EQ("...\\.TiVo", Fit(path, 9, 1252));
}

TEST(MakeOutputName, BesideTheSourceOrInTheFolderAsTyped) {
    const std::string out = "D:\\out", root = "D:\\", empty, relative = "out";
    const struct {
        std::string source;
        const std::string* folder;
        std::string output;
    } cases[] = {
        {"C:\\show.TiVo", nullptr, "C:\\show.mpg"},
        {"C:\\in\\a.b.TIVO", nullptr, "C:\\in\\a.b.mpg"},
        {"\\show.TiVo", nullptr, "\\show.mpg"},       // backslash at 0: empty folder
        {"show.TiVo", nullptr, "\\show.mpg"},         // no backslash: the whole source is the name
        {"C:\\my.dir\\show", nullptr, "C:\\my.mpg"},  // the last '.' of the whole output path
        {"C:\\in\\show.TiVo", &out, "D:\\out\\show.mpg"},
        {"C:\\in\\show.TiVo", &root, "D:\\\\show.mpg"},
        {"C:\\in\\show.TiVo", &empty, "\\show.mpg"},
        {"C:\\in\\show.TiVo", &relative, "out\\show.mpg"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.output, MakeOutputName(c.source, c.folder).output) << c.source;
    const OutputName beside = MakeOutputName("C:\\Show.TiVo", nullptr);
    EXPECT_EQ("C:", beside.folder);
    EXPECT_EQ("Show.TiVo", beside.name);
    EXPECT_EQ("D:\\", MakeOutputName("C:\\in\\Show.TiVo", &root).folder);
}

TEST(MakeOutputName, DoubleByteTrailBytesAreNotSeparators) {
    // 0x95 0x5C and 0x81 0x2E are each one Shift-JIS character (trail bytes '\' and '.').
    const OutputName n = MakeOutputName("C:\\d\\\x95\x5cx.TiVo", nullptr, 932);
    EXPECT_EQ("C:\\d", n.folder);
    EXPECT_EQ("\x95\x5cx.TiVo", n.name);
    EXPECT_EQ("C:\\d\\\x95\x5cx.mpg", n.output);
    EXPECT_EQ("C:\\a.\x81\x2e.mpg", MakeOutputName("C:\\a.\x81\x2e.TiVo", nullptr, 932).output);
    EXPECT_TRUE(HasTiVoExtension("C:\\\x81\x2etivo.TiVo", 932));
    EXPECT_FALSE(HasTiVoExtension("C:\\x\x81\x2etivo", 932));
}

TEST(HasTiVoExtension, TheLastExtensionInAnyCaseCharacterByCharacter) {
    for (const char* yes : {"C:\\in\\show.TIVO", "C:\\in\\a.b.tivo", "C:\\in\\show.tIvO", "tivo"})
        EXPECT_TRUE(HasTiVoExtension(yes, 1252)) << yes;
    for (const char* no :
         {"C:\\in\\clip.mpeg", "C:\\in\\show.TiVo.bak", "C:\\in\\show.tiv", "C:\\in\\showtivo",
          "C:\\in\\show.ti\xADvo", "C:\\in\\show.ti-vo", "C:\\in\\show.tivo "})
        EXPECT_FALSE(HasTiVoExtension(no, 1252)) << no;
}

int Percent(int files, int current, int p) {
    return OverallPercent(OverallPosition(current, p), OverallRangeMax(files));
}

TEST(ProgressMath, PercentagesTruncateAndNeed32BitsPast655Files) {
    EXPECT_EQ(33, Percent(3, 0, 99));
    EXPECT_EQ(44, Percent(7, 3, 10));
    EXPECT_EQ(16, Percent(6, 1, 0));
    EXPECT_EQ(100, Percent(3, 2, 100));
    EXPECT_EQ(0, OverallPercent(50, 0));
    EXPECT_EQ(65500u, OverallRangeMax(655));
    EXPECT_FALSE(OverallRangeNeeds32Bits(655));
    EXPECT_TRUE(OverallRangeNeeds32Bits(656));
    for (int current = 0; current < 655; ++current)
        EXPECT_EQ(current * 100 / 655, Percent(655, current, 0));
    EXPECT_EQ(99, Percent(1000, 999, 99));
    EXPECT_EQ(100, Percent(100000, 99999, 100));
}

// The sticky rule over one flag, asking with a fixed answer.
int Sticky(int asked, BOOL* flag, int flagAnswer) {
    return StickyAnswer(flag, flagAnswer, nullptr, 0, [asked] { return asked; });
}

// A to-all answer setting its own flag, which then answers, is ProgressWindowTest's: Yes to
// all, No to all and both Ignore to all on real batches.
TEST(StickyAnswer, AnswersWithoutAFlagOfTheirOwnPassThroughAndSetNothing) {
    EXPECT_EQ(KORVANE_IDYESALL, Sticky(KORVANE_IDYESALL, nullptr, 0));
    BOOL flag = FALSE;
    EXPECT_EQ(KORVANE_IDNOALL, Sticky(KORVANE_IDNOALL, &flag, IDIGNORE));
    EXPECT_EQ(0, Sticky(0, &flag, IDABORT));  // IDABORT has no to-all code
    EXPECT_FALSE(flag);
}

}  // namespace
