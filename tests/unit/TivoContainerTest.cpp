#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>

#include "PsBuilder.h"
#include "TestFiles.h"
#include "media/TivoContainer.h"
#include "media/TivoWriter.h"

using namespace korvane::media;
using namespace korvane::test;

namespace {

Bytes SmallProgramStream(bool scrambled = false) {
    Bytes s;
    for (int i = 0; i < 20; ++i) {
        Append(s, PackHeader(i * 1000));
        Append(s, Pes({0xE0, Filler(3000, 1), true, false, 1000 + i * 3600, 0, scrambled}));
        Append(s, Pes({0xC0, Filler(500, 2), true, false, 1000 + i * 3600}));
    }
    return s;
}

Bytes TivoFileBytes(const Bytes& payload, bool transport = false) {
    Bytes f = BuildTivoHead(transport);
    Append(f, payload);
    return f;
}

void PutBe32(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v >> 24);
    b[at + 1] = static_cast<uint8_t>(v >> 16);
    b[at + 2] = static_cast<uint8_t>(v >> 8);
    b[at + 3] = static_cast<uint8_t>(v);
}

struct Parsed {
    TivoStatus status;
    TivoFile file;
    std::string error;
};

Parsed Parse(const Bytes& b) {
    Parsed p;
    MemoryByteSource source(b.data(), b.size());
    p.status = ParseTivo(source, &p.file, &p.error);
    return p;
}

}  // namespace

TEST(TivoContainer, ParsesWhatTheWrapperWrites) {
    Bytes payload = SmallProgramStream();
    Parsed p = Parse(TivoFileBytes(payload));
    ASSERT_EQ(p.status, TivoStatus::Ok) << p.error;
    EXPECT_EQ(p.file.header.mpegOffset % 1024, 0u);
    EXPECT_GE(p.file.header.mpegOffset, 10240u);
    EXPECT_EQ(p.file.payloadOffset, p.file.header.mpegOffset);
    EXPECT_EQ(p.file.payloadSize, payload.size());
    EXPECT_EQ(p.file.payloadKind, PayloadKind::ProgramStream);
    EXPECT_FALSE(p.file.flagSaysTransport);
    EXPECT_FALSE(p.file.scrambled);
    ASSERT_EQ(p.file.chunks.size(), 3u);
    EXPECT_EQ(p.file.chunks[0].id, 3);
    EXPECT_EQ(p.file.chunks[1].id, 1);
    EXPECT_TRUE(p.file.chunks[1].IsPlainXml());
    EXPECT_NE(p.file.chunks[0].Text().find("http://www.tivo.com/developer/xml/license-1.0"),
              std::string::npos);
    EXPECT_NE(p.file.chunks[1].Text().find("<title>Korvane test recording</title>"), std::string::npos);
    ASSERT_EQ(p.file.probe.streams.size(), 2u);
    EXPECT_EQ(p.file.probe.streams[0].kind, StreamKind::Video);
    EXPECT_EQ(p.file.probe.streams[1].kind, StreamKind::MpegAudio);
}

TEST(TivoContainer, NamesEveryMalformedHeader) {
    Bytes good = TivoFileBytes(SmallProgramStream());
    auto expect = [](const Bytes& b, TivoStatus status, const char* words) {
        Parsed p = Parse(b);
        EXPECT_EQ(p.status, status) << p.error;
        EXPECT_NE(p.error.find(words), std::string::npos) << p.error;
    };
    expect(Bytes{}, TivoStatus::NotTivo, "Not a TiVo file");
    expect(Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, TivoStatus::NotTivo,
           "Not a TiVo file");
    expect(Bytes(good.begin(), good.begin() + 9), TivoStatus::TruncatedHeader, "Truncated TiVo header");

    Bytes beyond = good;
    PutBe32(beyond, 10, static_cast<uint32_t>(good.size() + 1));
    expect(beyond, TivoStatus::OffsetBeyondEnd, "beyond the end of the file");

    Bytes inside = good;
    PutBe32(inside, 10, 8);
    expect(inside, TivoStatus::ChunkPastMpegOffset, "inside the 16-byte header");

    Bytes longChunk = good;
    PutBe32(longChunk, 16, 20000);  // first chunk size beyond the MPEG offset
    expect(longChunk, TivoStatus::ChunkPastMpegOffset, "runs past the MPEG offset");

    Bytes tooMany = good;
    tooMany[14] = 0x0F;  // 3840 chunks cannot fit before the offset
    expect(tooMany, TivoStatus::BadChunk, "Chunk 4 of 3843 is smaller");

    Bytes small = good;
    PutBe32(small, 16, 8);  // chunk size smaller than its own header
    expect(small, TivoStatus::BadChunk, "smaller");

    Bytes type = good;
    type[16 + 11] = 7;
    expect(type, TivoStatus::UnknownChunkType, "unknown type 7");

    Bytes empty = BuildTivoHead(false);
    expect(empty, TivoStatus::EmptyPayload, "no MPEG payload");

    Bytes noise = BuildTivoHead(false);
    Append(noise, Filler(100000, 5));
    expect(noise, TivoStatus::UnknownPayloadKind, "neither an MPEG program stream");

    // Cut inside the chunks: the offset check names the end of the file first.
    expect(Bytes(good.begin(), good.begin() + 100), TivoStatus::OffsetBeyondEnd, "beyond the end");
}

