// Decryption with CNG's SHA-1 and MD5: the same digests, keys and clear stream as natively.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "media/Hash.h"
#include "media/ProgramStreamDecryptor.h"
#include "media/TivoKeys.h"

using namespace korvane::media;

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string HexOf(const uint8_t* data, size_t size) {
    std::string text;
    char two[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, "%02x", data[i]);
        text += two;
    }
    return text;
}

}  // namespace

TEST(CngHash, GivesTheStandardDigests) {
    EXPECT_STREQ(HashLibraryName(), "CNG");
    const uint8_t abc[] = {'a', 'b', 'c'};
    uint8_t digest[kSha1Size];
    ASSERT_TRUE(ComputeHash(HashAlgorithm::Sha1, {{abc, 1}, {abc + 1, 2}}, digest));
    EXPECT_EQ(HexOf(digest, kSha1Size), "a9993e364706816aba3e25717850c26c9cd0d89d");
    ASSERT_TRUE(ComputeHash(HashAlgorithm::Md5, {{abc, 3}}, digest));
    EXPECT_EQ(HexOf(digest, kMd5Size), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(CngHash, ComposesTheKnownKeystream) {
    const std::string license =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><license "
        "xmlns=\"http://www.tivo.com/developer/xml/license-1.0\">"
        "<salt>00112233445566778899aabbccddeeff</salt></license>";
    TivoKeys keys;
    ASSERT_TRUE(DeriveTivoKeys("0123456789", reinterpret_cast<const uint8_t*>(license.data()), license.size(),
                               &keys));
    TuringKeystream keystream;
    ASSERT_TRUE(InitKeystream(keystream, keys.metadata, 0, 0));
    keystream.Skip(1000);
    uint8_t bytes[20];
    keystream.Generate(bytes, sizeof bytes);
    EXPECT_EQ(HexOf(bytes, sizeof bytes), "29bcd2dea742329c72ffa0ed7d740862b7a15722");
}

TEST(CngDecryption, KnownAnswerRecordingDecryptsToItsClearOriginal) {
    const std::string dir = KORVANE_VECTORS_DIR, out = std::string(KORVANE_WORK_DIR) + "\\ps-mpeg2-ac3.mpg";
    DecryptStats stats;
    std::string error;
    ASSERT_TRUE(DecryptTivoFile(dir + "\\ps-mpeg2-ac3.TiVo", out, "0123456789", &stats, &error)) << error;
    EXPECT_EQ(stats.DamageCount(), 0u);
    EXPECT_TRUE(ReadFile(out) == ReadFile(dir + "\\ps-mpeg2-ac3.mpg"));
    std::remove(out.c_str());
}
