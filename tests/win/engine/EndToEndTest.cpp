// The engine with the real filter pack: every test stream converted through StartConversion,
// and many conversions cancelled at random moments. How each failure (a refused source, an
// output that cannot be written, a cancel mid-stream) reaches the user is StandInTest's; how
// the filters fail or stop is the filter tests'.
#include "GraphSupport.h"
#include "engine/Progress.h"
#include "engine/Run.h"
#include "TestSupport.h"

#include <random>
#include <vector>

namespace {

using namespace korvane::test;

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearSettingsAndStandInDump();
        ASSERT_EQ(LiveObjectCount(), 0);
    }
    void TearDown() override {
        EXPECT_TRUE(EngineIsIdle());
        EXPECT_EQ(LiveObjectCount(), 0);
        EXPECT_EQ(LiveTestObjects(), 0);
    }
    ScopedComApartment m_com;
    NotifyWindow m_window;
    ScopedHandle m_cancel{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    TempFolder m_folder;
};

// Every test stream (NAME.ts into NAME.ts.mpg), and the long one (about 170 MB) into long-out
// for engine_output_check_long, which compares the whole of it with its source: the one
// conversion whose samples are many at every hop between the filters. The outputs stay for
// the ffprobe comparison. With a warm page cache the pack converts even the long one in a few
// hundred milliseconds, so there may be no progress pass at all (the stand-in dump's tests
// check the rule); what is posted must still be right, without a cancel event too.
TEST_F(EndToEndTest, EveryTestStreamConvertsToItsEnd) {
    std::vector<std::pair<std::string, std::string>> conversions = {
        {WrapAsTivo(EnvOr("KORVANE_ENGINE_LONG", "long.mpg"), m_folder.Path("long.TiVo")),
         KeptOutputs("long-out") + "\\long.mpg"}};
    for (const std::string pattern : {"*.mpg", "*.ts"})
        for (const std::string& name : MaterialStreams(pattern.c_str()))
            conversions.push_back({WrapAsTivo(name, m_folder.Path(name + ".TiVo")),
                                   KeptOutputs("out") + "\\" + name + (pattern == "*.ts" ? ".mpg" : "")});
    ASSERT_GE(conversions.size(), 10u) << "no test streams in " << MaterialDir();
    for (const auto& [tivo, output] : conversions) {
        SCOPED_TRACE(output);
        m_window.messages.clear();
        const char* text = nullptr;
        ASSERT_EQ(StartConversion(tivo.c_str(), output.c_str(), m_window.Handle(), nullptr, 1, &text), 1)
            << text;
        ASSERT_TRUE(m_window.PumpUntilDone());
        EXPECT_EQ(m_window.Done().wParam, CONVERSION_COMPLETED);
        EXPECT_TRUE(m_window.Done().engineIdle);
        EXPECT_EQ(LiveObjectCount(), 0);
        EXPECT_GT(FileSizeOrZero(output.c_str()), 0u);
        WPARAM previous = 0;
        for (const auto& m : m_window.Progress()) {
            EXPECT_LE(m.wParam, 99u);
            EXPECT_GE(m.wParam, previous);
            previous = m.wParam;
        }
    }
}

TEST_F(EndToEndTest, ManyConversionsCancelledAtRandomMoments) {
    const std::string tivo = WrapAsTivo("large_packets.mpg", m_folder.Path("stress.TiVo"));
    const std::string output = m_folder.Path("stress.mpg");
    std::mt19937 random(61206);
    // Below 0: cancelled before the start. A conversion streams for about 15 ms, and the
    // monitor first looks at the graph after 100 ms, so the later moments fall after the last
    // sample, and beyond about 100 ms the completion is seen first.
    std::uniform_int_distribution<int> delay(-20, 130);
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        m_window.messages.clear();
        ResetEvent(m_cancel.Get());
        const int wait = delay(random);
        if (wait < 0) SetEvent(m_cancel.Get());
        const char* text = nullptr;
        ASSERT_EQ(StartConversion(tivo.c_str(), output.c_str(), m_window.Handle(), m_cancel.Get(), 1, &text),
                  1)
            << (text ? text : "");
        if (wait >= 0) {
            m_window.PumpFor(wait);
            SetEvent(m_cancel.Get());
        }
        ASSERT_TRUE(m_window.PumpUntilDone()) << "hung";
        const auto done = m_window.Done();
        // Which of the two a late cancel gives depends on the machine; an early one is certain.
        EXPECT_TRUE(done.wParam == CONVERSION_CANCELLED || (wait >= 0 && done.wParam == CONVERSION_COMPLETED))
            << done.wParam;
        EXPECT_TRUE(done.engineIdle);
    }
    EXPECT_EQ(LiveObjectCount(), 0);
}

}  // namespace
