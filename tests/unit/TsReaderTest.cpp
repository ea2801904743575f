// The transport stream reader on streams built by hand: the cases ffmpeg does not make.
#include <gtest/gtest.h>

#include <algorithm>

#include "Collect.h"
#include "TsBuilder.h"
#include "media/TransportStreamReader.h"

using namespace korvane::media;
using namespace korvane::test;

namespace {

const Bytes kAc3Descriptor{0x6A, 0x01, 0x00};
const Bytes kEac3Descriptor{0x7A, 0x01, 0x00};

}  // namespace

// Stream types and their keys; a new PMT version keeps the keys of the streams that stay and
// names what is skipped.
TEST(TsReader, FollowsPmtVersionsAndKeepsKeys) {
    TsBuilder b;
    b.Pat(0x1000);
    b.Pmt(0x1000, 0, {{0x02, 0x100, {}}, {0x81, 0x101, {}}, {0x97, 0x1F0, {}}});
    b.Packets(0x100, TsPes(0xE0, Filler(1000, 1), 9000, 6000, true));
    b.Packets(0x101, TsPes(0xBD, Filler(300, 2), 9100));
    b.Packets(0x1F0, Filler(184, 3));
    b.Pmt(0x1000, 1,
          {{0x02, 0x100, {}},
           {0x0F, 0x102, {}},
           {0x06, 0x103, kAc3Descriptor},
           {0x06, 0x104, kEac3Descriptor},
           {0x1B, 0x105, {}},
           {0x87, 0x106, {}},
           {0x06, 0x107, {}}});
    b.Packets(0x100, TsPes(0xE0, Filler(500, 4), 12000, -1, true));
    b.Packets(0x102, TsPes(0xC0, Filler(200, 5), 12100));
    b.Packets(0x103, TsPes(0xBD, Filler(200, 6), 12200));
    b.Packets(0x104, TsPes(0xBD, Filler(200, 7), 12300));
    b.Packets(0x105, TsPes(0xE1, Filler(200, 8), 12400));

    TransportStreamReader reader;
    auto got = ReadAll(b.out, 0, reader);
    // Each packet's key, kind, payload and DTS (-1: none), in the order the packets end.
    const struct {
        StreamKey key;
        StreamKind kind;
        Bytes payload;
        int64_t dts;
    } want[] = {
        {{0xBD, 0x80}, StreamKind::Ac3, Filler(300, 2), -1},    // the bounded AC-3 PES ends first
        {{0xE0, 0}, StreamKind::Video, Filler(1000, 1), 6000},  // the unbounded one at the next start
        {{0xC0, 0}, StreamKind::Aac, Filler(200, 5), -1},
        {{0xBD, 0x81}, StreamKind::Ac3, Filler(200, 6), -1},  // 0x06 with the AC-3 descriptor
        {{0xBD, 0x82}, StreamKind::Ac3, Filler(200, 7), -1},  // 0x06 with the E-AC-3 descriptor
        {{0xE1, 0}, StreamKind::H264, Filler(200, 8), -1},
        {{0xE0, 0}, StreamKind::Video, Filler(500, 4), -1},  // the video PID kept its key
    };
    ASSERT_EQ(got.size(), 7u);
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_TRUE(got[i].key == want[i].key && got[i].kind == want[i].kind &&
                    got[i].payload == want[i].payload)
            << "packet " << i;
        EXPECT_EQ(got[i].hasDts ? got[i].dts : -1, want[i].dts) << "packet " << i;
    }
    // E-AC-3 by its own type is carried too; private data is not.
    const auto& streams = reader.Streams();
    ASSERT_EQ(streams.size(), 7u);
    EXPECT_TRUE(streams[5].carried && streams[5].key == (StreamKey{0xBD, 0x83}));
    EXPECT_FALSE(streams[6].carried);
}

// PTS/DTS keep all 33 bits.
TEST(TsReader, KeepsTimestampsExactly) {
    TsBuilder b;
    b.Pat(0x20);
    b.Pmt(0x20, 3, {{0x1B, 0x31, {}}});
    b.Packets(0x31, TsPes(0xE0, Filler(1000, 9), kTimestampMask, kTimestampMask - 3003, true));
    b.Packets(0x31, TsPes(0xE0, Filler(10, 1), 1, 0, true));
    TransportStreamReader reader;
    auto got = ReadAll(b.out, 0, reader);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].pts, kTimestampMask);
    EXPECT_EQ(got[0].dts, kTimestampMask - 3003);
    EXPECT_EQ(got[1].pts, 1);
}

