// The container parser over arbitrary files, and over arbitrary payloads behind valid heads
// (so the payload sniffing and probing are reached without having to guess a header): a clear
// head, and encrypted heads of both payload kinds, the payload scrambled with their key as far
// as the encryptor takes it, whose key the parse is offered after a wrong one, so the key check
// and the decrypting probe run on every scrambled payload. The wrong key never fits, the right
// one always does, and the probe the parse decrypts in one piece agrees with the one a source
// filter reads in pieces. The first byte picks the head (0: program stream, 0x47: transport
// stream, both encrypted, as the seeds begin) and stays in the payload.
#include <algorithm>
#include <string>

#include "FuzzCommon.h"
#include "media/TivoContainer.h"
#include "media/TivoWriter.h"
#include "media/TransportStreamEncryptor.h"

using namespace korvane::fuzz;

namespace {

const char kRightKey[] = "0123456789";

TivoParseOptions Options() {
    TivoParseOptions options;
    options.probeBytes = 64 * 1024;
    options.mediaAccessKeys = {"1111111111", kRightKey};
    return options;
}

struct Head {
    Bytes bytes;
    TivoKeys keys;
    Head(bool encrypted, bool transportStream) {
        TivoWrapOptions wrap;
        if (encrypted) wrap.mediaAccessKey = kRightKey;
        wrap.salt = "00112233445566778899aabbccddeeff";
        bytes = BuildTivoHead(transportStream, wrap, &keys);
    }
};

bool SameStreams(const ProbeResult& a, const ProbeResult& b) {
    return std::equal(a.streams.begin(), a.streams.end(), b.streams.begin(), b.streams.end(),
                      [](const ProbedStream& x, const ProbedStream& y) {
                          return x.key == y.key && x.packets == y.packets && x.firstPts == y.firstPts;
                      });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TivoParseOptions options = Options();
    {
        MemoryByteSource source(data, size);
        TivoFile file;
        std::string error;
        TivoStatus status = ParseTivo(source, &file, &error, options);
        if (status == TivoStatus::Ok) {
            if (file.payloadOffset + file.payloadSize != size || file.payloadSize == 0) __builtin_trap();
            for (const TivoChunk& c : file.chunks)
                if ((!c.data.empty() && c.data.size() != c.dataSize) ||
                    c.fileOffset + c.chunkSize > file.payloadOffset)
                    __builtin_trap();
        } else if (error.empty()) {
            __builtin_trap();
        }
    }
    if (size < 1) return 0;
    static const Head clear(false, false), program(true, false), transport(true, true);
    const unsigned pick = data[0] & 3;
    const Head& head = pick == 0 ? program : pick == 3 ? transport : clear;
    Bytes file(head.bytes);
    Append(file, &head == &program     ? ScrambledIfPossible<ProgramStreamEncryptor>(head.keys, data, size)
                 : &head == &transport ? ScrambledIfPossible<TransportStreamEncryptor>(head.keys, data, size)
                                       : Bytes(data, data + size));
    MemoryByteSource source(file.data(), file.size());
    TivoFile parsed;
    std::string error;
    if (ParseTivo(source, &parsed, &error, options) != TivoStatus::Ok || !parsed.scrambled || &head == &clear)
        return 0;
    if (parsed.keyIndex != 1 || !parsed.probeDecrypted) __builtin_trap();
    TivoFile pieces = parsed;
    if (ProbeDecryptedPayload(source, parsed.keys, &pieces, &error, options.probeBytes) != TivoStatus::Ok ||
        !SameStreams(pieces.probe, parsed.probe) || pieces.probeDamage != parsed.probeDamage)
        __builtin_trap();
    return 0;
}
