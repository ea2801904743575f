// The program stream decryptor and encryptor, the key check and parsing with a key. Scrambled
// packets are built here by hand, following ISO/IEC 13818-1 for the header and the composed
// keystream (checked against outside vectors in CipherTest), so the decryptor is judged
// against the layout rather than against our own encryptor.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "Collect.h"
#include "TestFiles.h"
#include "media/ProgramStreamDecryptor.h"
#include "media/ProgramStreamEncryptor.h"
#include "media/TivoContainer.h"
#include "media/TivoMetadata.h"
#include "media/TivoWriter.h"

using namespace korvane::media;
using namespace korvane::test;

namespace {

// Feeds a copy of the input in chunks of the given size (0: in one piece).
Bytes Decrypt(Bytes work, const TivoKeys& keys, size_t chunk = 0, DecryptStats* stats = nullptr) {
    ProgramStreamDecryptor decryptor(keys);
    MemoryByteSink sink;
    chunk = chunk ? chunk : work.size();
    for (size_t pos = 0; pos < work.size(); pos += chunk)
        EXPECT_TRUE(decryptor.Feed(work.data() + pos, std::min(chunk, work.size() - pos), sink));
    EXPECT_TRUE(decryptor.Finish(sink));
    if (stats) *stats = decryptor.Stats();
    return sink.Bytes();
}

Bytes Encrypt(Bytes work, const TivoKeys& keys) {
    EncryptOptions options;
    options.packetsPerBlock = 50;
    ProgramStreamEncryptor encryptor(keys, options);
    MemoryByteSink sink;
    bool ok = encryptor.Feed(work.data(), work.size(), sink) && encryptor.Finish(sink);
    return ok ? sink.Bytes() : Bytes{};
}

// A scrambled packet as a TiVo lays it out: scrambling '11', the timestamps, then a PES
// extension whose only field is the 16-byte record; the payload XORed after 4 keystream
// bytes spent on the record's crypted word.
Bytes ScrambledPes(const PesSpec& clear, uint32_t block, KeystreamSet& keystreams) {
    Bytes header = {0xB1, static_cast<uint8_t>((clear.pts ? (clear.dts ? 0xC0 : 0x80) : 0) | 0x01), 0};
    if (clear.pts) Append(header, Timestamp(clear.dts ? 3 : 2, clear.ptsValue));
    if (clear.pts && clear.dts) Append(header, Timestamp(1, clear.dtsValue));
    // Marker bits, the 24-bit block number spread over four bytes, then fixed fields.
    Bytes record = {0x80, 0x40, 0, 0x20, 0x10, 0x5A, 0xA5, 0, 0, 0, 0, 0x03, 0x77, 0x03, 0x12, 0x35};
    record[1] |= (block >> 18) & 0x3F;
    record[2] = static_cast<uint8_t>(block >> 10);
    record[3] |= ((block >> 8) & 0x03) << 6 | ((block >> 3) & 0x1F);
    record[4] |= (block & 0x07) << 5;
    header.push_back(clear.pstdBuffer ? 0x9E : 0x8E);  // the P-STD buffer field follows the record
    Append(header, record);
    if (clear.pstdBuffer) Append(header, Bound(0x40, clear.pstdLargeScale, clear.pstdSize));
    header[2] = static_cast<uint8_t>(header.size() - 3);
    Bytes payload = clear.substreamHeader;
    Append(payload, clear.payload);
    TuringKeystream* keystream = keystreams.Select(clear.streamId, clear.streamId, block);
    keystream->Skip(4);
    keystream->Xor(payload.data(), payload.size());
    Append(header, payload);
    return Unit(clear.streamId, header);
}

struct Built {
    Bytes clear, scrambled;
    std::vector<size_t> scrambledStarts;                  // offsets of the scrambled packets in `scrambled`
    std::vector<std::pair<size_t, size_t>> clearPackets;  // the same packets in `clear`: offset, size
};

// Every stream id that can be scrambled, interleaved packet by packet, each packet in turn
// without a timestamp, with a PTS, with a PTS and a DTS, and now and then with a P-STD buffer
// field in its PES extension; the block changes every 4 packets.
Built InterleavedStreams(const TivoKeys& keys, int rounds = 12) {
    const uint8_t ids[] = {0xBD, 0xC0, 0xD5, 0xDF, 0xE0, 0xEF, 0xF3, 0xF7, 0xF9};
    KeystreamSet keystreams(keys.media);
    Built b;
    for (int r = 0; r < rounds; ++r) {
        Bytes pack = PackHeader(r * 3000, r % 2);
        Append(b.clear, pack);
        Append(b.scrambled, pack);
        for (uint8_t id : ids) {
            const int64_t t = r * 3003;
            PesSpec form{id,      Filler(100 + 37 * r + id, U8(id + r)), r % 3 > 0, r % 3 == 2, 9000 + t,
                         6000 + t};
            form.pstdBuffer = (r + id) % 4 == 0;
            form.pstdSize = 58;
            Bytes pes = Pes(form);
            b.clearPackets.push_back({b.clear.size(), pes.size()});
            Append(b.clear, pes);
            b.scrambledStarts.push_back(b.scrambled.size());
            Append(b.scrambled,
                   ScrambledPes(form, 0x1000 + static_cast<uint32_t>(r / 4) * 0x10101, keystreams));
        }
        Append(b.clear, Padding(40));
        Append(b.scrambled, Padding(40));
    }
    return b;
}

bool AnyScrambledPes(const Bytes& stream) {
    ProgramStreamReader reader;
    ReadAll(stream, 0, reader);
    return reader.Status() == ReaderStatus::Encrypted;
}

}  // namespace