// Damage of several kinds is counted and skipped; what is whole still comes through.
TEST(TsReader, CountsDamagedPacketsDuplicatesAndBadTables) {
    TsBuilder b;
    b.Pat(0x20);
    Bytes badPmt = b.out;
    b.Pmt(0x20, 0, {{0x03, 0x31, {}}});
    b.out[badPmt.size() + 20] ^= 0x01;  // a CRC error: ignored until a good copy comes
    b.Pmt(0x20, 0, {{0x03, 0x31, {}}});
    b.Packets(0x31, TsPes(0xC0, Filler(100, 1), 100));
    Bytes dup(b.out.end() - 188, b.out.end());
    b.out.insert(b.out.end(), dup.begin(), dup.end());  // sent twice
    size_t tei = b.out.size();
    b.Packets(0x31, TsPes(0xC0, Filler(100, 2), 200));
    b.out[tei + 1] |= 0x80;  // transport_error_indicator
    b.Packets(0x31, TsPes(0xC0, Filler(100, 3), 300));
    TransportStreamReader reader;
    auto got = ReadAll(b.out, 0, reader);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].payload, Filler(100, 1));
    EXPECT_EQ(got[1].payload, Filler(100, 3));
    EXPECT_EQ(reader.Stats().badSections, 1u);
    EXPECT_EQ(reader.Stats().duplicatePackets, 1u);
    EXPECT_EQ(reader.Stats().errorPackets, 1u);
    EXPECT_EQ(reader.Stats().continuityErrors, 1u);
}

// A scrambled packet of a carried stream stops the reader as an encrypted program stream
// does; on a PID we skip it changes nothing.
TEST(TsReader, StopsAtScrambledPayloadOfACarriedStream) {
    TsBuilder b;
    b.Pat(0x20);
    b.Pmt(0x20, 0, {{0x02, 0x31, {}}, {0x06, 0x32, {}}});
    b.Packets(0x32, Filler(184, 1), 3);
    b.Packets(0x31, TsPes(0xE0, Filler(100, 1), 100));
    TransportStreamReader clear;
    EXPECT_EQ(ReadAll(b.out, 0, clear).size(), 1u);
    EXPECT_EQ(clear.Status(), ReaderStatus::Ok);

    b.Packets(0x31, TsPes(0xE0, Filler(100, 2), 200), 2);
    TransportStreamReader scrambled;
    EXPECT_EQ(ReadAll(b.out, 0, scrambled).size(), 1u);
    EXPECT_EQ(scrambled.Status(), ReaderStatus::Encrypted);
    EXPECT_EQ(scrambled.ErrorText(), kEncryptedPayloadText);
}

// The most streams a PMT can have carried (16 video, 32 MPEG audio, 8 AC-3), each with an
// unbounded PES far longer than its share, packets interleaved: however the streams grow,
// what they hold at once stays within the one budget, and every byte comes out in order.
TEST(TsReader, HoldsAllStreamsWithinOneBudget) {
    const size_t perStream = 2 * kTsReassemblyBudget / 56;
    std::vector<TsEs> streams;
    std::vector<Bytes> packets, payloads;
    for (size_t i = 0; i < 56; ++i) {
        streams.push_back({U8(i < 16 ? 0x02 : i < 48 ? 0x03 : 0x81), static_cast<uint16_t>(0x100 + i), {}});
        payloads.push_back(Filler(perStream, U8(i)));
        TsBuilder one;
        one.Packets(streams[i].pid, TsPes(i < 16 ? 0xE0 : 0xC0, payloads[i], 900, -1, true));
        packets.push_back(one.out);
    }
    TsBuilder b;
    b.Pat(0x20);
    b.Pmt(0x20, 0, streams);
    for (size_t at = 0; at < packets[0].size(); at += 188)
        for (const Bytes& p : packets)
            b.out.insert(b.out.end(), p.begin() + static_cast<long>(at),
                         p.begin() + static_cast<long>(at + 188));

    TransportStreamReader reader;
    std::map<StreamKey, size_t> largestPiece;
    std::map<StreamKey, Bytes> joined;
    for (const Seen& p : ReadAll(b.out, 65536, reader)) {
        largestPiece[p.key] = std::max(largestPiece[p.key], p.payload.size());
        Append(joined[p.key], p.payload);
    }
    size_t held = 0;
    for (const auto& piece : largestPiece)
        held += piece.second;
    EXPECT_LE(held, kTsReassemblyBudget);
    EXPECT_LE(reader.ReassemblyBytes(), kTsReassemblyBudget);
    std::vector<Bytes> got;
    for (const auto& stream : joined)
        got.push_back(stream.second);
    std::sort(got.begin(), got.end());
    std::sort(payloads.begin(), payloads.end());
    EXPECT_TRUE(got == payloads);
}
