// The cipher and the key derivation against known answers from outside this project: the
// Turing authors' test vector, and the composition vectors computed by an independent
// implementation (the keys come from SHA-1 and MD5 over several parts, so a wrong digest shows).
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "media/TivoKeys.h"
#include "media/Turing.h"

using namespace korvane::media;
using korvane::test::TestKeys;

namespace {

// Hex digits in pairs, spaces between pairs ignored.
std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < text.size(); i += text[i] == ' ' ? 1 : 2)
        if (text[i] != ' ') out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<uint8_t> Next(TuringKeystream& keystream, size_t n) {
    std::vector<uint8_t> out(n);
    keystream.Generate(out.data(), n);
    return out;
}

}  // namespace

TEST(Turing, MatchesTheAuthorsTestVector) {
    const std::string key = "test key 128bits";
    const uint8_t iv[4] = {0, 0, 0, 0};
    TuringKeystream keystream;
    ASSERT_TRUE(keystream.Init(reinterpret_cast<const uint8_t*>(key.data()), key.size(), iv, sizeof iv));
    EXPECT_EQ(Next(keystream, 20), Hex("69 66 26 bb dc 6e 09 f6 da 9a ba b5 b5 6c 14 87 82 46 df 18"));
    keystream.Skip(9999 - 20);
    EXPECT_EQ(Next(keystream, 20), Hex("5d a8 8c ed 8a a6 55 ba 78 08 ef f8 cf 32 63 c0 75 e4 40 3c"));
}

TEST(Turing, RefusesKeysAndIvsOutsideItsLimits) {
    uint8_t bytes[64] = {};
    TuringKeystream keystream;
    EXPECT_FALSE(keystream.Init(bytes, 0, bytes, 4));
    EXPECT_FALSE(keystream.Init(bytes, 18, bytes, 4));
    EXPECT_FALSE(keystream.Init(bytes, 36, bytes, 4));
    EXPECT_FALSE(keystream.Init(bytes, 32, bytes, 36));  // more words than the register holds
    EXPECT_FALSE(keystream.Ready());
    EXPECT_TRUE(keystream.Init(bytes, 20, bytes, 20));
}

// The code for processors with AVX-512 byte permutes makes 64 rounds at a time where the
// portable code makes 17: every length, offset and mix of writing, XORing and skipping must
// give the same bytes, for keys and IVs of every size.
TEST(Turing, TheFastestCodeMakesThePortableCodesBytes) {
    {
        TuringKeystream probe;
        const uint8_t key[4] = {1, 2, 3, 4};
        ASSERT_TRUE(probe.Init(key, sizeof key, nullptr, 0));
        if (!probe.UsesWideCode()) std::printf("(this processor runs the portable code only)\n");
    }
    std::mt19937 random(20240611);
    const auto bytes = [&random](size_t n) {
        std::vector<uint8_t> out(n);
        for (uint8_t& b : out)
            b = static_cast<uint8_t>(random());
        return out;
    };
    const size_t sizes[] = {0, 1, 3, 20, 339, 340, 341, 1279, 1280, 1281, 2560, 4099, 65536, 300001};
    for (size_t keySize = 4; keySize <= 32; keySize += 4) {
        for (size_t ivSize = 0; keySize / 4 + ivSize / 4 + 1 <= 17; ivSize += 8) {
            const std::vector<uint8_t> key = bytes(keySize), iv = bytes(ivSize);
            TuringKeystream fastest(TuringKeystream::Code::Fastest), portable(TuringKeystream::Code::Portable);
            ASSERT_TRUE(fastest.Init(key.data(), key.size(), iv.data(), iv.size()));
            ASSERT_TRUE(portable.Init(key.data(), key.size(), iv.data(), iv.size()));
            EXPECT_FALSE(portable.UsesWideCode());
            for (int op = 0; op < 60; ++op) {
                const size_t n = sizes[random() % (sizeof sizes / sizeof sizes[0])] + random() % 3;
                switch (random() % 3) {
                case 0:
                    ASSERT_EQ(Next(fastest, n), Next(portable, n)) << keySize << "-byte key, op " << op;
                    break;
                case 1: {
                    std::vector<uint8_t> a = bytes(n), b = a;
                    fastest.Xor(a.data(), n);
                    portable.Xor(b.data(), n);
                    ASSERT_EQ(a, b) << keySize << "-byte key, op " << op;
                    break;
                }
                default:
                    fastest.Skip(n * 7);
                    portable.Skip(n * 7);
                }
                ASSERT_EQ(fastest.Position(), portable.Position());
            }
        }
    }
}

