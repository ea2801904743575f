// Header fields that ffmpeg's test material always holds at one value, each varied here: pack
// stuffing of every length (ffmpeg writes none), SCR extensions, the MPEG-2 PES header's
// flag bits, optional fields and stuffing, the MPEG-1 packet header's stuffing, STD buffer field and
// timestamp forms, system headers' stream lists, and the packets the reader passes over by
// their length (padding, private stream 2, a program stream map).
#include <gtest/gtest.h>

#include "Collect.h"
#include "PsBuilder.h"
#include "media/ProgramStreamReader.h"

using namespace korvane::media;
using namespace korvane::test;

namespace {

// The kind each stream id stands for, as the standard and DVD assign them.
StreamKind KindOf(StreamKey key) {
    if (key.streamId >= 0xE0 && key.streamId <= 0xEF) return StreamKind::Video;
    if (key.streamId >= 0xC0 && key.streamId <= 0xDF) return StreamKind::MpegAudio;
    if (key.streamId == kPrivateStream1 && key.substreamId >= 0x80 && key.substreamId <= 0x87)
        return StreamKind::Ac3;
    return StreamKind::Other;
}

// A stream and the packets a correct reader delivers from it.
class StreamMaker {
public:
    void Pack(int64_t scr, unsigned stuffing = 0, unsigned scrExtension = 0) {
        Append(bytes, PackHeader(scr, stuffing, scrExtension));
        m_scr = scr;
        m_scrExtension = static_cast<int>(scrExtension);
    }
    void Mpeg1Pack(int64_t scr) {
        Append(bytes, Mpeg1PackHeader(scr));
        m_scr = scr;
        m_scrExtension = 0;
    }
    // A unit that yields no packet: system header, padding, private stream 2, ...
    void Skipped(const Bytes& unit) { Append(bytes, unit); }

    void Packet(const PesSpec& form) {
        StreamKey key{form.streamId,
                      form.streamId == kPrivateStream1 ? form.substreamHeader.at(0) : uint8_t(0)};
        Expect(key, form.pts, form.pts && form.dts, form.ptsValue, form.dtsValue, false, form.payload,
               form.substreamHeader);
        Append(bytes, Pes(form));
    }
    void Mpeg1Packet(uint8_t streamId, const Bytes& payload, bool pts, int64_t ptsValue,
                     const Mpeg1Header& h) {
        Expect({streamId, 0}, pts, pts && h.dts, ptsValue, h.dtsValue, true, payload, {});
        Append(bytes, Mpeg1Pes(streamId, payload, pts, ptsValue, h));
    }

    Bytes bytes;
    std::vector<Seen> expected;

private:
    void Expect(StreamKey key, bool pts, bool dts, int64_t ptsValue, int64_t dtsValue, bool mpeg1,
                const Bytes& payload, const Bytes& substreamHeader) {
        expected.push_back({key, KindOf(key), pts, dts, pts ? ptsValue : 0, dts ? dtsValue : 0, m_scr,
                            m_scrExtension, mpeg1, payload, substreamHeader, bytes.size()});
    }
    int64_t m_scr = -1;
    int m_scrExtension = 0;
};

// Chunk sizes that split every unit at many places, pack stuffing and PES headers included.
const size_t kChunks[] = {0, 1, 2, 3, 5, 13, 14, 15, 21, 64, 4096};

// Every packet, exactly; nothing counted as damage, whatever the chunk size.
void ExpectReadExactly(const StreamMaker& s, ReaderStats* statsOut = nullptr) {
    for (size_t chunk : kChunks) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        ProgramStreamReader reader;
        std::vector<Seen> got = ReadAll(s.bytes, chunk, &reader);
        ASSERT_EQ(got.size(), s.expected.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i], s.expected[i]) << "packet " << i;
        EXPECT_EQ(reader.Stats().damageEvents, 0u);
        EXPECT_EQ(reader.Stats().bytesSkipped, 0u);
        EXPECT_EQ(reader.Stats().truncatedPackets, 0u);
        if (statsOut) *statsOut = reader.Stats();
    }
}

}  // namespace

