// The ffmpeg-made material and the known-answer recordings through the whole media core:
// wrapped (clear and with a key), probed, decrypted and remuxed, then judged by
// scripts/check-mpeg-outputs.sh, the ffprobe check the Wine tests give the graph's outputs:
// the same elementary streams, byte for byte, with the same packet timestamps.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "BroadcastTs.h"
#include "Collect.h"
#include "TestFiles.h"
#include "TsBuilder.h"
#include "media/ProgramStreamDecryptor.h"
#include "media/ProgramStreamEncryptor.h"
#include "media/Remux.h"
#include "media/TivoContainer.h"
#include "media/TivoWriter.h"
#include "media/TransportStreamDecryptor.h"
#include "media/TransportStreamEncryptor.h"
#include "media/TransportStreamReader.h"

using namespace korvane::media;
using namespace korvane::test;

namespace {

const std::vector<std::string> kMaterial = {
    "mp2.mpg",         "ac3.mpg",    "two_audio.mpg",   "two_mp2.mpg",    "large_packets.mpg",
    "late_audio.mpg",  "mpeg1.mpg",  "ts_mpeg2_ac3.ts", "ts_h264_ac3.ts", "ts_h264_aac.ts",
    "ts_two_audio.ts", "ts_eac3.ts", "ts_wrap.ts",      "ts_garbage.ts",  "ts_gap.ts"};

bool IsTs(const std::string& name) {
    return name.size() > 3 && name.compare(name.size() - 3, 3, ".ts") == 0;
}

// Where check-mpeg-outputs.sh looks for the conversion of `name`, in a new folder.
std::string Output(const std::string& folder, const std::string& name) {
    mkdir(Temp(folder).c_str(), 0700);
    return Temp(folder) + "/" + (IsTs(name) ? name + ".mpg" : name);
}

bool OutputsMatch(const std::string& originals, const std::string& folder) {
    const std::string command =
        "bash '" KORVANE_SCRIPTS_DIR "/check-mpeg-outputs.sh' '" + originals + "' '" + Temp(folder) + "'";
    return std::system(command.c_str()) == 0;
}

// Whether a pack's clock reference ever came after the decode time of what it carries, or
// went back. Compared across the 33-bit wrap: `a` is after `b` when less than half the range ahead.
int ClockFaults(const std::vector<Seen>& packets) {
    auto after = [](int64_t a, int64_t b) {
        return a != b && ((a - b) & kTimestampMask) < (int64_t(1) << 32);
    };
    int faults = 0;
    int64_t last = -1;
    for (const Seen& p : packets) {
        if (p.scr >= 0 &&
            ((last >= 0 && after(last, p.scr)) || (p.hasPts && after(p.scr, p.hasDts ? p.dts : p.pts))))
            ++faults;
        last = p.scr;
    }
    return faults;
}

// Each stream's timestamps and bytes as a reader delivers them from the data.
template <class Reader = ProgramStreamReader>
std::map<StreamKey, Bytes> Streams(const Bytes& data, size_t chunk = 0, TsReaderStats* stats = nullptr) {
    Reader reader;
    std::map<StreamKey, Bytes> streams = PerStream(ReadAll(data, chunk, reader));
    if constexpr (std::is_same_v<Reader, TransportStreamReader>)
        if (stats) *stats = reader.Stats();
    return streams;
}

struct Decrypted {
    Bytes bytes;
    DecryptStats stats;
    uint64_t keyPackets = 0;
};

// A .TiVo's payload, and the keys the test key gives it.
Bytes Payload(const std::string& tivo, TivoKeys* keys = nullptr) {
    TivoFile file;
    std::string error;
    EXPECT_EQ(ParseTivoFile(tivo, &file, &error), TivoStatus::Ok) << error;
    EXPECT_TRUE(!keys || DeriveTivoKeys(kMak, file, keys));
    Bytes all = ReadFile(tivo);
    return Bytes(all.begin() + static_cast<std::ptrdiff_t>(file.payloadOffset), all.end());
}

// The payload of an encrypted .TiVo (or another in its place), decrypted in chunks of the
// given size.
template <class Decryptor = TransportStreamDecryptor>
Decrypted DecryptPayload(const std::string& tivo, size_t chunk, const Bytes* payloadOverride = nullptr) {
    TivoKeys keys;
    Bytes payload = Payload(tivo, &keys);
    if (payloadOverride) payload = *payloadOverride;
    Decryptor decryptor(keys);
    MemoryByteSink sink;
    for (size_t pos = 0; pos < payload.size(); pos += chunk)
        EXPECT_TRUE(decryptor.Feed(payload.data() + pos, std::min(chunk, payload.size() - pos), sink));
    EXPECT_TRUE(decryptor.Finish(sink));
    if constexpr (std::is_same_v<Decryptor, TransportStreamDecryptor>)
        return {sink.Bytes(), decryptor.Stats(), decryptor.KeyPackets()};
    return {sink.Bytes(), decryptor.Stats(), 0};
}

Bytes EncryptTs(Bytes clear, const TivoKeys& keys, const EncryptOptions& options = {}) {
    TransportStreamEncryptor encryptor(keys, options);
    MemoryByteSink sink;
    EXPECT_TRUE(encryptor.Feed(clear.data(), clear.size(), sink) && encryptor.Finish(sink))
        << encryptor.ErrorText();
    return sink.Bytes();
}

// Whether a scrambled PES has the clear one's bytes before `at` and not the start code at `at`.
bool ScrambledFrom(const Bytes& clear, const Bytes& scrambled, size_t at) {
    return at != std::string::npos && at + 4 <= clear.size() && at + 4 <= scrambled.size() &&
           std::equal(clear.begin(), clear.begin() + static_cast<std::ptrdiff_t>(at), scrambled.begin()) &&
           !std::equal(clear.begin() + static_cast<std::ptrdiff_t>(at),
                       clear.begin() + static_cast<std::ptrdiff_t>(at + 4),
                       scrambled.begin() + static_cast<std::ptrdiff_t>(at));
}

Bytes DecryptTs(Bytes encrypted, const TivoKeys& keys, size_t chunk) {
    TransportStreamDecryptor decryptor(keys);
    MemoryByteSink sink;
    for (size_t pos = 0; pos < encrypted.size(); pos += chunk)
        EXPECT_TRUE(decryptor.Feed(encrypted.data() + pos, std::min(chunk, encrypted.size() - pos), sink));
    EXPECT_TRUE(decryptor.Finish(sink));
    return sink.Bytes();
}

}  // namespace

