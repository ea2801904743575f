#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "Collect.h"
#include "media/ProgramStreamWriter.h"

using namespace korvane::media;
using namespace korvane::test;

namespace {

ElementaryPacket Packet(const Bytes& payload, bool pts = false, int64_t ptsValue = 0, bool dts = false,
                        int64_t dtsValue = 0) {
    return {payload.data(), payload.size(), pts, dts, ptsValue, dtsValue, {}, 0};
}

// What the writer gave its sink, read back.
std::vector<Seen> ReadBack(MemoryByteSink& sink) {
    ProgramStreamReader reader;
    std::vector<Seen> packets = ReadAll(sink.Bytes(), 0, reader);
    EXPECT_EQ(reader.Stats().damageEvents, 0u);
    return packets;
}

}  // namespace

TEST(ProgramStreamWriter, WritesAStandardStreamThatReadsBackUnchanged) {
    MemoryByteSink sink;
    WriterOptions strict;
    strict.interleaveTolerance = 0;
    ProgramStreamWriter writer(sink, strict);
    int v = writer.AddStream({{0xE0, 0}, StreamKind::Video});
    int a = writer.AddStream({{0xC0, 0}, StreamKind::MpegAudio});
    int d = writer.AddStream({{0xBD, 0x80}, StreamKind::Ac3});
    Bytes v1 = Filler(5000, 1), v2 = Filler(3000, 2), a1 = Filler(700, 3), d1 = Filler(600, 4);
    ElementaryPacket dp = Packet(d1, true, 9000);
    std::memcpy(dp.substreamHeader, "\x80\x03\x00\x05", 4);
    dp.substreamHeaderSize = 4;
    ASSERT_TRUE(writer.WritePacket(v, Packet(v1, true, 12000, true, 9000)));
    ASSERT_TRUE(writer.WritePacket(v, Packet(v2)));
    ASSERT_TRUE(writer.WritePacket(a, Packet(a1, true, 9100)));
    ASSERT_TRUE(writer.WritePacket(d, dp));
    ASSERT_TRUE(writer.Finish());

    std::vector<Seen> p = ReadBack(sink);
    ASSERT_EQ(p.size(), 4u);
    // By time: video (DTS 9000) and its untimed continuation, then AC-3 (9000 < 9100), then MP2.
    EXPECT_TRUE(p[0].payload == v1 && p[0].pts == 12000 && p[0].dts == 9000);
    EXPECT_TRUE(p[1].payload == v2 && !p[1].hasPts);
    EXPECT_TRUE(p[2].payload == d1 && p[2].key.substreamId == 0x80);
    EXPECT_EQ(p[2].substreamHeader, (Bytes{0x80, 0x03, 0x00, 0x05}));
    EXPECT_TRUE(p[3].payload == a1 && p[3].pts == 9100);
}

// The system header lists each stream id once (private stream 1 with its substreams' largest
// bound), in units of 1024 bytes for video and for bounds beyond the 128-byte scale's reach.
TEST(ProgramStreamWriter, ListsEveryStreamIdOnceInTheSystemHeaderWithItsBound) {
    MemoryByteSink sink;
    ProgramStreamWriter writer(sink);
    writer.AddStream({{0xE0, 0}, StreamKind::Video});                  // 232 KiB
    writer.AddStream({{0xE1, 0}, StreamKind::Video, 3u << 20});        // 3072 KiB
    writer.AddStream({{0xC0, 0}, StreamKind::MpegAudio});              // 4 KiB
    writer.AddStream({{0xC1, 0}, StreamKind::MpegAudio, 2u << 20});    // 2048 KiB
    writer.AddStream({{0xBD, 0x80}, StreamKind::Ac3});                 // 4 KiB
    writer.AddStream({{0xBD, 0x81}, StreamKind::Ac3, 10000});          // the larger: 79 x 128
    writer.AddStream({{0xC2, 0}, StreamKind::MpegAudio, 8191 * 128});  // the small scale's most
    Bytes payload = Filler(100, 1);
    ASSERT_TRUE(writer.WritePacket(0, Packet(payload, true, 1000)));
    ASSERT_TRUE(writer.Finish());
    const Bytes b = sink.Bytes();
    ASSERT_GT(b.size(), 44u);
    ASSERT_EQ(Bytes(b.begin() + 14, b.begin() + 20), (Bytes{0, 0, 1, 0xBB, 0, 6 + 3 * 6}));
    EXPECT_EQ(b[23] >> 2, 5) << "audio bound";
    EXPECT_EQ(b[24] & 0x1F, 2) << "video bound";
    EXPECT_EQ(Bytes(b.begin() + 26, b.begin() + 44),
              (Bytes{0xE0, 0xE0, 0xE8, 0xE1, 0xEC, 0x00, 0xC0, 0xC0, 0x20, 0xC1, 0xE8, 0x00, 0xBD, 0xC0, 0x4F,
                     0xC2, 0xDF, 0xFF}));
    EXPECT_EQ(ReadBack(sink).at(0).payload, payload);
}

