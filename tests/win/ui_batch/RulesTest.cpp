// The pure rules of the batch layer: path fitting, output naming, progress arithmetic,
// the question box's buttons and the remembered answers.
#include "ui/batch/ChoiceRules.h"
#include "ui/batch/OutputNaming.h"
#include "ui/batch/PathFitting.h"
#include "ui/batch/ProgressMath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One unit per byte, recording every candidate in order.
struct CountingMeasure {
    std::vector<std::string> tried;
    MeasureText fn() {
        return [this](const std::string& s) {
            tried.push_back(s);
            return static_cast<int>(s.size());
        };
    }
};

const std::string kNews = "D:\\Videos\\Shows\\Evening News.TiVo";

std::string Fit(const std::string& path, int width, UINT cp = 1252) {
    CountingMeasure m;
    return FitPathText(path, width, m.fn(), cp);
}

TEST(FitPathText, WidthTableForEveningNews) {
    ASSERT_EQ(33u, kNews.size());
    EXPECT_EQ(kNews, Fit(kNews, 33));
    EXPECT_EQ(kNews, Fit(kNews, 200));
    EXPECT_EQ("D:\\Videos\\S...\\Evening News.TiVo", Fit(kNews, 32));
    EXPECT_EQ("...\\Evening News.TiVo", Fit(kNews, 21));
    EXPECT_EQ("...\\Evening News....", Fit(kNews, 20));
    EXPECT_EQ("...\\...", Fit(kNews, 7));
    EXPECT_EQ("...", Fit(kNews, 3));
    EXPECT_EQ("...", Fit(kNews, 0));
    EXPECT_EQ("...", Fit(kNews, -5));
}

TEST(FitPathText, CandidateOrder) {
    CountingMeasure m;
    EXPECT_EQ("D:\\Videos\\S...\\Evening News.TiVo", FitPathText(kNews, 32, m.fn(), 1252));
    ASSERT_EQ(3u, m.tried.size());
    EXPECT_EQ(kNews, m.tried[0]);
    EXPECT_EQ("D:\\Videos\\Sh...\\Evening News.TiVo", m.tried[1]);

    CountingMeasure all;
    EXPECT_EQ("...", FitPathText(kNews, 2, all.fn(), 1252));
    // whole path, 13 folder candidates (12 kept down to 0), then 19 cut at the end
    // ("...\Evening News.T..." down to "...")
    ASSERT_EQ(1u + 13u + 19u, all.tried.size());
    EXPECT_EQ("...\\Evening News.TiVo", all.tried[13]);
    EXPECT_EQ("...\\Evening News.T...", all.tried[14]);
    EXPECT_EQ("......", all.tried[all.tried.size() - 4]);
    EXPECT_EQ(".....", all.tried[all.tried.size() - 3]);
    EXPECT_EQ("....", all.tried[all.tried.size() - 2]);
    EXPECT_EQ("...", all.tried.back());
}

TEST(FitPathText, NoBackslashOrBackslashFirstCutsTheEnd) {
    CountingMeasure m;
    EXPECT_EQ("\\...", FitPathText("\\abcdef", 4, m.fn(), 1252));
    EXPECT_EQ((std::vector<std::string>{"\\abcdef", "\\abc...", "\\ab...", "\\a...", "\\..."}), m.tried);
    EXPECT_EQ("abc...", Fit("abcdefgh", 6));
    EXPECT_EQ("...", Fit("abc", 2));
    EXPECT_EQ("...", Fit("ab", 1));
}

TEST(FitPathText, BackslashAtOneOrTwoStartsWithEllipsisAndTail) {
    CountingMeasure m;
    EXPECT_EQ(".....", FitPathText("D:\\xyz", 5, m.fn(), 1252));
    ASSERT_LE(3u, m.tried.size());
    EXPECT_EQ("...\\xyz", m.tried[1]);  // longer than the path itself
    EXPECT_EQ("...\\...", m.tried[2]);

    CountingMeasure m2;
    EXPECT_EQ("...", FitPathText("D:\\x", 3, m2.fn(), 1252));
    EXPECT_EQ((std::vector<std::string>{"D:\\x", "...\\x", ".....", "....", "..."}), m2.tried);
    EXPECT_EQ("...\\ab...", Fit("a\\abcdefgh", 9));
    EXPECT_EQ("...\\ab...", Fit("ab\\abcdefgh", 9));
    CountingMeasure m3;
    EXPECT_EQ("...\\abcdefgh", FitPathText("abcd\\abcdefgh", 12, m3.fn(), 1252));
    EXPECT_EQ((std::vector<std::string>{"abcd\\abcdefgh", "a...\\abcdefgh", "...\\abcdefgh"}), m3.tried);
}