TEST(Material, EveryStreamWrappedProbedAndRemuxedKeepsItsStreams) {
    for (const std::string& name : kMaterial) {
        SCOPED_TRACE(name);
        const std::string tivo = Temp(name + ".TiVo"), output = Output("clear", name);
        std::string error;
        ASSERT_TRUE(WrapMpegInTivo(Material(name), tivo, &error)) << error;
        TivoFile file;
        ASSERT_EQ(ParseTivoFile(tivo, &file, &error), TivoStatus::Ok) << error;
        EXPECT_EQ(file.payloadKind, IsTs(name) ? PayloadKind::TransportStream : PayloadKind::ProgramStream);
        EXPECT_EQ(file.flagSaysTransport, IsTs(name));
        EXPECT_FALSE(file.scrambled);
        RemuxStats stats;
        ASSERT_TRUE(RemuxFile(tivo, output, &stats, &error)) << error;
        EXPECT_EQ(stats.streams, file.probe.streams.size());
        EXPECT_EQ(stats.droppedPackets, 0u);
        const TsReaderStats& ts = stats.tsReader;
        EXPECT_EQ(stats.reader.damageEvents + ts.damageEvents + ts.continuityErrors + ts.badPes +
                      ts.badSections + ts.errorPackets,
                  name == "ts_gap.ts" || name == "ts_garbage.ts" ? 1u : 0u);
        EXPECT_EQ(ClockFaults(ReadAll(ReadFile(output))), 0);
    }
    EXPECT_TRUE(OutputsMatch(Material(""), "clear"));
}

