#include <gtest/gtest.h>

#include "Collect.h"

using namespace korvane::media;
using namespace korvane::test;

// Every header form and unit kind read at many chunk sizes: HeaderFormsTest; raw AC-3:
// MaterialTest's Remux.RawAc3... Here: damage, scrambling, stopping and the 33-bit values.
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
        auto p = ReadAll(s, chunk, reader);
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

TEST(ProgramStreamReader, StopsAtAScrambledPacketAndSaysItNeedsTheMak) {
    Bytes s;
    Append(s, PackHeader(0));
    Append(s, Pes({0xE0, Filler(100, 1), true, false, 100}));
    Append(s, Pes({0xE0, Filler(100, 2), true, false, 200, 0, true}));
    Append(s, Pes({0xE0, Filler(100, 3), true, false, 300}));
    ProgramStreamReader reader;
    auto p = ReadAll(s, 0, reader);
    EXPECT_EQ(p.size(), 1u);
    EXPECT_EQ(reader.Status(), ReaderStatus::Encrypted);
    EXPECT_NE(reader.ErrorText().find("encrypted, needs the Media Access Key"), std::string::npos);
    Collector c;
    EXPECT_FALSE(reader.Feed(s.data(), s.size(), c));
    EXPECT_TRUE(c.packets.empty());
}

TEST(ProgramStreamReader, HandlerCanStopAndResetStartsAfresh) {
    Bytes s = PackHeader(0);
    for (int i = 0; i < 4; ++i)
        Append(s, Pes({0xE0, Filler(100, uint8_t(i)), true, false, 100 * i}));
    ProgramStreamReader reader;
    Collector c;
    c.stopAfter = 2;
    EXPECT_FALSE(reader.Feed(s.data(), s.size(), c));
    EXPECT_EQ(reader.Status(), ReaderStatus::Stopped);
    EXPECT_EQ(c.packets.size(), 2u);
    reader.Reset();
    EXPECT_EQ(ReadAll(s, 0, reader), ReadAll(s));
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