TEST(FitPathText, DoubleByteCharactersStayWhole) {
    // Shift-JIS: 0x95 0x5C is one character whose trail byte is a backslash.
    const std::string path = "C:\\\x95\x5c\x95\x5c\x95\x5c\\a\x95\x5c.TiVo";
    CountingMeasure m;
    FitPathText(path, 0, m.fn(), 932);
    for (const std::string& s : m.tried) {
        for (size_t i = 0; i < s.size(); ++i) {
            if (static_cast<unsigned char>(s[i]) == 0x95) {
                ASSERT_LT(i + 1, s.size()) << "lead byte cut off in " << s;
                EXPECT_EQ('\x5c', s[i + 1]);
                ++i;
            }
        }
    }
    // The last real backslash is the one before "a": the tail keeps the whole file name.
    EXPECT_EQ("...\\a\x95\x5c.TiVo", Fit(path, 12, 932));
    // Byte-wise, under a single-byte code page, the trail byte counts as a backslash.
    EXPECT_EQ("...\\.TiVo", Fit(path, 9, 1252));
}

std::string Out(const std::string& source, const std::string* folder = nullptr) {
    return MakeOutputName(source, folder).output;
}

TEST(MakeOutputName, BesideTheSource) {
    EXPECT_EQ("C:\\show.mpg", Out("C:\\show.TiVo"));
    EXPECT_EQ("C:", MakeOutputName("C:\\show.TiVo", nullptr).folder);
    EXPECT_EQ("C:\\my.dir\\show.mpg", Out("C:\\my.dir\\show.tivo"));
    EXPECT_EQ("C:\\in\\a.b.mpg", Out("C:\\in\\a.b.TIVO"));
    EXPECT_EQ("\\show.mpg", Out("\\show.TiVo"));  // backslash at 0: empty folder
    EXPECT_EQ("\\show.mpg", Out("show.TiVo"));    // no backslash: the whole source is the name
    EXPECT_EQ("C:\\In\\Show.Mixed.mpg", Out("C:\\In\\Show.Mixed.TiVo"));
    // The last '.' of the whole output path, folder included.
    EXPECT_EQ("C:\\my.mpg", Out("C:\\my.dir\\show"));
}

TEST(MakeOutputName, IntoAnOutputFolder) {
    const std::string out = "D:\\out", root = "D:\\", empty, relative = "out";
    EXPECT_EQ("D:\\out\\show.mpg", Out("C:\\in\\show.TiVo", &out));
    EXPECT_EQ("D:\\\\show.mpg", Out("C:\\in\\show.TiVo", &root));
    EXPECT_EQ("\\show.mpg", Out("C:\\in\\show.TiVo", &empty));
    EXPECT_EQ("out\\show.mpg", Out("C:\\in\\show.TiVo", &relative));
    const OutputName n = MakeOutputName("C:\\in\\Show.TiVo", &root);
    EXPECT_EQ("D:\\", n.folder);
    EXPECT_EQ("Show.TiVo", n.name);
}

TEST(MakeOutputName, DoubleByteTrailBytesAreNotSeparators) {
    // 0x95 0x5C and 0x81 0x2E are each one Shift-JIS character (trail bytes '\' and '.').
    const std::string source = "C:\\d\\\x95\x5cx.TiVo";
    const OutputName n = MakeOutputName(source, nullptr, 932);
    EXPECT_EQ("C:\\d", n.folder);
    EXPECT_EQ("\x95\x5cx.TiVo", n.name);
    EXPECT_EQ("C:\\d\\\x95\x5cx.mpg", MakeOutputName("C:\\d\\\x95\x5cx.TiVo", nullptr, 932).output);
    EXPECT_EQ("C:\\a.\x81\x2e.mpg", MakeOutputName("C:\\a.\x81\x2e.TiVo", nullptr, 932).output);
    EXPECT_TRUE(HasTiVoExtension("C:\\\x81\x2etivo.TiVo", 932));
    EXPECT_FALSE(HasTiVoExtension("C:\\x\x81\x2etivo", 932));
}

