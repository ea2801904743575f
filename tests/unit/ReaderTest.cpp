#include <gtest/gtest.h>

#include <random>

#include "Collect.h"
#include "PsBuilder.h"
#include "media/ProgramStreamReader.h"

using namespace korvane::media;
using namespace korvane::test;

namespace {

// A stream with every kind of unit the reader walks: stuffed pack headers, a system header,
// padding, private stream 2, video with PTS and DTS, MP2, DVD-style AC-3, a large video packet.
Bytes MixedStream() {
    Bytes s;
    Append(s, PackHeader(1000, 2));
    Append(s, {0, 0, 1, 0xBB, 0, 9, 0x80, 0x01, 0x01, 0x04, 0xE1, 0xFF, 0xE0, 0xE0, 0xE8});
    Append(s, Pes({0xE0, Filler(2000, 1), true, true, 90000 + 3003, 90000}));
    Append(s, Padding(30));
    Append(s, PackHeader(2000));
    Append(s, Pes({0xC0, Filler(700, 2), true, false, 88000}));
    Append(s, {0, 0, 1, 0xBF, 0, 4, 1, 2, 3, 4});
    Append(s, Pes({0xBD, Filler(500, 3), true, false, 88500, 0, false, {0x80, 0x02, 0x00, 0x01}}));
    Append(s, PackHeader(3000));
    Append(s, Pes({0xE0, Filler(15000, 4), false}));
    Append(s, EndCode());
    return s;
}

}  // namespace

TEST(ProgramStreamReader, ReadsEveryUnitKindWithTimestampsAndSubstreams) {
    Bytes s = MixedStream();
    ProgramStreamReader reader;
    auto p = ReadAll(s, 0, &reader);
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].key.streamId, 0xE0);
    EXPECT_EQ(p[0].kind, StreamKind::Video);
    EXPECT_TRUE(p[0].hasPts && p[0].hasDts);
    EXPECT_EQ(p[0].pts, 93003);
    EXPECT_EQ(p[0].dts, 90000);
    EXPECT_EQ(p[0].scr, 1000);
    EXPECT_EQ(p[0].payload, Filler(2000, 1));
    EXPECT_EQ(p[1].kind, StreamKind::MpegAudio);
    EXPECT_EQ(p[1].scr, 2000);
    EXPECT_EQ(p[2].key.streamId, 0xBD);
    EXPECT_EQ(p[2].key.substreamId, 0x80);
    EXPECT_EQ(p[2].kind, StreamKind::Ac3);
    EXPECT_EQ(p[2].substreamHeader, (Bytes{0x80, 0x02, 0x00, 0x01}));
    EXPECT_EQ(p[2].payload, Filler(500, 3));
    EXPECT_FALSE(p[3].hasPts);
    EXPECT_EQ(p[3].payload.size(), 15000u);
    const ReaderStats& st = reader.Stats();
    EXPECT_EQ(st.packs, 3u);
    EXPECT_EQ(st.systemHeaders, 1u);
    EXPECT_EQ(st.otherPackets, 2u);
    EXPECT_EQ(st.endCodes, 1u);
    EXPECT_EQ(st.damageEvents, 0u);
}

TEST(ProgramStreamReader, ChunkBoundariesNeverChangeWhatIsRead) {
    Bytes s = MixedStream();
    auto whole = ReadAll(s);
    for (size_t chunk : {1u, 2u, 3u, 5u, 13u, 188u, 2047u, 4096u, 65536u}) {
        EXPECT_EQ(ReadAll(s, chunk), whole) << "chunk " << chunk;
    }
    std::mt19937 rng(7);
    ProgramStreamReader reader;
    Collector c;
    for (size_t pos = 0; pos < s.size();) {
        size_t n = std::min<size_t>(rng() % 3000 + 1, s.size() - pos);
        reader.Feed(s.data() + pos, n, c);
        pos += n;
    }
    reader.Finish(c);
    EXPECT_EQ(c.packets, whole);
}

TEST(ProgramStreamReader, SkipsDamageAndResynchronises) {
    Bytes s;
    Append(s, Filler(777, 9));  // garbage before the first pack
    Append(s, PackHeader(0));
    Append(s, Pes({0xE0, Filler(100, 1), true, false, 100}));
    Append(s,
           {0x12, 0x00, 0x00, 0x01, 0x00, 0x55});  // garbage between packets, incl. a non-system start code
    Append(s, {0, 0, 1, 0xC0, 0, 0, 0x81});        // zero length field
    Append(s, Pes({0xC0, Filler(50, 2), true, false, 200}));
    Bytes oversized = Pes({0xE0, Filler(40, 3), true, false, 300});
    oversized[4] = 0x00;
    oversized[5] = 0xC8;  // claims 200 bytes: swallows the next pack
    Append(s, oversized);
    Append(s, PackHeader(10));
    Append(s, Pes({0xE0, Filler(60, 4), true, false, 400}));
    Append(s, PackHeader(20));
    Bytes truncated = Pes({0xC0, Filler(300, 5), true, false, 500});
    truncated.resize(100);
    Append(s, truncated);

    for (size_t chunk : {0u, 1u, 7u, 64u}) {
        ProgramStreamReader reader;
        auto p = ReadAll(s, chunk, &reader);
        ASSERT_EQ(p.size(), 3u) << "chunk " << chunk;
        EXPECT_EQ(p[0].pts, 100);
        EXPECT_EQ(p[1].pts, 200);
        EXPECT_EQ(p[1].payload, Filler(50, 2));
        EXPECT_EQ(p[2].pts, 400);
        EXPECT_EQ(p[2].scr, 10);
        const ReaderStats& st = reader.Stats();
        // Leading garbage; garbage running into the zero-length packet; oversized; truncated.
        EXPECT_EQ(st.damageEvents, 4u);
        EXPECT_EQ(st.truncatedPackets, 1u);
        EXPECT_GE(st.bytesSkipped, 777u);
    }
}

