// Conversions whose output spans many of the multiplexer's 1 MiB samples, or ends in a small
// one, read back whole and compared with their input stream by stream: every elementary byte
// and every timestamp, nothing counted as damage, the end code last. A byte lost or repeated
// at any sample boundary between the filters shows here, in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include <evcode.h>

#include "GraphSupport.h"
#include "media/Io.h"
#include "media/ProgramStreamReader.h"
#include "media/Remux.h"

namespace korvane::test {
namespace {

// One elementary stream as a program stream holds it.
struct Elementary {
    std::vector<uint8_t> bytes;
    std::vector<std::string> times;  // per packet: PTS and DTS, a DTS equal to the PTS left out
};

struct Contents {
    std::map<media::StreamKey, Elementary> streams;
    media::ReaderStats stats;
};

class ContentsCollector final : public media::PacketHandler {
public:
    explicit ContentsCollector(Contents* contents) : m_contents(contents) {}
    bool OnPacket(const media::PesPacket& p) override {
        Elementary& e = m_contents->streams[p.key];
        e.bytes.insert(e.bytes.end(), p.payload, p.payload + p.payloadSize);
        std::string time = p.hasPts ? std::to_string(p.pts) : "-";
        if (p.hasDts && p.dts != p.pts) time += "/" + std::to_string(p.dts);
        e.times.push_back(time);
        return true;
    }

private:
    Contents* m_contents;
};

Contents Read(const std::vector<uint8_t>& ps) {
    Contents contents;
    ContentsCollector collector(&contents);
    media::ProgramStreamReader reader;
    reader.Feed(ps.data(), ps.size(), collector);
    reader.Finish(collector);
    contents.stats = reader.Stats();
    return contents;
}

// Empty when the output holds exactly the input's elementary streams and ends as it should;
// otherwise what differs first.
std::string Difference(const std::vector<uint8_t>& input, const std::vector<uint8_t>& output) {
    if (output.size() < 4 ||
        !std::equal(output.end() - 4, output.end(), std::vector<uint8_t>{0, 0, 1, 0xB9}.begin()))
        return "the output does not end with the program end code";
    const Contents in = Read(input), out = Read(output);
    if (out.stats.damageEvents != 0 || out.stats.endCodes != 1)
        return std::to_string(out.stats.damageEvents) + " damaged stretches and " +
               std::to_string(out.stats.endCodes) + " end codes in the output";
    if (in.streams.size() != out.streams.size())
        return std::to_string(out.streams.size()) + " streams instead of " +
               std::to_string(in.streams.size());
    for (const auto& [key, a] : in.streams) {
        const std::string name =
            "stream " + std::to_string(key.streamId) + "." + std::to_string(key.substreamId);
        auto found = out.streams.find(key);
        if (found == out.streams.end()) return name + " is missing";
        const Elementary& b = found->second;
        if (a.bytes != b.bytes) {
            size_t at = std::mismatch(a.bytes.begin(), a.bytes.end(), b.bytes.begin(), b.bytes.end()).first -
                        a.bytes.begin();
            return name + ": " + std::to_string(b.bytes.size()) + " bytes instead of " +
                   std::to_string(a.bytes.size()) + ", first difference at " + std::to_string(at);
        }
        if (a.times != b.times) return name + ": packet timestamps differ";
    }
    return "";
}

// The material stream repeated (program streams concatenate) to at least the given size.
std::vector<uint8_t> Repeated(const std::string& materialName, size_t atLeast) {
    const std::vector<uint8_t> one = ReadFileBytes(MaterialDir() + "\\" + materialName);
    std::vector<uint8_t> all;
    while (!one.empty() && all.size() < atLeast)
        all.insert(all.end(), one.begin(), one.end());
    return all;
}

// Total bytes the multiplexer's writer makes of a payload: the same whatever order the
// packets arrive in, so the media code's own remultiplexing tells it beforehand.
uint64_t RemuxedSize(const std::vector<uint8_t>& payload) {
    struct Counter final : media::ByteSink {
        bool Write(const uint8_t*, size_t size) override {
            bytes += size;
            return true;
        }
        uint64_t bytes = 0;
    } counter;
    media::MemoryByteSource source(payload.data(), payload.size());
    std::string error;
    EXPECT_TRUE(media::RemuxProgramStream(source, 0, counter, nullptr, &error)) << error;
    return counter.bytes;
}

class WholeOutputTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override {
        EXPECT_EQ(0, TotalLive(LiveObjects()) - LiveObjects().classFactories);
        CoUninitialize();
    }