TEST(Material, WrappedWithAKeyEveryStreamComesBackBitForBit) {
    for (const std::string& name : kMaterial) {
        if (name == "mpeg1.mpg" || name == "ts_garbage.ts") continue;  // refused below
        SCOPED_TRACE(name);
        const std::string tivo = Temp(name + ".enc.TiVo"), back = Temp(name + ".back");
        TivoWrapOptions options;
        options.mediaAccessKey = kMak;
        options.encryption.packetsPerBlock = IsTs(name) ? 50 : 5;  // many block changes
        std::string error;
        ASSERT_TRUE(WrapMpegInTivo(Material(name), tivo, &error, options)) << error;
        TivoFile file;
        ASSERT_EQ(ParseTivoFile(tivo, &file, &error), TivoStatus::Ok) << error;
        EXPECT_TRUE(file.scrambled);
        DecryptStats stats;
        ASSERT_TRUE(DecryptTivoFile(tivo, back, kMak, &stats, &error)) << error;
        EXPECT_GT(stats.keystreamRebuilds, 2u);
        EXPECT_EQ(stats.DamageCount(), 0u);
        EXPECT_TRUE(ReadFile(back) == ReadFile(Material(name)));
    }
    // MPEG-1 has no room for the record, a key needs 10 digits, a TS needs whole packets.
    const std::pair<std::string, std::string> refused[] = {
        {"mpeg1.mpg", "MPEG-2"}, {"ts_garbage.ts", "whole 188-byte"}, {"mp2.mpg", "10 digits"}};
    for (const auto& r : refused) {
        TivoWrapOptions options;
        options.mediaAccessKey = r.second == "10 digits" ? "12345" : kMak;
        std::string error;
        EXPECT_FALSE(WrapMpegInTivo(Material(r.first), Temp("refused.TiVo"), &error, options));
        EXPECT_NE(error.find(r.second), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(Temp("refused.TiVo")));
    }
}

// Recordings encrypted by an independent implementation (key 0123456789).
TEST(Vectors, DecryptToTheClearOriginalsBitForBitAndRemuxAsThem) {
    for (const std::string name :
         {"ps-mpeg2-ac3.mpg", "ps-mpeg2-mp2-large.mpg", "ts-mpeg2-ac3.ts", "ts-h264-ac3.ts"}) {
        SCOPED_TRACE(name);
        const std::string tivo = Vector(name.substr(0, name.rfind('.')) + ".TiVo"), clear = Temp(name);
        std::string error;
        DecryptStats stats;
        ASSERT_TRUE(DecryptTivoFile(tivo, clear, kMak, &stats, &error)) << error;
        EXPECT_GT(stats.packetsDecrypted, 0u);
        EXPECT_EQ(stats.packetsDropped + stats.DamageCount(), 0u);
        // The record (PS) or the key PID's packets and PMT entry (TS) go: what is left is the original.
        EXPECT_TRUE(ReadFile(clear) == ReadFile(Vector(name)));

        TivoFile file;
        TivoParseOptions options;
        options.mediaAccessKeys = {"1111111111", "not a key", "012-345-6789"};
        ASSERT_EQ(ParseTivoFile(tivo, &file, &error, options), TivoStatus::Ok) << error;
        EXPECT_TRUE(file.probeDecrypted);
        EXPECT_EQ(file.keyIndex, 2);
        EXPECT_EQ(file.probeDamage, 0u);
        RemuxOptions remux;
        remux.mediaAccessKey = kMak;
        RemuxStats remuxStats;
        ASSERT_TRUE(RemuxFile(tivo, Output("vectors", name), &remuxStats, &error, remux)) << error;
        EXPECT_EQ(remuxStats.streams, file.probe.streams.size());

        // A wrong key is refused before anything is written.
        EXPECT_FALSE(DecryptTivoFile(tivo, Temp("wrong"), "0123456780", nullptr, &error));
        EXPECT_NE(error.find("does not fit"), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(Temp("wrong")));
        // The same bytes whatever the chunking, down to single bytes.
        for (size_t chunk : {size_t(1), size_t(187), size_t(189), size_t(2047), size_t(4096)}) {
            const Decrypted pieces = IsTs(name) ? DecryptPayload(tivo, chunk)
                                                : DecryptPayload<ProgramStreamDecryptor>(tivo, chunk);
            EXPECT_TRUE(pieces.bytes == ReadFile(clear)) << "chunks of " << chunk;
            EXPECT_EQ(pieces.stats.keystreamRebuilds, stats.keystreamRebuilds);
            EXPECT_GE(pieces.keyPackets, IsTs(name) ? 2u : 0u);
        }
    }
    EXPECT_TRUE(OutputsMatch(Vector(""), "vectors"));
}