TEST(ProgramStreamWriter, InterleavesByTimeWithinBoundedMemory) {
    WriterOptions options;
    options.maxQueuedBytes = 64 * 1024;
    Bytes payload = Filler(1000, 1);
    // Each pin delivers a second's worth in one batch, video first, as DirectShow pins may.
    for (int64_t tolerance : {int64_t(0), WriterOptions{}.interleaveTolerance}) {
        MemoryByteSink sink;
        options.interleaveTolerance = tolerance;
        ProgramStreamWriter writer(sink, options);
        int v = writer.AddStream({{0xE0, 0}, StreamKind::Video});
        int a = writer.AddStream({{0xC0, 0}, StreamKind::MpegAudio});
        for (int i = 0; i < 25; ++i)
            ASSERT_TRUE(writer.WritePacket(v, Packet(payload, true, 90000 + i * 3600)));
        for (int i = 0; i < 40; ++i)
            ASSERT_TRUE(writer.WritePacket(a, Packet(payload, true, 90000 + i * 2160)));
        ASSERT_TRUE(writer.Finish());
        EXPECT_LE(writer.Stats().peakQueuedBytes, options.maxQueuedBytes + payload.size());
        std::vector<Seen> p = ReadBack(sink);
        ASSERT_EQ(p.size(), 65u);
        int64_t latest = 0;
        for (size_t i = 0; i < p.size(); ++i) {
            EXPECT_GE(p[i].pts + tolerance, latest) << "packet " << i << " tolerance " << tolerance;
            latest = std::max(latest, p[i].pts);
        }
    }

    // Already interleaved input passes straight through.
    MemoryByteSink sink;
    ProgramStreamWriter through(sink, options);
    int v = through.AddStream({{0xE0, 0}, StreamKind::Video});
    int a = through.AddStream({{0xC0, 0}, StreamKind::MpegAudio});
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(through.WritePacket(v, Packet(payload, true, 30000 + i * 3600)));
        ASSERT_TRUE(through.WritePacket(a, Packet(payload, true, i * 3600)));
    }
    EXPECT_LE(through.Stats().queuedPackets, 1u);

    // A stream that never sends holds the others back only up to the bound.
    ProgramStreamWriter stalled(sink, options);
    v = stalled.AddStream({{0xE0, 0}, StreamKind::Video});
    stalled.AddStream({{0xC0, 0}, StreamKind::MpegAudio});
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(stalled.WritePacket(v, Packet(payload, true, i * 3600)));
    EXPECT_LE(stalled.QueuedBytes(), options.maxQueuedBytes);
    EXPECT_GT(stalled.Stats().pesPacketsOut, 100u);
}

// Whatever the output chunk size, the same bytes arrive, in writes no smaller than a chunk but
// the last.
TEST(ProgramStreamWriter, WritesTheSameBytesWhateverTheChunkSize) {
    struct Recorder final : ByteSink {
        bool Write(const uint8_t* data, size_t size) override {
            bytes.insert(bytes.end(), data, data + size);
            sizes.push_back(size);
            return true;
        }
        Bytes bytes;
        std::vector<size_t> sizes;
    };
    auto write = [](Recorder& sink, size_t chunk) {
        WriterOptions options;
        options.outputChunkBytes = chunk;
        ProgramStreamWriter writer(sink, options);
        int v = writer.AddStream({{0xE0, 0}, StreamKind::Video});
        int a = writer.AddStream({{0xC0, 0}, StreamKind::MpegAudio});
        for (int i = 0; i < 200; ++i) {
            Bytes video = Filler(100 + (i * 997) % 9000, uint8_t(i)), audio = Filler(300 + i, uint8_t(i + 1));
            EXPECT_TRUE(writer.WritePacket(v, Packet(video, true, 9000 + i * 3600)));
            EXPECT_TRUE(writer.WritePacket(a, Packet(audio, true, i * 2160)));
        }
        EXPECT_TRUE(writer.Finish());
    };
    Recorder whole;
    write(whole, size_t(64) << 20);
    ASSERT_EQ(whole.sizes.size(), 1u);
    for (size_t chunk : {1u, 100u, 4096u, 65536u, 1000000u}) {
        Recorder chunked;
        write(chunked, chunk);
        EXPECT_EQ(chunked.bytes, whole.bytes) << "chunk " << chunk;
        for (size_t i = 0; i + 1 < chunked.sizes.size(); ++i)
            EXPECT_GE(chunked.sizes[i], chunk) << "write " << i;
    }
}

