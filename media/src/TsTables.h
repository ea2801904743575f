// What a TiVo transport stream's decryption reads in a packet: its header, the PAT's PMT PID,
// the PMT's stream entries (and the key PID's entry taken out), the key packet's records, and
// the clear part of a scrambled payload. Shared by the streaming decryptor and the payload
// view, so that both read every packet by the same rules. Internal to media/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "TsClearPart.h"
#include "TsSections.h"
#include "media/MpegStreams.h"
#include "media/TransportStreamReader.h"
#include "media/Turing.h"

namespace korvane::media::ts {

constexpr uint16_t kNoPid = 0xFFFF;
constexpr uint16_t kNullPid = 0x1FFF;
constexpr size_t kKeyEntrySize = 20;

struct PacketHead {
    uint16_t pid;
    bool start;          // payload_unit_start_indicator
    bool error;          // transport_error_indicator
    unsigned scrambling; // transport_scrambling_control
    size_t payloadAt;    // where the payload begins, after the adaptation field
    bool payload;        // a payload to read: one is flagged, it fits, and the packet is not in error
};

inline PacketHead ReadHead(const uint8_t* p) {
    PacketHead h;
    h.pid = static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]);
    h.start = (p[1] & 0x40) != 0;
    h.error = (p[1] & 0x80) != 0;
    h.scrambling = p[3] >> 6;
    const unsigned adaptation = (p[3] >> 4) & 3;
    h.payloadAt = (adaptation & 2) ? 5 + size_t(p[4]) : 4;
    h.payload = (adaptation & 1) && h.payloadAt < kTsPacketSize && !h.error;
    return h;
}

// A packet of the null PID, filled with 0xFF: what a key packet becomes where the layout stays.
inline void MakeNullPacket(uint8_t* p) {
    std::memset(p, 0xFF, kTsPacketSize);
    p[0] = kTsSyncByte;
    p[1] = static_cast<uint8_t>(kNullPid >> 8);
    p[2] = static_cast<uint8_t>(kNullPid & 0xFF);
    p[3] = 0x10;
}

// The PMT PID a PAT section names (its first program other than the network PID's), or -1
// when the section changes nothing: a bad CRC, another table, no program.
inline int PatPmtPid(const uint8_t* s, size_t size) {
    if (!LongSectionValid(s, size) || s[0] != 0x00) return -1;
    for (size_t i = 8; i + 4 <= size - 4; i += 4) {
        if ((s[i] << 8 | s[i + 1]) == 0) continue;
        return (s[i + 2] & 0x1F) << 8 | s[i + 3];
    }
    return -1;
}

// A PMT section: false when it changes nothing (a bad CRC, another table, a program_info that
// overruns it). Otherwise the table replaces the last one: each stream entry goes in turn to
// onEntry(type, pid), up to the end or up to an entry that overruns it (*complete false then).
template <class OnEntry>
bool ReadPmt(const uint8_t* s, size_t size, bool* complete, OnEntry&& onEntry) {
    if (!LongSectionValid(s, size) || s[0] != 0x02) return false;
    const size_t end = size - 4;
    size_t at = 12 + (size_t(s[10] & 0x0F) << 8 | s[11]);
    if (at > end) return false;
    *complete = false;
    while (at + 5 <= end) {
        const uint16_t pid = static_cast<uint16_t>((s[at + 1] & 0x1F) << 8 | s[at + 2]);
        const size_t entry = 5 + (size_t(s[at + 3] & 0x0F) << 8 | s[at + 4]);
        if (at + entry > end) return true;
        onEntry(s[at], pid);
        at += entry;
    }
    *complete = true;
    return true;
}

// Takes the key PID entries (stream type 0x97) out of a complete PMT section of `size` bytes
// and fills what it frees, up to packetEnd, with 0xFF: the section is shortened and its CRC
// made anew. False when it holds no such entry (nothing changed).
inline bool DropKeyEntries(uint8_t* s, size_t size, uint8_t* packetEnd) {
    const size_t end = size - 4;
    const size_t first = 12 + (size_t(s[10] & 0x0F) << 8 | s[11]);
    size_t kept = first, i = first;  // where the next kept entry goes
    while (i + 5 <= end) {
        const size_t entry = 5 + (size_t(s[i + 3] & 0x0F) << 8 | s[i + 4]);
        if (s[i] != kTsTypeTivoKeys) {
            std::memmove(s + kept, s + i, entry);
            kept += entry;
        }
        i += entry;
    }
    if (kept == i) return false;
    const size_t length = kept + 4 - 3;
    s[1] = static_cast<uint8_t>((s[1] & 0xF0) | (length >> 8));
    s[2] = static_cast<uint8_t>(length);
    const uint32_t crc = MpegCrc32(s, kept);
    for (int k = 0; k < 4; ++k)
        s[kept + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
    std::memset(s + kept + 4, 0xFF, static_cast<size_t>(packetEnd - (s + kept + 4)));
    return true;
}

// A key packet's payload: "TiVo", 0x81 0x03, two bytes, a 16-bit count of the bytes that
// follow, then 20-byte entries: PID, stream id, one byte, the 16-byte record. False when the
// payload is none; otherwise each entry goes to onEntry(pid, streamId, record).
template <class OnEntry>
bool ReadKeyPacket(const uint8_t* q, size_t n, OnEntry&& onEntry) {
    if (n < 10 || std::memcmp(q, "TiVo", 4) != 0 || q[4] != 0x81 || q[5] != 0x03) return false;
    const size_t bytes = n - 10 < (size_t(q[8]) << 8 | q[9]) ? n - 10 : (size_t(q[8]) << 8 | q[9]);
    for (size_t e = 10; e + kKeyEntrySize <= 10 + bytes; e += kKeyEntrySize)
        onEntry(static_cast<uint16_t>((q[e] & 0x1F) << 8 | q[e + 1]), q[e + 2], q + e + 4);
    return true;
}

// The clear part of a scrambled packet's payload, walked. Where a start code may begin, the
// bytes are either a clear header's start code or, decrypted with the next keystream bytes
// (clear bytes use none), the first slice's: peek(out) writes those five bytes, and is asked
// once at the most.
template <class Peek>
size_t ClearPartWith(PesWalk& walk, const uint8_t* q, size_t n, Peek&& peek) {
    bool havePeek = false;
    uint8_t next[5];
    return ClearPrefix(walk, q, n, [&](const uint8_t* at, size_t avail) {
        if (!havePeek) {
            peek(next);
            havePeek = true;
        }
        return JudgeScrambled(at, avail, next);
    });
}

// ClearPart with the keystream it will go on with.
inline size_t ClearPart(PesWalk& walk, const uint8_t* q, size_t n, const TuringKeystream& keystream) {
    return ClearPartWith(walk, q, n, [&](uint8_t* out) {
        TuringKeystream copy = keystream;  // look ahead without using the bytes
        copy.Generate(out, 5);
    });
}

inline bool IsMpeg2VideoType(uint8_t type) {
    return type == kTsTypeMpeg1Video || type == kTsTypeMpeg2Video;
}

}  // namespace korvane::media::ts