// Without its key packets a recording cannot be decrypted: every scrambled packet is dropped
// and counted, nothing scrambled comes out, and the remux finds nothing to convert.
TEST(TsDecrypt, ScrambledPacketsWithoutAKeyRecordAreDroppedNeverPassedOn) {
    const std::string tivo = Vector("ts-h264-ac3.TiVo");
    const Bytes all = Payload(tivo);
    Bytes withoutKeys;
    uint64_t scrambled = 0;
    for (size_t i = 0; i + 188 <= all.size(); i += 188) {
        if (((all[i + 1] & 0x1F) << 8 | all[i + 2]) == 0x0FF0) continue;  // the key PID of the vectors
        scrambled += (all[i + 3] & 0xC0) != 0;
        withoutKeys.insert(withoutKeys.end(), &all[i], &all[i] + 188);
    }
    ASSERT_GT(scrambled, 1000u);
    const Decrypted d = DecryptPayload(tivo, 65536, &withoutKeys);
    EXPECT_EQ(d.keyPackets + d.stats.packetsDecrypted, 0u);
    EXPECT_EQ(d.stats.packetsDropped, scrambled);
    EXPECT_EQ(d.stats.missingRecords, scrambled);
    for (size_t i = 0; i + 188 <= d.bytes.size(); i += 188)
        ASSERT_EQ(d.bytes[i + 3] & 0xC0, 0) << "packet " << i / 188;
    WriteFile(Temp("nokeys.ts"), d.bytes);
    std::string error;
    EXPECT_FALSE(RemuxFile(Temp("nokeys.ts"), Temp("nokeys.mpg"), nullptr, &error));
    EXPECT_NE(error.find("no video or audio stream"), std::string::npos) << error;
}

// A PMT that spans two packets (a long program descriptor) is followed as one in a packet
// is: the key PID is found and every scrambled packet decrypted. Its key PID entry stays, as
// the table's first packet has gone out before its end is seen.
TEST(TsDecrypt, FollowsAPmtThatSpansTwoPackets) {
    const std::string tivo = Vector("ts-h264-ac3.TiVo");
    const Bytes all = Payload(tivo);
    Bytes spanning;
    size_t pmts = 0;
    for (size_t i = 0; i + 188 <= all.size(); i += 188) {
        const uint8_t* p = &all[i];
        const uint16_t pid = static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]);
        const uint8_t* s = p + 5;  // the vectors' tables start right after the pointer field
        if (pid == 0 || !(p[1] & 0x40) || (p[3] & 0x30) != 0x10 || p[4] != 0 || s[0] != 0x02) {
            spanning.insert(spanning.end(), p, p + 188);
            continue;
        }
        const size_t info = size_t(s[10] & 0x0F) << 8 | s[11],
                     size = 3 + (size_t(s[1] & 0x0F) << 8 | s[2]) - 4;
        Bytes section(s, s + 12);
        section.insert(section.end(), {0xFE, 200});  // program_info: a private descriptor
        section.resize(section.size() + 200, 0x5A);
        section.insert(section.end(), s + 12 + info, s + size);
        section[10] = U8(0xF0 | (info + 202) >> 8), section[11] = U8(info + 202);
        section[1] = U8(0xB0 | (section.size() + 1) >> 8), section[2] = U8(section.size() + 1);
        TsBuilder ts;
        ts.Section(pid, section);
        ASSERT_EQ(ts.out.size(), 2 * 188u);
        spanning.insert(spanning.end(), ts.out.begin(), ts.out.end());
        ++pmts;
    }
    ASSERT_GT(pmts, 0u);
    const Decrypted usual = DecryptPayload(tivo, 65536), d = DecryptPayload(tivo, 65536, &spanning);
    EXPECT_EQ(d.stats.packetsDecrypted, usual.stats.packetsDecrypted);
    EXPECT_EQ(d.stats.packetsDropped, 0u);
    EXPECT_EQ(d.keyPackets, usual.keyPackets);
    const auto got = Streams<TransportStreamReader>(d.bytes);
    EXPECT_EQ(got.size(), 2u);
    EXPECT_TRUE(got == Streams<TransportStreamReader>(usual.bytes));
}

