// Transport-stream recordings converted to program streams: each ffmpeg-made .ts is wrapped
// as a .TiVo (flag 0x20), probed, read and written again; ffprobe must find in the .mpg every
// carried stream of the .ts with the same codec, the same elementary-stream bytes and the
// same packet timestamps.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "media/Remux.h"
#include "media/StreamProbe.h"
#include "media/TivoContainer.h"
#include "media/TivoWriter.h"
#include "media/ProgramStreamDecryptor.h"
#include "media/TransportStreamDecryptor.h"
#include "media/TransportStreamReader.h"
#include "media/TivoKeys.h"
#include "TsBuilder.h"

using namespace korvane::media;

namespace {

std::string Material(const std::string& name) {
    const char* dir = std::getenv("KORVANE_MATERIAL");
    return std::string(dir ? dir : "material") + "/" + name;
}

std::string Temp(const std::string& name) {
    return ::testing::TempDir() + "korvane_ts_" + name;
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

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// ffprobe's codec names in stream index order (a transport stream lists its streams again
// under its program: each index is taken once).
std::vector<std::string> Codecs(const std::string& file) {
    std::vector<std::string> codecs;
    for (const std::string& line :
         Lines(Shell("ffprobe -v error -show_entries stream=index,codec_name -of csv=p=0 '" + file + "'"))) {
        std::istringstream fields(line);
        std::string index, codec;
        std::getline(fields, index, ',');
        std::getline(fields, codec, ',');
        if (std::to_string(codecs.size()) == index) codecs.push_back(codec);
    }
    return codecs;
}

// The streams that carry audio or video: a decrypted recording still has TiVo's key PID,
// which ffprobe lists as a data stream of unknown codec (at the end: its PMT entry is last).
std::vector<std::string> MediaCodecs(const std::string& file) {
    std::vector<std::string> codecs = Codecs(file);
    while (!codecs.empty() && codecs.back() == "unknown")
        codecs.pop_back();
    return codecs;
}

// What ffmpeg reads of one stream: the MD5 of its packets' bytes, then every packet's PTS and DTS.
struct StreamView {
    std::string md5;
    std::vector<std::string> times;
};

StreamView View(const std::string& file, size_t index) {
    StreamView v;
    std::string i = std::to_string(index);
    v.md5 = Shell("ffmpeg -v error -nostdin -i '" + file + "' -map 0:" + i + " -c copy -f md5 -");
    v.times = Lines(Shell("ffprobe -v error -select_streams " + i +
                          " -show_entries packet=pts,dts -of csv=p=0 '" + file + "'"));
    // A transport stream's packets may end in an empty side-data column.
    for (std::string& t : v.times)
        while (!t.empty() && t.back() == ',')
            t.pop_back();
    return v;
}

// Every stream of `original` against the stream of `converted` with the same codec, the n-th
// of its codec matched to the n-th (a program stream may list its streams in another order).
void ExpectSameStreams(const std::string& original, const std::string& converted) {
    std::vector<std::string> before = MediaCodecs(original), after = MediaCodecs(converted);
    ASSERT_EQ(before.size(), after.size()) << "original: " << ::testing::PrintToString(before)
                                           << " converted: " << ::testing::PrintToString(after);
    std::vector<bool> used(after.size(), false);
    for (size_t a = 0; a < before.size(); ++a) {
        size_t b = 0;
        while (b < after.size() && (used[b] || after[b] != before[a]))
            ++b;
        ASSERT_LT(b, after.size()) << "no " << before[a] << " stream in the program stream";
        used[b] = true;
        StreamView x = View(original, a), y = View(converted, b);
        EXPECT_EQ(y.md5, x.md5) << before[a] << " bytes";
        EXPECT_GT(x.times.size(), 10u);
        EXPECT_EQ(y.times, x.times) << before[a] << " timestamps";
    }
}

class TsRoundTrip : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(TsRoundTrip, SameCodecsBytesAndTimestamps) {
    std::string name = GetParam();
    std::string input = Material(name), tivo = Temp(name + ".TiVo"), output = Temp(name + ".mpg"), error;
    ASSERT_TRUE(WrapMpegInTivo(input, tivo, &error)) << error;
    TivoFile file;
    ASSERT_EQ(ParseTivoFile(tivo, &file, &error), TivoStatus::Ok) << error;
    EXPECT_EQ(file.payloadKind, PayloadKind::TransportStream);
    EXPECT_TRUE(file.flagSaysTransport);
    EXPECT_FALSE(file.scrambled);

    RemuxStats stats;
    ASSERT_TRUE(RemuxFile(tivo, output, &stats, &error)) << error;
    EXPECT_EQ(stats.streams, file.probe.streams.size());
    EXPECT_EQ(stats.droppedPackets, 0u);
    EXPECT_EQ(stats.tsReader.badPes + stats.tsReader.badSections + stats.tsReader.errorPackets, 0u);
    bool damaged = name == "ts_gap.ts" || name == "ts_garbage.ts";
    if (!damaged) {
        EXPECT_EQ(stats.tsReader.damageEvents, 0u);
        EXPECT_EQ(stats.tsReader.continuityErrors, 0u);
    }
    ExpectSameStreams(input, output);
    std::remove(tivo.c_str());
    std::remove(output.c_str());
}

INSTANTIATE_TEST_SUITE_P(Material, TsRoundTrip,
                         ::testing::Values("ts_mpeg2_ac3.ts", "ts_h264_ac3.ts", "ts_h264_aac.ts",
                                           "ts_two_audio.ts", "ts_eac3.ts", "ts_wrap.ts", "ts_garbage.ts",
                                           "ts_gap.ts"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string n = info.param;
                             return n.substr(0, n.find('.'));
                         });

namespace {

// Every packet the reader delivers: key, timestamps and payload, flattened.
struct Flatten final : PacketHandler {
    std::vector<uint8_t> bytes;
    size_t packets = 0;
    bool OnPacket(const PesPacket& p) override {
        ++packets;
        uint8_t head[2] = {p.key.streamId, p.key.substreamId};
        bytes.insert(bytes.end(), head, head + 2);
        int64_t t[2] = {p.hasPts ? p.pts : -1, p.hasDts ? p.dts : -1};
        bytes.insert(bytes.end(), reinterpret_cast<uint8_t*>(t), reinterpret_cast<uint8_t*>(t) + sizeof t);
        bytes.insert(bytes.end(), p.payload, p.payload + p.payloadSize);
        return true;
    }
};

Flatten ReadInChunks(const std::vector<uint8_t>& data, size_t chunk, TsReaderStats* stats = nullptr) {
    TransportStreamReader reader;
    Flatten out;
    for (size_t pos = 0; pos < data.size(); pos += chunk)
        reader.Feed(data.data() + pos, std::min(chunk, data.size() - pos), out);
    reader.Finish(out);
    if (stats) *stats = reader.Stats();
    return out;
}

}  // namespace

TEST(TsReader, SameOutputWhateverTheChunking) {
    for (const char* name : {"ts_two_audio.ts", "ts_garbage.ts", "ts_gap.ts"}) {
        auto data = ReadFile(Material(name));
        ASSERT_GT(data.size(), 100000u) << name;
        TsReaderStats whole;
        Flatten reference = ReadInChunks(data, data.size(), &whole);
        EXPECT_GT(reference.packets, 100u);
        for (size_t chunk :
             {size_t(1), size_t(7), size_t(187), size_t(188), size_t(189), size_t(565), size_t(65536)}) {
            TsReaderStats stats;
            Flatten pieces = ReadInChunks(data, chunk, &stats);
            EXPECT_EQ(pieces.bytes, reference.bytes) << name << " in chunks of " << chunk;
            EXPECT_EQ(stats.damageEvents, whole.damageEvents) << name << " in chunks of " << chunk;
            EXPECT_EQ(stats.bytesSkipped, whole.bytesSkipped) << name << " in chunks of " << chunk;
            EXPECT_EQ(stats.continuityErrors, whole.continuityErrors) << name << " in chunks of " << chunk;
        }
    }
}

TEST(TsReader, CountsTheGarbageAndTheGapAndGoesOn) {
    TsReaderStats garbage, gap;
    Flatten clean = ReadInChunks(ReadFile(Material("ts_mpeg2_ac3.ts")), 65536);
    Flatten afterGarbage = ReadInChunks(ReadFile(Material("ts_garbage.ts")), 65536, &garbage);
    EXPECT_EQ(garbage.damageEvents, 1u);
    EXPECT_EQ(garbage.bytesSkipped, 1000u);
    EXPECT_EQ(afterGarbage.bytes, clean.bytes);

    ReadInChunks(ReadFile(Material("ts_gap.ts")), 65536, &gap);
    EXPECT_EQ(gap.continuityErrors, 1u);
    EXPECT_EQ(gap.damageEvents, 0u);
}

// Garbage in the middle of the file (a stretch that is no multiple of 188 bytes, with sync
// bytes in it): only the packets it replaced are lost, the reader finds sync again and every
// stream goes on.
TEST(TsReader, FindsSyncAgainAfterGarbageMidFile) {
    auto data = ReadFile(Material("ts_h264_aac.ts"));
    std::vector<uint8_t> damaged(data.begin(), data.begin() + 188 * 400 + 50);
    for (int i = 0; i < 700; ++i)
        damaged.push_back(i % 100 == 0 ? 0x47 : static_cast<uint8_t>(i * 37 + 1));
    damaged.insert(damaged.end(), data.begin() + 188 * 403, data.end());
    TsReaderStats stats;
    Flatten out = ReadInChunks(damaged, 4096, &stats);
    EXPECT_EQ(stats.damageEvents, 1u);
    // The packet the garbage cut short goes too.
    EXPECT_EQ(stats.bytesSkipped, 50u + 700u);
    EXPECT_GE(stats.continuityErrors, 1u);
    Flatten clean = ReadInChunks(data, 4096);
    EXPECT_GT(out.packets + 3, clean.packets);
    EXPECT_GT(out.bytes.size() + 3 * 188, clean.bytes.size());
}

// ---- Encrypted transport streams: the known-answer recordings (key 0123456789) ----

namespace {

std::string Vector(const std::string& name) {
    return std::string(KORVANE_VECTORS_DIR) + "/" + name;
}

struct Decrypted {
    std::vector<uint8_t> bytes;
    DecryptStats stats;
    uint64_t keyPackets = 0;
};

// The payload of an encrypted .TiVo, decrypted in chunks of the given size.
Decrypted DecryptPayload(const std::string& tivo, size_t chunk,
                         std::vector<uint8_t>* payloadOverride = nullptr) {
    TivoFile file;
    std::string error;
    EXPECT_EQ(ParseTivoFile(tivo, &file, &error), TivoStatus::Ok) << error;
    TivoKeys keys;
    EXPECT_TRUE(DeriveTivoKeys("0123456789", file, &keys));
    auto all = ReadFile(tivo);
    std::vector<uint8_t> payload(all.begin() + static_cast<std::ptrdiff_t>(file.payloadOffset), all.end());
    if (payloadOverride) payload = *payloadOverride;
    TransportStreamDecryptor decryptor(keys);
    MemoryByteSink sink;
    for (size_t pos = 0; pos < payload.size(); pos += chunk)
        EXPECT_TRUE(decryptor.Feed(payload.data() + pos, std::min(chunk, payload.size() - pos), sink));
    EXPECT_TRUE(decryptor.Finish(sink));
    return {sink.Bytes(), decryptor.Stats(), decryptor.KeyPackets()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class TsVectors : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(TsVectors, DecryptToTheStreamsOfTheClearOriginal) {
    std::string name = GetParam();
    std::string decryptedTs = Temp(name + ".dec.ts"), output = Temp(name + ".dec.mpg"), error;
    DecryptStats stats;
    ASSERT_TRUE(DecryptTivoFile(Vector(name + ".TiVo"), decryptedTs, "0123456789", &stats, &error)) << error;
    EXPECT_GT(stats.packetsDecrypted, 1000u);
    EXPECT_EQ(stats.packetsDropped, 0u);
    EXPECT_EQ(stats.DamageCount(), 0u);
    // The key PID's packets and its PMT entry go: what is left is the clear original.
    EXPECT_TRUE(ReadFile(decryptedTs) == ReadFile(Vector(name + ".ts")))
        << "not the clear original bit for bit";
    ExpectSameStreams(Vector(name + ".ts"), decryptedTs);
    // And through the reader and writer into a program stream.
    RemuxStats remux;
    ASSERT_TRUE(RemuxFile(decryptedTs, output, &remux, &error)) << error;
    ExpectSameStreams(Vector(name + ".ts"), output);

    // The same bytes whatever the chunking, down to single bytes.
    Decrypted whole = DecryptPayload(Vector(name + ".TiVo"), size_t(1) << 20);
    EXPECT_EQ(whole.bytes, ReadFile(decryptedTs));
    EXPECT_GE(whole.keyPackets, 2u);
    for (size_t chunk : {size_t(1), size_t(187), size_t(189), size_t(4096)})
        EXPECT_EQ(DecryptPayload(Vector(name + ".TiVo"), chunk).bytes, whole.bytes) << "chunks of " << chunk;
    std::remove(decryptedTs.c_str());
    std::remove(output.c_str());
}

INSTANTIATE_TEST_SUITE_P(Vectors, TsVectors, ::testing::Values("ts-mpeg2-ac3", "ts-h264-ac3"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });

// With the key, parsing an encrypted recording lists the streams of its decrypted start.
TEST(TsDecrypt, ParsingWithTheKeyFindsTheStreams) {
    TivoFile plain, keyed;
    std::string error;
    ASSERT_EQ(ParseTivoFile(Vector("ts-h264-ac3.TiVo"), &plain, &error), TivoStatus::Ok) << error;
    EXPECT_TRUE(plain.scrambled);
    EXPECT_FALSE(plain.probeDecrypted);
    TivoParseOptions options;
    options.mediaAccessKeys = {"1111111111", "0123456789"};
    ASSERT_EQ(ParseTivoFile(Vector("ts-h264-ac3.TiVo"), &keyed, &error, options), TivoStatus::Ok) << error;
    EXPECT_TRUE(keyed.probeDecrypted);
    EXPECT_EQ(keyed.keyIndex, 1);
    EXPECT_EQ(keyed.probeDamage, 0u);
    ASSERT_EQ(keyed.probe.streams.size(), 2u);
    EXPECT_EQ(keyed.probe.streams[0].kind, StreamKind::H264);
    EXPECT_EQ(keyed.probe.streams[1].kind, StreamKind::Ac3);
}

// Without its key packets a recording cannot be decrypted: every scrambled packet is dropped
// and counted, nothing scrambled comes out, and the remux finds nothing to convert.
TEST(TsDecrypt, ScrambledPacketsWithoutAKeyRecordAreDroppedNeverPassedOn) {
    TivoFile file;
    std::string error;
    ASSERT_EQ(ParseTivoFile(Vector("ts-h264-ac3.TiVo"), &file, &error), TivoStatus::Ok) << error;
    auto all = ReadFile(Vector("ts-h264-ac3.TiVo"));
    std::vector<uint8_t> withoutKeys;
    uint64_t scrambled = 0;
    for (size_t i = file.payloadOffset; i + 188 <= all.size(); i += 188) {
        unsigned pid = (all[i + 1] & 0x1F) << 8 | all[i + 2];
        if (pid == 0x0FF0) continue;  // the key PID of the vectors
        if (all[i + 3] & 0xC0) ++scrambled;
        withoutKeys.insert(withoutKeys.end(), all.begin() + static_cast<std::ptrdiff_t>(i),
                           all.begin() + static_cast<std::ptrdiff_t>(i + 188));
    }
    ASSERT_GT(scrambled, 1000u);
    Decrypted d = DecryptPayload(Vector("ts-h264-ac3.TiVo"), 65536, &withoutKeys);
    EXPECT_EQ(d.keyPackets, 0u);
    EXPECT_EQ(d.stats.packetsDropped, scrambled);
    EXPECT_EQ(d.stats.missingRecords, scrambled);
    EXPECT_EQ(d.stats.packetsDecrypted, 0u);
    for (size_t i = 0; i + 188 <= d.bytes.size(); i += 188)
        ASSERT_EQ(d.bytes[i + 3] & 0xC0, 0) << "packet " << i / 188;
    std::string path = Temp("nokeys.ts"), output = Temp("nokeys.mpg");
    WriteBytes(path, d.bytes);
    RemuxStats stats;
    EXPECT_FALSE(RemuxFile(path, output, &stats, &error));
    EXPECT_NE(error.find("no video or audio stream"), std::string::npos) << error;
    std::remove(path.c_str());
}

// A PMT that spans two packets (a long program descriptor) is followed as one in a packet
// is: the key PID is found and every scrambled packet decrypted. Its key PID entry stays, as
// the table's first packet has gone out before its end is seen.
TEST(TsDecrypt, FollowsAPmtThatSpansTwoPackets) {
    TivoFile file;
    std::string error;
    ASSERT_EQ(ParseTivoFile(Vector("ts-h264-ac3.TiVo"), &file, &error), TivoStatus::Ok) << error;
    auto all = ReadFile(Vector("ts-h264-ac3.TiVo"));
    std::vector<uint8_t> spanning;
    size_t pmts = 0;
    for (size_t i = file.payloadOffset; i + 188 <= all.size(); i += 188) {
        const uint8_t* p = &all[i];
        const uint16_t pid = static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]);
        const uint8_t* s = p + 5 + p[4];  // the vectors' tables start after the pointer field
        if (pid != 0 && (p[1] & 0x40) && (p[3] & 0x30) == 0x10 && p[4] == 0 && s[0] == 0x02) {
            const size_t size = 3 + (size_t(s[1] & 0x0F) << 8 | s[2]) - 4;
            korvane::test::TsBytes section(s, s + 12);
            section.insert(section.end(), {0xFE, 200});  // program_info: a private descriptor
            section.resize(section.size() + 200, 0x5A);
            section.insert(section.end(), s + 12 + (size_t(s[10] & 0x0F) << 8 | s[11]), s + size);
            const size_t info = 202 + (size_t(s[10] & 0x0F) << 8 | s[11]);
            section[10] = static_cast<uint8_t>(0xF0 | info >> 8);
            section[11] = static_cast<uint8_t>(info);
            section[1] = static_cast<uint8_t>(0xB0 | (section.size() + 1) >> 8);
            section[2] = static_cast<uint8_t>(section.size() + 1);
            korvane::test::TsBuilder ts;
            ts.Section(pid, section);
            ASSERT_EQ(ts.out.size(), 2 * 188u);
            spanning.insert(spanning.end(), ts.out.begin(), ts.out.end());
            ++pmts;
        } else {
            spanning.insert(spanning.end(), p, p + 188);
        }
    }
    ASSERT_GT(pmts, 0u);
    Decrypted usual = DecryptPayload(Vector("ts-h264-ac3.TiVo"), 65536);
    Decrypted d = DecryptPayload(Vector("ts-h264-ac3.TiVo"), 65536, &spanning);
    EXPECT_EQ(d.stats.packetsDecrypted, usual.stats.packetsDecrypted);
    EXPECT_EQ(d.stats.packetsDropped, 0u);
    EXPECT_EQ(d.keyPackets, usual.keyPackets);
    struct Streams final : PacketHandler {
        std::map<StreamKey, std::vector<uint8_t>> bytes;
        bool OnPacket(const PesPacket& p) override {
            bytes[p.key].insert(bytes[p.key].end(), p.payload, p.payload + p.payloadSize);
            return true;
        }
    } a, b;
    TransportStreamReader ra, rb;
    ra.Feed(usual.bytes.data(), usual.bytes.size(), a);
    ra.Finish(a);
    rb.Feed(d.bytes.data(), d.bytes.size(), b);
    rb.Finish(b);
    EXPECT_EQ(b.bytes.size(), 2u);
    EXPECT_TRUE(b.bytes == a.bytes);
}

// wrap --ts --mak: every ffmpeg-made transport stream comes back from encryption bit for
// bit, with every audio and video packet scrambled on the way.
TEST(TsEncrypt, EveryTestStreamComesBackBitForBit) {
    for (const char* name : {"ts_mpeg2_ac3.ts", "ts_h264_ac3.ts", "ts_h264_aac.ts", "ts_two_audio.ts",
                             "ts_eac3.ts", "ts_wrap.ts", "ts_gap.ts"}) {
        SCOPED_TRACE(name);
        std::string tivo = Temp(std::string(name) + ".enc.TiVo"), back = Temp(std::string(name) + ".back.ts"),
                    error;
        TivoWrapOptions options;
        options.mediaAccessKey = "0123456789";
        options.encryption.packetsPerBlock = 50;  // many block changes, each with its key packet
        ASSERT_TRUE(WrapMpegInTivo(Material(name), tivo, &error, options)) << error;
        TivoFile file;
        ASSERT_EQ(ParseTivoFile(tivo, &file, &error), TivoStatus::Ok) << error;
        EXPECT_TRUE(file.flagSaysTransport);
        EXPECT_TRUE(file.scrambled);
        DecryptStats stats;
        ASSERT_TRUE(DecryptTivoFile(tivo, back, "0123456789", &stats, &error)) << error;
        EXPECT_GT(stats.packetsDecrypted, 900u);
        EXPECT_GT(stats.keystreamRebuilds, 20u);
        EXPECT_EQ(stats.DamageCount(), 0u);
        EXPECT_TRUE(ReadFile(back) == ReadFile(Material(name)));
        std::remove(tivo.c_str());
        std::remove(back.c_str());
    }
    std::string error;
    TivoWrapOptions options;
    options.mediaAccessKey = "0123456789";
    EXPECT_FALSE(WrapMpegInTivo(Material("ts_garbage.ts"), Temp("garbage.TiVo"), &error, options));
    EXPECT_NE(error.find("whole 188-byte"), std::string::npos) << error;
}
