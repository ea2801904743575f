// The payload view: every read, at any offset and of any size, in any order, gives the bytes
// the whole payload decrypted in one pass with every byte kept at its offset gives. That
// reference is the streaming decryptors' (DecryptLayout::KeepOffsets), a state machine of
// their own; the known-answer recordings check both against outside material.
#include <gtest/gtest.h>

#include <algorithm>
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
    return all;
}

}  // namespace

// 10,000 reads over program and transport streams, MPEG-2 and H.264, blocks of one packet to
// one for the whole recording, with the defaults and with everything small.
TEST(PayloadView, RandomReadsGiveTheReferenceBytes) {
    const TivoKeys keys = TestKeys();
    const std::vector<Recording> all = Recordings();
    uint64_t seed = 1;
    for (const Recording& r : all) {
        const Bytes want = Reference(r, keys);
        RandomReads(r, keys, want, {}, 400, seed++);
        RandomReads(r, keys, want, Tight(), 225, seed++);
    }
}