TEST(ProgramStreamWriter, SplitsOversizedPacketsFollowsTheTimestampWrapAndHeadsRawAc3) {
    MemoryByteSink sink;
    ProgramStreamWriter writer(sink);
    int v = writer.AddStream({{0xE0, 0}, StreamKind::Video});
    int a = writer.AddStream({{0xC0, 0}, StreamKind::MpegAudio});
    int d = writer.AddStream({{0xBD, 0x81}, StreamKind::Ac3});
    const int64_t nearWrap = kTimestampWrap - 4000;
    Bytes big = Filler(150000, 1), small = Filler(100, 2), frames = Filler(1000, 3);
    frames[10] = 0x0B, frames[11] = 0x77, frames[600] = 0x0B, frames[601] = 0x77;
    ASSERT_TRUE(writer.WritePacket(v, Packet(big, true, nearWrap)));
    ASSERT_TRUE(writer.WritePacket(a, Packet(small, true, 1000)));  // after the wrap: later, not earlier
    ASSERT_TRUE(writer.WritePacket(v, Packet(small, true, 2000)));
    ASSERT_TRUE(writer.WritePacket(d, Packet(frames, true, 3000)));
    ASSERT_TRUE(writer.Finish());
    std::vector<Seen> p = ReadBack(sink);
    ASSERT_EQ(p.size(), 6u);
    EXPECT_EQ(p[0].pts, nearWrap);
    EXPECT_FALSE(p[1].hasPts);
    EXPECT_EQ(p[0].payload.size() + p[1].payload.size() + p[2].payload.size(), big.size());
    Append(p[0].payload, p[1].payload);
    Append(p[0].payload, p[2].payload);
    EXPECT_EQ(p[0].payload, big);
    EXPECT_EQ(p[3].pts, 1000);
    EXPECT_EQ(p[4].pts, 2000);
    // Raw AC-3 gets a substream header: its id, two frames, the first at byte 11 after the pointer.
    EXPECT_EQ(p[5].substreamHeader, (Bytes{0x81, 2, 0, 11}));
    EXPECT_EQ(p[5].payload, frames);
}

TEST(ProgramStreamWriter, RefusesMisuseAndReportsASinkFailure) {
    MemoryByteSink sink;
    Bytes p = Filler(5000, 1);
    auto expectError = [](const ProgramStreamWriter& w, const char* words) {
        EXPECT_NE(w.ErrorText().find(words), std::string::npos) << w.ErrorText();
    };
    ProgramStreamWriter w1(sink), w2(sink), w3(sink), w4(sink);  // each error sticks
    EXPECT_EQ(w1.AddStream({{0xBE, 0}, StreamKind::Other}), -1);
    expectError(w1, "cannot carry");
    w2.AddStream({{0xE0, 0}, StreamKind::Video});
    EXPECT_EQ(w2.AddStream({{0xE0, 0}, StreamKind::Video}), -1);
    expectError(w2, "twice");
    int v = w3.AddStream({{0xE0, 0}, StreamKind::Video});
    ASSERT_TRUE(w3.WritePacket(v, Packet(p, true, 1)));
    EXPECT_EQ(w3.AddStream({{0xC0, 0}, StreamKind::MpegAudio}), -1);
    expectError(w3, "before the first packet");
    v = w4.AddStream({{0xE0, 0}, StreamKind::Video});
    ASSERT_TRUE(w4.EndOfStream(v));
    EXPECT_FALSE(w4.WritePacket(v, Packet(p)));
    EXPECT_FALSE(w4.WritePacket(7, Packet(p)));

    struct FullDisk : ByteSink {
        bool Write(const uint8_t*, size_t) override { return false; }
    } full;
    WriterOptions options;
    options.outputChunkBytes = 4096;
    ProgramStreamWriter w5(full, options);
    v = w5.AddStream({{0xE0, 0}, StreamKind::Video});
    EXPECT_FALSE(w5.WritePacket(v, Packet(p, true, 1)) && w5.Finish());
    EXPECT_TRUE(w5.Failed());
    expectError(w5, "could not be written");
}
