// Where the clear part of a scrambled transport-stream PES ends: its PES header and, for
// MPEG-2 video, the headers before the first slice (whose start code is the first encrypted
// byte). Walked packet by packet per PID, the clear part may run on into the next packet.
// Shared by the decryptor (judging ciphertext) and the encryptor (judging plaintext, then
// checking that the decryptor will judge its output the same way). Internal to media/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace korvane::media::ts {

constexpr size_t kHeaderByScan = SIZE_MAX;  // a header only the next start code ends

enum class Region : uint8_t {
    Encrypted,     // from here to the next PES start (also: no PES start seen yet)
    PesHeader,     // the PES header, always clear
    VideoHeaders,  // MPEG-2 video headers before the first slice, clear
};

// At a start code, inside a header of known length, or in one (user data) that runs to the
// next start code.
enum class Walk : uint8_t { AtCode, Header, Scan };

struct PesWalk {
    bool mpeg2Video = false;
    Region region = Region::Encrypted;
    uint8_t pesHead[9] = {};
    size_t pesSeen = 0;
    size_t pesTotal = 0;
    Walk walk = Walk::AtCode;
    uint8_t codeSeen = 0;   // bytes of a start code (00 00 01 xx) begun in an earlier packet
    uint8_t code = 0;       // start code of the header being walked
    uint8_t head[80] = {};  // its first bytes after the start code, enough to size it
    size_t headSeen = 0;
    size_t headerLeft = 0;

    void StartPes() {
        region = Region::PesHeader;
        pesSeen = 0;
        pesTotal = 0;
        code = kNoCode;
    }
    static constexpr uint8_t kNoCode = 0xFF;  // no header walked yet in this PES
};

inline bool IsClearHeaderCode(uint8_t c) {
    return c == 0x00 || c == 0xB2 || c == 0xB3 || c == 0xB5 || c == 0xB7 || c == 0xB8;
}
inline bool IsSliceCode(uint8_t c) {
    return c >= 0x01 && c <= 0xAF;
}
inline bool IsVideoCode(uint8_t c) {
    return IsSliceCode(c) || IsClearHeaderCode(c);
}

// Bytes of a header after its start code: 0 while more must be seen, kHeaderByScan when
// only the next start code ends it.
inline size_t HeaderLength(uint8_t code, const uint8_t* h, size_t seen) {
    switch (code) {
    case 0xB3:  // sequence header: 8 bytes, then the intra and non-intra matrices if loaded
        if (seen < 8) return 0;
        if (!(h[7] & 0x02)) return 8 + ((h[7] & 0x01) ? 64 : 0);
        if (seen < 72) return 0;
        return 8 + 64 + ((h[71] & 0x01) ? 64 : 0);
    case 0xB5:  // extensions, by their id
        if (seen < 1) return 0;
        switch (h[0] >> 4) {
        case 1:
            return 6;  // sequence extension
        case 2:
            return (h[0] & 0x01) ? 8 : 5;  // sequence display, with colour description
        case 8:                            // picture coding, with composite display
            if (seen < 5) return 0;
            return (h[4] & 0x40) ? 7 : 5;
        default:
            return kHeaderByScan;
        }
    case 0xB8:
        return 4;  // group of pictures
    case 0x00: {   // picture header: longer for P and B pictures; extra information rare
        if (seen < 2) return 0;
        unsigned type = (h[1] >> 3) & 7;
        if (type == 1) {
            if (seen < 4) return 0;
            return (h[3] & 0x04) ? kHeaderByScan : 4;
        }
        if (seen < 5) return 0;
        if (type == 2) return (h[4] & 0x40) ? kHeaderByScan : 5;
        return (h[4] & 0x04) ? kHeaderByScan : 5;
    }
    default:
        return kHeaderByScan;  // user data and anything unexpected
    }
}

inline void StartHeader(PesWalk& s, uint8_t code) {
    s.code = code;
    s.codeSeen = 0;
    s.headSeen = 0;
    s.headerLeft = 0;
    s.walk = code == 0xB7 ? Walk::AtCode : Walk::Header;
}

