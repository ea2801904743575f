// The payload view: every read, at any offset and of any size, in any order, gives the bytes
// the whole payload decrypted in one pass with every byte kept at its offset gives. That
// reference is the streaming decryptors' (DecryptLayout::KeepOffsets), a state machine of
// their own; the known-answer recordings check both against outside material.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "BroadcastTs.h"
#include "Collect.h"
#include "TestFiles.h"
#include "TsBuilder.h"
#include "media/PayloadView.h"
#include "media/ProgramStreamDecryptor.h"
#include "media/ProgramStreamEncryptor.h"
#include "media/TivoContainer.h"
#include "media/TransportStreamDecryptor.h"
#include "media/TransportStreamEncryptor.h"
#include "media/TransportStreamReader.h"

using namespace korvane::media;
using namespace korvane::test;

namespace {

struct Recording {
    std::string name;
    Bytes payload;
    bool ts;
};

TivoFile FileOf(const Recording& r) {
    TivoFile file;
    file.payloadOffset = 0;
    file.payloadSize = file.fileSize = r.payload.size();
    file.payloadKind = r.ts ? PayloadKind::TransportStream : PayloadKind::ProgramStream;
    file.scrambled = true;
    return file;
}

// The whole payload through the streaming decryptor, keeping offsets.
template <class Decryptor>
Bytes KeepOffsets(Bytes work, const TivoKeys& keys, DecryptStats* stats) {
    Decryptor decryptor(keys, KeystreamMaking::OnCallerThread, DecryptLayout::KeepOffsets);
    MemoryByteSink sink;
    EXPECT_TRUE(decryptor.Feed(work.data(), work.size(), sink) && decryptor.Finish(sink));
    if (stats) *stats = decryptor.Stats();
    return sink.Bytes();
}

Bytes Reference(const Recording& r, const TivoKeys& keys, DecryptStats* stats = nullptr) {
    Bytes out = r.ts ? KeepOffsets<TransportStreamDecryptor>(r.payload, keys, stats)
                     : KeepOffsets<ProgramStreamDecryptor>(r.payload, keys, stats);
    EXPECT_EQ(out.size(), r.payload.size()) << r.name;
    return out;
}

Recording EncryptPs(const std::string& name, Bytes clear, uint32_t packetsPerBlock) {
    EncryptOptions options;
    options.packetsPerBlock = packetsPerBlock;
    ProgramStreamEncryptor encryptor(TestKeys(), options);
    MemoryByteSink sink;
    EXPECT_TRUE(encryptor.Feed(clear.data(), clear.size(), sink) && encryptor.Finish(sink)) << encryptor.ErrorText();
    return {name + " / " + std::to_string(packetsPerBlock), sink.Bytes(), false};
}

Recording EncryptTs(const std::string& name, Bytes clear, uint32_t packetsPerBlock,
                    VideoScrambling form = VideoScrambling::FromFirstSlice) {
    EncryptOptions options;
    options.packetsPerBlock = packetsPerBlock;
    options.videoScrambling = form;
    TransportStreamEncryptor encryptor(TestKeys(), options);
    MemoryByteSink sink;
    EXPECT_TRUE(encryptor.Feed(clear.data(), clear.size(), sink) && encryptor.Finish(sink)) << encryptor.ErrorText();
    return {name + " / " + std::to_string(packetsPerBlock), sink.Bytes(), true};
}

// Reads that reach anywhere: sizes from nothing to a megabyte, now and then going on where the
// last one stopped, going back a little, or running past the end.
void RandomReads(const Recording& r, const TivoKeys& keys, const Bytes& want, const PayloadViewOptions& options,
                 int count, uint64_t seed) {
    SCOPED_TRACE(r.name);
    MemoryByteSource source(r.payload.data(), r.payload.size());
    PayloadView view(source, FileOf(r), keys, options);
    ASSERT_EQ(view.Size(), want.size());
    std::mt19937_64 rng(seed);
    const uint64_t size = want.size();
    uint64_t last = 0;
    Bytes got;
    for (int i = 0; i < count; ++i) {
        uint64_t offset;
        switch (rng() % 8) {
        case 0:
        case 1:
            offset = last;  // going on
            break;
        case 2:
            offset = last > 5000 ? last - rng() % 5000 : 0;  // a little back
            break;
        case 3:
            offset = size - std::min<uint64_t>(size, rng() % 70000);  // near the end
            break;
        default:
            offset = rng() % (size + 1);
        }
        static const size_t kSizes[] = {0, 1, 187, 188, 2048, 65536, 1 << 20};
        const size_t top = kSizes[rng() % 7];
        const size_t length = top ? 1 + rng() % top : 0;
        got.assign(length, 0xA5);
        const size_t n = view.ReadAt(offset, got.data(), length);
        const size_t expected = offset >= size ? 0 : static_cast<size_t>(std::min<uint64_t>(length, size - offset));
        ASSERT_EQ(n, expected) << "read " << i << " at " << offset << " of " << length;
        const auto mismatch = std::mismatch(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n),
                                            want.begin() + static_cast<std::ptrdiff_t>(std::min(offset, size)));
        ASSERT_TRUE(mismatch.first == got.begin() + static_cast<std::ptrdiff_t>(n))
            << "read " << i << " at " << offset << " of " << length << " differs at payload offset "
            << offset + static_cast<uint64_t>(mismatch.first - got.begin());
        last = offset + n;
    }
    EXPECT_FALSE(view.Failed());
}

