// A recording's details as pyTivo text: real recordings' documents through the whole chain
// (wrapped into an encrypted .TiVo, read back by every command that writes the text), and the
// rules for documents that lack or add elements.
#include <gtest/gtest.h>

#include "Process.h"
#include "Scratch.h"
#include "metadata/PyTivoText.h"

using namespace korvane::test;
using korvane::metadata::PyTivoText;

namespace {

const std::string kTool = KORVANE_TIVO;

std::string Text(const std::string& xml) {
    std::string text, error;
    EXPECT_TRUE(PyTivoText(xml, &text, &error)) << error;
    return text;
}

std::string Program(const std::string& inside) {
    return "<TvBusEnvelope><showing><program>" + inside + "</program></showing></TvBusEnvelope>";
}

}  // namespace

// Every field of the text, the accented names, dates and rating codes as the documents hold
// them: an episode of a series, and a movie with a host.
TEST(PyTivoText, EveryFieldThroughEveryCommandThatWritesIt) {
    const std::string folder = NewFolder("pytivo");
    for (const std::string name : {"episode", "movie"}) {
        const std::string tivo = folder + "/" + name + ".TiVo", expected = ReadText(Data(name + ".txt"));
        Result wrap = RunCommand({kTool, "wrap", Vector("ps-mpeg2-ac3.mpg"), tivo, "--metadata-xml",
                                  Data(name + ".xml"), "--mak", kMak});
        ASSERT_EQ(wrap.status, 0) << wrap.err;

        Result printed = RunCommand({kTool, "metadata", tivo, "--mak", kMak, "--pytivo"});
        EXPECT_EQ(printed.status, 0) << printed.err;
        EXPECT_EQ(std::string(printed.out.begin(), printed.out.end()), expected);
        Result xml = RunCommand({kTool, "metadata", tivo, "--mak", kMak, "--xml", "2"});
        EXPECT_EQ(std::string(xml.out.begin(), xml.out.end()), ReadText(Data(name + ".xml")));

        for (const std::string command : {"decrypt", "remux"}) {
            const std::string out = folder + "/" + name + "-" + command + ".mpg";
            Result run = RunCommand({kTool, command, tivo, out, "--mak", kMak, "--metadata"});
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(ReadText(out + ".txt"), expected) << command;
        }
    }
    Result wrongKey =
        RunCommand({kTool, "metadata", folder + "/movie.TiVo", "--mak", "9876543210", "--pytivo"});
    EXPECT_NE(wrongKey.err.find("Invalid MAK"), std::string::npos) << wrongKey.err;
    EXPECT_TRUE(wrongKey.out.empty());
}

TEST(PyTivoText, TheTitleFromWhatTheDocumentHas) {
    const std::string series = "<series><seriesTitle>Nova</seriesTitle></series>";
    EXPECT_EQ(
        Text(Program("<title>Nova</title><episodeTitle>Black Holes</episodeTitle>" + series)).substr(0, 29),
        "title : Nova - Black Holes\nse");
    EXPECT_EQ(Text(Program("<title>Nova Special</title>" + series)).substr(0, 21), "title : Nova Special\n");
    EXPECT_EQ(Text(Program(series)), "title : Nova\nseriesTitle : Nova\n");
    EXPECT_EQ(Text(Program("<episodeTitle>Pilot</episodeTitle>")), "title : Pilot\nepisodeTitle : Pilot\n");
    EXPECT_EQ(Text("<TvBusEnvelope/>"), "");
}

TEST(PyTivoText, OnlyTheGuidesCopyrightNoticeIsDropped) {
    const auto description = [](const std::string& text) {
        return Text(Program("<description>" + text + "</description>"));
    };
    EXPECT_EQ(description("Two go west. Copyright Tribune Media Services, Inc."),
              "description : Two go west.\n");
    EXPECT_EQ(description("Two go west.\nCopyright 2009 Rovi"), "description : Two go west.\n");
    EXPECT_EQ(description("A lawyer argues Copyright law."),
              "description : A lawyer argues Copyright law.\n");
    EXPECT_EQ(description("Copyright law, explained."), "description : Copyright law, explained.\n");
    EXPECT_EQ(description("Authors fight. Copyright law is older than the novel, and this film follows the "
                          "first case ever brought under it."),
              "description : Authors fight. Copyright law is older than the novel, and this film follows the "
              "first case ever brought under it.\n");
}

TEST(PyTivoText, ADamagedDocumentIsAnError) {
    std::string text, error;
    for (const std::string xml : {"", "<showing><program>", "<a></b>", "<a x=1/>", "<a/><b/>", "text"}) {
        EXPECT_FALSE(PyTivoText(xml, &text, &error)) << xml;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(PyTivoText(std::string(100, '<') + "a>", &text, &error));
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    EXPECT_FALSE(PyTivoText(deep, &text, &error));
}