// How many of the payload's first bytes are clear; walks them. judge(q, avail) is asked
// where a start code may begin: +1 a clear header's start code, -1 the first slice's
// (encrypted), 0 neither (bytes of user data, or zero stuffing between headers).
template <class Judge>
size_t ClearPrefix(PesWalk& s, const uint8_t* q, size_t n, Judge&& judge) {
    size_t i = 0;
    while (i < n) {
        if (s.region == Region::Encrypted) return i;
        if (s.region == Region::PesHeader) {
            if (s.pesSeen < 9) {
                size_t take = n - i < 9 - s.pesSeen ? n - i : 9 - s.pesSeen;
                std::memcpy(s.pesHead + s.pesSeen, q + i, take);
                s.pesSeen += take;
                i += take;
                if (s.pesSeen < 9) return i;
                if (s.pesHead[0] != 0 || s.pesHead[1] != 0 || s.pesHead[2] != 1) {
                    s.region = Region::Encrypted;  // no PES header: nothing to keep clear
                    return i;
                }
                s.pesTotal = 9 + size_t(s.pesHead[8]);
            }
            size_t take = n - i < s.pesTotal - s.pesSeen ? n - i : s.pesTotal - s.pesSeen;
            s.pesSeen += take;
            i += take;
            if (s.pesSeen < s.pesTotal) return i;
            s.region = s.mpeg2Video ? Region::VideoHeaders : Region::Encrypted;
            s.walk = Walk::AtCode;
            s.codeSeen = 0;
            continue;
        }
        if (s.walk == Walk::Header) {
            if (s.headerLeft == 0) {
                size_t take = n - i < sizeof s.head - s.headSeen ? n - i : sizeof s.head - s.headSeen;
                std::memcpy(s.head + s.headSeen, q + i, take);
                size_t length = HeaderLength(s.code, s.head, s.headSeen + take);
                if (length == 0) {
                    s.headSeen += take;
                    i += take;
                    continue;
                }
                if (length == kHeaderByScan) {
                    s.walk = Walk::Scan;
                    continue;
                }
                s.headerLeft = length - s.headSeen;
            }
            size_t take = n - i < s.headerLeft ? n - i : s.headerLeft;
            i += take;
            s.headerLeft -= take;
            s.headSeen += take;
            if (s.headerLeft == 0) {
                s.walk = Walk::AtCode;
                s.codeSeen = 0;
            }
            continue;
        }
        if (s.walk == Walk::AtCode && s.codeSeen > 0) {
            // A start code begun in the last packet, its first bytes passed clear.
            uint8_t b = q[i];
            if (s.codeSeen < 3) {
                if (b != (s.codeSeen == 2 ? 1 : 0)) {
                    s.region = Region::Encrypted;
                    return i;
                }
                ++s.codeSeen;
                ++i;
                continue;
            }
            if (!IsClearHeaderCode(b)) {
                s.region = Region::Encrypted;
                return i;
            }
            StartHeader(s, b);
            ++i;
            continue;
        }
        int verdict = judge(q + i, n - i);
        if (verdict < 0) {
            s.region = Region::Encrypted;
            return i;
        }
        if (verdict > 0) {
            size_t have = n - i < 4 ? n - i : 4;
            if (have < 4) {
                s.walk = Walk::AtCode;
                s.codeSeen = static_cast<uint8_t>(have);
                return n;
            }
            StartHeader(s, q[i + 3]);
            i += 4;
            continue;
        }
        if (s.walk == Walk::AtCode && q[i] != 0) {
            s.region = Region::Encrypted;
            return i;
        }
        ++i;
    }
    return n;
}

// The first bytes of q (avail of them, the rest in the next packet) as a clear header's
// start code: every byte there is must fit.
inline bool LooksLikeClearHeaderCode(const uint8_t* q, size_t avail) {
    static const uint8_t prefix[3] = {0, 0, 1};
    for (size_t j = 0; j < 4 && j < avail; ++j)
        if (j < 3 ? q[j] != prefix[j] : !IsClearHeaderCode(q[j])) return false;
    return true;
}

// The same for a start code of the kind `accepts` takes with `zeros` zero bytes before its 01,
// the bytes taken as q XOR k (k null: q itself).
inline bool LooksLikeCode(const uint8_t* q, size_t avail, const uint8_t* k, size_t zeros,
                          bool (*accepts)(uint8_t)) {
    for (size_t j = 0; j < zeros + 2 && j < avail; ++j) {
        uint8_t x = static_cast<uint8_t>(k ? q[j] ^ k[j] : q[j]);
        if (j < zeros && x != 0) return false;
        if (j == zeros && x != 1) return false;
        if (j == zeros + 1 && !accepts(x)) return false;
    }
    return true;
}

inline bool LooksLikeSliceCode(const uint8_t* q, size_t avail, const uint8_t* k, size_t zeros) {
    return LooksLikeCode(q, avail, k, zeros, IsSliceCode);
}

// How the decryptor judges scrambled bytes where a start code may begin (k: the keystream bytes
// they would be decrypted with): a clear header's start code (+1), or bytes that decrypt to a
// start code, the first slice's or, where encryption began earlier, a header's (-1). A TiVo
// begins at the slice; telling the start of encryption by what the bytes decrypt to reads the
// other forms (from the user data, after the picture header) as surely.
inline int JudgeScrambled(const uint8_t* q, size_t avail, const uint8_t* k) {
    if (LooksLikeClearHeaderCode(q, avail)) return 1;
    if (LooksLikeCode(q, avail, k, 2, IsVideoCode) || LooksLikeCode(q, avail, k, 3, IsVideoCode)) return -1;
    return 0;
}

}  // namespace korvane::media::ts
