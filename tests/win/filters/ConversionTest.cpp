// The filter pack inside Wine's own filter graph manager, driven the way the program's
// engine drives it.
#include <gtest/gtest.h>

#include <evcode.h>

#include "GraphSupport.h"
#include "media/TivoWriter.h"

namespace korvane::test {
namespace {

class ConversionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override {
        KorvaneLiveObjects live = LiveObjects();
        EXPECT_EQ(0, live.filters);
        EXPECT_EQ(0, live.pins);
        EXPECT_EQ(0, live.enumerators);
        EXPECT_EQ(0, live.allocators);
        EXPECT_EQ(0, live.samples);
        CoUninitialize();
    }
    static std::string Work(const std::string& name) { return WorkDir() + "\\" + name; }
    static std::string Tivo(const std::string& materialName) {
        return WrapAsTivo(MaterialDir() + "\\" + materialName, Work(materialName + ".TiVo"));
    }
};

// Every stream converts; the output files stay for the ffprobe/ffmpeg check that runs after
// this test (check-outputs.sh compares streams, payload hashes and timestamps).
TEST_F(ConversionTest, EveryMaterialStreamConvertsToCompletion) {
    std::vector<std::string> streams = MaterialStreams();
    ASSERT_GE(streams.size(), 5u) << "no test material in " << MaterialDir();
    CreateDirectoryA(Work("out").c_str(), nullptr);
    for (const std::string& name : streams) {
        SCOPED_TRACE(name);
        std::string tivo = Tivo(name);
        ASSERT_FALSE(tivo.empty());
        std::string output = Work("out\\" + name);
        Conversion c = Convert(Widen(tivo), Widen(output));
        EXPECT_EQ(Step::None, c.failedStep) << std::hex << c.hr;
        EXPECT_EQ(EC_COMPLETE, c.completionCode);
        EXPECT_FALSE(c.timedOut);
        EXPECT_FALSE(c.HasEvent(EC_ERRORABORT));
        EXPECT_GT(FileSize(output), FileSize(tivo) * 9 / 10);
        EXPECT_LT(c.stopSeconds, kStopBoundSeconds);
    }
}

// Transport-stream recordings (MPEG-2 or H.264 video; AC-3, AAC or MPEG audio) convert too;
// check-outputs.sh compares each NAME.ts.mpg with its NAME.ts stream by stream.
TEST_F(ConversionTest, EveryTransportStreamConvertsToCompletion) {
    std::vector<std::string> streams = MaterialStreams("*.ts");
    ASSERT_GE(streams.size(), 5u) << "no transport streams in " << MaterialDir();
    CreateDirectoryA(Work("out").c_str(), nullptr);
    for (const std::string& name : streams) {
        SCOPED_TRACE(name);
        std::string tivo = Tivo(name);
        ASSERT_FALSE(tivo.empty());
        std::string output = Work("out\\" + name + ".mpg");
        Conversion c = Convert(Widen(tivo), Widen(output));
        EXPECT_EQ(Step::None, c.failedStep) << std::hex << c.hr;
        EXPECT_EQ(EC_COMPLETE, c.completionCode);
        EXPECT_FALSE(c.timedOut);
        EXPECT_FALSE(c.HasEvent(EC_ERRORABORT));
        // A program stream spends fewer bytes on headers than 188-byte packets do.
        EXPECT_GT(FileSize(output), FileSize(tivo) * 8 / 10);
    }
}

TEST_F(ConversionTest, AnExistingOutputIsTruncated) {
    std::string tivo = Tivo("mp2.mpg");
    std::string output = Work("truncated.mpg");
    WriteFileBytes(output, std::vector<uint8_t>(64 << 20, 0x55));
    Conversion c = Convert(Widen(tivo), Widen(output));
    ASSERT_EQ(Step::None, c.failedStep);
    EXPECT_EQ(EC_COMPLETE, c.completionCode);
    EXPECT_LT(FileSize(output), FileSize(tivo) + (1 << 20));
    std::vector<uint8_t> head = ReadFileBytes(output);
    ASSERT_GE(head.size(), 4u);
    EXPECT_EQ(0xBA, head[3]);  // a pack header, not the old bytes
}

// --- inputs the engine must refuse, each at the step whose text it shows -------------

TEST_F(ConversionTest, AFileThatIsNotTivoFailsToConnectSourceToDemultiplexer) {
    // Without check bytes AddSourceFilter falls back to File Source (Async.), whose pull pin
    // the demultiplexer refuses.
    std::string path = Work("plain.TiVo");
    WriteFileBytes(path, ReadFileBytes(MaterialDir() + "\\mp2.mpg"));
    Conversion c = Convert(Widen(path), Widen(Work("plain.mpg")));
    EXPECT_EQ(Step::SourceToDemux, c.failedStep);
    EXPECT_FALSE(FileExists(Work("plain.mpg")));
}

TEST_F(ConversionTest, BrokenTivoFilesFailToConnectSourceToDemultiplexer) {
    std::vector<uint8_t> mpeg = ReadFileBytes(MaterialDir() + "\\mp2.mpg");
    ASSERT_FALSE(mpeg.empty());
    std::vector<uint8_t> head = [] {
        std::vector<uint8_t> v;
        WriteTivo(Work("head.TiVo"), {});
        return ReadFileBytes(Work("head.TiVo"));
    }();

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"truncated_header", {'T', 'i', 'V', 'o', 0, 0, 0, 0x0D}});
    cases.push_back({"empty_payload", head});
    std::vector<uint8_t> garbage = head;
    for (int i = 0; i < (1 << 20); ++i)
        garbage.push_back(static_cast<uint8_t>((i * 7919u + (i >> 8) * 31u) ^ 0xA5));
    cases.push_back({"garbage_payload", garbage});
    // Scrambled: every PES packet of the video stream with its scrambling bits set.
    std::vector<uint8_t> scrambled = head;
    std::vector<uint8_t> payload = mpeg;
    for (size_t i = 0; i + 7 < payload.size(); ++i)
        if (payload[i] == 0 && payload[i + 1] == 0 && payload[i + 2] == 1 && payload[i + 3] == 0xE0)
            payload[i + 6] |= 0x30;
    scrambled.insert(scrambled.end(), payload.begin(), payload.end());
    cases.push_back({"scrambled_payload", scrambled});
    // An offset beyond the end of the file.
    std::vector<uint8_t> offset = head;
    offset[10] = 0x7F;
    cases.push_back({"offset_beyond_end", offset});

    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::string path = Work(std::string(k.name) + ".TiVo");
        std::string output = Work(std::string(k.name) + ".mpg");
        DeleteFileA(output.c_str());
        WriteFileBytes(path, k.bytes);
        Conversion c = Convert(Widen(path), Widen(output));
        EXPECT_EQ(Step::SourceToDemux, c.failedStep);
        EXPECT_EQ(E_FAIL, c.hr);
        EXPECT_EQ(4, c.filtersInGraphAfterFailure);
        EXPECT_FALSE(FileExists(output));
        EXPECT_EQ(0, LiveObjects().filters);
    }
}

