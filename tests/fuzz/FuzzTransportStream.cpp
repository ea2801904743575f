// The streaming transport stream reader (fed in chunks whose sizes the input chooses) and the
// probe; every packet read is passed through the program stream writer, whose output must
// read back with the same payload bytes per stream. The decryptor takes the same input in
// the same chunks and must give the same output as in one piece, with nothing scrambled left;
// what the encryptor accepts must decrypt back bit for bit.
#include "FuzzCommon.h"
#include "media/StreamProbe.h"
#include "media/TransportStreamDecryptor.h"
#include "media/TransportStreamEncryptor.h"
#include "media/TransportStreamReader.h"

using namespace korvane::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // Chunk sizes from 1 byte up; the seeds (which start with 0x47) get large ones.
    const size_t chunk = size_t(data[0] ^ 0x12) * 97 + 1;
    ++data;
    --size;
    Record whole;
    whole.maxPayload = kTsReassemblyBudget;
    whole.carriedOnly = true;
    TransportStreamReader reader;
    ReadBothWays(data, size, chunk, whole, reader);

    const Bytes input(data, data + size);
    const Bytes clear = Decrypt<TransportStreamDecryptor>(Keys(), input, size ? size : 1);
    if (Decrypt<TransportStreamDecryptor>(Keys(), input, chunk) != clear || clear.size() % kTsPacketSize != 0)
        __builtin_trap();
    for (size_t i = 0; i < clear.size(); i += kTsPacketSize)
        if (clear[i + 3] & 0xC0) __builtin_trap();  // passed on as scrambled
    EncryptAndBack<TransportStreamEncryptor, TransportStreamDecryptor>(Keys(), input, 3, size ? size : 1);

    SniffPayload(data, size);
    if (ProbeTransportStream(data, size).scrambled || whole.perStream.empty()) return 0;
    RewriteAndReadBack<TransportStreamReader>(data, size, whole);
    return 0;
}
