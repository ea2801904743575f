// Payloads at the edges of what the filter pack meets: a few bytes, one stream kind only,
// video packets whose length field is 0. Each ends without a crash or a hang, in a result the
// engine can report, and leaves no object behind.
#include <gtest/gtest.h>

#include <evcode.h>

#include <functional>

#include "GraphSupport.h"

namespace korvane::test {
namespace {

class OddInputTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override {
        EXPECT_EQ(0, TotalLive(LiveObjects()) - LiveObjects().classFactories);
        CoUninitialize();
    }
    static std::string Work(const std::string& name) { return WorkDir() + "\\" + name; }

    // Converts payload wrapped as .TiVo; returns the run and leaves the output's path in *output.
    static Conversion ConvertPayload(const std::string& name, const std::vector<uint8_t>& payload,
                                     std::string* output) {
        const std::string tivo = Work(name + ".TiVo");
        *output = Work(name + ".mpg");
        DeleteFileA(output->c_str());
        WriteTivo(tivo, payload);
        RunOptions options;
        options.timeoutMs = 30000;
        return Convert(Widen(tivo), Widen(*output), options);
    }
};

// One unit of a program stream: a pack header, a system header, a PES packet or an end code.
struct Unit {
    size_t offset;
    size_t size;
    uint8_t code;
};

// Splits an MPEG-2 program stream into its units; stops at the first byte that is not one.
std::vector<Unit> SplitUnits(const std::vector<uint8_t>& ps) {
    std::vector<Unit> units;
    size_t at = 0;
    while (at + 6 <= ps.size() && ps[at] == 0 && ps[at + 1] == 0 && ps[at + 2] == 1) {
        const uint8_t code = ps[at + 3];
        size_t size;
        if (code == 0xBA)
            size = (ps[at + 4] & 0xC0) == 0x40 ? 14 + (ps[at + 13] & 0x07) : 12;
        else if (code == 0xB9)
            size = 4;
        else
            size = 6 + (static_cast<size_t>(ps[at + 4]) << 8 | ps[at + 5]);
        if (at + size > ps.size()) break;
        units.push_back({at, size, code});
        at += size;
    }
    return units;
}

bool IsVideo(uint8_t code) {
    return code >= 0xE0 && code <= 0xEF;
}
bool IsAudio(uint8_t code) {
    return (code >= 0xC0 && code <= 0xDF) || code == 0xBD;
}

std::vector<uint8_t> KeepUnits(const std::vector<uint8_t>& ps, const std::function<bool(uint8_t)>& keep) {
    std::vector<uint8_t> out;
    for (const Unit& u : SplitUnits(ps))
        if (keep(u.code)) out.insert(out.end(), ps.begin() + u.offset, ps.begin() + u.offset + u.size);
    return out;
}

std::vector<uint8_t> Material() {
    std::vector<uint8_t> mpeg = ReadFileBytes(MaterialDir() + "\\mp2.mpg");
    const std::vector<Unit> units = SplitUnits(mpeg);
    // The walk must cover the file, or the cases below would test less than they say.
    if (units.empty() || units.back().offset + units.back().size + 4 < mpeg.size()) return {};
    return mpeg;
}

TEST_F(OddInputTest, AnAudioOnlyStreamConverts) {
    std::vector<uint8_t> mpeg = Material();
    ASSERT_FALSE(mpeg.empty());
    std::vector<uint8_t> audio = KeepUnits(mpeg, [](uint8_t code) { return !IsVideo(code); });
    ASSERT_LT(audio.size(), mpeg.size() / 2);
    std::string output;
    Conversion c = ConvertPayload("audio_only", audio, &output);
    ASSERT_EQ(Step::None, c.failedStep) << std::hex << c.hr;
    EXPECT_FALSE(c.timedOut);
    EXPECT_EQ(EC_COMPLETE, c.completionCode);
    EXPECT_FALSE(c.HasEvent(EC_ERRORABORT));
    std::vector<uint8_t> written = ReadFileBytes(output);
    EXPECT_GT(written.size(), audio.size() / 2);
    for (const Unit& u : SplitUnits(written))
        EXPECT_FALSE(IsVideo(u.code));
}

TEST_F(OddInputTest, AVideoOnlyStreamConverts) {
    std::vector<uint8_t> mpeg = Material();
    ASSERT_FALSE(mpeg.empty());
    std::vector<uint8_t> video = KeepUnits(mpeg, [](uint8_t code) { return !IsAudio(code); });
    ASSERT_LT(video.size(), mpeg.size());
    std::string output;
    Conversion c = ConvertPayload("video_only", video, &output);
    ASSERT_EQ(Step::None, c.failedStep) << std::hex << c.hr;
    EXPECT_FALSE(c.timedOut);
    EXPECT_EQ(EC_COMPLETE, c.completionCode);
    EXPECT_FALSE(c.HasEvent(EC_ERRORABORT));
    std::vector<uint8_t> written = ReadFileBytes(output);
    EXPECT_GT(written.size(), video.size() * 9 / 10);
    for (const Unit& u : SplitUnits(written))
        EXPECT_FALSE(IsAudio(u.code));
}

// Payloads of a few bytes: nothing in them names a stream, so the source offers no type and
// the engine's "Failed to connect Source to DeMuxer!" follows; no output file is made.
TEST_F(OddInputTest, APayloadOfAFewBytesFailsToConnect) {
    std::vector<uint8_t> mpeg = Material();
    ASSERT_FALSE(mpeg.empty());
    const std::vector<std::vector<uint8_t>> payloads = {
        {0x00},
        {0x00, 0x00, 0x01},
        {0x00, 0x00, 0x01, 0xBA},
        std::vector<uint8_t>(mpeg.begin(), mpeg.begin() + 14),  // one pack header
        {0x00, 0x00, 0x01, 0xB9},                               // an end code alone
    };
    for (size_t i = 0; i < payloads.size(); ++i) {
        SCOPED_TRACE(i);
        std::string output;
        Conversion c = ConvertPayload("few_bytes_" + std::to_string(i), payloads[i], &output);
        EXPECT_EQ(Step::SourceToDemux, c.failedStep);
        EXPECT_EQ(E_FAIL, c.hr);
        EXPECT_FALSE(FileExists(output));
        EXPECT_EQ(0, LiveObjects().filters);
    }
}

// The smallest stream that names one: a pack header and a single short audio packet. It
// converts to completion.
TEST_F(OddInputTest, ASingleShortPacketConverts) {
    std::vector<uint8_t> mpeg = Material();
    ASSERT_FALSE(mpeg.empty());
    std::vector<uint8_t> payload;
    bool packHeader = false;
    for (const Unit& u : SplitUnits(mpeg)) {
        if (u.code == 0xBA && !packHeader) {
            payload.insert(payload.end(), mpeg.begin() + u.offset, mpeg.begin() + u.offset + u.size);
            packHeader = true;
        } else if (packHeader && u.code == 0xC0) {
            payload.insert(payload.end(), mpeg.begin() + u.offset, mpeg.begin() + u.offset + u.size);
            break;
        }
    }
    ASSERT_GT(payload.size(), 20u);
    std::string output;
    Conversion c = ConvertPayload("single_packet", payload, &output);
    ASSERT_EQ(Step::None, c.failedStep) << std::hex << c.hr;
    EXPECT_FALSE(c.timedOut);
    EXPECT_EQ(EC_COMPLETE, c.completionCode);
    EXPECT_FALSE(c.HasEvent(EC_ERRORABORT));
    EXPECT_GT(FileSize(output), 0u);
}

// A PES length of 0 (allowed for video in transport streams only) cannot be delimited in a
// program stream: those packets are skipped as damage and the audio still converts.
TEST_F(OddInputTest, VideoPacketsOfLengthZeroNeitherCrashNorHang) {
    std::vector<uint8_t> mpeg = Material();
    ASSERT_FALSE(mpeg.empty());
    std::vector<uint8_t> payload = mpeg;
    size_t zeroed = 0;
    for (const Unit& u : SplitUnits(mpeg)) {
        if (IsVideo(u.code)) {
            payload[u.offset + 4] = 0;
            payload[u.offset + 5] = 0;
            ++zeroed;
        }
    }
    ASSERT_GT(zeroed, 10u);
    std::string output;
    Conversion c = ConvertPayload("pes_length_zero", payload, &output);
    ASSERT_EQ(Step::None, c.failedStep) << std::hex << c.hr;
    EXPECT_FALSE(c.timedOut);
    EXPECT_EQ(EC_COMPLETE, c.completionCode);
    EXPECT_FALSE(c.HasEvent(EC_ERRORABORT));
    EXPECT_GT(FileSize(output), 0u);
}

// Stopping a graph whose streams are about to end (a tiny audio-only file) is as prompt as
// any other, and leaves nothing behind.
TEST_F(OddInputTest, StoppingASmallAudioOnlyGraphAtOnceIsPrompt) {
    std::vector<uint8_t> mpeg = Material();
    ASSERT_FALSE(mpeg.empty());
    std::vector<uint8_t> audio = KeepUnits(mpeg, [](uint8_t code) { return !IsVideo(code); });
    const std::string tivo = Work("audio_only_stop.TiVo");
    WriteTivo(tivo, audio);
    for (int stopAfter : {0, 1, 3}) {
        SCOPED_TRACE(stopAfter);
        RunOptions options;
        options.stopAfterMs = stopAfter;
        Conversion c = Convert(Widen(tivo), Widen(Work("audio_only_stop.mpg")), options);
        ASSERT_EQ(Step::None, c.failedStep) << std::hex << c.hr;
        EXPECT_LT(c.stopSeconds, kStopBoundSeconds);
    }
}

}  // namespace
}  // namespace korvane::test
