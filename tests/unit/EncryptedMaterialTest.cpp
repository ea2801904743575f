// Encrypted files end to end: the known-answer recordings decrypt to the streams of their
// clear originals (judged by our reader and by ffprobe), and every ffmpeg-made test stream
// survives wrap --mak and decryption bit for bit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "media/ProgramStreamDecryptor.h"
#include "media/ProgramStreamReader.h"
#include "media/Remux.h"
#include "media/TivoContainer.h"
#include "media/TivoWriter.h"

using namespace korvane::media;

namespace {

const char* const kMak = "0123456789";

std::string Material(const std::string& name) {
    const char* dir = std::getenv("KORVANE_MATERIAL");
    return std::string(dir ? dir : "material") + "/" + name;
}

std::string Vector(const std::string& name) {
    return std::string(KORVANE_VECTORS_DIR) + "/" + name;
}

std::string Temp(const std::string& name) {
    return ::testing::TempDir() + "korvane_crypt_" + name;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    return std::ifstream(path).good();
}

// ffprobe's packets (pts, dts, size) per stream, in each stream's own order.
std::map<std::string, std::vector<std::string>> FfprobePackets(const std::string& file) {
    std::map<std::string, std::vector<std::string>> byStream;
    std::string command =
        "ffprobe -v error -show_entries packet=stream_index,pts,dts,size -of csv=p=0 '" + file + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return byStream;
    std::string text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    pclose(pipe);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) continue;
        auto comma = line.find(',');
        byStream[line.substr(0, comma)].push_back(line.substr(comma + 1));
    }
    return byStream;
}

// Elementary stream bytes and timestamps per stream, as our reader delivers them.
struct Streams final : PacketHandler {
    std::map<std::pair<int, int>, std::vector<uint8_t>> bytes;
    std::map<std::pair<int, int>, std::vector<std::pair<int64_t, int64_t>>> times;
    bool OnPacket(const PesPacket& p) override {
        auto key = std::make_pair(int(p.key.streamId), int(p.key.substreamId));
        bytes[key].insert(bytes[key].end(), p.payload, p.payload + p.payloadSize);
        times[key].push_back({p.hasPts ? p.pts : -1, p.hasDts ? p.dts : -1});
        return true;
    }
};

Streams Read(const std::vector<uint8_t>& stream) {
    Streams s;
    ProgramStreamReader reader;
    reader.Feed(stream.data(), stream.size(), s);
    reader.Finish(s);
    EXPECT_EQ(reader.Status(), ReaderStatus::Ok);
    return s;
}

class KnownAnswer : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(KnownAnswer, DecryptsToTheStreamsOfTheClearOriginal) {
    const std::string name = GetParam();
    const std::string out = Temp(name + ".mpg");
    DecryptStats stats;
    std::string error;
    ASSERT_TRUE(DecryptTivoFile(Vector(name + ".TiVo"), out, kMak, &stats, &error)) << error;
    EXPECT_GT(stats.packetsDecrypted, 0u);
    EXPECT_EQ(stats.DamageCount(), 0u);
    const std::vector<uint8_t> clear = ReadFile(Vector(name + ".mpg")), decrypted = ReadFile(out);
    Streams want = Read(clear), got = Read(decrypted);
    EXPECT_EQ(got.bytes, want.bytes);
    EXPECT_EQ(got.times, want.times);
    EXPECT_EQ(FfprobePackets(out), FfprobePackets(Vector(name + ".mpg")));
    // Measured: removing the record gives back the clear original byte for byte.
    EXPECT_TRUE(decrypted == clear);
    std::remove(out.c_str());

    // A wrong key is refused before anything is written.
    EXPECT_FALSE(DecryptTivoFile(Vector(name + ".TiVo"), out, "0123456780", nullptr, &error));
    EXPECT_NE(error.find("does not fit"), std::string::npos) << error;
    EXPECT_FALSE(Exists(out));
}

INSTANTIATE_TEST_SUITE_P(Vectors, KnownAnswer, ::testing::Values("ps-mpeg2-ac3", "ps-mpeg2-mp2-large"));

class WrapEncrypted : public ::testing::TestWithParam<const char*> {};

TEST_P(WrapEncrypted, ComesBackBitForBit) {
    const std::string name = GetParam();
    const std::string tivo = Temp(name + ".TiVo"), out = Temp(name + ".clear.mpg");
    TivoWrapOptions options;
    options.title = "Encrypted " + name;
    options.mediaAccessKey = kMak;
    options.encryption.packetsPerBlock = 5;
    std::string error;
    ASSERT_TRUE(WrapMpegInTivo(Material(name), tivo, &error, options)) << error;

    TivoFile file;
    ASSERT_EQ(ParseTivoFile(tivo, &file, &error), TivoStatus::Ok) << error;
    EXPECT_TRUE(file.scrambled);
    TivoParseOptions withKey;
    withKey.mediaAccessKeys = {kMak};
    ASSERT_EQ(ParseTivoFile(tivo, &file, &error, withKey), TivoStatus::Ok) << error;
    EXPECT_EQ(file.keyIndex, 0);
    const std::vector<uint8_t> clear = ReadFile(Material(name));
    ProbeResult expected = ProbeProgramStream(clear.data(), std::min(clear.size(), kDefaultProbeBytes));
    ASSERT_EQ(file.probe.streams.size(), expected.streams.size());
    for (size_t i = 0; i < expected.streams.size(); ++i)
        EXPECT_EQ(file.probe.streams[i].key, expected.streams[i].key);

    DecryptStats stats;
    ASSERT_TRUE(DecryptTivoFile(tivo, out, kMak, &stats, &error)) << error;
    EXPECT_GT(stats.keystreamRebuilds, 2u);  // blocks changed along the way
    EXPECT_TRUE(ReadFile(out) == clear);

    // The reference pipeline converts the encrypted file exactly as the clear one.
    const std::string fromClear = Temp(name + ".remux-clear.mpg");
    RemuxOptions remux;
    RemuxStats remuxStats;
    ASSERT_TRUE(RemuxFile(Material(name), fromClear, nullptr, &error, remux)) << error;
    remux.mediaAccessKey = kMak;
    ASSERT_TRUE(RemuxFile(tivo, out, &remuxStats, &error, remux)) << error;
    EXPECT_EQ(remuxStats.decryptedPackets, stats.packetsDecrypted);
    EXPECT_TRUE(ReadFile(out) == ReadFile(fromClear));
    std::remove(tivo.c_str());
    std::remove(out.c_str());
    std::remove(fromClear.c_str());
}

INSTANTIATE_TEST_SUITE_P(Material, WrapEncrypted,
                         ::testing::Values("mp2.mpg", "ac3.mpg", "two_audio.mpg", "two_mp2.mpg",
                                           "large_packets.mpg", "late_audio.mpg"));

TEST(WrapEncrypted, RefusesMpeg1AndBadKeysLeavingNoFile) {
    const std::string tivo = Temp("mpeg1.TiVo");
    TivoWrapOptions options;
    options.mediaAccessKey = kMak;
    std::string error;
    EXPECT_FALSE(WrapMpegInTivo(Material("mpeg1.mpg"), tivo, &error, options));
    EXPECT_NE(error.find("MPEG-2"), std::string::npos) << error;
    EXPECT_FALSE(Exists(tivo));
    options.mediaAccessKey = "12345";
    EXPECT_FALSE(WrapMpegInTivo(Material("mp2.mpg"), tivo, &error, options));
    EXPECT_NE(error.find("10 digits"), std::string::npos) << error;
    EXPECT_FALSE(Exists(tivo));
}