// Garbage at the start (ts_garbage), a gap (ts_gap) and garbage mid-file (a stretch that is no
// multiple of 188 bytes, with sync bytes in it) are counted, only the packets they replaced
// are lost, and nothing depends on how the input is cut.
TEST(TsReader, CountsDamageAndReadsTheSameWhateverTheChunking) {
    const Bytes clean = ReadFile(Material("ts_h264_aac.ts"));
    Bytes midFile(clean.begin(), clean.begin() + 188 * 400 + 50);
    for (int i = 0; i < 700; ++i)
        midFile.push_back(i % 100 == 0 ? 0x47 : static_cast<uint8_t>(i * 37 + 1));
    midFile.insert(midFile.end(), clean.begin() + 188 * 403, clean.end());
    struct Case {
        Bytes data;
        uint64_t damage, skipped, gaps;
    } cases[] = {{ReadFile(Material("ts_two_audio.ts")), 0, 0, 0},
                 {ReadFile(Material("ts_garbage.ts")), 1, 1000, 0},
                 {ReadFile(Material("ts_gap.ts")), 0, 0, 1},
                 {midFile, 1, 750, 1}};  // the packet the garbage cut short goes too
    for (const Case& c : cases) {
        TsReaderStats whole;
        const auto reference = Streams<TransportStreamReader>(c.data, 0, &whole);
        EXPECT_GE(reference.size(), 2u);
        EXPECT_EQ(whole.damageEvents, c.damage);
        EXPECT_EQ(whole.bytesSkipped, c.skipped);
        EXPECT_EQ(whole.continuityErrors, c.gaps);
        for (size_t chunk : {size_t(1), size_t(7), size_t(187), size_t(189), size_t(565), size_t(65536)}) {
            TsReaderStats stats;
            EXPECT_TRUE(Streams<TransportStreamReader>(c.data, chunk, &stats) == reference) << chunk;
            EXPECT_EQ(stats.continuityErrors, whole.continuityErrors);
        }
    }
}

