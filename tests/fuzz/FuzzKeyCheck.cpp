// The whole key check (TivoMetadata) on files built around the input: its last byte is a
// control byte, the bytes before it (as many as the control byte and the one before it say)
// the clear text of the encrypted metadata chunk, encrypted with the file's key where the
// chunk stands (near the start, or past the reach of the check behind a chunk without data),
// and what comes first a program stream payload, scrambled with the file's key as far as the
// encryptor takes it (so the seeds, clear streams, stay whole at the front). The metadata
// decrypts back to the input and decides exactly when it is in reach; a wrong key never fits;
// what the check reads stays bounded.
#include <cstring>
#include <map>
#include <string>

#include "FuzzCommon.h"
#include "media/TivoContainer.h"
#include "media/TivoMetadata.h"

using namespace korvane::fuzz;

namespace {

// A file of pieces at their offsets and zeros between them, so that a chunk can stand far in
// without the bytes before it being made.
class PiecesSource final : public ByteSource {
public:
    std::map<uint64_t, Bytes> pieces;
    uint64_t size = 0;
    uint64_t bytesRead = 0;
    uint64_t Size() const override { return size; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t want) override {
        if (offset >= size) return 0;
        want = static_cast<size_t>(std::min<uint64_t>(want, size - offset));
        bytesRead += want;
        uint8_t* out = static_cast<uint8_t*>(buffer);
        std::memset(out, 0, want);
        for (const auto& piece : pieces) {
            const uint64_t from = std::max(offset, piece.first);
            const uint64_t to = std::min(offset + want, piece.first + piece.second.size());
            if (from < to)
                std::memcpy(out + (from - offset), piece.second.data() + (from - piece.first),
                            static_cast<size_t>(to - from));
        }
        return want;
    }
};

void PutBe32(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

Bytes ChunkHeader(uint64_t chunkSize, size_t dataSize, uint16_t id, uint16_t type) {
    Bytes h(12, 0);
    PutBe32(h.data(), chunkSize);
    PutBe32(h.data() + 4, dataSize);
    h[9] = static_cast<uint8_t>(id);
    h[11] = static_cast<uint8_t>(type);
    return h;
}

const char kMak[] = "0123456789";
const std::string kLicense = "<license><salt>00112233445566778899aabbccddeeff</salt></license>";
constexpr size_t kProbeBytes = 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t control = data[size - 1];
    const bool far = control & 1;
    const size_t textSize = std::min<size_t>(data[size - 2] | (control & 0x0E) << 7, size - 2);
    const Bytes text(data + size - 2 - textSize, data + size - 2);
    TivoKeys keys, wrong;
    if (!DeriveTivoKeys(kMak, reinterpret_cast<const uint8_t*>(kLicense.data()), kLicense.size(), &keys) ||
        !DeriveTivoKeys("0123456780", reinterpret_cast<const uint8_t*>(kLicense.data()), kLicense.size(),
                        &wrong))
        __builtin_trap();

    // License, a gap chunk without data (ending just past the check's reach, or right away),
    // the metadata, then the payload.
    PiecesSource file;
    Bytes head = {'T', 'i', 'V', 'o', 0, 0, 0, 0x0D, 0, 0, 0, 0, 0, 0, 0, 3};
    Append(head, ChunkHeader(12 + kLicense.size(), kLicense.size(), 3, 0));
    head.insert(head.end(), kLicense.begin(), kLicense.end());
    const uint64_t gapAt = head.size();
    const uint64_t metadataAt = far ? kMaxMetadataOffset - 11 + (control >> 4) : gapAt + 12 + (control >> 4);
    Append(head, ChunkHeader(metadataAt - gapAt, 0, 9, 1));
    Bytes metadata = ChunkHeader(12 + textSize, textSize, 1, 1);
    Bytes secret = text;
    if (!far && !CryptMetadata(keys, metadataAt + 12, secret.data(), secret.size())) __builtin_trap();
    Append(metadata, secret);
    const uint64_t payloadAt = metadataAt + metadata.size();
    PutBe32(head.data() + 10, payloadAt);
    file.pieces[0] = head;
    file.pieces[metadataAt] = metadata;
    const Bytes payload = ScrambledIfPossible<ProgramStreamEncryptor>(keys, data, size - 2 - textSize);
    file.pieces[payloadAt] = payload;
    file.size = payloadAt + payload.size();

    TivoFile parsed;
    TivoParseOptions options;
    options.probeBytes = kProbeBytes;
    std::string error;
    ParseTivo(file, &parsed, &error, options);
    if (parsed.chunks.size() != 3) return 0;  // only an empty payload stops the parse before its chunks

    const KeyCheck right = CheckKeyByMetadata(parsed, keys);
    std::string clear;
    const bool decrypted = DecryptMetadataChunk(keys, parsed.chunks[2], &clear);
    if (far || textSize == 0) {
        if (right.basis != KeyCheckBasis::None || decrypted) __builtin_trap();
    } else if (!decrypted || clear != std::string(text.begin(), text.end())) {
        __builtin_trap();
    } else if (textSize < kMinMetadataCheckBytes) {
        if (right.basis != KeyCheckBasis::None) __builtin_trap();
    } else {
        const bool xml = LooksLikeXml(text.data(), std::min(text.size(), kMetadataCheckBytes));
        if (right.basis != KeyCheckBasis::Metadata || (right.fit == KeyFit::Fits) != xml) __builtin_trap();
    }
    file.bytesRead = 0;
    const KeyCheck full = CheckKey(file, parsed, keys, kProbeBytes);
    if (full.basis == KeyCheckBasis::Metadata ? full.fit != right.fit : right.basis != KeyCheckBasis::None)
        __builtin_trap();
    if (file.bytesRead > kProbeBytes) __builtin_trap();
    if (CheckKey(file, parsed, wrong, kProbeBytes).fit == KeyFit::Fits) __builtin_trap();
    return 0;
}
