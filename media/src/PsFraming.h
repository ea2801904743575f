// Where a program stream's units begin and end: one rule for the reader and for the transforms
// that rewrite units in place (decryptor, encryptor, video key check). A decryptor that cut the
// stream otherwise would pass on, as the payload of a clear unit, bytes in which the reader
// finds a packet of its own, scrambled bits and all. Internal to media/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace korvane::media::ps {

struct Frame {
    enum Kind { NeedMore, Unit, Damaged } kind;
    size_t size;             // Unit: the whole unit; NeedMore: the bytes needed to decide
    bool truncated = false;  // Damaged: a unit the end of the input cut short
};

inline bool IsStartCodePrefix(const uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

// Start codes of the system layer (0xB9 end, 0xBA pack, 0xBB system header, then stream ids).
inline bool IsSystemCode(uint8_t code) {
    return code >= 0xB9;
}

// First offset >= from where "00 00 01 <system code>" starts, or npos. Scans with memchr for
// the 01 byte, so long stretches of damage cost little.
inline size_t FindSystemStartCode(const uint8_t* p, size_t size, size_t from) {
    if (size < 4) return std::string::npos;
    size_t i = from + 2;
    while (i + 1 < size) {
        const void* hit = std::memchr(p + i, 1, size - 1 - i);
        if (!hit) break;
        i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - p);
        if (p[i - 1] == 0 && p[i - 2] == 0 && IsSystemCode(p[i + 1])) return i - 2;
        ++i;
    }
    return std::string::npos;
}

// The unit at p, avail bytes of the stream from there (atEnd: no more will come). A unit with
// a length field is believed when a start code follows it, or when nothing that could be the
// next unit stands inside the span it claims (elementary streams never hold a system start
// code, except by rare chance in audio).
inline Frame FrameUnit(const uint8_t* p, size_t avail, bool atEnd) {
    const auto more = [atEnd](size_t need) { return Frame{atEnd ? Frame::Damaged : Frame::NeedMore, need}; };
    const Frame damaged{Frame::Damaged, 0};
    if (avail < 4) return more(4);
    if (!IsStartCodePrefix(p) || !IsSystemCode(p[3])) return damaged;
    const uint8_t code = p[3];
    if (code == 0xB9) return {Frame::Unit, 4};
    if (code == 0xBA) {
        if (avail < 12) return more(12);
        if ((p[4] & 0xC0) == 0x40) {
            if (avail < 14) return more(14);
            const bool markers =
                (p[4] & 0x04) && (p[6] & 0x04) && (p[8] & 0x04) && (p[9] & 0x01) && (p[12] & 0x03) == 0x03;
            if (!markers) return damaged;
            const size_t total = 14 + (p[13] & 0x07);
            if (avail < total) return more(total);
            return {Frame::Unit, total};
        }
        if ((p[4] & 0xF0) == 0x20) {
            const bool markers =
                (p[4] & 0x01) && (p[6] & 0x01) && (p[8] & 0x01) && (p[9] & 0x80) && (p[11] & 0x01);
            return markers ? Frame{Frame::Unit, 12} : damaged;
        }
        return damaged;
    }
    // Every other system code carries a 16-bit length.
    if (avail < 6) return more(6);
    const size_t length = size_t(p[4]) << 8 | p[5];
    if (length == 0) return damaged;
    const size_t total = 6 + length;
    if (avail < total + 3) {
        if (!atEnd) return {Frame::NeedMore, total + 3};
        if (avail < total) return {Frame::Damaged, 0, true};
    } else if (!IsStartCodePrefix(p + total) && FindSystemStartCode(p, total, 4) != std::string::npos) {
        return damaged;  // its length field is too large: the next unit starts inside it
    }
    return {Frame::Unit, total};
}

// How many bytes of damage at p to pass over: up to the next system start code, or all but the
// last three bytes (which may begin one) when more input will come.
inline size_t DamageBefore(const uint8_t* p, size_t avail, bool atEnd) {
    const size_t next = FindSystemStartCode(p, avail, 1);
    if (next != std::string::npos) return next;
    if (atEnd) return avail;
    return avail > 3 ? avail - 3 : 0;
}

}  // namespace korvane::media::ps