    // Converts the payload wrapped as .TiVo and returns the output's bytes.
    static std::vector<uint8_t> Converted(const std::string& name, const std::vector<uint8_t>& payload) {
        const std::string tivo = WorkDir() + "\\" + name + ".TiVo", output = WorkDir() + "\\" + name + ".mpg";
        WriteTivo(tivo, payload);
        Conversion c = Convert(Widen(tivo), Widen(output));
        EXPECT_EQ(Step::None, c.failedStep) << std::hex << c.hr;
        EXPECT_EQ(EC_COMPLETE, c.completionCode);
        EXPECT_FALSE(c.HasEvent(EC_ERRORABORT));
        std::vector<uint8_t> bytes = ReadFileBytes(output);
        DeleteFileA(tivo.c_str());
        DeleteFileA(output.c_str());
        return bytes;
    }
};

// 15000-byte packs: the source's 256 KiB samples split one at ever different places, so the
// demultiplexer reassembles a packet at almost every sample boundary; the output spans about
// thirty of the multiplexer's samples, each lent to the file dump.
TEST_F(WholeOutputTest, ManySamplesAtEveryHopComeOutWhole) {
    const std::vector<uint8_t> payload = Repeated("large_packets.mpg", 32u << 20);
    ASSERT_GT(payload.size(), 32u << 20);
    const std::vector<uint8_t> output = Converted("many_samples", payload);
    EXPECT_GT(output.size(), 30u << 20);
    EXPECT_EQ(Difference(payload, output), "");
}

// The first packs of a program stream, without a padding packet at the end: then the last
// byte of the input belongs to a PES packet, which the demultiplexer completes only at the end
// of the stream. Every pack of the stream must be packBytes long.
std::vector<uint8_t> FirstPacks(const std::vector<uint8_t>& ps, size_t packs, size_t packBytes) {
    std::vector<uint8_t> cut(ps.begin(), ps.begin() + packs * packBytes);
    for (size_t at = (packs - 1) * packBytes; at + 6 <= cut.size();) {
        const uint8_t code = cut[at + 3];
        const size_t size =
            code == 0xBA ? 14 + (cut[at + 13] & 7) : 6 + (size_t(cut[at + 4]) << 8 | cut[at + 5]);
        if (code == 0xBE && at + size == cut.size()) cut.resize(at);
        at += size;
    }
    return cut;
}

// Past the first 1 MiB sample, the writer's last few kilobytes go out through the sample the
// multiplexer fills by copying (it lends only writes of 64 KiB or more).
TEST_F(WholeOutputTest, ALastSampleOfAFewKilobytesIsKept) {
    // mp2.mpg's packs are 2048 bytes: cut the repeated stream after the pack that makes the
    // output 8 to 40 KiB longer than one sample.
    const std::vector<uint8_t> all = Repeated("mp2.mpg", 2u << 20);
    const uint64_t target = (1u << 20) + (24u << 10);
    size_t packs = static_cast<size_t>(target / 2048);
    std::vector<uint8_t> payload;
    uint64_t size = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        payload = FirstPacks(all, packs, 2048);
        size = RemuxedSize(payload);
        if (size >= (1u << 20) + (8u << 10) && size <= (1u << 20) + (40u << 10)) break;
        const int64_t shortBy = static_cast<int64_t>(target) - static_cast<int64_t>(size);
        packs = static_cast<size_t>(static_cast<int64_t>(packs) + shortBy / 2048);
    }
    ASSERT_GE(size, (1u << 20) + (8u << 10)) << "no cut gives the output the length this case needs";
    ASSERT_LE(size, (1u << 20) + (40u << 10)) << "no cut gives the output the length this case needs";
    const std::vector<uint8_t> output = Converted("small_last_sample", payload);
    EXPECT_EQ(output.size(), size);
    EXPECT_EQ(Difference(payload, output), "");
}

}  // namespace
}  // namespace korvane::test