// A transport stream without a single stream we can carry (here: no PAT or PMT at all, only
// packets of one unknown PID) fails at connection, as an unknown payload does.
TEST_F(ConversionTest, ATransportStreamWithNothingToCarryDoesNotConnect) {
    std::vector<uint8_t> bytes = media::BuildTivoHead(true);
    for (int i = 0; i < 2000; ++i) {
        uint8_t packet[188] = {0x47, 0x01, 0x00, static_cast<uint8_t>(0x10 | (i & 0x0F))};
        for (int j = 4; j < 188; ++j)
            packet[j] = 0xFF;
        bytes.insert(bytes.end(), packet, packet + 188);
    }
    std::string path = Work("transport.TiVo");
    WriteFileBytes(path, bytes);
    Conversion c = Convert(Widen(path), Widen(Work("transport.mpg")));
    EXPECT_EQ(Step::SourceToDemux, c.failedStep);
    EXPECT_EQ(E_FAIL, c.hr);
}

// Garbage in the middle of the stream is skipped; the rest converts.
TEST_F(ConversionTest, ADamagedStretchIsSkipped) {
    std::vector<uint8_t> payload = ReadFileBytes(MaterialDir() + "\\mp2.mpg");
    ASSERT_GT(payload.size(), 100000u);
    std::vector<uint8_t> garbage(30000);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<uint8_t>(i * 13 + 7);
    payload.insert(payload.begin() + payload.size() / 2, garbage.begin(), garbage.end());
    std::string tivo = Work("damaged.TiVo");
    WriteTivo(tivo, payload);
    Conversion c = Convert(Widen(tivo), Widen(Work("damaged.mpg")));
    ASSERT_EQ(Step::None, c.failedStep);
    EXPECT_EQ(EC_COMPLETE, c.completionCode);
    EXPECT_FALSE(c.HasEvent(EC_ERRORABORT));
    EXPECT_GT(FileSize(Work("damaged.mpg")), (payload.size() - garbage.size()) * 8 / 10);
    EXPECT_LT(FileSize(Work("damaged.mpg")), payload.size() - garbage.size() / 2);
}

