// The encrypted metadata chunks of a .TiVo file, and the check whether a key fits a file.
//
// A key fits when the first encrypted metadata chunk decrypts to XML: a wrong key turns it
// into noise, so the check needs no video. Files without encrypted metadata fall back to the
// video: the scrambled video packets at the start of the payload must decrypt to MPEG start
// codes. That check looks at many packets, not the first alone, so a recording whose first
// packet is damaged does not make the right key look wrong.
//
// The check runs once per stored key on the user-interface thread, so it decrypts only what it
// needs to decide: the first bytes of the chunk, the video until it has seen enough.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "media/Io.h"
#include "media/StreamProbe.h"
#include "media/TivoContainer.h"
#include "media/TivoKeys.h"

namespace korvane::media {

// True when the bytes read as the start of an XML text: "<" first (after any white space
// or byte order mark) and only text characters after it.
bool LooksLikeXml(const uint8_t* data, size_t size);

// How much of the first encrypted chunk the key check decrypts and judges. Seven bytes of
// noise in eight pass for text; a '<' and 255 text bytes by chance are out of the question.
constexpr size_t kMetadataCheckBytes = 256;
// A chunk shorter than this tells a right key from a wrong one too weakly (a wrong key makes
// 20 bytes that pass for XML once in a few thousand files): it is left untried.
constexpr size_t kMinMetadataCheckBytes = 64;
// The keystream of a chunk starts at its file offset, and the cipher cannot jump ahead: the
// bytes before must be made. Metadata stands in the first few KiB (the payload starts 10 to
// 24 KiB in); a chunk whose data lies further than this is neither decrypted nor checked.
constexpr uint64_t kMaxMetadataOffset = uint64_t(1) << 20;

// Decrypts an encrypted (type-1) chunk of the file with the metadata key: a keystream for
// stream 0, block 0, advanced by the file offset of the chunk's data. False for a chunk
// without data (or whose data was not read), one beyond kMaxMetadataOffset, or a hash library
// failure.
bool DecryptMetadataChunk(const TivoKeys& keys, const TivoChunk& chunk, std::string* text);

// Encrypting is the same XOR; the .TiVo writer uses it.
bool CryptMetadata(const TivoKeys& keys, uint64_t dataFileOffset, uint8_t* data, size_t size);

enum class KeyFit {
    Fits,
    Wrong,
    Undecided,  // nothing to test the key against (no encrypted metadata, no scrambled video)
};

enum class KeyCheckBasis { Metadata, Video, None };

struct KeyCheck {
    KeyFit fit = KeyFit::Undecided;
    KeyCheckBasis basis = KeyCheckBasis::None;
};

const char* KeyFitName(KeyFit fit);

// The metadata check alone: no I/O beyond the parsed chunks. Undecided when the file's first
// encrypted chunk with data is shorter than kMinMetadataCheckBytes or lies beyond
// kMaxMetadataOffset.
KeyCheck CheckKeyByMetadata(const TivoFile& file, const TivoKeys& keys);

// The full check: metadata, else the scrambled video in the first probeBytes of the payload
// (read from source).
KeyCheck CheckKey(ByteSource& source, const TivoFile& file, const TivoKeys& keys,
                  size_t probeBytes = kDefaultProbeBytes);

// The video check over at most `size` bytes of a program stream payload at `offset` in source:
// counts MPEG video start codes in the scrambled video packets after decrypting them with keys,
// ignoring packets in the clear. Reads in small pieces and stops as soon as it can decide.
KeyFit CheckKeyByVideo(ByteSource& source, uint64_t offset, uint64_t size, const TivoKeys& keys);

}  // namespace korvane::media