// Small enough that a short stream makes the view do what a long recording does: start
// afresh far from any state it holds, look back more than once, fall back on checkpoints.
PayloadViewOptions Tight() {
    PayloadViewOptions o;
    o.windowBytes = 1 << 17;
    o.firstScanBytes = 3000;
    o.continueBytes = 20000;
    o.checkpointSpacing = 30000;
    o.maxCheckpoints = 8;
    return o;
}

// The same with the helper thread making blocks ahead while reads go on.
PayloadViewOptions Helped(PayloadViewOptions o = {}) {
    o.keystreamMaking = KeystreamMaking::WithHelperThread;
    return o;
}

std::vector<Recording> Recordings() {
    std::vector<Recording> all;
    for (uint32_t blocks : {1u, 7u, 50u, 1000000u}) {
        all.push_back(EncryptPs("ps-mpeg2-ac3", ReadFile(Vector("ps-mpeg2-ac3.mpg")), blocks));
        all.push_back(EncryptPs("ps-mpeg2-mp2-large", ReadFile(Vector("ps-mpeg2-mp2-large.mpg")), blocks));
        all.push_back(EncryptTs("ts-mpeg2-ac3", ReadFile(Vector("ts-mpeg2-ac3.ts")), blocks));
        all.push_back(EncryptTs("ts-h264-ac3", ReadFile(Vector("ts-h264-ac3.ts")), blocks));
    }
    // Caption user data before every picture's first slice: the clear part runs on to where
    // the bytes decrypt to a slice, which only the keystream tells.
    const Bytes captioned = WithCaptions(ReadFile(Vector("ts-mpeg2-ac3.ts")), 0x100);
    for (uint32_t blocks : {1u, 3u, 50u})
        all.push_back(EncryptTs("captioned ts-mpeg2-ac3", captioned, blocks));
    // A PAT that moves the PMT to another PID halfway, whose PMT adds a stream.
    all.push_back(EncryptTs("moved PMT",
                            WithPmtMoved(ReadFile(Vector("ts-mpeg2-ac3.ts")), 0x1000, 0x1010,
                                         {{0x02, 0x100, {}}, {0x81, 0x101, {}}, {0x81, 0x102, {}}}, 0x101, 0x102),
                            7));
    return all;
}

}  // namespace