TEST(HasTiVoExtension, CaseInsensitiveLastExtensionOnly) {
    EXPECT_TRUE(HasTiVoExtension("C:\\in\\show.TiVo"));
    EXPECT_TRUE(HasTiVoExtension("C:\\in\\show.TIVO"));
    EXPECT_TRUE(HasTiVoExtension("C:\\in\\a.b.tivo"));
    EXPECT_FALSE(HasTiVoExtension("C:\\in\\clip.mpeg"));
    EXPECT_FALSE(HasTiVoExtension("C:\\in\\show.TiVo.bak"));
    EXPECT_FALSE(HasTiVoExtension("C:\\in\\show.tiv"));
    EXPECT_FALSE(HasTiVoExtension("C:\\in\\showtivo"));
    EXPECT_TRUE(HasTiVoExtension("tivo"));  // no '.': the whole path is compared
    EXPECT_TRUE(HasTiVoExtension("C:\\in\\show.tIvO"));
    // Character by character: nothing that merely sorts like "tivo" passes.
    EXPECT_FALSE(HasTiVoExtension("C:\\in\\show.ti\xADvo", 1252));  // a soft hyphen inside
    EXPECT_FALSE(HasTiVoExtension("C:\\in\\show.ti-vo", 1252));
    EXPECT_FALSE(HasTiVoExtension("C:\\in\\show.tivo ", 1252));
}

int Percent(int files, int current, int p) {
    return OverallPercent(OverallPosition(current, p), OverallRangeMax(files));
}

TEST(ProgressMath, Percentages) {
    EXPECT_EQ(0, Percent(3, 0, 0));
    EXPECT_EQ(33, Percent(3, 0, 99));
    EXPECT_EQ(50, Percent(3, 1, 50));
    EXPECT_EQ(310, OverallPosition(3, 10));
    EXPECT_EQ(44, Percent(7, 3, 10));
    EXPECT_EQ(0, Percent(6, 0, 1));
    EXPECT_EQ(16, Percent(6, 1, 0));
    EXPECT_EQ(42, Percent(1, 0, 42));
    EXPECT_EQ(100, Percent(3, 2, 100));
    EXPECT_EQ(0, OverallPercent(50, 0));
}

TEST(ProgressMath, RangeBeyond655Files) {
    EXPECT_EQ(65500u, OverallRangeMax(655));
    EXPECT_FALSE(OverallRangeNeeds32Bits(655));
    EXPECT_TRUE(OverallRangeNeeds32Bits(656));
    for (int current = 0; current < 655; ++current)
        EXPECT_EQ(current * 100 / 655, Percent(655, current, 0));
    EXPECT_EQ(100, Percent(655, 654, 100));
    EXPECT_EQ(0, Percent(1000, 0, 0));
    EXPECT_EQ(50, Percent(1000, 500, 0));
    EXPECT_EQ(99, Percent(1000, 999, 99));
    EXPECT_EQ(100, Percent(1000, 999, 100));
    EXPECT_EQ(100, Percent(100000, 99999, 100));
}

