// Encrypted transport-stream recordings through Wine's filter graph manager, with the key
// stored: the source decrypts them with media's TransportStreamDecryptor. The outputs stay
// for the ffprobe checks that run after this test (NAME.ts against NAME.ts.mpg).
#include <gtest/gtest.h>

#include <evcode.h>

#include <string>
#include <vector>

#include "GraphSupport.h"
#include "KeyStore.h"
#include "media/TivoContainer.h"
#include "media/TivoWriter.h"

namespace korvane::test {
namespace {

const char kKey[] = "0123456789";

std::string Work(const std::string& name) {
    return WorkDir() + "\\" + name;
}
std::string VectorsDir() {
    return EnvOr("KORVANE_VECTORS", ".");
}

class TsKeySourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteKeyW(HKEY_CURRENT_USER, filters::kKeyStorePath);
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ASSERT_EQ(S_OK, filters::RememberKey(kKey));
    }
    void TearDown() override {
        EXPECT_EQ(0, TotalLive(LiveObjects()));
        CoUninitialize();
        RegDeleteKeyW(HKEY_CURRENT_USER, filters::kKeyStorePath);
    }
    static void ExpectCompleted(const Conversion& c) {
        EXPECT_EQ(Step::None, c.failedStep) << std::hex << c.hr;
        EXPECT_EQ(EC_COMPLETE, c.completionCode);
        EXPECT_FALSE(c.HasEvent(EC_ERRORABORT));
    }
};

}  // namespace

// The known-answer recordings and every transport stream of the material, encrypted by our
// writer (all but the one with garbage before its first packet, which cannot be encrypted).
TEST_F(TsKeySourceTest, EncryptedTransportStreamsConvert) {
    CreateDirectoryA(Work("out-vectors").c_str(), nullptr);
    for (const char* name : {"ts-mpeg2-ac3", "ts-h264-ac3"}) {
        SCOPED_TRACE(name);
        const std::string tivo = VectorsDir() + "\\" + name + ".TiVo";
        ASSERT_TRUE(FileExists(tivo)) << tivo;
        ExpectCompleted(Convert(Widen(tivo), Widen(Work("out-vectors\\" + std::string(name) + ".ts.mpg"))));
    }
    CreateDirectoryA(Work("out-encrypted").c_str(), nullptr);
    for (const std::string& name : MaterialStreams("*.ts")) {
        if (name == "ts_garbage.ts") continue;
        SCOPED_TRACE(name);
        media::TivoWrapOptions options;
        options.mediaAccessKey = kKey;
        options.encryption.packetsPerBlock = 100;
        const std::string tivo = Work(name + ".enc.TiVo");
        std::string error;
        ASSERT_TRUE(media::WrapMpegInTivo(MaterialDir() + "\\" + name, tivo, &error, options)) << error;
        ExpectCompleted(Convert(Widen(tivo), Widen(Work("out-encrypted\\" + name + ".mpg"))));
    }
}

// A recording whose key packets never come cannot be decrypted: every scrambled packet is
// dropped, nothing is left to carry, and the source fails to connect; no output is made.
TEST_F(TsKeySourceTest, AnEncryptedTransportStreamWithoutItsKeyPidFailsToConnect) {
    const std::vector<uint8_t> original = ReadFileBytes(VectorsDir() + "\\ts-h264-ac3.TiVo");
    ASSERT_GT(original.size(), 100000u);
    const size_t offset = 1024;  // the vectors' MPEG offset
    ASSERT_EQ(0x47, original[offset]);
    std::vector<uint8_t> bytes(original.begin(), original.begin() + offset);
    for (size_t i = offset; i + 188 <= original.size(); i += 188) {
        unsigned pid = (original[i + 1] & 0x1F) << 8 | original[i + 2];
        if (pid != 0x0FF0) bytes.insert(bytes.end(), original.begin() + i, original.begin() + i + 188);
    }
    const std::string path = Work("no-key-pid.TiVo"), output = Work("no-key-pid.mpg");
    WriteFileBytes(path, bytes);
    DeleteFileA(output.c_str());
    Conversion c = Convert(Widen(path), Widen(output));
    EXPECT_EQ(Step::SourceToDemux, c.failedStep);
    EXPECT_FALSE(FileExists(output));
}

}  // namespace korvane::test
