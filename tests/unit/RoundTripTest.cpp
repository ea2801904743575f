// Round trips of the ffmpeg-made material: wrap in .TiVo, probe, demultiplex and multiplex
// again, then let ffprobe and ffmpeg judge the result against the original.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include <unistd.h>

#include "media/ProgramStreamReader.h"
#include "media/Remux.h"
#include "media/StreamProbe.h"
#include "media/TivoContainer.h"
#include "media/TivoWriter.h"

using namespace korvane::media;

namespace {

std::string Material(const std::string& name) {
    const char* dir = std::getenv("KORVANE_MATERIAL");
    return std::string(dir ? dir : "material") + "/" + name;
}

// Files in a folder of this process's own: other build trees on the machine run this test
// at the same time, and shared names let one run delete another's files.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = ::testing::TempDir() + "korvane_rt_XXXXXX";
        m_path = mkdtemp(&pattern[0]) ? pattern : "";
    }
    ~TempFolder() {
        if (!m_path.empty())
            rmdir(m_path.c_str());  // the tests remove their files; an unexpected one keeps it
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

std::string Temp(const std::string& name) {
    static const TempFolder folder;
    if (folder.Path().empty()) ADD_FAILURE() << "no temporary folder could be made";
    return folder.Path() + "/" + name;
}

std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return "popen failed";
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// ffprobe's packets (pts, dts, size) per stream, in each stream's own order.
std::map<std::string, std::vector<std::string>> PacketsByStream(const std::string& file) {
    std::map<std::string, std::vector<std::string>> byStream;
    for (const std::string& line : Lines(Shell(
             "ffprobe -v error -show_entries packet=stream_index,pts,dts,size -of csv=p=0 '" + file + "'"))) {
        auto comma = line.find(',');
        byStream[line.substr(0, comma)].push_back(line.substr(comma + 1));
    }
    return byStream;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

class RoundTrip : public ::testing::TestWithParam<const char*> {};

// The clock reference of every pack comes before the decode time of what it carries, and
// never goes back.
struct ClockCheck final : PacketHandler {
    int64_t lastScr = -1;
    int late = 0, backwards = 0;
    bool OnPacket(const PesPacket& p) override {
        if (p.scrBase < lastScr) ++backwards;
        lastScr = p.scrBase;
        if (p.hasPts && p.scrBase > (p.hasDts ? p.dts : p.pts)) ++late;
        return true;
    }
};

}  // namespace

TEST_P(RoundTrip, SameStreamsPayloadsAndTimestamps) {
    std::string name = GetParam();
    std::string input = Material(name), tivo = Temp(name + ".TiVo"), output = Temp(name + ".out.mpg");
    std::string error;
    ASSERT_TRUE(WrapMpegInTivo(input, tivo, &error)) << error;

    TivoFile file;
    ASSERT_EQ(ParseTivoFile(tivo, &file, &error), TivoStatus::Ok) << error;
    EXPECT_EQ(file.payloadKind, PayloadKind::ProgramStream);
    EXPECT_FALSE(file.scrambled);

    RemuxStats stats;
    ASSERT_TRUE(RemuxFile(tivo, output, &stats, &error)) << error;
    EXPECT_EQ(stats.reader.damageEvents, 0u);
    EXPECT_EQ(stats.droppedPackets, 0u);
    EXPECT_EQ(stats.streams, file.probe.streams.size());

    std::string streams = "ffprobe -v error -show_entries stream=index,id,codec_name,channels -of csv=p=0 ";
    std::string before = Shell(streams + "'" + input + "'"), after = Shell(streams + "'" + output + "'");
    EXPECT_EQ(after, before);
    EXPECT_EQ(Lines(before).size(), file.probe.streams.size()) << before;
    // One MD5 per elementary stream, over its payload bytes.
    std::string hashes = "ffmpeg -v error -i '%s' -map 0 -c copy -f streamhash -hash md5 -";
    auto hashOf = [&](const std::string& f) {
        std::string c = hashes;
        return Shell(c.replace(c.find("%s"), 2, f));
    };
    std::string hashBefore = hashOf(input);
    EXPECT_EQ(hashOf(output), hashBefore);
    EXPECT_EQ(Lines(hashBefore).size(), file.probe.streams.size()) << hashBefore;
    auto packetsBefore = PacketsByStream(input), packetsAfter = PacketsByStream(output);
    EXPECT_EQ(packetsAfter, packetsBefore);
    // ffmpeg has nothing new to complain about (ffmpeg's own two-MP2 stream repeats a DTS).
    auto complaints = [](const std::string& f) {
        return std::regex_replace(Shell("ffmpeg -v error -i '" + f + "' -map 0 -c copy -f null -"),
                                  std::regex("0x[0-9a-f]+"), "");
    };
    EXPECT_EQ(complaints(output), complaints(input));

    auto bytes = ReadFile(output);
    ClockCheck clock;
    ProgramStreamReader reader;
    reader.Feed(bytes.data(), bytes.size(), clock);
    reader.Finish(clock);
    EXPECT_EQ(clock.late, 0);
    EXPECT_EQ(clock.backwards, 0);
    std::remove(tivo.c_str());
    std::remove(output.c_str());
}

INSTANTIATE_TEST_SUITE_P(Material, RoundTrip,
                         ::testing::Values("mp2.mpg", "ac3.mpg", "two_audio.mpg", "two_mp2.mpg",
                                           "large_packets.mpg", "late_audio.mpg", "mpeg1.mpg"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string n = info.param;
                             return n.substr(0, n.find('.'));
                         });

// TiVo may write AC-3 straight after the PES header, without the DVD substream header that
// ffmpeg writes and expects. Such a stream (made here from ac3.mpg by dropping the four
// header bytes from every private stream 1 packet) must come out as the standard form with
// the very same AC-3 bytes.
TEST(RoundTripRawAc3, ComesOutWithASubstreamHeaderAndTheSameAudio) {
    auto in = ReadFile(Material("ac3.mpg"));
    std::vector<uint8_t> raw;
    for (size_t i = 0; i + 4 <= in.size();) {
        ASSERT_TRUE(in[i] == 0 && in[i + 1] == 0 && in[i + 2] == 1) << "unexpected layout at " << i;
        uint8_t code = in[i + 3];
        size_t length = code == 0xBA   ? 14 + (in[i + 13] & 7)
                        : code == 0xB9 ? 4
                                       : 6 + (size_t(in[i + 4]) << 8 | in[i + 5]);
        ASSERT_LE(i + length, in.size());
        if (code == 0xBD) {
            size_t header = 9 + in[i + 8];
            ASSERT_EQ(in[i + header], 0x80);
            size_t pesLength = length - 6 - 4;
            raw.insert(raw.end(), in.begin() + i, in.begin() + i + header);
            raw[raw.size() - header + 4] = static_cast<uint8_t>(pesLength >> 8);
            raw[raw.size() - header + 5] = static_cast<uint8_t>(pesLength);
            raw.insert(raw.end(), in.begin() + i + header + 4, in.begin() + i + length);
        } else {
            raw.insert(raw.end(), in.begin() + i, in.begin() + i + length);
        }
        i += length;
    }
    std::string rawPath = Temp("raw_ac3.mpg"), output = Temp("raw_ac3.out.mpg"), error;
    WriteFile(rawPath, raw);
    RemuxStats stats;
    ASSERT_TRUE(RemuxFile(rawPath, output, &stats, &error)) << error;
    EXPECT_EQ(stats.streams, 2u);
    std::string hashes = "ffmpeg -v error -i '%s' -map 0 -c copy -f streamhash -hash md5 -";
    auto hashOf = [&](const std::string& f) {
        std::string c = hashes;
        return Shell(c.replace(c.find("%s"), 2, f));
    };
    EXPECT_EQ(hashOf(output), hashOf(Material("ac3.mpg")));
    std::remove(rawPath.c_str());
    std::remove(output.c_str());
}

TEST(Probe, FindsAFirstAudioPacketThatComesLate) {
    auto bytes = ReadFile(Material("late_audio.mpg"));
    ASSERT_GT(bytes.size(), 300000u);
    ProbeResult early = ProbeProgramStream(bytes.data(), 64 * 1024);
    ASSERT_EQ(early.streams.size(), 1u) << "the material no longer starts with video alone";
    ProbeResult full = ProbeProgramStream(bytes.data(), std::min(bytes.size(), kDefaultProbeBytes));
    ASSERT_EQ(full.streams.size(), 2u);
    EXPECT_EQ(full.streams[0].kind, StreamKind::Video);
    EXPECT_EQ(full.streams[1].kind, StreamKind::MpegAudio);
    EXPECT_GT(full.streams[1].firstOffset, 64u * 1024u);
}

TEST(Remux, OutputDoesNotDependOnReadSizes) {
    std::string input = Material("two_audio.mpg");
    FileByteSource source;
    std::string error;
    ASSERT_TRUE(source.Open(input, &error)) << error;
    MemoryByteSink a, b;
    RemuxOptions small;
    small.readChunkBytes = 4093;
    ASSERT_TRUE(RemuxProgramStream(source, 0, a, nullptr, &error, small)) << error;
    ASSERT_TRUE(RemuxProgramStream(source, 0, b, nullptr, &error)) << error;
    EXPECT_EQ(a.Bytes(), b.Bytes());
}

TEST(Remux, SurvivesDamageAndRefusesAScrambledPayload) {
    auto bytes = ReadFile(Material("mp2.mpg"));
    // Garbage over the middle of a pack, and a cut-off end.
    std::vector<uint8_t> damaged = bytes;
    for (size_t i = 100000; i < 103000; ++i)
        damaged[i] = static_cast<uint8_t>(i * 31);
    damaged.resize(damaged.size() - 1000);
    std::string in = Temp("damaged.mpg"), out = Temp("damaged.out.mpg"), error;
    WriteFile(in, damaged);
    RemuxStats stats;
    ASSERT_TRUE(RemuxFile(in, out, &stats, &error)) << error;
    EXPECT_GE(stats.reader.damageEvents, 1u);
    EXPECT_GT(stats.reader.bytesSkipped, 2000u);
    EXPECT_EQ(
        Lines(Shell("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + out + "'")).size(),
        2u);

    // Scramble every PES packet from the middle on, past the probe window's reach of the start.
    std::vector<uint8_t> scrambled = bytes;
    for (size_t i = scrambled.size() / 2; i + 7 < scrambled.size(); ++i)
        if (scrambled[i] == 0 && scrambled[i + 1] == 0 && scrambled[i + 2] == 1 &&
            (scrambled[i + 3] == 0xE0 || scrambled[i + 3] == 0xC0))
            scrambled[i + 6] |= 0x30;
    std::string tivo = Temp("scrambled.TiVo");
    WriteFile(in, scrambled);
    ASSERT_TRUE(WrapMpegInTivo(in, tivo, &error)) << error;
    EXPECT_FALSE(RemuxFile(tivo, out, &stats, &error));
    EXPECT_NE(error.find("encrypted, needs the Media Access Key"), std::string::npos) << error;
    EXPECT_FALSE(std::ifstream(out).good()) << "no partial output is left behind";
    std::remove(in.c_str());
    std::remove(tivo.c_str());
}
