// Decryption with CNG's SHA-1 and MD5: the same digests, keys and clear stream as natively.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "media/Hash.h"
#include "media/ProgramStreamDecryptor.h"

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

// The keys, the keystream and the whole stream with CNG's digests: the recording decrypts
// only if every one of them is right.
TEST(CngDecryption, KnownAnswerRecordingDecryptsToItsClearOriginal) {
    const std::string dir = KORVANE_VECTORS_DIR, out = std::string(KORVANE_WORK_DIR) + "\\ps-mpeg2-ac3.mpg";
    DecryptStats stats;
    std::string error;
    ASSERT_TRUE(DecryptTivoFile(dir + "\\ps-mpeg2-ac3.TiVo", out, "0123456789", &stats, &error)) << error;
    EXPECT_EQ(stats.DamageCount(), 0u);
    EXPECT_TRUE(ReadFile(out) == ReadFile(dir + "\\ps-mpeg2-ac3.mpg"));
    std::remove(out.c_str());
}