TEST(ReaderHeaderForms, PackStuffingOfEveryLengthNextToSystemHeadersAndPadding) {
    StreamMaker s;
    for (unsigned k = 0; k <= 7; ++k) {
        const int64_t scr = 90000 * k + 1000;
        const unsigned extension = 37 * k;  // up to 259 of 0..299
        s.Pack(scr, k, extension);
        s.Skipped(SystemHeader({{0xE0, true, 232}, {0xC0, false, 32}}));
        s.Packet({0xE0, Filler(300 + k, uint8_t(k)), true, true, scr + 6006, scr + 3003});
        s.Pack(scr + 10, k, extension + 1);
        s.Skipped(Padding(k + 1));
        s.Packet({0xC0, Filler(100 + k, uint8_t(k + 20)), true, false, scr + 4000});
        s.Pack(scr + 20, k, extension + 2);
        s.Skipped(Padding(2000 + k));  // a pack of padding alone
        s.Pack(scr + 30, k, extension + 3);
        s.Packet({0xE0, Filler(50 + k, uint8_t(k + 40))});
        s.Skipped(Padding(k + 2));
    }
    Append(s.bytes, EndCode());
    ReaderStats stats;
    ExpectReadExactly(s, &stats);
    EXPECT_EQ(stats.packs, 32u);
    EXPECT_EQ(stats.systemHeaders, 8u);
    EXPECT_EQ(stats.otherPackets, 24u);
    EXPECT_EQ(stats.endCodes, 1u);
}

TEST(ReaderHeaderForms, Mpeg2PesHeadersWithFlagBitsOptionalFieldsAndStuffing) {
    // Stream ids across the ranges, not just the first of each.
    const uint8_t ids[] = {0xE0, 0xC0, kPrivateStream1, 0xEF, 0xDF, 0xE5, 0xC7};
    StreamMaker s;
    int n = 0;
    for (int timestamps = 0; timestamps < 3; ++timestamps) {
        for (int fields = 0; fields < 64; ++fields) {
            for (unsigned stuffing : {0u, 1u, 4u, 31u}) {
                if (n % 5 == 0) s.Pack(1000 + n, n % 8, n % 300);
                const uint8_t id = ids[n % 7];
                PesSpec p{id,
                          Filler(1 + (n * 37) % 400, uint8_t(n)),
                          timestamps > 0,
                          timestamps > 1,
                          5000 + n * 3003,
                          2000 + n * 3003};
                if (id == kPrivateStream1) p.substreamHeader = {uint8_t(0x80 + n % 8), 2, 0, 1};
                p.flagBits = uint8_t(n % 16);
                p.escr = fields & 1;
                p.esRate = fields & 2;
                p.crc = fields & 4;
                p.pstdBuffer = fields & 8;
                p.trickMode = fields & 16;
                p.copyInfo = fields & 32;
                p.pstdLargeScale = id >= 0xE0;
                p.pstdSize = p.pstdLargeScale ? 232 : 32 + n;
                p.headerStuffing = stuffing;
                s.Packet(p);
                ++n;
            }
        }
    }
    // The longest header there is: 255 bytes.
    PesSpec longest{0xE0, Filler(10, 1), true, true, 777, 666};
    longest.escr = longest.esRate = longest.trickMode = longest.copyInfo = longest.crc = longest.pstdBuffer =
        true;
    longest.headerStuffing = 255 - (10 + 6 + 3 + 1 + 1 + 2 + 3);
    s.Packet(longest);
    ASSERT_EQ(Pes(longest)[8], 255);
    ExpectReadExactly(s);
}

TEST(ReaderHeaderForms, Mpeg1PacketHeadersWithStuffingStdBufferAndTimestamps) {
    const uint8_t ids[] = {0xE0, 0xC0, 0xE3, 0xC5};
    StreamMaker s;
    int n = 0;
    for (unsigned stuffing = 0; stuffing <= 16; ++stuffing) {
        for (int std = 0; std < 3; ++std) {
            for (int timestamps = 0; timestamps < 3; ++timestamps) {
                if (n % 4 == 0) s.Mpeg1Pack(90000 + n * 100);
                Mpeg1Header h;
                h.stuffing = stuffing;
                h.stdBuffer = std > 0;
                h.stdLargeScale = std == 2;
                h.stdSize = std == 2 ? 46 + n % 200 : 32;
                h.dts = timestamps == 2;
                h.dtsValue = 3000 + n * 1800;
                s.Mpeg1Packet(ids[n % 4], Filler(1 + (n * 53) % 500, uint8_t(n)), timestamps > 0,
                              6000 + n * 1800, h);
                ++n;
            }
        }
    }
    ExpectReadExactly(s);
}