TEST(TivoContainer, NamesReadFailuresAndImplausibleChunks) {
    // A source that claims 64 MiB but holds only its head; past the head it either fails or reads zeros.
    struct Sparse : ByteSource {
        Bytes head;
        bool fail = false;
        uint64_t Size() const override { return uint64_t(64) << 20; }
        size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
            if (offset + size > head.size()) {
                if (fail) {
                    failed = true;
                    return 0;
                }
                std::memset(buffer, 0, size);
            }
            if (offset < head.size())
                std::memcpy(buffer, head.data() + offset, std::min<size_t>(size, head.size() - offset));
            return size;
        }
        bool Failed() const override { return failed; }
        bool failed = false;
    };
    Sparse source;
    source.head = BuildTivoHead(false);
    PutBe32(source.head, 10, 48u << 20);  // the payload starts at 48 MiB
    PutBe32(source.head, 16, 40u << 20);  // a 40 MiB chunk ...
    PutBe32(source.head, 20, 30u << 20);  // ... claiming 30 MiB of metadata
    TivoFile file;
    std::string error;
    EXPECT_EQ(ParseTivo(source, &file, &error), TivoStatus::BadChunk);
    EXPECT_NE(error.find("far more than metadata needs"), std::string::npos) << error;

    source.head = BuildTivoHead(false);
    source.fail = true;
    EXPECT_EQ(ParseTivo(source, &file, &error), TivoStatus::ReadFailed);
    EXPECT_NE(error.find("could not be read"), std::string::npos) << error;
}

// The payload's bytes decide its kind, after leading damage and whatever the flag says, and
// scrambling bits mark it scrambled.
TEST(TivoContainer, FindsThePayloadKindAndScramblingByTheBytes) {
    Bytes ts;
    for (int i = 0; i < 50; ++i) {
        Bytes packet(188, 0xFF);
        packet[0] = 0x47;
        packet[1] = 0x01;
        packet[2] = 0x00;
        packet[3] = static_cast<uint8_t>(0x10 | (i & 15) | (i == 30 ? 0xC0 : 0));
        Append(ts, packet);
    }
    Bytes damagedPs = Filler(5000, 3), damagedTs = Filler(77, 1);
    Append(damagedPs, SmallProgramStream());
    Append(damagedTs, ts);
    const struct {
        Bytes payload;
        PayloadKind kind;
        uint64_t syncOffset;
        bool scrambled;
        size_t streams;
    } cases[] = {{damagedPs, PayloadKind::ProgramStream, 5000, false, 2},
                 {SmallProgramStream(true), PayloadKind::ProgramStream, 0, true, 0},
                 {damagedTs, PayloadKind::TransportStream, 77, true, 0}};
    for (const auto& c : cases) {
        Parsed p = Parse(TivoFileBytes(c.payload, false));  // the flag says program stream
        ASSERT_EQ(p.status, TivoStatus::Ok) << p.error;
        EXPECT_EQ(p.file.payloadKind, c.kind);
        EXPECT_FALSE(p.file.flagSaysTransport);
        EXPECT_EQ(p.file.payloadSyncOffset, c.syncOffset);
        EXPECT_EQ(p.file.scrambled, c.scrambled);
        EXPECT_EQ(p.file.probe.streams.size(), c.streams);
    }
    EXPECT_NE(TivoFileBytes(ts, true)[7] & kTivoFlagTransportStream, 0);
}

TEST(TivoContainer, WrapsAndOpensFilesByPath) {
    const std::string mpg = Temp("wrap_in.mpg"), tivo = Temp("wrap_out.TiVo");
    const Bytes payload = SmallProgramStream();
    WriteFile(mpg, payload);
    std::string error;
    TivoWrapOptions options;
    options.title = "A & B <test>";
    ASSERT_TRUE(WrapMpegInTivo(mpg, tivo, &error, options)) << error;
    TivoFile file;
    ASSERT_EQ(ParseTivoFile(tivo, &file, &error), TivoStatus::Ok) << error;
    EXPECT_EQ(file.payloadSize, payload.size());
    EXPECT_NE(file.chunks[1].Text().find("<title>A &amp; B &lt;test&gt;</title>"), std::string::npos);

    EXPECT_EQ(ParseTivoFile(Temp("missing.TiVo"), &file, &error), TivoStatus::ReadFailed);
    EXPECT_NE(error.find("missing.TiVo"), std::string::npos);
    EXPECT_EQ(ParseTivoFile(mpg, &file, &error), TivoStatus::NotTivo);
    EXPECT_NE(error.find("wrap_in.mpg"), std::string::npos);
    EXPECT_FALSE(WrapMpegInTivo(tivo + ".nope", tivo, &error));
    EXPECT_FALSE(WrapMpegInTivo(mpg, Temp("no/such/folder/x.TiVo"), &error));
    EXPECT_NE(error.find("Cannot create"), std::string::npos);
    WriteFile(mpg, Bytes{'n', 'o', 't', ' ', 'M', 'P', 'E', 'G'});
    EXPECT_FALSE(WrapMpegInTivo(mpg, tivo, &error));
    EXPECT_NE(error.find("neither an MPEG program stream nor a transport stream"), std::string::npos);
}
