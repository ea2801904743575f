#include <gtest/gtest.h>

#include <cstring>

#include "TsBuilder.h"
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

Bytes TivoFileBytes(const Bytes& payload, const TivoWrapOptions& options = {}) {
    Bytes f = BuildTivoHead(false, options);
    Append(f, payload);
    return f;
}

void PutBe32(Bytes& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i)
        b[at + i] = U8(v >> (24 - 8 * i));
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

TEST(TivoContainer, NamesEveryMalformedHeader) {
    const Bytes good = TivoFileBytes(SmallProgramStream());
    auto with = [&](size_t at, uint32_t value) {
        Bytes b = good;
        PutBe32(b, at, value);
        return b;
    };
    Bytes tooMany = good, type = good, noise = BuildTivoHead(false);
    tooMany[14] = 0x0F;  // 3840 chunks cannot fit before the offset
    type[16 + 11] = 7;
    Append(noise, Filler(100000, 5));
    const struct {
        Bytes file;
        TivoStatus status;
        const char* words;
    } cases[] = {
        {{}, TivoStatus::NotTivo, "Not a TiVo file"},
        {{'R', 'I', 'F', 'F', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         TivoStatus::NotTivo,
         "Not a TiVo file"},
        {Bytes(good.begin(), good.begin() + 9), TivoStatus::TruncatedHeader, "Truncated TiVo header"},
        {with(10, uint32_t(good.size() + 1)), TivoStatus::OffsetBeyondEnd, "beyond the end of the file"},
        {with(10, 8), TivoStatus::ChunkPastMpegOffset, "inside the 16-byte header"},
        {with(16, 20000), TivoStatus::ChunkPastMpegOffset, "runs past the MPEG offset"},
        {tooMany, TivoStatus::BadChunk, "claims 3843 chunks"},
        {with(16, 8), TivoStatus::BadChunk, "smaller"},  // a chunk smaller than its own header
        {type, TivoStatus::UnknownChunkType, "unknown type 7"},
        {BuildTivoHead(false), TivoStatus::EmptyPayload, "no MPEG payload"},
        {noise, TivoStatus::UnknownPayloadKind, "neither an MPEG program stream"},
        // Cut inside the chunks: the offset check names the end of the file first.
        {Bytes(good.begin(), good.begin() + 100), TivoStatus::OffsetBeyondEnd, "beyond the end"},
    };
    for (const auto& c : cases) {
        Parsed p = Parse(c.file);
        EXPECT_EQ(p.status, c.status) << p.error;
        EXPECT_NE(p.error.find(c.words), std::string::npos) << p.error;
    }
}

TEST(TivoContainer, NamesReadFailuresAndImplausibleChunks) {
    // A source that claims 64 MiB but holds only its head; past the head it either fails or reads zeros.
    struct Sparse : ByteSource {
        Bytes head;
        bool fail = false, failed = false;
        uint64_t Size() const override { return uint64_t(64) << 20; }
        size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
            failed = fail && offset + size > head.size();
            if (failed) return 0;
            std::memset(buffer, 0, size);
            if (offset < head.size())
                std::memcpy(buffer, head.data() + offset, std::min<size_t>(size, head.size() - offset));
            return size;
        }
        bool Failed() const override { return failed; }
    };
    Sparse source;
    source.head = BuildTivoHead(false);
    PutBe32(source.head, 10, 48u << 20);  // the payload starts at 48 MiB
    PutBe32(source.head, 16, 4u << 20);   // a 4 MiB chunk ...
    PutBe32(source.head, 20, 2u << 20);   // ... claiming 2 MiB of metadata
    source.head[15] = 1;                  // and no other
    TivoFile file;
    std::string error;
    EXPECT_EQ(ParseTivo(source, &file, &error), TivoStatus::BadChunk);
    EXPECT_NE(error.find("far more than metadata needs"), std::string::npos) << error;

    source.head = BuildTivoHead(false);
    source.fail = true;
    EXPECT_EQ(ParseTivo(source, &file, &error), TivoStatus::ReadFailed);
    EXPECT_NE(error.find("could not be read"), std::string::npos) << error;
}

// Opening a file reads what a key needs: the license and the first encrypted chunk.
TEST(TivoContainer, ReadsOnlyTheChunksAKeyNeeds) {
    TivoWrapOptions encrypted;
    encrypted.mediaAccessKey = kMak;
    Parsed p = Parse(TivoFileBytes(SmallProgramStream(), encrypted));
    ASSERT_EQ(p.status, TivoStatus::Ok) << p.error;
    ASSERT_EQ(p.file.chunks.size(), 3u);
    EXPECT_EQ(p.file.chunks[0].data.size(), p.file.chunks[0].dataSize);
    EXPECT_EQ(p.file.chunks[1].data.size(), p.file.chunks[1].dataSize);
    EXPECT_TRUE(p.file.chunks[2].data.empty());
}

// The payload's bytes decide its kind, after leading damage and whatever the flag says, and
// scrambling bits mark it scrambled.
TEST(TivoContainer, FindsThePayloadKindAndScramblingByTheBytes) {
    TsBuilder ts;
    ts.Packets(0x100, Filler(50 * 184, 1));
    ts.out[30 * 188 + 3] |= 0xC0;  // one scrambled packet
    Bytes damagedPs = Filler(5000, 3), damagedTs = Filler(77, 1);
    Append(damagedPs, SmallProgramStream());
    Append(damagedTs, ts.out);
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
        Parsed p = Parse(TivoFileBytes(c.payload));  // the flag says program stream
        ASSERT_EQ(p.status, TivoStatus::Ok) << p.error;
        EXPECT_EQ(p.file.payloadKind, c.kind);
        EXPECT_FALSE(p.file.flagSaysTransport);
        EXPECT_EQ(p.file.payloadSyncOffset, c.syncOffset);
        EXPECT_EQ(p.file.scrambled, c.scrambled);
        EXPECT_EQ(p.file.probe.streams.size(), c.streams);
    }
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
    TivoParseOptions everyChunk;
    everyChunk.chunkData = TivoChunkData::All;
    ASSERT_EQ(ParseTivoFile(tivo, &file, &error, everyChunk), TivoStatus::Ok) << error;
    EXPECT_EQ(file.payloadSize, payload.size());
    ASSERT_EQ(file.chunks.size(), 3u);
    EXPECT_TRUE(file.chunks[1].IsPlainXml());
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