// TiVo may write AC-3 straight after the PES header, without the DVD substream header that
// ffmpeg writes and expects. Such a stream (ac3.mpg with the four header bytes dropped from
// every private stream 1 packet) must come out in the standard form with the same AC-3 bytes.
TEST(Remux, RawAc3ComesOutWithASubstreamHeaderAndTheSameAudio) {
    const Bytes in = ReadFile(Material("ac3.mpg"));
    Bytes raw;
    for (size_t i = 0; i + 4 <= in.size();) {
        ASSERT_TRUE(in[i] == 0 && in[i + 1] == 0 && in[i + 2] == 1) << "unexpected layout at " << i;
        const uint8_t code = in[i + 3];
        const size_t length = code == 0xBA   ? 14 + (in[i + 13] & 7)
                              : code == 0xB9 ? 4
                                             : 6 + (size_t(in[i + 4]) << 8 | in[i + 5]);
        const size_t header = code == 0xBD ? 9 + in[i + 8] : length;
        raw.insert(raw.end(), in.begin() + i, in.begin() + i + header);
        if (code == 0xBD) {
            ASSERT_EQ(in[i + header], 0x80);
            raw[raw.size() - header + 4] = static_cast<uint8_t>((length - 10) >> 8);
            raw[raw.size() - header + 5] = static_cast<uint8_t>(length - 10);
            raw.insert(raw.end(), in.begin() + i + header + 4, in.begin() + i + length);
        }
        i += length;
    }
    WriteFile(Temp("raw_ac3.mpg"), raw);
    RemuxStats stats;
    std::string error;
    ASSERT_TRUE(RemuxFile(Temp("raw_ac3.mpg"), Temp("raw_ac3.out.mpg"), &stats, &error)) << error;
    EXPECT_EQ(stats.streams, 2u);
    EXPECT_TRUE(Streams(ReadFile(Temp("raw_ac3.out.mpg"))) == Streams(in));
}