TEST(Decryptor, FindsTheRecordAfterEveryHeaderLayoutOfEveryStream) {
    TivoKeys keys = TestKeys();
    Built b = InterleavedStreams(keys);
    ASSERT_TRUE(AnyScrambledPes(b.scrambled));
    DecryptStats stats;
    Bytes out = Decrypt(b.scrambled, keys, 0, &stats);
    EXPECT_EQ(out, b.clear);  // record and extension gone, lengths and scrambling bits restored
    EXPECT_EQ(stats.packetsDecrypted, b.scrambledStarts.size());
    EXPECT_EQ(stats.DamageCount(), 0u);
}

TEST(Decryptor, DropsWhatItCannotDecryptAndKeepsTheRestRight) {
    TivoKeys keys = TestKeys();
    Built b = InterleavedStreams(keys);
    // The clear stream without the packets damaged below, for comparison.
    Bytes damaged = b.scrambled;
    const size_t invalid = b.scrambledStarts[13], missing = b.scrambledStarts[49],
                 badHeader = b.scrambledStarts[71];
    auto recordAt = [&](size_t start) { return start + 9 + damaged[start + 8] - 16; };
    damaged[recordAt(invalid) + 15] &= 0xFE;  // a marker bit of the record
    damaged[recordAt(missing) - 1] &= 0x7F;   // the extension no longer says it has private data
    damaged[badHeader + 7] = (damaged[badHeader + 7] & 0x3F) | 0x40;  // a DTS without a PTS
    DecryptStats stats;
    Bytes out = Decrypt(damaged, keys, 0, &stats);
    EXPECT_EQ(stats.invalidRecords, 1u);
    EXPECT_EQ(stats.missingRecords, 1u);
    EXPECT_EQ(stats.badHeaders, 1u);
    EXPECT_EQ(stats.packetsDropped, 3u);
    EXPECT_FALSE(AnyScrambledPes(out));

    // Every other packet comes out exactly: the packets of the same streams after the damage
    // decrypt right because the keystream moved past the dropped ones. (Damage to the first
    // packet of a new block cannot be told from damage to the last of the old one; the
    // damaged packets here are not first in their blocks.)
    Bytes want = b.clear;
    for (size_t dropped : {71u, 49u, 13u})
        want.erase(
            want.begin() + static_cast<long>(b.clearPackets[dropped].first),
            want.begin() + static_cast<long>(b.clearPackets[dropped].first + b.clearPackets[dropped].second));
    EXPECT_EQ(out, want);
}

TEST(Decryptor, SkipsDamageBetweenPacketsAndDropsACutScrambledPacket) {
    TivoKeys keys = TestKeys();
    Built b = InterleavedStreams(keys, 3);
    Bytes damaged(b.scrambled.begin(), b.scrambled.begin() + static_cast<long>(b.scrambledStarts[5]));
    Bytes junk = {0x00, 0x00, 0x01, 0x07, 0x12, 0x00, 0x00, 0x33, 0x00, 0x00, 0x01, 0x42, 0xAA};
    Append(damaged, junk);
    damaged.insert(
        damaged.end(), b.scrambled.begin() + static_cast<long>(b.scrambledStarts[5]),
        b.scrambled.begin() + static_cast<long>(b.scrambledStarts.back() + 30));  // the last cut short
    // All but the cut packet and the padding after it.
    const Bytes want(b.clear.begin(), b.clear.begin() + static_cast<long>(b.clearPackets.back().first));
    for (size_t chunk : {0, 1, 7}) {
        DecryptStats stats;
        Bytes out = Decrypt(damaged, keys, chunk, &stats);
        EXPECT_EQ(stats.damageEvents, 2u);
        EXPECT_EQ(stats.bytesSkipped, junk.size() + 30);
        EXPECT_EQ(stats.truncatedUnits, 1u);
        EXPECT_EQ(stats.packetsDecrypted, b.scrambledStarts.size() - 1);
        EXPECT_EQ(out, want);
    }
}

