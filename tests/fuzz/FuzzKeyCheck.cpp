// The whole key check (TivoMetadata) on files built around the input: its last byte is a
// control byte, the bytes before it (as many as the control byte and the one before it say)
// the clear text of the encrypted metadata chunk, encrypted with the file's key where the
// chunk stands (near the start, or past the check's reach behind a chunk without data), and
// what comes first a program stream payload, scrambled with the file's key as far as the
// encryptor takes it (so the seeds, clear streams, stay whole at the front). The metadata
// decrypts back to the input and decides exactly when it is in reach and long enough; a wrong
// key never fits.
#include <string>

#include "FuzzCommon.h"
#include "media/TivoContainer.h"
#include "media/TivoMetadata.h"

using namespace korvane::fuzz;

namespace {

void PutBe32(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// A chunk header followed by its data and `padding` zero bytes.
Bytes Chunk(uint16_t type, const Bytes& data, size_t padding) {
    Bytes c(12, 0);
    PutBe32(c.data(), 12 + data.size() + padding);
    PutBe32(c.data() + 4, data.size());
    c[11] = static_cast<uint8_t>(type);
    Append(c, data);
    c.resize(c.size() + padding, 0);
    return c;
}

const Bytes kLicense = [] {
    const std::string xml = "<license><salt>00112233445566778899aabbccddeeff</salt></license>";
    return Bytes(xml.begin(), xml.end());
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t control = data[size - 1];
    const size_t textSize = std::min<size_t>(data[size - 2] | (control & 0x0E) << 7, size - 2);
    const Bytes text(data + size - 2 - textSize, data + size - 2);
    TivoKeys keys, wrong;
    if (!DeriveTivoKeys("0123456789", kLicense.data(), kLicense.size(), &keys) ||
        !DeriveTivoKeys("0123456780", kLicense.data(), kLicense.size(), &wrong))
        __builtin_trap();

    const bool far = control & 1;
    Bytes file = {'T', 'i', 'V', 'o', 0, 0, 0, 0x0D, 0, 0, 0, 0, 0, 0, 0, 3};
    Append(file, Chunk(0, kLicense, 0));
    const size_t metadataAt =
        far ? kMaxMetadataOffset - 11 + (control >> 4) : file.size() + 12 + (control >> 4);
    Append(file, Chunk(1, {}, metadataAt - file.size() - 12));
    Bytes secret = text;
    if (!far && !CryptMetadata(keys, metadataAt + 12, secret.data(), secret.size())) __builtin_trap();
    Append(file, Chunk(1, secret, 0));
    PutBe32(file.data() + 10, file.size());
    Append(file, ScrambledIfPossible<ProgramStreamEncryptor>(keys, data, size - 2 - textSize));

    MemoryByteSource source(file.data(), file.size());
    TivoFile parsed;
    std::string error;
    ParseTivo(source, &parsed, &error);
    if (parsed.chunks.size() != 3) return 0;  // only an empty payload stops the parse before its chunks

    const KeyCheck right = CheckKeyByMetadata(parsed, keys);
    std::string clear;
    const bool decrypted = DecryptMetadataChunk(keys, parsed.chunks[2], &clear);
    if (decrypted != (!far && textSize > 0) || (decrypted && clear != std::string(text.begin(), text.end())))
        __builtin_trap();
    if (far || textSize < kMinMetadataCheckBytes) {
        if (right.basis != KeyCheckBasis::None) __builtin_trap();
    } else if (right.basis != KeyCheckBasis::Metadata ||
               (right.fit == KeyFit::Fits) !=
                   LooksLikeXml(text.data(), std::min(textSize, kMetadataCheckBytes))) {
        __builtin_trap();
    }
    const KeyCheck full = CheckKey(source, parsed, keys, 64 * 1024);
    if (full.basis == KeyCheckBasis::Metadata ? full.fit != right.fit : right.basis != KeyCheckBasis::None)
        __builtin_trap();
    if (CheckKey(source, parsed, wrong, 64 * 1024).fit == KeyFit::Fits) __builtin_trap();
    return 0;
}
