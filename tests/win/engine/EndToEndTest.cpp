// The engine with the real filter pack: every test stream converted through StartConversion,
// and many encrypted conversions cancelled at random moments. How each failure (a refused
// source, an output that cannot be written, a cancel mid-stream) reaches the user is
// StandInTest's; how the filters fail is the filter tests'.
#include "keys/KeyStore.h"
#include "engine/Progress.h"
#include "engine/Run.h"
#include "TestSupport.h"

#include <algorithm>
#include <random>
#include <thread>
#include <vector>

namespace {

using namespace korvane::test;

// The settings cleared, so the engine's defaults name the pack.
class EndToEndTest : public PackTest {
protected:
    void TearDown() override {
        EXPECT_TRUE(EngineIsIdle());
        PackTest::TearDown();
    }
    NotifyWindow m_window;
    ScopedHandle m_cancel{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
};

// Every test stream (NAME.ts into NAME.ts.mpg), and the long one (about 170 MB) into long-out
// for engine_output_check_long, which compares the whole of it with its source: the one
// conversion whose samples are many at every hop between the filters. The outputs stay for
// the ffprobe comparison. With a warm page cache the pack converts even the long one in a few
// hundred milliseconds, so there may be no progress pass at all (the stand-in dump's tests
// check the rule); what is posted must still be right, without a cancel event too.
TEST_F(EndToEndTest, EveryTestStreamConvertsToItsEnd) {
    std::vector<std::pair<std::string, std::string>> conversions = {
        {WrapAsTivo(EnvOr("KORVANE_ENGINE_LONG", "long.mpg"), m_scratch.Path("long.TiVo")),
         KeptOutputs("long-out") + "\\long.mpg"}};
    for (const std::string pattern : {"*.mpg", "*.ts"})
        for (const std::string& name : MaterialStreams(pattern.c_str()))
            conversions.push_back({WrapAsTivo(name, m_scratch.Path(name + ".TiVo")),
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

// A recording past 4 GiB: the first half of a stream, a hole of 4 GiB and a bit (a sparse file,
// read as zeros), then the second half. Every offset, size and read position past 2^32 has
// to survive (in a 32-bit process too) for the output to hold the whole stream, which
// engine_output_check_huge compares with the original (copied to huge-source); and the progress stays in
// range although the input is over a thousand times the output.
TEST_F(EndToEndTest, ARecordingPastFourGigabytesConverts) {
    const std::string small = WrapAsTivo("mp2.mpg", m_scratch.Path("small.TiVo"));
    std::string bytes;
    {
        ScopedFile in(
            CreateFileA(small.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(in);
        bytes.resize(FileSizeOrZero(small.c_str()));
        DWORD read = 0;
        ASSERT_TRUE(ReadFile(in.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr));
        ASSERT_EQ(bytes.size(), read);
    }
    const auto* header = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t payload = (size_t{header[10]} << 24) | (header[11] << 16) | (header[12] << 8) | header[13];
    // The material's packs are 2048 bytes: the cut falls between two of them.
    const size_t cut = payload + (bytes.size() - payload) / 2 / 2048 * 2048;
    ASSERT_GT(cut, payload);

    const std::string huge = m_scratch.Path("huge.TiVo");
    {
        ScopedFile out(CreateFileA(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(out);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(out.Get(), bytes.data(), static_cast<DWORD>(cut), &written, nullptr));
        LARGE_INTEGER past{};
        past.QuadPart = (LONGLONG{1} << 32) + 1000 * 2048;
        ASSERT_TRUE(SetFilePointerEx(out.Get(), past, nullptr, FILE_BEGIN));
        ASSERT_TRUE(WriteFile(out.Get(), bytes.data() + cut, static_cast<DWORD>(bytes.size() - cut), &written,
                              nullptr));
    }
    ASSERT_GT(FileSizeOrZero(huge.c_str()), uint64_t{1} << 32);

    const std::string output = KeptOutputs("huge-out") + "\\mp2.mpg";
    // The original beside it, alone in a folder, for the comparison.
    ASSERT_TRUE(CopyFileA((MaterialDir() + "\\mp2.mpg").c_str(),
                          (KeptOutputs("huge-source") + "\\mp2.mpg").c_str(), FALSE));
    const char* text = nullptr;
    ASSERT_EQ(StartConversion(huge.c_str(), output.c_str(), m_window.Handle(), nullptr, 1, &text), 1) << text;
    // Reading 4 GiB of zeros takes seconds, not the hang limit's minutes.
    ASSERT_TRUE(m_window.PumpUntil([this] { return !m_window.Of(WM_CONVERSION_DONE).empty(); },
                                   10 * kHangMilliseconds));
    DeleteFileA(huge.c_str());
    EXPECT_EQ(m_window.Done().wParam, CONVERSION_COMPLETED);
    EXPECT_EQ(LiveObjectCount(), 0);
    for (const auto& m : m_window.Progress())
        EXPECT_LE(m.wParam, 99u);
}

// Encrypted, so that the source's second thread decrypts, and paced, so that many cancels
// land mid-stream; below 0, cancelled before the start. Whenever the cancel comes, the
// conversion ends and everything of the pack is released before its end is posted.
TEST_F(EndToEndTest, ManyConversionsCancelledAtRandomMoments) {
    RegDeleteKeyW(HKEY_CURRENT_USER, korvane::filters::kKeyStorePath);
    ASSERT_EQ(korvane::filters::RememberKey("0123456789"), S_OK);
    const std::string tivo = WrapAsTivo("large_packets.mpg", m_scratch.Path("stress.TiVo"), "0123456789");
    const std::string output = m_scratch.Path("stress.mpg");
    ASSERT_EQ(SetSourcePacing(2), S_OK);
    std::mt19937 random(61206);
    // The monitor first asks the graph after 100 ms: the later moments race its first look.
    std::uniform_int_distribution<int> delay(-20, 130);
    int cancelledAfterTheStart = 0;
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
        // From a thread of its own: to the millisecond, while this one pumps.
        std::thread canceller([&] {
            Sleep(std::max(wait, 0));
            SetEvent(m_cancel.Get());
        });
        const bool ended = m_window.PumpUntilDone();
        canceller.join();
        ASSERT_TRUE(ended) << "hung";
        const auto done = m_window.Done();
        // Which of the two a late cancel gives depends on the machine; an early one is certain.
        EXPECT_TRUE(done.wParam == CONVERSION_CANCELLED || (wait >= 0 && done.wParam == CONVERSION_COMPLETED))
            << done.wParam;
        EXPECT_TRUE(done.engineIdle);
        ASSERT_EQ(LiveObjectCount(), 0);
        cancelledAfterTheStart += wait >= 0 && done.wParam == CONVERSION_CANCELLED;
    }
    SetSourcePacing(0);
    RegDeleteKeyW(HKEY_CURRENT_USER, korvane::filters::kKeyStorePath);
    EXPECT_GT(cancelledAfterTheStart, 0);
}

}  // namespace
