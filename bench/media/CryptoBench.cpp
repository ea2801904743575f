// Speed of decryption on one core: the Turing keystream alone, building a keystream (paid at
// every block change), and the program stream decryptor on an encrypted stream in memory,
// fed in 1 MiB chunks as the source filter reads. Prints numbers; asserts nothing.
//   build/<tree>/bench/media/crypto_bench [--mib N]
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "media/Hash.h"
#include "media/ProgramStreamDecryptor.h"
#include "media/ProgramStreamEncryptor.h"
#include "media/TivoKeys.h"
#include "media/Turing.h"

using namespace korvane::media;

namespace {

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// This thread's CPU seconds: on a machine shared with other builds, wall time mostly
// measures the neighbours.
double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

class Discard final : public ByteSink {
public:
    bool Write(const uint8_t*, size_t size) override {
        bytes += size;
        return true;
    }
    uint64_t bytes = 0;
};

class Collect final : public ByteSink {
public:
    bool Write(const uint8_t* data, size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TivoKeys BenchKeys() {
    static const uint8_t license[] = "<license><salt>00112233445566778899aabbccddeeff</salt></license>";
    TivoKeys keys;
    if (!DeriveTivoKeys("0123456789", license, sizeof license - 1, &keys)) std::exit(1);
    return keys;
}

void BenchKeystream(uint64_t mib) {
    TuringKeystream keystream;
    uint8_t key[20] = {1, 2, 3}, iv[20] = {4, 5, 6};
    keystream.Init(key, sizeof key, iv, sizeof iv);
    std::vector<uint8_t> buffer(size_t(1) << 20, 0x5A);
    auto start = std::chrono::steady_clock::now();
    double cpu = CpuSeconds();
    for (uint64_t i = 0; i < mib; ++i)
        keystream.Xor(buffer.data(), buffer.size());
    cpu = CpuSeconds() - cpu;
    double s = Since(start);
    std::printf("  keystream XOR in place:      %8.0f MB/s wall, %6.0f MB/s CPU (%" PRIu64
                " MiB; checksum %02x)\n",
                double(mib << 20) / s / 1e6, double(mib << 20) / cpu / 1e6, mib, buffer[12345]);
}

void BenchKeySetup() {
    TivoKeys keys = BenchKeys();
    TuringKeystream keystream;
    const int count = 2000;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        InitKeystream(keystream, keys.media, 0xE0, static_cast<uint32_t>(i));
    double s = Since(start);
    std::printf("  keystream rebuild (2 SHA-1 with %s + key setup): %.1f us each\n", HashLibraryName(),
                s / count * 1e6);
}

bool BenchDecryptor(const std::string& material, uint64_t mib) {
    std::vector<uint8_t> clip = ReadFile(material);
    if (clip.empty()) {
        std::fprintf(stderr, "cannot read %s\n", material.c_str());
        return false;
    }
    std::vector<uint8_t> clear;
    clear.reserve(mib << 20);
    while (clear.size() + clip.size() <= (mib << 20))
        clear.insert(clear.end(), clip.begin(), clip.end());
    TivoKeys keys = BenchKeys();
    ProgramStreamEncryptor encryptor(keys);
    Collect encrypted;
    if (!encryptor.Feed(clear.data(), clear.size(), encrypted) || !encryptor.Finish(encrypted)) {
        std::fprintf(stderr, "%s\n", encryptor.ErrorText().c_str());
        return false;
    }
    const std::vector<uint8_t>& input = encrypted.bytes;
    constexpr size_t kChunk = size_t(1) << 20;
    std::vector<uint8_t> work(kChunk);
    ProgramStreamDecryptor decryptor(keys);
    Discard out;
    double copying = 0, copyingCpu = 0;
    auto start = std::chrono::steady_clock::now();
    double cpu = CpuSeconds();
    for (size_t pos = 0; pos < input.size(); pos += kChunk) {
        size_t n = std::min(kChunk, input.size() - pos);
        auto copyStart = std::chrono::steady_clock::now();
        double copyCpu = CpuSeconds();
        std::memcpy(work.data(), input.data() + pos, n);  // stands for the file read
        copyingCpu += CpuSeconds() - copyCpu;
        copying += Since(copyStart);
        decryptor.Feed(work.data(), n, out);
    }
    decryptor.Finish(out);
    cpu = CpuSeconds() - cpu - copyingCpu;
    double s = Since(start) - copying;
    const DecryptStats& stats = decryptor.Stats();
    std::printf("  decryptor on %-20s %8.0f MB/s wall, %6.0f MB/s CPU (%.0f MB, %" PRIu64 " packets, %" PRIu64
                " keystreams, %" PRIu64 " damaged)\n",
                (material.substr(material.find_last_of('/') + 1) + ":").c_str(),
                double(input.size()) / s / 1e6, double(input.size()) / cpu / 1e6, double(input.size()) / 1e6,
                stats.packetsDecrypted, stats.keystreamRebuilds, stats.DamageCount());
    return out.bytes == clear.size();
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t mib = 256;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--mib") == 0) mib = std::strtoull(argv[i + 1], nullptr, 10);
    if (std::system("bash '" KORVANE_MATERIAL_SCRIPT "' '" KORVANE_MATERIAL_DIR "'") != 0) return 1;
    std::printf("Decryption on one core:\n");
    BenchKeystream(mib * 2);
    BenchKeySetup();
    bool ok = BenchDecryptor(KORVANE_MATERIAL_DIR "/mp2.mpg", mib);
    ok = BenchDecryptor(KORVANE_MATERIAL_DIR "/large_packets.mpg", mib) && ok;
    return ok ? 0 : 1;
}
