#include "media/TivoMetadata.h"

#include <memory>

namespace korvane::media {

bool LooksLikeXml(const uint8_t* data, size_t size) {
    size_t i = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) i = 3;  // UTF-8 byte order mark
    while (i < size && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n')) ++i;
    if (i >= size || data[i] != '<') return false;
    // A wrong key makes noise: one byte in about 256 would pass the '<' alone, but 64 text
    // bytes in a row by chance are out of the question.
    size_t end = size < i + 64 ? size : i + 64;
    for (size_t k = i; k < end; ++k) {
        uint8_t c = data[k];
        bool text = c >= 0x20 || c == '\t' || c == '\r' || c == '\n';
        if (!text || c == 0x7F) return false;
    }
    return true;
}

bool CryptMetadata(const TivoKeys& keys, uint64_t dataFileOffset, uint8_t* data, size_t size) {
    std::unique_ptr<TuringKeystream> keystream(new TuringKeystream);
    if (!InitKeystream(*keystream, keys.metadata, 0, 0)) return false;
    keystream->Skip(dataFileOffset);
    keystream->Xor(data, size);
    return true;
}

bool DecryptMetadataChunk(const TivoKeys& keys, const TivoChunk& chunk, std::string* text) {
    if (chunk.data.empty()) return false;
    std::string clear(chunk.data.begin(), chunk.data.end());
    if (!CryptMetadata(keys, chunk.fileOffset + kTivoChunkHeaderSize, reinterpret_cast<uint8_t*>(&clear[0]),
                       clear.size()))
        return false;
    *text = std::move(clear);
    return true;
}

const char* KeyFitName(KeyFit fit) {
    switch (fit) {
    case KeyFit::Fits: return "fits";
    case KeyFit::Wrong: return "wrong";
    case KeyFit::Undecided: return "undecided";
    }
    return "unknown";
}

KeyCheck CheckKeyByMetadata(const TivoFile& file, const TivoKeys& keys) {
    KeyCheck check;
    for (const TivoChunk& chunk : file.chunks) {
        if (chunk.type != kTivoChunkEncryptedXml || chunk.data.empty()) continue;
        std::string text;
        if (!DecryptMetadataChunk(keys, chunk, &text)) return check;
        check.basis = KeyCheckBasis::Metadata;
        if (LooksLikeXml(reinterpret_cast<const uint8_t*>(text.data()), text.size())) {
            check.fit = KeyFit::Fits;
            check.metadataXml = std::move(text);
        } else {
            check.fit = KeyFit::Wrong;
        }
        return check;
    }
    return check;
}

}  // namespace korvane::media