TEST(TivoKeys, ComposeAsTheIndependentImplementation) {
    TivoKeys keys = TestKeys();
    KeystreamSet media(keys.media);
    TuringKeystream* e0 = media.Select(0xE0, 0xE0, 5);
    ASSERT_NE(e0, nullptr);
    EXPECT_EQ(Next(*e0, 40),
              Hex("e8 95 a9 d3 a9 b3 b3 a8 40 2e 82 14 31 90 f0 68 51 4e 92 81 42 27 a3 4f 82 1d f4 29 "
                  "4b b6 82 0b 32 e7 d2 fd 39 ac f1 ca"));
    TuringKeystream* c0 = media.Select(0xC0, 0xC0, 0x123456);
    ASSERT_NE(c0, nullptr);
    EXPECT_EQ(Next(*c0, 20), Hex("73 d9 b1 b1 1c 42 d7 c7 fa e8 5f 53 10 d7 f7 fa be 77 41 97"));
    e0 = media.Select(0xE0, 0xE0, 5);  // continues across the other stream
    EXPECT_EQ(Next(*e0, 20), Hex("9a ca 0d 66 54 79 b7 23 34 cf eb 5e e1 5b b5 32 95 f8 21 74"));
    e0 = media.Select(0xE0, 0xE0, 6);  // a block change rebuilds
    EXPECT_EQ(Next(*e0, 20), Hex("bc 99 95 b9 34 66 9a 97 56 3b 30 39 46 01 29 fa 71 77 87 f9"));
    EXPECT_EQ(media.Rebuilds(), 3u);
    media.Reset();  // forgets positions: block 6 starts over
    e0 = media.Select(0xE0, 0xE0, 6);
    EXPECT_EQ(Next(*e0, 20), Hex("bc 99 95 b9 34 66 9a 97 56 3b 30 39 46 01 29 fa 71 77 87 f9"));
    EXPECT_EQ(media.Select(KeystreamSet::kMaxSlots, 0xE0, 6), nullptr);

    TuringKeystream metadata;
    ASSERT_TRUE(InitKeystream(metadata, keys.metadata, 0, 0));
    metadata.Skip(1000);
    EXPECT_EQ(Next(metadata, 20), Hex("29 bc d2 de a7 42 32 9c 72 ff a0 ed 7d 74 08 62 b7 a1 57 22"));
}

TEST(TivoKeys, NormalizesTypedKeys) {
    std::string digits = "unchanged";
    EXPECT_TRUE(NormalizeMediaAccessKey(" 012-345 6789", &digits));
    EXPECT_EQ(digits, "0123456789");
    digits = "unchanged";
    EXPECT_FALSE(NormalizeMediaAccessKey("012345678", &digits));
    EXPECT_FALSE(NormalizeMediaAccessKey("01234567890", &digits));
    EXPECT_FALSE(NormalizeMediaAccessKey("012345678x", &digits));
    EXPECT_FALSE(NormalizeMediaAccessKey("0123456789\n", &digits));
    EXPECT_EQ(digits, "unchanged");
}

// Made ahead on a helper thread or not, a set hands out the same keystream: blocks in turn
// (every other one made ahead), blocks longer and shorter than the one before (the helper
// stops short, or makes more than is taken), another stream in between, a jump (what was
// made ahead is dropped) and a reset.
TEST(TivoKeys, AHelperThreadChangesNoByte) {
    const TivoKeys keys = TestKeys();
    KeystreamSet alone(keys.media), helped(keys.media, KeystreamMaking::WithHelperThread);
    struct Use {
        unsigned slot;
        uint32_t block;
        size_t skip, bytes;
    };
    const Use uses[] = {{0xE0, 1, 4, 300000},  {0xC0, 7, 4, 5000},     {0xE0, 2, 4, 300000},
                        {0xE0, 3, 0, 900000},  {0xE0, 4, 4, 100},      {0xC0, 8, 0, 70000},
                        {0xE0, 5, 9, 2000000}, {0xE0, 6, 4, 1000},     {0xE0, 9, 4, 5000},
                        {0xE0, 10, 0, 5000},   {0xE0, 0xFFFFFF, 4, 7}, {0xE0, 0, 4, 400000}};
    const auto take = [](TuringKeystream& keystream, size_t n) {  // half XORed, half written
        std::vector<uint8_t> out(n, 0);
        keystream.Xor(out.data(), n / 2);
        keystream.Generate(out.data() + n / 2, n - n / 2);
        return out;
    };
    for (const Use& use : uses) {
        TuringKeystream* a = alone.Select(use.slot, static_cast<uint8_t>(use.slot), use.block);
        TuringKeystream* h = helped.Select(use.slot, static_cast<uint8_t>(use.slot), use.block);
        ASSERT_TRUE(a && h);
        a->Skip(use.skip);
        h->Skip(use.skip);
        ASSERT_EQ(take(*h, use.bytes), take(*a, use.bytes)) << "block " << use.block;
    }
    EXPECT_EQ(helped.Rebuilds(), alone.Rebuilds());
    alone.Reset();
    helped.Reset();
    EXPECT_EQ(Next(*helped.Select(0xE0, 0xE0, 1), 1000), Next(*alone.Select(0xE0, 0xE0, 1), 1000));
}