TEST(ReaderHeaderForms, SystemHeadersWithAnyStreamList) {
    std::vector<StreamBound> everything = {{kPrivateStream1, false, 58}, {0xBF, false, 2}};
    for (uint8_t id = 0xC0; id <= 0xDF; ++id)
        everything.push_back({id, false, 32});
    for (uint8_t id = 0xE0; id <= 0xEF; ++id)
        everything.push_back({id, true, 232});
    struct Case {
        std::vector<StreamBound> bounds;
        unsigned audioBound, videoBound;
        uint32_t rateBound;
        bool fixedRate;
    };
    const Case cases[] = {
        {{}, 0, 0, 1, false},
        {{{0xE0, true, 232}}, 0, 1, 25200, true},
        {{{0xB9, true, 8191}, {0xB8, false, 8191}}, 32, 16, 0x3FFFFF, false},  // all video, all audio
        {{{kPrivateStream1, false, 58}, {0xBF, false, 2}, {0xE0, true, 232}, {0xC0, false, 32}},
         2,
         1,
         25200,
         false},
        {everything, 33, 16, 0x3FFFFF, true},
    };
    StreamMaker s;
    int n = 0;
    for (const Case& c : cases) {
        s.Pack(1000 * n);
        s.Skipped(SystemHeader(c.bounds, c.audioBound, c.videoBound, c.rateBound, c.fixedRate));
        s.Packet({0xE0, Filler(200, uint8_t(n)), true, false, 9000 * n});
        ++n;
    }
    // MPEG-1 system streams have the same system header.
    s.Mpeg1Pack(50000);
    s.Skipped(SystemHeader({{0xE0, false, 46}, {0xC0, false, 32}}));
    s.Mpeg1Packet(0xE0, Filler(100, 9), true, 60000, {});
    ReaderStats stats;
    ExpectReadExactly(s, &stats);
    EXPECT_EQ(stats.systemHeaders, 6u);
}

TEST(ReaderHeaderForms, PacketsPassedOverByTheirLengthWhateverTheyHold) {
    Bytes pci(980, 0), dsi(1018, 0);
    dsi[0] = 0x01;  // DVD navigation packets: substream 0 and 1, mostly zeros
    Bytes mpeg1Like = Filler(60, 1), mpeg2Like = Filler(60, 2);
    mpeg1Like[0] = 0x0F;  // would read as an MPEG-1 packet without timestamps
    mpeg2Like[0] = 0x81;  // would read as an MPEG-2 packet with a PTS
    mpeg2Like[1] = 0x80;
    mpeg2Like[2] = 0x05;
    Bytes psm = {0x80, 0x01, 0x00, 0x00, 0x00, 0x08, 0x02, 0xE0, 0x00,
                 0x00, 0x03, 0xC0, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44};
    const std::vector<Bytes> others = {
        OtherPacket(0xBF, pci),
        OtherPacket(0xBF, dsi),
        OtherPacket(0xBF, mpeg1Like),
        OtherPacket(0xBF, mpeg2Like),
        OtherPacket(0xBF, {0x42}),
        OtherPacket(0xBF, Filler(65535, 3)),
        Padding(1),
        Padding(2),
        Padding(6),
        Padding(65535),
        OtherPacket(0xBC, psm),
    };
    StreamMaker s;
    int n = 0;
    for (const Bytes& other : others) {
        s.Pack(100 * n, n % 8);
        s.Skipped(other);
        s.Packet({0xC0, Filler(100 + n, uint8_t(n)), true, false, 3000 * n});
        s.Skipped(other);
        ++n;
    }
    ReaderStats stats;
    ExpectReadExactly(s, &stats);
    EXPECT_EQ(stats.otherPackets, 2 * others.size());
    EXPECT_EQ(stats.pesPackets, others.size());
}