// 20,000 reads over program and transport streams, MPEG-2 and H.264, blocks of one packet to
// one for the whole recording, with the defaults and with everything small, each with and
// without the helper thread.
TEST(PayloadView, RandomReadsGiveTheReferenceBytes) {
    const TivoKeys keys = TestKeys();
    const std::vector<Recording> all = Recordings();
    uint64_t seed = 1;
    int reads = 0;
    for (const Recording& r : all) {
        const Bytes want = Reference(r, keys);
        const int each = (20000 - reads) / int(all.size() - (&r - all.data())) / 4;
        RandomReads(r, keys, want, {}, each, seed++);
        RandomReads(r, keys, want, Tight(), each, seed++);
        RandomReads(r, keys, want, Helped(), each, seed++);
        RandomReads(r, keys, want, Helped(Tight()), each, seed++);
        reads += 4 * each;
    }
    EXPECT_GE(reads, 19980);
}

namespace {

// The whole payload through the view in pieces of `piece` bytes.
Bytes ReadThrough(PayloadView& view, size_t piece) {
    Bytes all(static_cast<size_t>(view.Size()));
    for (uint64_t pos = 0; pos < all.size();) {
        const size_t n = view.ReadAt(pos, all.data() + pos, std::min<size_t>(piece, all.size() - pos));
        if (n == 0) break;
        pos += n;
    }
    return all;
}

bool IsNullPacket(const uint8_t* p) {
    static const uint8_t head[4] = {0x47, 0x1F, 0xFF, 0x10};
    return std::equal(head, head + 4, p) && std::all_of(p + 4, p + 188, [](uint8_t b) { return b == 0xFF; });
}

// Where each unit of a well-formed program stream (the vectors') begins.
std::vector<size_t> UnitStarts(const Bytes& ps) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 6 <= ps.size();) {
        starts.push_back(i);
        const uint8_t code = ps[i + 3];
        i += code == 0xBA ? 14 + (ps[i + 13] & 7) : code == 0xB9 ? 4 : 6 + (size_t(ps[i + 4]) << 8 | ps[i + 5]);
    }
    return starts;
}

}  // namespace

// Reading on from the last read, the case the helper thread is for: through the whole payload
// in pieces of several sizes, then on from places far apart (the blocks made ahead of the
// last place then do not come next), with and without the helper.
TEST(PayloadView, SequentialReadsGiveTheReferenceBytes) {
    const TivoKeys keys = TestKeys();
    // Blocks the helper made and the view used. Not every recording gets any: where the block
    // number moves on with all streams' packets together and a stream's packets are sparse,
    // its blocks skip numbers and the helper gives it up, as the decryptors' does.
    uint64_t handedOver = 0;
    for (const Recording& r : Recordings()) {
        SCOPED_TRACE(r.name);
        const Bytes want = Reference(r, keys);
        MemoryByteSource source(r.payload.data(), r.payload.size());
        for (const PayloadViewOptions& options : {PayloadViewOptions(), Tight(), Helped(), Helped(Tight())}) {
            for (size_t piece : {size_t(1000), size_t(65536), size_t(1) << 20}) {
                PayloadView view(source, FileOf(r), keys, options);
                EXPECT_TRUE(ReadThrough(view, piece) == want) << piece;
                EXPECT_FALSE(view.Failed());
                if (options.keystreamMaking == KeystreamMaking::OnCallerThread)
                    EXPECT_EQ(view.Stats().blocksMadeAhead, 0u);
                else
                    handedOver += view.Stats().blocksMadeAhead;
            }
            PayloadView view(source, FileOf(r), keys, options);
            const uint64_t size = want.size();
            Bytes got(20000);
            for (uint64_t start : {size / 2, uint64_t(0), size / 3, size / 4 * 3, size / 3 + 1000}) {
                for (uint64_t pos = start; pos < std::min(size, start + 200000);) {
                    const size_t n = view.ReadAt(pos, got.data(), got.size());
                    ASSERT_GT(n, 0u);
                    ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n),
                                           want.begin() + static_cast<std::ptrdiff_t>(pos)))
                        << "at " << pos;
                    pos += n;
                }
            }
        }
    }
    EXPECT_GT(handedOver, 100u);
}