TEST(ProgramStreamReader, KeepsAPacketFollowedByGarbage) {
    Bytes s;
    Append(s, PackHeader(0));
    Append(s, Pes({0xE0, Filler(100, 1), true, false, 100}));
    Append(s, Filler(33, 2));
    Append(s, Pes({0xE0, Filler(100, 3), true, false, 200}));
    auto p = ReadAll(s);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[1].payload, Filler(100, 3));
}

TEST(ProgramStreamReader, ReadsMpeg1Syntax) {
    Bytes s;
    Append(s, Mpeg1PackHeader(12345));
    Append(s, Mpeg1Pes(0xE0, Filler(300, 1), true, 54321));
    Append(s, Mpeg1Pes(0xC0, Filler(200, 2), false, 0));
    auto p = ReadAll(s);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].scr, 12345);
    EXPECT_TRUE(p[0].hasPts);
    EXPECT_EQ(p[0].pts, 54321);
    EXPECT_EQ(p[0].payload, Filler(300, 1));
    EXPECT_FALSE(p[1].hasPts);
    EXPECT_EQ(p[1].payload, Filler(200, 2));
}

TEST(ProgramStreamReader, RawAc3WithoutSubstreamHeaderStaysRawForTheWholeStream) {
    Bytes frame = Filler(400, 1);
    frame[0] = 0x0B;
    frame[1] = 0x77;
    Bytes s;
    Append(s, PackHeader(0));
    Append(s, Pes({0xBD, frame, true, false, 1}));
    Append(s,
           Pes({0xBD, {0x80, 0x01, 0x02, 0x03, 0x04}, false}));  // looks like a substream header but is not
    auto p = ReadAll(s);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].key.substreamId, kRawAc3Substream);
    EXPECT_EQ(p[0].kind, StreamKind::Ac3);
    EXPECT_EQ(p[0].payload, frame);
    EXPECT_TRUE(p[0].substreamHeader.empty());
    EXPECT_EQ(p[1].payload, (Bytes{0x80, 0x01, 0x02, 0x03, 0x04}));
}

TEST(ProgramStreamReader, StopsAtAScrambledPacketAndSaysItNeedsTheMak) {
    Bytes s;
    Append(s, PackHeader(0));
    Append(s, Pes({0xE0, Filler(100, 1), true, false, 100}));
    Append(s, Pes({0xE0, Filler(100, 2), true, false, 200, 0, true}));
    Append(s, Pes({0xE0, Filler(100, 3), true, false, 300}));
    ProgramStreamReader reader;
    auto p = ReadAll(s, 0, &reader);
    EXPECT_EQ(p.size(), 1u);
    EXPECT_EQ(reader.Status(), ReaderStatus::Encrypted);
    EXPECT_NE(reader.ErrorText().find("encrypted, needs the Media Access Key"), std::string::npos);
    Collector c;
    EXPECT_FALSE(reader.Feed(s.data(), s.size(), c));
    EXPECT_TRUE(c.packets.empty());
}

TEST(ProgramStreamReader, HandlerCanStopAndResetStartsAfresh) {
    Bytes s = MixedStream();
    ProgramStreamReader reader;
    Collector c;
    c.stopAfter = 2;
    EXPECT_FALSE(reader.Feed(s.data(), s.size(), c));
    EXPECT_EQ(reader.Status(), ReaderStatus::Stopped);
    EXPECT_EQ(c.packets.size(), 2u);
    reader.Reset();
    EXPECT_EQ(ReadAll(s, 0, &reader), ReadAll(s));
}

TEST(ProgramStreamReader, KeepsFull33BitTimestampsAndOffsets) {
    const int64_t big = (int64_t(1) << 33) - 5;
    Bytes s;
    Append(s, PackHeader(big));
    size_t at = s.size();
    Append(s, Pes({0xE0, Filler(10, 1), true, true, big, big - 3003}));
    auto p = ReadAll(s);
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].pts, big);
    EXPECT_EQ(p[0].dts, big - 3003);
    EXPECT_EQ(p[0].scr, big);
    EXPECT_EQ(p[0].offset, at);
    EXPECT_EQ(TimestampDelta(big, 4), 9);
    EXPECT_EQ(TimestampDelta(4, big), -9);
}
