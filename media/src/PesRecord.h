// The TiVo record in a scrambled PES packet: which stream ids carry one, where it stands in
// the PES header (PES_private_data, ISO/IEC 13818-1 2.4.3.7), and its bit layout. Shared by
// the decryptor and the encryptor. Internal to media/.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane::media::pes {

constexpr size_t kRecordSize = 16;
constexpr uint8_t kScramblingBits = 0x30;
constexpr uint8_t kExtensionFlag = 0x01;         // in the second flags byte
constexpr uint8_t kPrivateDataFlag = 0x80;       // in the PES extension flags byte
constexpr uint8_t kOtherExtensionFields = 0x71;  // pack header, sequence counter, P-STD, extension 2
constexpr uint8_t kExtensionReservedBits = 0x0E;

inline bool CanBeScrambled(uint8_t streamId) {
    return streamId == 0xBD || (streamId >= 0xC0 && streamId <= 0xEF) ||
           (streamId >= 0xF3 && streamId <= 0xF7) || streamId == 0xF9;
}

// Stream ids whose packets have the optional PES header with the scrambling bits.
inline bool HasPesHeader(uint8_t streamId) {
    return streamId >= 0xBD && streamId != 0xBE && streamId != 0xBF && streamId != 0xF0 && streamId != 0xF1 &&
           streamId != 0xF2 && streamId != 0xF8 && streamId != 0xFF;
}

enum class HeaderWalk { Ok, BadHeader, NoExtension };

// Walks an MPEG-2 PES header (p at the start code, size bytes of packet) to where the PES
// extension stands: *at receives its offset from p (with NoExtension: where one would be
// inserted). The fields before it must fit in PES_header_data_length.
inline HeaderWalk FindExtension(const uint8_t* p, size_t size, size_t* at) {
    if (size < 9) return HeaderWalk::BadHeader;
    const size_t headerEnd = size_t(9) + p[8];
    if (headerEnd > size) return HeaderWalk::BadHeader;
    const uint8_t flags = p[7];
    size_t q = 9;
    switch (flags >> 6) {
    case 0:
        break;
    case 1:
        return HeaderWalk::BadHeader;  // DTS without PTS is forbidden
    case 2:
        q += 5;
        break;
    default:
        q += 10;
        break;
    }
    if (flags & 0x20) q += 6;  // ESCR
    if (flags & 0x10) q += 3;  // ES rate
    if (flags & 0x08) q += 1;  // DSM trick mode
    if (flags & 0x04) q += 1;  // additional copy info
    if (flags & 0x02) q += 2;  // previous PES CRC
    *at = q;
    if (!(flags & kExtensionFlag)) return q <= headerEnd ? HeaderWalk::NoExtension : HeaderWalk::BadHeader;
    return q + 1 <= headerEnd ? HeaderWalk::Ok : HeaderWalk::BadHeader;
}

inline bool RecordValid(const uint8_t* r) {
    return (r[0] & 0x80) && (r[1] & 0x40) && (r[3] & 0x20) && (r[4] & 0x10) && (r[13] & 0x02) &&
           (r[15] & 0x01);
}

inline uint32_t RecordBlock(const uint8_t* r) {
    return uint32_t(r[1] & 0x3F) << 18 | uint32_t(r[2]) << 10 | uint32_t(r[3] & 0xC0) << 2 |
           uint32_t(r[3] & 0x1F) << 3 | uint32_t(r[4] & 0xE0) >> 5;
}

// A valid record for the block (24 bits); the crypted word, whose meaning nobody knows, is 0.
inline void MakeRecord(uint32_t block, uint8_t* r) {
    for (size_t i = 0; i < kRecordSize; ++i)
        r[i] = 0;
    r[0] = 0x80;
    r[1] = static_cast<uint8_t>(0x40 | ((block >> 18) & 0x3F));
    r[2] = static_cast<uint8_t>(block >> 10);
    r[3] = static_cast<uint8_t>(0x20 | ((block >> 8) & 0x03) << 6 | ((block >> 3) & 0x1F));
    r[4] = static_cast<uint8_t>(0x10 | (block & 0x07) << 5);
    r[13] = 0x02;
    r[15] = 0x01;
}

inline void SetPacketLength(uint8_t* p, size_t packetSize) {
    p[4] = static_cast<uint8_t>((packetSize - 6) >> 8);
    p[5] = static_cast<uint8_t>(packetSize - 6);
}

}  // namespace korvane::media::pes