// The recordings an independent implementation encrypted read through the view as their clear
// originals, but for what the view keeps to keep every offset:
// - transport streams: each key packet (PID 0x0FF0) is a null packet, 188 bytes the original
//   does not have; every other packet is the original's bit for bit, the PMT too (its key PID
//   entry taken out again, the section and its CRC as they were, 0xFF after it);
// - program streams: each scrambled packet still holds its record: 17 bytes more than the
//   original (the PES extension's flags byte and the 16-byte record, both as in the .TiVo),
//   with PES_packet_length and PES_header_data_length 17 larger and PES_extension_flag set;
//   taken out, the rest is the original bit for bit.
TEST(PayloadView, KnownAnswerRecordingsReadAsTheirClearOriginals) {
    for (const std::string name : {"ts-mpeg2-ac3", "ts-h264-ac3", "ps-mpeg2-ac3", "ps-mpeg2-mp2-large"}) {
        SCOPED_TRACE(name);
        const bool ts = name[1] == 's' && name[0] == 't';
        TivoFile file;
        std::string error;
        TivoParseOptions parse;
        parse.mediaAccessKeys = {kMak};
        ASSERT_EQ(ParseTivoFile(Vector(name + ".TiVo"), &file, &error, parse), TivoStatus::Ok) << error;
        ASSERT_EQ(file.keyIndex, 0);
        FileByteSource source;
        ASSERT_TRUE(source.Open(Vector(name + ".TiVo"), &error)) << error;
        PayloadView view(source, file, file.keys);
        const Bytes got = ReadThrough(view, 65536);
        const Bytes all = ReadFile(Vector(name + ".TiVo"));
        const Bytes encrypted(all.begin() + static_cast<std::ptrdiff_t>(file.payloadOffset), all.end());
        const Bytes original = ReadFile(Vector(name + (ts ? ".ts" : ".mpg")));
        ASSERT_EQ(got.size(), encrypted.size());
        EXPECT_TRUE(got == Reference({name, encrypted, ts}, file.keys));
        EXPECT_EQ(view.Stats().packetsLeftScrambled, 0u);
        PayloadView helped(source, file, file.keys, Helped());
        EXPECT_TRUE(ReadThrough(helped, 65536) == got);

        Bytes kept;
        if (ts) {
            size_t keyPackets = 0, pmtsRewritten = 0;
            for (size_t i = 0; i + 188 <= got.size(); i += 188) {
                if (PidOf(&encrypted[i]) == 0x0FF0) {
                    EXPECT_TRUE(IsNullPacket(&got[i])) << "packet " << i / 188;
                    ++keyPackets;
                    continue;
                }
                pmtsRewritten += PidOf(&encrypted[i]) == 0x1000 && !std::equal(&got[i], &got[i] + 188, &encrypted[i]);
                kept.insert(kept.end(), &got[i], &got[i] + 188);
            }
            EXPECT_GE(keyPackets, 2u);
            EXPECT_GT(pmtsRewritten, 0u);
        } else {
            const std::vector<size_t> starts = UnitStarts(encrypted);
            size_t records = 0;
            for (size_t k = 0; k < starts.size(); ++k) {
                const size_t at = starts[k], end = k + 1 < starts.size() ? starts[k + 1] : got.size();
                Bytes unit(got.begin() + static_cast<std::ptrdiff_t>(at), got.begin() + static_cast<std::ptrdiff_t>(end));
                const uint8_t id = unit[3];
                if ((id == 0xBD || (id >= 0xC0 && id <= 0xEF)) && (encrypted[at + 6] & 0xF0) == 0xB0) {
                    // The record follows the PTS, or stands first where there is none.
                    const size_t ext = 9 + ((unit[7] & 0x80) ? 5 : 0);
                    ASSERT_EQ(unit[6] & 0x30, 0);
                    ASSERT_TRUE(std::equal(&unit[ext], &unit[ext] + 17, &encrypted[at + ext]));
                    unit.erase(unit.begin() + static_cast<std::ptrdiff_t>(ext),
                               unit.begin() + static_cast<std::ptrdiff_t>(ext + 17));
                    unit[7] &= 0xFE;
                    unit[8] = U8(unit[8] - 17);
                    unit[4] = U8((unit.size() - 6) >> 8), unit[5] = U8(unit.size() - 6);
                    ++records;
                }
                Append(kept, unit);
            }
            EXPECT_GT(records, 5u);
            EXPECT_TRUE(PerStream(ReadAll(got)) == PerStream(ReadAll(original)));
        }
        EXPECT_TRUE(kept == original);
    }
}

