// Decryption with CNG's SHA-1 and MD5: the same clear stream as natively.
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

}  // namespace

// The keys (SHA-1 and MD5 over several parts each), the keystream and the whole stream with
// CNG's digests: the recording decrypts only if every one of them is right.
TEST(CngDecryption, KnownAnswerRecordingDecryptsToItsClearOriginal) {
    EXPECT_STREQ(HashLibraryName(), "CNG");
    const std::string dir = KORVANE_VECTORS_DIR, out = std::string(KORVANE_WORK_DIR) + "\\ps-mpeg2-ac3.mpg";
    DecryptStats stats;
    std::string error;
    ASSERT_TRUE(DecryptTivoFile(dir + "\\ps-mpeg2-ac3.TiVo", out, "0123456789", &stats, &error)) << error;
    EXPECT_EQ(stats.DamageCount(), 0u);
    EXPECT_TRUE(ReadFile(out) == ReadFile(dir + "\\ps-mpeg2-ac3.mpg"));
    std::remove(out.c_str());
}