TEST_F(ConversionTest, AMissingFileFailsToCreateTheSource) {
    Conversion c = Convert(Widen(Work("no such file.TiVo")), Widen(Work("missing.mpg")));
    EXPECT_EQ(Step::AddSource, c.failedStep);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), c.hr);
}

// A write failure ends the graph with EC_ERRORABORT in the queue and still completes, so a
// WaitForCompletion loop ends and the engine can tell the failure from the events.
TEST_F(ConversionTest, AMissingOutputFolderAbortsAndCompletes) {
    std::string tivo = Tivo("mp2.mpg");
    Conversion c = Convert(Widen(tivo), Widen(Work("no such folder\\out.mpg")));
    ASSERT_EQ(Step::None, c.failedStep);
    EXPECT_FALSE(c.timedOut);
    EXPECT_EQ(EC_COMPLETE, c.completionCode);
    EXPECT_TRUE(c.HasEvent(EC_ERRORABORT));
}

TEST_F(ConversionTest, ALockedOutputFileAbortsAndCompletes) {
    std::string tivo = Tivo("mp2.mpg");
    std::string output = Work("locked.mpg");
    HANDLE lock =
        CreateFileA(output.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    Conversion c = Convert(Widen(tivo), Widen(output));
    CloseHandle(lock);
    ASSERT_EQ(Step::None, c.failedStep);
    EXPECT_FALSE(c.timedOut);
    EXPECT_EQ(EC_COMPLETE, c.completionCode);
    EXPECT_TRUE(c.HasEvent(EC_ERRORABORT));
    EXPECT_EQ(0u, FileSize(output));
}

// Scrambled packets past the stretch the source looks at when it loads: the graph still
// completes, with the failure in the event queue, instead of passing them on as video.
TEST_F(ConversionTest, ScrambledPacketsFoundWhileRunningAbortAndComplete) {
    std::vector<uint8_t> one = ReadFileBytes(MaterialDir() + "\\large_packets.mpg");
    ASSERT_FALSE(one.empty());
    std::vector<uint8_t> payload;
    while (payload.size() < (12u << 20))
        payload.insert(payload.end(), one.begin(), one.end());
    const size_t clean = payload.size();
    payload.insert(payload.end(), one.begin(), one.end());
    for (size_t i = clean; i + 7 < payload.size(); ++i)
        if (payload[i] == 0 && payload[i + 1] == 0 && payload[i + 2] == 1 && payload[i + 3] == 0xE0)
            payload[i + 6] |= 0x30;
    std::string tivo = Work("late_scrambled.TiVo");
    WriteTivo(tivo, payload);
    Conversion c = Convert(Widen(tivo), Widen(Work("late_scrambled.mpg")));
    ASSERT_EQ(Step::None, c.failedStep) << std::hex << c.hr;
    EXPECT_FALSE(c.timedOut);
    EXPECT_EQ(EC_COMPLETE, c.completionCode);
    ASSERT_TRUE(c.HasEvent(EC_ERRORABORT));
    for (size_t i = 0; i < c.events.size(); ++i) {
        if (c.events[i] == EC_ERRORABORT) {
            EXPECT_EQ(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A01),
                      static_cast<HRESULT>(c.eventParams[i]));
        }
    }
    EXPECT_LT(FileSize(Work("late_scrambled.mpg")), clean + (1u << 20));
}