TEST(PayloadView, ReadsAtAndPastTheEndAndOfNothing) {
    const TivoKeys keys = TestKeys();
    for (const Recording& r : {EncryptPs("ps", ReadFile(Vector("ps-mpeg2-ac3.mpg")), 50),
                               EncryptTs("ts", ReadFile(Vector("ts-h264-ac3.ts")), 50)}) {
        const Bytes want = Reference(r, keys);
        MemoryByteSource source(r.payload.data(), r.payload.size());
        PayloadView view(source, FileOf(r), keys);
        Bytes buffer(3 << 20, 0x5A);
        EXPECT_EQ(view.ReadAt(want.size(), buffer.data(), 10), 0u);
        EXPECT_EQ(view.ReadAt(want.size() + 5000, buffer.data(), 10), 0u);
        EXPECT_EQ(view.ReadAt(1000, buffer.data(), 0), 0u);
        EXPECT_EQ(buffer[0], 0x5A);  // nothing written
        ASSERT_EQ(view.ReadAt(want.size() - 100, buffer.data(), 1000), 100u);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 100, want.end() - 100));
        // The whole payload in one read, larger than the view's window.
        ASSERT_EQ(view.ReadAt(0, buffer.data(), buffer.size()), want.size());
        EXPECT_TRUE(std::equal(want.begin(), want.end(), buffer.begin()));
        EXPECT_FALSE(view.Failed());
    }
}

// A recording cut short inside a packet, packets that cannot be decrypted (a record's marker
// bit wrong, a key packet lost, a packet flagged in error) and damage between units: the view
// gives what the decryptor keeping offsets gives, the packets it cannot decrypt as they are in
// the file, counted.
TEST(PayloadView, CutShortAndDamagedRecordings) {
    const TivoKeys keys = TestKeys();
    std::vector<std::pair<Recording, std::vector<size_t>>> cases;  // and packets that stay scrambled

    Recording ps = EncryptPs("ps cut and damaged", ReadFile(Vector("ps-mpeg2-ac3.mpg")), 50);
    const std::vector<size_t> units = UnitStarts(ps.payload);
    size_t scrambled = 0;
    for (size_t at : units)
        if (ps.payload[at + 3] == 0xE0 && (ps.payload[at + 6] & 0x30) == 0x30 && at > ps.payload.size() / 3) {
            scrambled = at;
            break;
        }
    ASSERT_NE(scrambled, 0u);
    const size_t ext = scrambled + 9 + ((ps.payload[scrambled + 7] & 0x80) ? 5 : 0);
    ps.payload[ext + 1 + 15] &= 0xFE;  // the record's last marker bit
    const Bytes junk = {0x00, 0x00, 0x01, 0x07, 0x12, 0x47, 0x00, 0x01, 0x00, 0x00, 0x01};
    ps.payload.insert(ps.payload.begin() + static_cast<std::ptrdiff_t>(units[units.size() / 2]), junk.begin(), junk.end());
    ps.payload.resize(ps.payload.size() - 1000);
    cases.push_back({ps, {scrambled}});

    // Without the first key packet the streams have no record until the next one.
    Recording ts = EncryptTs("ts cut and damaged", ReadFile(Vector("ts-mpeg2-ac3.ts")), 50);
    size_t lostKey = 0, afterLost = 0, inError = 0;
    for (size_t i = 0; i + 188 <= ts.payload.size(); i += 188) {
        const uint8_t* p = &ts.payload[i];
        if (!lostKey && PidOf(p) == 0x0FF0)
            lostKey = i;
        else if (lostKey && !afterLost && PidOf(p) == 0x100 && (p[3] & 0xC0))
            afterLost = i;
        else if (i > ts.payload.size() / 2 && !inError && PidOf(p) == 0x101 && (p[3] & 0xC0))
            inError = i;
    }
    ASSERT_TRUE(lostKey && afterLost && inError);
    ts.payload[inError + 1] |= 0x80;
    ts.payload.erase(ts.payload.begin() + static_cast<std::ptrdiff_t>(lostKey),
                     ts.payload.begin() + static_cast<std::ptrdiff_t>(lostKey + 188));
    afterLost -= 188;
    Bytes garbage;
    for (int i = 0; i < 700; ++i)
        garbage.push_back(i % 100 == 0 ? 0x47 : U8(i * 37 + 1));
    ts.payload.insert(ts.payload.begin() + 188 * 1000 + 50, garbage.begin(), garbage.end());
    inError += garbage.size() - 188;
    ts.payload.resize(ts.payload.size() - 100);
    cases.push_back({ts, {afterLost, inError}});

    uint64_t seed = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first.name);
        DecryptStats stats;
        const Bytes want = Reference(c.first, keys, &stats);
        EXPECT_GT(stats.packetsDropped, 0u);
        EXPECT_GT(stats.damageEvents + stats.truncatedUnits, 1u);
        RandomReads(c.first, keys, want, {}, 300, seed++);
        RandomReads(c.first, keys, want, Tight(), 300, seed++);
        RandomReads(c.first, keys, want, Helped(), 300, seed++);
        RandomReads(c.first, keys, want, Helped(Tight()), 300, seed++);
        MemoryByteSource source(c.first.payload.data(), c.first.payload.size());
        PayloadView helped(source, FileOf(c.first), keys, Helped());
        EXPECT_TRUE(ReadThrough(helped, 100000) == want);
        PayloadView view(source, FileOf(c.first), keys);
        const Bytes got = ReadThrough(view, 100000);
        for (size_t at : c.second)
            EXPECT_TRUE(std::equal(got.begin() + static_cast<std::ptrdiff_t>(at),
                                   got.begin() + static_cast<std::ptrdiff_t>(at + 188),
                                   c.first.payload.begin() + static_cast<std::ptrdiff_t>(at)))
                << at;
        EXPECT_EQ(view.Stats().packetsLeftScrambled, stats.packetsDropped);
    }
}

