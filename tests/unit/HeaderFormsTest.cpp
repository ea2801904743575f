// Header fields that ffmpeg's test material always holds at one value, each varied here: pack
// stuffing of every length (ffmpeg writes none), SCR extensions, the MPEG-2 PES header's
// flag bits, optional fields and stuffing, the MPEG-1 packet header's stuffing, STD buffer field and
// timestamp forms, system headers' stream lists, and the packets the reader passes over by
// their length (padding, private stream 2, a program stream map).
#include <gtest/gtest.h>

#include "Collect.h"

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
struct StreamMaker {
    Bytes bytes;
    std::vector<Seen> expected;
    int64_t scr = -1;
    int scrExtension = 0;

    void Pack(int64_t at, unsigned stuffing = 0, unsigned extension = 0) {
        Append(bytes, PackHeader(at, stuffing, extension));
        scr = at, scrExtension = static_cast<int>(extension);
    }
    void Mpeg1Pack(int64_t at) {
        Append(bytes, Mpeg1PackHeader(at));
        scr = at, scrExtension = 0;
    }
    void Packet(const PesSpec& f) {
        Expect({f.streamId, f.streamId == kPrivateStream1 ? f.substreamHeader.at(0) : uint8_t(0)}, f.pts,
               f.dts, f.ptsValue, f.dtsValue, false, f.payload, f.substreamHeader);
        Append(bytes, Pes(f));
    }
    void Mpeg1Packet(uint8_t id, const Bytes& payload, bool pts, int64_t ptsValue, const Mpeg1Header& h) {
        Expect({id, 0}, pts, h.dts, ptsValue, h.dtsValue, true, payload, {});
        Append(bytes, Mpeg1Pes(id, payload, pts, ptsValue, h));
    }
    void Expect(StreamKey key, bool pts, bool dts, int64_t ptsValue, int64_t dtsValue, bool mpeg1,
                const Bytes& payload, const Bytes& substreamHeader) {
        dts = pts && dts;
        expected.push_back({key, KindOf(key), pts, dts, pts ? ptsValue : 0, dts ? dtsValue : 0, scr,
                            scrExtension, mpeg1, payload, substreamHeader, bytes.size()});
    }
};

// Every packet, exactly, and nothing counted as damage, at chunk sizes that split every unit at
// many places, pack stuffing and PES headers included.
void ExpectReadExactly(const StreamMaker& s) {
    for (size_t chunk : {0, 1, 2, 3, 5, 13, 14, 15, 21, 64, 4096}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        ProgramStreamReader reader;
        std::vector<Seen> got = ReadAll(s.bytes, chunk, reader);
        ASSERT_EQ(got.size(), s.expected.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i], s.expected[i]) << "packet " << i;
        const ReaderStats& st = reader.Stats();
        EXPECT_EQ(st.damageEvents + st.bytesSkipped + st.truncatedPackets, 0u);
    }
}

}  // namespace

TEST(ReaderHeaderForms, PackStuffingOfEveryLengthNextToSystemHeadersAndPadding) {
    StreamMaker s;
    for (unsigned k = 0; k <= 7; ++k) {
        const int64_t scr = 90000 * k + 1000;
        const unsigned extension = 37 * k;  // up to 259 of 0..299
        s.Pack(scr, k, extension);
        Append(s.bytes, SystemHeader({{0xE0, true, 232}, {0xC0, false, 32}}));
        s.Packet({0xE0, Filler(300 + k, uint8_t(k)), true, true, scr + 6006, scr + 3003});
        s.Pack(scr + 10, k, extension + 1);
        Append(s.bytes, Padding(k + 1));
        s.Packet({0xC0, Filler(100 + k, uint8_t(k + 20)), true, false, scr + 4000});
        s.Pack(scr + 20, k, extension + 2);
        Append(s.bytes, Padding(2000 + k));  // a pack of padding alone
        s.Pack(scr + 30, k, extension + 3);
        s.Packet({0xE0, Filler(50 + k, uint8_t(k + 40))});
        Append(s.bytes, Padding(k + 2));
    }
    Append(s.bytes, {0, 0, 1, 0xB9});
    ExpectReadExactly(s);
}

