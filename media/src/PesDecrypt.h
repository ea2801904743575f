// Decrypting one scrambled PES packet in place: shared by the stream decryptor, the payload
// view and the video key check. Internal to media/.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PesRecord.h"
#include "media/TivoKeys.h"

namespace korvane::media::pes {

enum class PacketResult { Decrypted, MissingRecord, InvalidRecord, BadHeader, HashFailed };

// What a program stream unit is to the decryption.
enum class UnitKind {
    Clear,         // no PES header with scrambling bits, or they are '00'
    NotDecryptable,  // scrambled in a way no TiVo does (a stream id it never scrambles, bits '01'/'10')
    Scrambled,     // a PES packet whose record says how to decrypt it
};

inline UnitKind ClassifyUnit(const uint8_t* p, size_t size) {
    const uint8_t id = p[3];
    if (size < 9 || !HasPesHeader(id) || (p[6] & 0xC0) != 0x80 || !(p[6] & kScramblingBits)) return UnitKind::Clear;
    if (!CanBeScrambled(id) || (p[6] & kScramblingBits) != kScramblingBits) return UnitKind::NotDecryptable;
    return UnitKind::Scrambled;
}

// A scrambled packet's record read without touching the packet: Decrypted means it can be
// (ext: where its PES extension stands, block: the record's block).
struct Examined {
    PacketResult result;
    size_t ext;
    uint32_t block;
};
Examined Examine(const uint8_t* p, size_t size);

// The keystream bytes a scrambled packet uses: the record's crypted word, then everything
// after the PES header. A packet whose record is missing or invalid used as many at the TiVo,
// from its stream's current keystream.
inline uint64_t KeystreamSpent(const uint8_t* p, size_t size) {
    return 4 + (size - 9 - p[8]);
}

// p: a whole PES packet of kind UnitKind::Scrambled. Decrypted: the packet is clear, without
// its record unless keepRecord, and starts at p + *removed and is size - *removed bytes long.
// Any other result means the packet cannot be decrypted; for a missing or invalid record the
// stream's current keystream skips what the packet would have used.
PacketResult DecryptPacket(uint8_t* p, size_t size, KeystreamSet& keystreams, size_t* removed,
                           bool keepRecord = false);

}  // namespace korvane::media::pes