// A file that cannot be read past a point: reads come back short there, and the view says so.
TEST(PayloadView, AFileThatCannotBeReadMakesAShortRead) {
    class Failing final : public ByteSource {
    public:
        Failing(const Bytes& bytes, uint64_t limit) : m_bytes(bytes), m_limit(limit) {}
        uint64_t Size() const override { return m_bytes.size(); }
        size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
            const uint64_t end = std::min<uint64_t>(offset + size, m_limit);
            if (end <= offset) return 0;
            std::memcpy(buffer, m_bytes.data() + offset, static_cast<size_t>(end - offset));
            return static_cast<size_t>(end - offset);
        }

    private:
        const Bytes& m_bytes;
        uint64_t m_limit;
    };
    const Recording r = EncryptTs("ts", ReadFile(Vector("ts-h264-ac3.ts")), 50);
    const Bytes want = Reference(r, TestKeys());
    Failing source(r.payload, 200000);
    PayloadView view(source, FileOf(r), TestKeys());
    Bytes got(100000);
    EXPECT_EQ(view.ReadAt(0, got.data(), got.size()), got.size());
    EXPECT_FALSE(view.Failed());
    EXPECT_LT(view.ReadAt(150000, got.data(), got.size()), 50000u);
    EXPECT_TRUE(view.Failed());
    EXPECT_TRUE(std::equal(want.begin(), want.begin() + 1000, (view.ReadAt(0, got.data(), 1000), got.begin())));
}

TEST(PayloadView, AClearRecordingReadsAsItsFile) {
    const Bytes clear = ReadFile(Vector("ts-h264-ac3.ts"));
    TivoFile file = FileOf({"clear", clear, true});
    file.scrambled = false;
    MemoryByteSource source(clear.data(), clear.size());
    PayloadView view(source, file, TestKeys());
    EXPECT_TRUE(ReadThrough(view, 77777) == clear);
}