TEST(Remux, ReadSizesAndAScrambledPayload) {
    FileByteSource source;
    std::string error;
    ASSERT_TRUE(source.Open(Material("two_audio.mpg"), &error)) << error;
    MemoryByteSink a, b;
    RemuxOptions small;
    small.readChunkBytes = 4093;
    ASSERT_TRUE(RemuxProgramStream(source, 0, a, nullptr, &error, small)) << error;
    ASSERT_TRUE(RemuxProgramStream(source, 0, b, nullptr, &error)) << error;
    EXPECT_TRUE(a.Bytes() == b.Bytes());

    // Every PES packet scrambled from the middle on, past the probe window's reach.
    Bytes scrambled = ReadFile(Material("mp2.mpg"));
    for (size_t i = scrambled.size() / 2; i + 7 < scrambled.size(); ++i)
        if (scrambled[i] == 0 && scrambled[i + 1] == 0 && scrambled[i + 2] == 1 &&
            (scrambled[i + 3] == 0xE0 || scrambled[i + 3] == 0xC0))
            scrambled[i + 6] |= 0x30;
    WriteFile(Temp("scrambled.mpg"), scrambled);
    ASSERT_TRUE(WrapMpegInTivo(Temp("scrambled.mpg"), Temp("scrambled.TiVo"), &error)) << error;
    EXPECT_FALSE(RemuxFile(Temp("scrambled.TiVo"), Temp("scrambled.out.mpg"), nullptr, &error));
    EXPECT_NE(error.find("encrypted, needs the Media Access Key"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(Temp("scrambled.out.mpg"))) << "no partial output is left behind";
}

// Our encryptors make the recordings of an independent implementation from their clear
// originals, records, key packets and all: what they make for the other tests is what a TiVo
// sends.
TEST(Encryptors, MakeTheKnownAnswerRecordingsBitForBit) {
    for (const std::string name : {"ps-mpeg2-ac3", "ps-mpeg2-mp2-large", "ts-mpeg2-ac3", "ts-h264-ac3"}) {
        TivoKeys keys;
        const Bytes payload = Payload(Vector(name + ".TiVo"), &keys);
        EncryptOptions options;
        if (name[0] == 't') {
            options.packetsPerBlock = 100;
            EXPECT_TRUE(EncryptTs(ReadFile(Vector(name + ".ts")), keys, options) == payload) << name;
            continue;
        }
        options.packetsPerBlock = 50;
        Bytes clear = ReadFile(Vector(name + ".mpg"));
        ProgramStreamEncryptor encryptor(keys, options);
        MemoryByteSink sink;
        EXPECT_TRUE(encryptor.Feed(clear.data(), clear.size(), sink) && encryptor.Finish(sink));
        EXPECT_TRUE(sink.Bytes() == payload) << name;
    }
}

// Nearly every broadcast MPEG-2 picture carries caption user data before its first slice. A
// TiVo leaves it clear, as every header before the slice; decoders have also assumed the
// scrambling begins at the user data, or after the picture header. Each form decrypts back
// bit for bit, whatever the chunking, and each begins where it says in every picture (a start
// code cut by a packet's end stays clear, and its header with it).
TEST(TsDecrypt, CaptionUserDataInEveryFormOfScrambling) {
    const Bytes clear = WithCaptions(ReadFile(Material("ts_mpeg2_ac3.ts")), 0x100);
    const std::vector<Bytes> clearPes = PesOf(clear, 0x100);
    const auto streams = Streams<TransportStreamReader>(clear);
    ASSERT_EQ(streams.size(), 2u);
    const std::string video(streams.rbegin()->second.begin(), streams.rbegin()->second.end());
    size_t captions = 0;
    for (size_t at = 0; (at = video.find("GA94\x03", at)) != std::string::npos; ++at)
        ++captions;
    EXPECT_EQ(captions, clearPes.size());  // the reader passes them on

    // Several blocks, so that some picture's scrambled part begins where the keystream has a
    // zero byte: the decryptor must tell it from a clear byte by what it decrypts to.
    const TivoKeys keys = TestKeys();
    for (const auto form : {VideoScrambling::FromFirstSlice, VideoScrambling::FromUserData,
                            VideoScrambling::AfterPictureHeader})
        for (uint32_t firstBlock = 1; firstBlock <= 4; ++firstBlock) {
            SCOPED_TRACE(std::to_string(static_cast<int>(form)) + ", block " + std::to_string(firstBlock));
            EncryptOptions options;
            options.videoScrambling = form;
            options.firstBlock = firstBlock;
            const Bytes encrypted = EncryptTs(clear, keys, options);
            for (size_t chunk : {size_t(187), size_t(65536)})
                EXPECT_TRUE(DecryptTs(encrypted, keys, chunk) == clear) << "chunks of " << chunk;
            const std::vector<Bytes> scrambled = PesOf(encrypted, 0x100);
            ASSERT_EQ(scrambled.size(), clearPes.size());
            size_t asSaid = 0;
            for (size_t i = 0; i < clearPes.size(); ++i) {
                const Bytes& c = clearPes[i];
                const size_t picture = FindCode(c, 9 + c[8], 0x00), slice = FindCode(c, picture, 0, true);
                const size_t begin = form == VideoScrambling::FromUserData ? FindCode(c, picture, 0xB2)
                                     : form == VideoScrambling::AfterPictureHeader
                                         ? FindCode(c, picture + 4, 0xB5)
                                         : slice;
                EXPECT_TRUE(ScrambledFrom(c, scrambled[i], begin) || ScrambledFrom(c, scrambled[i], slice))
                    << "PES " << i;
                asSaid += ScrambledFrom(c, scrambled[i], begin);
            }
            EXPECT_GT(asSaid, clearPes.size() * 3 / 4);
            if (form == VideoScrambling::FromFirstSlice) {
                EXPECT_EQ(asSaid, clearPes.size());
            }
        }
}

// What `korvane-tivo wrap --ts --mak` makes when not told otherwise: the decoder the front ends
// run on transport streams gives back MPEG-2 video with caption user data exactly only when
// the scrambling begins at the user data's start code, so wrapped material begins it there (a
// TiVo's form, from the first slice, is the same for video without user data: the known-answer
// recordings). Our decryptor gives the input back bit for bit.
TEST(TsDecrypt, AWrappedBroadcastIsScrambledFromItsCaptionUserData) {
    const Bytes clear = WithCaptions(ReadFile(Material("ts_mpeg2_ac3.ts")), 0x100);
    const std::string input = Temp("captions.ts"), tivo = Temp("captions.TiVo"), back = Temp("captions.back.ts");
    WriteFile(input, clear);
    TivoWrapOptions options;  // as the tool leaves them, but for the key
    options.mediaAccessKey = kMak;
    std::string error;
    ASSERT_TRUE(WrapMpegInTivo(input, tivo, &error, options)) << error;

    const std::vector<Bytes> clearPes = PesOf(clear, 0x100), scrambled = PesOf(Payload(tivo), 0x100);
    ASSERT_EQ(scrambled.size(), clearPes.size());
    size_t fromUserData = 0;
    for (size_t i = 0; i < clearPes.size(); ++i) {
        const Bytes& c = clearPes[i];
        const size_t picture = FindCode(c, 9 + c[8], 0x00), userData = FindCode(c, picture, 0xB2),
                     slice = FindCode(c, picture, 0, true);
        ASSERT_LT(userData, slice) << "PES " << i;
        // A user data start code cut by the end of a packet stays clear as far as it goes,
        // and its header with it: then the scrambling begins at the slice.
        EXPECT_TRUE(ScrambledFrom(c, scrambled[i], userData) || ScrambledFrom(c, scrambled[i], slice))
            << "PES " << i;
        fromUserData += ScrambledFrom(c, scrambled[i], userData);
    }
    EXPECT_GT(fromUserData, clearPes.size() * 3 / 4);

    DecryptStats stats;
    ASSERT_TRUE(DecryptTivoFile(tivo, back, kMak, &stats, &error)) << error;
    EXPECT_EQ(stats.DamageCount(), 0u);
    EXPECT_GT(stats.packetsDecrypted, clearPes.size());
    EXPECT_TRUE(ReadFile(back) == clear);
}

// A PAT that moves the PMT to another PID mid-recording, whose new PMT adds a stream: the
// reader, the encryptor and the decryptor all follow the move.
TEST(TsDecrypt, FollowsAPatThatMovesThePmt) {
    const Bytes moved = WithPmtMoved(ReadFile(Material("ts_mpeg2_ac3.ts")), 0x1000, 0x1010,
                                     {{0x02, 0x100, {}}, {0x81, 0x101, {}}, {0x81, 0x102, {}}}, 0x101, 0x102);
    EXPECT_EQ(Streams<TransportStreamReader>(moved).size(), 3u);
    const TivoKeys keys = TestKeys();
    const Bytes encrypted = EncryptTs(moved, keys);
    size_t addedScrambled = 0;
    for (size_t i = 0; i + 188 <= encrypted.size(); i += 188)
        addedScrambled += PidOf(&encrypted[i]) == 0x102 && (encrypted[i + 3] & 0xC0);
    EXPECT_GT(addedScrambled, 10u);
    EXPECT_TRUE(DecryptTs(encrypted, keys, 65536) == moved);  // the new PMT loses its key PID entry too
}

// Key packets can name every PID, and each PID's keystream takes 4.5 KiB (or 9.5) for good:
// past 64 PIDs the decryptor drops the packets of new ones rather than grow.
TEST(TsDecrypt, KeepsKeystreamsForAHandfulOfPidsOnly) {
    TsBuilder b;
    b.Pat(0x20);
    b.Pmt(0x20, 0, {{0x97, 0x1F0, {}}});
    for (int first = 0x100; first < 0x100 + 80; first += 8) {
        Bytes keys = {'T', 'i', 'V', 'o', 0x81, 0x03, 0x7D, 0x00, 0, 160};
        for (int pid = first; pid < first + 8; ++pid)
            Append(keys,
                   {U8(pid >> 8), U8(pid), 0xC0, 0x10, 0x80, 0x40, 0, 0x20, 0x30, 0, 0, 0, 0, 0, 0, 0, 0,
                    0x02,         0,       0x01});
        b.Packets(0x1F0, keys, 0, true);
    }
    for (uint16_t pid = 0x100; pid < 0x100 + 80; ++pid)
        b.Packets(pid, Filler(184, 1), 3);
    TransportStreamDecryptor decryptor(TestKeys());
    MemoryByteSink sink;
    ASSERT_TRUE(decryptor.Feed(b.out.data(), b.out.size(), sink) && decryptor.Finish(sink));
    EXPECT_EQ(decryptor.Stats().packetsDecrypted, 64u);
    EXPECT_EQ(decryptor.Stats().packetsDropped, 16u);
}