TEST(ReaderHeaderForms, Mpeg2PesHeadersWithFlagBitsOptionalFieldsAndStuffing) {
    // Stream ids across the ranges, not just the first of each.
    const uint8_t ids[] = {0xE0, 0xC0, kPrivateStream1, 0xEF, 0xDF, 0xE5, 0xC7};
    StreamMaker s;
    for (int n = 0; n < 3 * 64 * 4; ++n) {
        const int timestamps = n / 256, fields = n / 4 % 64;
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
        p.escr = fields & 1, p.esRate = fields & 2, p.crc = fields & 4;
        p.pstdBuffer = fields & 8, p.trickMode = fields & 16, p.copyInfo = fields & 32;
        p.pstdLargeScale = id >= 0xE0;
        p.pstdSize = p.pstdLargeScale ? 232 : 32 + n;
        p.headerStuffing = std::vector<unsigned>{0, 1, 4, 31}[n % 4];
        s.Packet(p);
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
    for (int n = 0; n < 17 * 9; ++n) {
        const int std = n / 3 % 3, timestamps = n % 3;
        if (n % 4 == 0) s.Mpeg1Pack(90000 + n * 100);
        const Mpeg1Header h{unsigned(n / 9), std > 0,        std == 2, std == 2 ? 46u + n % 200 : 32u,
                            timestamps == 2, 3000 + n * 1800};
        s.Mpeg1Packet(ids[n % 4], Filler(1 + (n * 53) % 500, uint8_t(n)), timestamps > 0, 6000 + n * 1800, h);
    }
    ExpectReadExactly(s);
}

// System headers with any stream list, MPEG-1's too; and the packets passed over by their
// length whatever they hold.
TEST(ReaderHeaderForms, SystemHeadersAndPacketsPassedOverByTheirLength) {
    std::vector<StreamBound> everything = {{kPrivateStream1, false, 58}, {0xBF, false, 2}};
    for (uint8_t id = 0xC0; id <= 0xDF; ++id)
        everything.push_back({id, false, 32});
    for (uint8_t id = 0xE0; id <= 0xEF; ++id)
        everything.push_back({id, true, 232});
    Bytes pci(980, 0), dsi(1018, 0);
    dsi[0] = 0x01;  // DVD navigation packets: substream 0 and 1, mostly zeros
    Bytes mpeg1Like = Filler(60, 1), mpeg2Like = Filler(60, 2);
    mpeg1Like[0] = 0x0F;  // would read as an MPEG-1 packet without timestamps
    mpeg2Like[0] = 0x81;  // would read as an MPEG-2 packet with a PTS
    mpeg2Like[1] = 0x80;
    mpeg2Like[2] = 0x05;
    const Bytes psm = {0x80, 0x01, 0x00, 0x00, 0x00, 0x08, 0x02, 0xE0, 0x00,
                       0x00, 0x03, 0xC0, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44};
    const std::vector<Bytes> skipped = {
        SystemHeader({}, 0, 0, 1, false),
        SystemHeader({{0xE0, true, 232}}, 0, 1, 25200, true),
        SystemHeader({{0xB9, true, 8191}, {0xB8, false, 8191}}, 32, 16, 0x3FFFFF),  // all video, all audio
        SystemHeader({{kPrivateStream1, false, 58}, {0xBF, false, 2}, {0xE0, true, 232}, {0xC0, false, 32}},
                     2),
        SystemHeader(everything, 33, 16, 0x3FFFFF, true),
        Unit(0xBF, pci),
        Unit(0xBF, dsi),
        Unit(0xBF, mpeg1Like),
        Unit(0xBF, mpeg2Like),
        Unit(0xBF, {0x42}),
        Unit(0xBF, Filler(65535, 3)),
        Padding(1),
        Padding(2),
        Padding(6),
        Padding(65535),
        Unit(0xBC, psm),
    };
    StreamMaker s;
    int n = 0;
    for (const Bytes& unit : skipped) {
        s.Pack(100 * n, n % 8);
        Append(s.bytes, unit);
        s.Packet({0xC0, Filler(100 + n, uint8_t(n)), true, false, 3000 * n});
        if (unit[3] != 0xBB) Append(s.bytes, unit);
        ++n;
    }
    s.Mpeg1Pack(50000);
    Append(s.bytes, SystemHeader({{0xE0, false, 46}, {0xC0, false, 32}}));
    s.Mpeg1Packet(0xE0, Filler(100, 9), true, 60000, {});
    ExpectReadExactly(s);
}
