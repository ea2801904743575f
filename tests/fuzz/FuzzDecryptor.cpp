// The program stream decryptor over arbitrary bytes: it must never crash, never let a
// scrambled packet through, and give the same output whatever the chunking. Whatever the
// encryptor accepts must decrypt back to exactly the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "media/ProgramStreamDecryptor.h"
#include "media/ProgramStreamEncryptor.h"
#include "media/ProgramStreamReader.h"

using namespace korvane::media;

namespace {

class Collect final : public ByteSink {
public:
    bool Write(const uint8_t* data, size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    std::vector<uint8_t> bytes;
};

class Ignore final : public PacketHandler {
public:
    bool OnPacket(const PesPacket&) override { return true; }
};

const TivoKeys& Keys() {
    static const TivoKeys keys = [] {
        TivoKeys k;
        static const uint8_t license[] = "<license><salt>00112233445566778899aabbccddeeff</salt></license>";
        if (!DeriveTivoKeys("0123456789", license, sizeof license - 1, &k)) __builtin_trap();
        return k;
    }();
    return keys;
}

std::vector<uint8_t> Decrypt(const std::vector<uint8_t>& input, size_t chunk) {
    std::vector<uint8_t> work(input);
    ProgramStreamDecryptor decryptor(Keys());
    Collect out;
    for (size_t pos = 0; pos < work.size(); pos += chunk)
        if (!decryptor.Feed(work.data() + pos, std::min(chunk, work.size() - pos), out)) __builtin_trap();
    if (!decryptor.Finish(out)) __builtin_trap();
    return out.bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t chunk = 1 + data[0] % 97;
    const std::vector<uint8_t> input(data + 1, data + size);

    std::vector<uint8_t> whole = Decrypt(input, input.size() ? input.size() : 1);
    if (Decrypt(input, chunk) != whole) __builtin_trap();
    ProgramStreamReader reader;
    Ignore ignore;
    reader.Feed(whole.data(), whole.size(), ignore);
    reader.Finish(ignore);
    if (reader.Status() == ReaderStatus::Encrypted) __builtin_trap();

    std::vector<uint8_t> work(input);
    EncryptOptions options;
    options.packetsPerBlock = 1 + data[0] % 5;
    ProgramStreamEncryptor encryptor(Keys(), options);
    Collect encrypted;
    if (encryptor.Feed(work.data(), work.size(), encrypted) && encryptor.Finish(encrypted)) {
        if (Decrypt(encrypted.bytes, chunk) != input) __builtin_trap();
    }
    return 0;
}
