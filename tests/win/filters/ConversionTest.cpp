// The filter pack inside Wine's filter graph manager, driven the way the program's engine
// drives it: payloads at the edges of what the pack meets (read back whole, stream by
// stream), and payloads it must refuse at connection. Every recording of the test material
// goes through the engine and the pack in the engine's EndToEndTest.
#include <algorithm>
#include <functional>
#include <map>

#include "GraphSupport.h"
#include "media/Io.h"
#include "media/ProgramStreamReader.h"
#include "media/Remux.h"
#include "media/TivoWriter.h"

namespace korvane::test {
namespace {

using ConversionTest = PackTest;
using Bytes = std::vector<uint8_t>;

Bytes Tivo(const Bytes& payload, bool transportStream = false) {
    Bytes bytes = media::BuildTivoHead(transportStream);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

// One unit of a program stream: a pack header, a system header, a PES packet or an end code.
struct Unit {
    size_t offset, size;
    uint8_t code;
};

// Stops at the first byte that does not start a unit.
std::vector<Unit> SplitUnits(const Bytes& ps) {
    std::vector<Unit> units;
    for (size_t at = 0, size; at + 6 <= ps.size() && ps[at] == 0 && ps[at + 1] == 0 && ps[at + 2] == 1;
         at += size) {
        const uint8_t code = ps[at + 3];
        if (code == 0xBA)
            size = at + 14 <= ps.size() ? 14 + (ps[at + 13] & 0x07) : 14;
        else
            size = code == 0xB9 ? 4 : 6 + (size_t(ps[at + 4]) << 8 | ps[at + 5]);
        if (at + size > ps.size()) break;
        units.push_back({at, size, code});
    }
    return units;
}

Bytes KeepUnits(const Bytes& ps, const std::function<bool(const Unit&)>& keep) {
    Bytes out;
    for (const Unit& u : SplitUnits(ps))
        if (keep(u)) out.insert(out.end(), ps.begin() + u.offset, ps.begin() + u.offset + u.size);
    return out;
}

bool IsVideo(uint8_t code) {
    return code >= 0xE0 && code <= 0xEF;
}

// Every elementary stream's bytes, and per packet its PTS and DTS (a DTS equal to the PTS left out).
struct Contents {
    std::map<media::StreamKey, std::pair<Bytes, std::vector<std::string>>> streams;
    media::ReaderStats stats;
};

Contents Read(const Bytes& ps) {
    struct Collector final : media::PacketHandler {
        Contents contents;
        bool OnPacket(const media::PesPacket& p) override {
            auto& [bytes, times] = contents.streams[p.key];
            bytes.insert(bytes.end(), p.payload, p.payload + p.payloadSize);
            std::string time = p.hasPts ? std::to_string(p.pts) : "-";
            if (p.hasDts && p.dts != p.pts) time += "/" + std::to_string(p.dts);
            times.push_back(time);
            return true;
        }
    } collector;
    media::ProgramStreamReader reader;
    reader.Feed(ps.data(), ps.size(), collector);
    reader.Finish(collector);
    collector.contents.stats = reader.Stats();
    return collector.contents;
}

// The output holds exactly the input's elementary streams and ends as it should.
void ExpectWhole(const Bytes& input, const Bytes& output) {
    ASSERT_GE(output.size(), 4u);
    EXPECT_EQ((Bytes{0, 0, 1, 0xB9}), Bytes(output.end() - 4, output.end())) << "the program end code";
    const Contents in = Read(input), out = Read(output);
    EXPECT_EQ(0u, out.stats.damageEvents);
    EXPECT_EQ(1u, out.stats.endCodes);
    EXPECT_EQ(in.streams.size(), out.streams.size());
    EXPECT_TRUE(in.streams == out.streams) << "elementary bytes or packet timestamps differ";
}

// The first packs of mp2.mpg (2048 bytes each) repeated, cut so that the multiplexer's output
// ends 8 to 40 KiB past its first 1 MiB sample: that last stretch goes out through the sample
// it fills by copying (it lends only writes of 64 KiB or more). A padding packet that would
// end the cut goes, so that the last input byte belongs to a PES packet, which the
// demultiplexer completes only at the end of the stream.
Bytes JustPastOneOutputSample(const Bytes& mpeg) {
    Bytes all;
    while (all.size() < (2u << 20))
        all.insert(all.end(), mpeg.begin(), mpeg.end());
    for (size_t packs = 480; packs < 1000; packs += 4) {
        Bytes cut(all.begin(), all.begin() + packs * 2048);
        if (SplitUnits(cut).back().code == 0xBE) cut.resize(SplitUnits(cut).back().offset);
        struct Counter final : media::ByteSink {
            uint64_t bytes = 0;
            bool Write(const uint8_t*, size_t size) override {
                bytes += size;
                return true;
            }
        } counter;
        media::MemoryByteSource source(cut.data(), cut.size());
        std::string error;
        EXPECT_TRUE(media::RemuxProgramStream(source, 0, counter, nullptr, &error)) << error;
        if (counter.bytes < (1u << 20) + (8u << 10)) continue;
        EXPECT_LE(counter.bytes, (1u << 20) + (40u << 10))
            << "no cut gives the output the length this case needs";
        return cut;
    }
    return {};
}

// Each payload converts to completion, into an output file that held other bytes before, and
// comes out with exactly its elementary streams: a byte lost or repeated at a sample boundary
// between the filters, or an old byte left behind, shows here.
TEST_F(ConversionTest, OddPayloadsConvertWhole) {
    const Bytes mpeg = ReadFileBytes(MaterialDir() + "\\mp2.mpg");
    const std::vector<Unit> units = SplitUnits(mpeg);
    // The walk must cover the file, or the cases below would test less than they say.
    ASSERT_TRUE(!units.empty() && units.back().offset + units.back().size + 4 >= mpeg.size());
    Bytes damaged = mpeg, zeroVideoLengths = mpeg;
    Bytes garbage(30000);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<uint8_t>(i * 13 + 7);
    damaged.insert(damaged.begin() + damaged.size() / 2, garbage.begin(), garbage.end());
    // A PES length of 0 (allowed for video in transport streams only) cannot be delimited in
    // a program stream: those packets go as damage, the audio still converts.
    for (const Unit& u : units)
        if (IsVideo(u.code)) zeroVideoLengths[u.offset + 4] = zeroVideoLengths[u.offset + 5] = 0;
    const size_t firstAudio =
        std::find_if(units.begin(), units.end(), [](const Unit& u) { return u.code == 0xC0; }) -
        units.begin();
    const struct {
        const char* name;
        Bytes payload;
    } cases[] = {
        {"audio_only", KeepUnits(mpeg, [](const Unit& u) { return !IsVideo(u.code); })},
        {"video_only", KeepUnits(mpeg, [](const Unit& u) { return IsVideo(u.code) || u.code < 0xBD; })},
        {"single_short_packet",
         KeepUnits(mpeg,
                   [&](const Unit& u) { return u.offset == 0 || u.offset == units[firstAudio].offset; })},
        {"damaged_stretch", damaged},
        {"pes_length_zero", zeroVideoLengths},
        {"just_past_one_output_sample", JustPastOneOutputSample(mpeg)},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string tivo = m_scratch.Path(std::string(k.name) + ".TiVo");
        const std::string output = m_scratch.Path(std::string(k.name) + ".mpg");
        WriteFileBytes(tivo, Tivo(k.payload));
        WriteFileBytes(output, Bytes(4u << 20, 0x55));
        EXPECT_EQ("", Convert(tivo, output));
        ExpectWhole(k.payload, ReadFileBytes(output));
    }
    // Clear recordings never need the crypto libraries, whose back ends cost every process
    // that loads them several MiB under Wine: the pack loads them on first use only.
    EXPECT_EQ(nullptr, GetModuleHandleW(L"bcrypt.dll"));
    EXPECT_EQ(nullptr, GetModuleHandleW(L"crypt32.dll"));
}

// Nothing in these names a stream the pack can carry, so the source offers no type and the
// engine's "Failed to connect Source to DeMuxer!" follows; no output file is made.
TEST_F(ConversionTest, PayloadsWithoutAStreamFailToConnect) {
    const Bytes mpeg = ReadFileBytes(MaterialDir() + "\\mp2.mpg");
    ASSERT_GT(mpeg.size(), 14u);
    Bytes garbage(1 << 20), scrambled = mpeg, offsetBeyondEnd = Tivo({}), nothingToCarry;
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<uint8_t>((i * 7919u + (i >> 8) * 31u) ^ 0xA5);
    for (size_t i = 0; i + 7 < scrambled.size(); ++i)
        if (scrambled[i] == 0 && scrambled[i + 1] == 0 && scrambled[i + 2] == 1 && scrambled[i + 3] == 0xE0)
            scrambled[i + 6] |= 0x30;  // the PES scrambling bits, with no key to undo them
    offsetBeyondEnd[10] = 0x7F;
    // A transport stream without PAT or PMT: packets of one unknown PID only.
    for (int i = 0; i < 2000; ++i) {
        uint8_t packet[188] = {0x47, 0x01, 0x00, static_cast<uint8_t>(0x10 | (i & 0x0F))};
        std::fill(packet + 4, packet + 188, 0xFF);
        nothingToCarry.insert(nothingToCarry.end(), packet, packet + 188);
    }
    const struct {
        const char* name;
        Bytes file;
    } cases[] = {
        {"truncated_header", {'T', 'i', 'V', 'o', 0, 0, 0, 0x0D}},
        {"empty_payload", Tivo({})},
        {"offset_beyond_end", offsetBeyondEnd},
        {"garbage", Tivo(garbage)},
        {"scrambled", Tivo(scrambled)},
        {"one_byte", Tivo({0x00})},
        {"a_start_code_prefix", Tivo({0x00, 0x00, 0x01})},
        {"a_pack_start_code", Tivo({0x00, 0x00, 0x01, 0xBA})},
        {"one_pack_header", Tivo(Bytes(mpeg.begin(), mpeg.begin() + 14))},
        {"an_end_code", Tivo({0x00, 0x00, 0x01, 0xB9})},
        {"transport_stream_without_tables", Tivo(nothingToCarry, true)},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string tivo = m_scratch.Path(std::string(k.name) + ".TiVo");
        const std::string output = m_scratch.Path(std::string(k.name) + ".mpg");
        WriteFileBytes(tivo, k.file);
        EXPECT_EQ("Failed to connect Source to DeMuxer!", Convert(tivo, output));
        EXPECT_FALSE(FileExists(output));
    }
}

}  // namespace
}  // namespace korvane::test