TEST(ChoiceButtons, ThreeTypesOnly) {
    ChoiceButtons b;
    ASSERT_TRUE(GetChoiceButtons(16, &b));
    EXPECT_STREQ("No A&ll", b.captions[3]);
    EXPECT_EQ(nullptr, b.captions[4]);
    EXPECT_EQ(KORVANE_IDNOALL, b.answers[3]);
    ASSERT_TRUE(GetChoiceButtons(17, &b));
    EXPECT_STREQ("&Cancel", b.captions[4]);
    EXPECT_EQ(nullptr, b.captions[5]);
    EXPECT_EQ((std::vector<int>{6, 29, 7, 30, 2}), std::vector<int>(b.answers, b.answers + 5));
    ASSERT_TRUE(GetChoiceButtons(18, &b));
    EXPECT_STREQ("&Abort", b.captions[0]);
    EXPECT_STREQ("&Ignore", b.captions[1]);
    EXPECT_STREQ("Ignore A&ll", b.captions[2]);
    EXPECT_EQ(nullptr, b.captions[3]);
    EXPECT_EQ((std::vector<int>{3, 5, 31}), std::vector<int>(b.answers, b.answers + 3));
    EXPECT_FALSE(GetChoiceButtons(4, &b));
    EXPECT_FALSE(GetChoiceButtons(16 | MB_ICONQUESTION, &b));
    EXPECT_FALSE(GetChoiceButtons(19, &b));
    EXPECT_EQ(IDABORT, ChoiceAnswerWithoutButton(18));
    EXPECT_EQ(IDCANCEL, ChoiceAnswerWithoutButton(17));
    EXPECT_EQ(IDNO, ChoiceAnswerWithoutButton(16));
    // template right edges: B5 236, B4 190, B3 144 (dialog units)
    EXPECT_EQ(0, ChoiceButtonShift(236, 236));
    EXPECT_EQ(23, ChoiceButtonShift(236, 190));
    EXPECT_EQ(46, ChoiceButtonShift(236, 144));
    EXPECT_EQ(2, ChoiceButtonShift(10, 5));  // truncated
}

struct Asker {
    int answer;
    int asked = 0;
    std::function<int()> fn() {
        return [this] {
            ++asked;
            return answer;
        };
    }
};

TEST(StickyAnswer, OverwriteNoAllSetsOnlyTheSecondFlag) {
    BOOL yesAll = FALSE, noAll = FALSE;
    Asker a{KORVANE_IDNOALL};
    EXPECT_EQ(IDNO, StickyAnswer(&yesAll, IDYES, &noAll, IDNO, a.fn()));
    EXPECT_FALSE(yesAll);
    EXPECT_TRUE(noAll);
    EXPECT_EQ(IDNO, StickyAnswer(&yesAll, IDYES, &noAll, IDNO, a.fn()));
    EXPECT_EQ(1, a.asked);
}

TEST(StickyAnswer, YesAllAndFirstFlagWins) {
    BOOL yesAll = FALSE, noAll = FALSE;
    Asker a{KORVANE_IDYESALL};
    EXPECT_EQ(IDYES, StickyAnswer(&yesAll, IDYES, &noAll, IDNO, a.fn()));
    EXPECT_TRUE(yesAll);
    EXPECT_FALSE(noAll);
    BOOL both1 = TRUE, both2 = TRUE;
    Asker never{IDCANCEL};
    EXPECT_EQ(IDYES, StickyAnswer(&both1, IDYES, &both2, IDNO, never.fn()));
    EXPECT_EQ(0, never.asked);
}

TEST(StickyAnswer, PlainAnswersAndNullFlagsPassThrough) {
    BOOL ignoreAll = FALSE;
    Asker ignore{IDIGNORE};
    EXPECT_EQ(IDIGNORE, StickyAnswer(&ignoreAll, IDIGNORE, nullptr, 0, ignore.fn()));
    EXPECT_FALSE(ignoreAll);
    Asker all{KORVANE_IDIGNOREALL};
    EXPECT_EQ(IDIGNORE, StickyAnswer(&ignoreAll, IDIGNORE, nullptr, 0, all.fn()));
    EXPECT_TRUE(ignoreAll);
    Asker abort{IDABORT};
    EXPECT_EQ(IDIGNORE, StickyAnswer(&ignoreAll, IDIGNORE, nullptr, 0, abort.fn()));
    EXPECT_EQ(0, abort.asked);
    // Without flags the box's answer comes back unchanged, to-all codes included.
    Asker yesAll{KORVANE_IDYESALL};
    EXPECT_EQ(KORVANE_IDYESALL, StickyAnswer(nullptr, 0, nullptr, 0, yesAll.fn()));
    // A to-all code that belongs to no given flag passes through and sets nothing.
    BOOL f = FALSE;
    Asker noAll{KORVANE_IDNOALL};
    EXPECT_EQ(KORVANE_IDNOALL, StickyAnswer(&f, IDIGNORE, nullptr, 0, noAll.fn()));
    EXPECT_FALSE(f);
    // A flag whose answer has no to-all code is never set.
    Asker zero{0};
    EXPECT_EQ(0, StickyAnswer(&f, IDABORT, nullptr, 0, zero.fn()));
    EXPECT_FALSE(f);
}

}  // namespace