// Stop at any moment: before the first sample, mid-stream, after the end. Each Stop returns
// without waiting for the stream (kStopBoundSeconds), and the next graph is built at once.
TEST_F(ConversionTest, StopAtAnyMomentIsPrompt) {
    // A longer stream: the material concatenated (program streams concatenate).
    std::vector<uint8_t> one = ReadFileBytes(MaterialDir() + "\\large_packets.mpg");
    ASSERT_FALSE(one.empty());
    std::vector<uint8_t> payload;
    while (payload.size() < (48u << 20))
        payload.insert(payload.end(), one.begin(), one.end());
    std::string tivo = Work("long.TiVo");
    WriteTivo(tivo, payload);
    for (int stopAfter : {0, 1, 5, 20, 60, 150}) {
        SCOPED_TRACE(stopAfter);
        RunOptions options;
        options.stopAfterMs = stopAfter;
        Conversion c = Convert(Widen(tivo), Widen(Work("stopped.mpg")), options);
        ASSERT_EQ(Step::None, c.failedStep) << std::hex << c.hr;
        EXPECT_LT(c.stopSeconds, kStopBoundSeconds);
        EXPECT_EQ(0, TotalLive(LiveObjects()) - LiveObjects().classFactories);
    }
    // Paced (the tests' hook), the conversion is still running when Stop comes mid-stream,
    // with what came before it already written.
    RunOptions paced;
    paced.stopAfterMs = 1300;
    ASSERT_EQ(S_OK, SetSourcePacing(250));
    Conversion c = Convert(Widen(tivo), Widen(Work("stopped.mpg")), paced);
    ASSERT_EQ(Step::None, c.failedStep);
    EXPECT_EQ(0, c.completionCode);
    EXPECT_LT(c.stopSeconds, kStopBoundSeconds);
    EXPECT_GT(FileSize(Work("stopped.mpg")), 0u);  // written as it goes
    EXPECT_LT(FileSize(Work("stopped.mpg")), FileSize(tivo) / 4);
    // At 10 s a sample, only a Stop that ends the pacing wait returns within the bound.
    ASSERT_EQ(S_OK, SetSourcePacing(10000));
    c = Convert(Widen(tivo), Widen(Work("stopped.mpg")), paced);
    EXPECT_EQ(S_OK, SetSourcePacing(0));
    ASSERT_EQ(Step::None, c.failedStep);
    EXPECT_EQ(0, c.completionCode);
    EXPECT_LT(c.stopSeconds, kStopBoundSeconds);
    EXPECT_EQ(E_INVALIDARG, SetSourcePacing(10001));

    Conversion done = Convert(Widen(tivo), Widen(Work("stopped.mpg")));
    EXPECT_EQ(EC_COMPLETE, done.completionCode);
    EXPECT_LT(done.stopSeconds, kStopBoundSeconds);
    EXPECT_EQ(FileSize(tivo) - 16 < FileSize(Work("stopped.mpg")) + (4 << 20), true);
}

}  // namespace
}  // namespace korvane::test