// A clear unit whose bytes hold what reads as a scrambled packet: cut short by the end, with a
// length too large for it, or with a header that makes no sense. The decryptor must cut the
// stream as the reader does, or it passes on as clear payload a packet the reader then finds
// scrambled.
TEST(Decryptor, CutsUnitsAsTheReaderDoesSoNothingScrambledHidesInClearBytes) {
    const Bytes hidden = Unit(0xC0, {0xB0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});  // no record
    auto clearVideo = [&](uint8_t headerLength, bool holdsHidden, int lengthError) {
        Bytes content = {0x80, 0x00, headerLength, 1, 2, 3};
        if (holdsHidden) Append(content, hidden);
        Bytes unit = Unit(0xE0, content);
        unit[5] = U8(unit[5] + lengthError);
        return unit;
    };
    // The next unit starts inside the claimed length; a header longer than its packet; a
    // packet the end of the input cuts short.
    Bytes tooLong = clearVideo(0, false, 40);
    Append(tooLong, hidden);
    Append(tooLong, PackHeader(3000));
    Append(tooLong, Padding(40));
    Bytes badHeader = clearVideo(0xF0, true, 0);
    Append(badHeader, PackHeader(3000));
    const Bytes cut = clearVideo(0, true, 2);
    for (const Bytes& unit : {tooLong, badHeader, cut}) {
        Bytes stream = PackHeader(0);
        Append(stream, unit);
        for (size_t chunk : {0, 1, 5})
            EXPECT_FALSE(AnyScrambledPes(Decrypt(stream, TestKeys(), chunk))) << "chunks of " << chunk;
    }
}

TEST(KeyCheck, VideoDecidesWithoutEncryptedMetadataEvenWhenTheFirstPacketIsDamaged) {
    // A file with plain metadata around a payload we scramble ourselves.
    Bytes head = BuildTivoHead(false);
    TivoFile file;
    MemoryByteSource headSource(head.data(), head.size());
    ParseTivo(headSource, &file, nullptr);  // no payload yet: only the chunks matter
    TivoKeys keys;
    ASSERT_TRUE(DeriveTivoKeys(kMak, file, &keys));
    Bytes encrypted = Encrypt(ReadFile(Vector("ps-mpeg2-ac3.mpg")), keys);
    ASSERT_FALSE(encrypted.empty());

    auto byVideo = [&encrypted](const TivoKeys& k) {
        MemoryByteSource source(encrypted.data(), encrypted.size());
        return CheckKeyByVideo(source, 0, encrypted.size(), k);
    };
    EXPECT_EQ(byVideo(keys), KeyFit::Fits);
    TivoKeys wrong;
    ASSERT_TRUE(DeriveTivoKeys("0123456788", file, &wrong));
    EXPECT_EQ(byVideo(wrong), KeyFit::Wrong);

    // Noise over the whole payload of the first scrambled video packet: the right key still fits.
    size_t first = 0;
    for (size_t i = 0; i + 9 < encrypted.size(); ++i)
        if (encrypted[i] == 0 && encrypted[i + 1] == 0 && encrypted[i + 2] == 1 && encrypted[i + 3] == 0xE0 &&
            (encrypted[i + 6] & 0x30) == 0x30) {
            first = i;
            break;
        }
    ASSERT_NE(first, 0u);
    size_t length = size_t(encrypted[first + 4]) << 8 | encrypted[first + 5];
    for (size_t i = first + 9 + encrypted[first + 8]; i < first + 6 + length; ++i)
        encrypted[i] = static_cast<uint8_t>(i * 7919 >> 3);
    EXPECT_EQ(byVideo(keys), KeyFit::Fits);

    // Through the file: CheckKey falls back to the video when the metadata is plain.
    Bytes tivo = head;
    Append(tivo, encrypted);
    MemoryByteSource source(tivo.data(), tivo.size());
    ASSERT_EQ(ParseTivo(source, &file, nullptr), TivoStatus::Ok);
    KeyCheck check = CheckKey(source, file, keys);
    EXPECT_EQ(check.fit, KeyFit::Fits);
    EXPECT_EQ(check.basis, KeyCheckBasis::Video);
    EXPECT_EQ(CheckKey(source, file, wrong).fit, KeyFit::Wrong);
}

// The metadata key check makes keystream up to the chunk's offset for every key it tries: a
// chunk near 4 GiB would cost minutes on the user-interface thread, so it is left untried
// (and a file whose payload could tell falls back to the video). So is a chunk too short to
// tell: a wrong key turns 20 bytes into something that passes for XML too often.
TEST(KeyCheck, LeavesMetadataItCannotJudgeCheaplyAndSurelyUntried) {
    const TivoKeys keys = TestKeys();
    TivoChunk far, shortChunk;
    far.type = shortChunk.type = kTivoChunkEncryptedXml;
    far.fileOffset = 0xFFFF0000u;
    far.data = Bytes(100, 'x');
    shortChunk.fileOffset = 1000;
    const std::string xml = "<a>a short note</a>";
    shortChunk.data.assign(xml.begin(), xml.end());
    ASSERT_TRUE(CryptMetadata(keys, 1000 + kTivoChunkHeaderSize, shortChunk.data.data(), xml.size()));
    for (const TivoChunk& chunk : {far, shortChunk}) {
        TivoFile file;
        file.chunks = {chunk};
        EXPECT_EQ(CheckKeyByMetadata(file, keys).basis, KeyCheckBasis::None);
    }
    std::string text;
    EXPECT_FALSE(DecryptMetadataChunk(keys, far, &text));
    EXPECT_TRUE(DecryptMetadataChunk(keys, shortChunk, &text) && text == xml);  // the tool still shows it
}
