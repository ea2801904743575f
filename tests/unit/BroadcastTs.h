// Transport streams as broadcasts carry them, made from ffmpeg's: ATSC caption user data in
// every MPEG-2 picture, and a PAT that moves the PMT to another PID mid-recording.
#pragma once

#include "TsBuilder.h"

namespace korvane::test {

inline uint16_t PidOf(const uint8_t* packet) {
    return static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
}

inline size_t PayloadStart(const uint8_t* packet) {
    return (packet[3] & 0x20) ? 5 + size_t(packet[4]) : 4;
}

// Each PES of the PID as it was sent: from a payload_unit_start to the next.
inline std::vector<Bytes> PesOf(const Bytes& ts, uint16_t pid) {
    std::vector<Bytes> all;
    for (size_t i = 0; i + 188 <= ts.size(); i += 188) {
        const uint8_t* p = &ts[i];
        if (PidOf(p) != pid || !(p[3] & 0x10)) continue;
        if (p[1] & 0x40) all.emplace_back();
        if (!all.empty()) all.back().insert(all.back().end(), p + PayloadStart(p), p + 188);
    }
    return all;
}

// Where the start code `code` (or, with `slice`, the first slice's) first stands in the PES after
// `from`; npos when it does not.
inline size_t FindCode(const Bytes& pes, size_t from, uint8_t code, bool slice = false) {
    for (size_t i = from; i + 4 <= pes.size(); ++i)
        if (pes[i] == 0 && pes[i + 1] == 0 && pes[i + 2] == 1 &&
            (slice ? pes[i + 3] >= 0x01 && pes[i + 3] <= 0xAF : pes[i + 3] == code))
            return i;
    return std::string::npos;
}

// A/53 caption data as user data: "GA94", type 3, the count, then that many caption pairs
// (letters with odd parity), as nearly every broadcast MPEG-2 picture carries it.
inline Bytes CaptionUserData(size_t count) {
    Bytes b = {0, 0, 1, 0xB2, 'G', 'A', '9', '4', 0x03, U8(0x40 | count), 0xFF};
    auto odd = [](int c) { return U8(__builtin_popcount(c) % 2 ? c : c | 0x80); };
    for (size_t i = 0; i < count; ++i)
        Append(b, {0xFC, odd('A' + int(i) % 26), odd('a' + int(i) % 26)});
    b.push_back(0xFF);
    return b;
}

// The stream with caption user data before the first slice of every picture of the video PID,
// 0 to 31 caption pairs in turn, so that the user data ends at every offset in a packet. The
// video PES are cut into packets again (without their clock references).
inline Bytes WithCaptions(const Bytes& ts, uint16_t videoPid) {
    TsBuilder out;
    size_t pictures = 0;
    const std::vector<Bytes> pes = PesOf(ts, videoPid);
    size_t next = 0;
    for (size_t i = 0; i + 188 <= ts.size(); i += 188) {
        const uint8_t* p = &ts[i];
        if (PidOf(p) != videoPid) {
            out.out.insert(out.out.end(), p, p + 188);
            continue;
        }
        if (!(p[1] & 0x40) || next == pes.size()) continue;  // each PES goes out whole at its start
        Bytes captioned = pes[next++];
        for (size_t at = FindCode(captioned, 9 + captioned[8], 0x00); at != std::string::npos;
             at = FindCode(captioned, at + 4, 0x00)) {
            const size_t slice = FindCode(captioned, at + 4, 0, true);
            if (slice == std::string::npos) break;
            const Bytes data = CaptionUserData(pictures++ % 32);
            captioned.insert(captioned.begin() + static_cast<std::ptrdiff_t>(slice), data.begin(),
                             data.end());
            at = slice + data.size();
        }
        if (captioned[4] || captioned[5]) {
            const size_t length = captioned.size() - 6;
            captioned[4] = U8(length >> 8), captioned[5] = U8(length);
        }
        out.Packets(videoPid, captioned);
    }
    return out.out;
}

// From the first PAT past the middle on, the PAT (a new version) names newPmtPid, whose PMT
// lists the streams given; every packet of copiedPid is then sent again on addedPid (which the
// new PMT should list), from that PID's next PES start.
inline Bytes WithPmtMoved(const Bytes& ts, uint16_t oldPmtPid, uint16_t newPmtPid,
                          const std::vector<TsEs>& streams, uint16_t copiedPid, uint16_t addedPid) {
    TsBuilder out;
    bool moved = false, copying = false;
    unsigned addedCc = 0;
    for (size_t i = 0; i + 188 <= ts.size(); i += 188) {
        Bytes p(&ts[i], &ts[i] + 188);
        const uint16_t pid = PidOf(p.data());
        moved = moved || (pid == 0 && i >= ts.size() / 2);
        if (pid == 0) {
            out.Pat(moved ? newPmtPid : oldPmtPid, moved);
            if (moved) out.Pmt(newPmtPid, 1, streams);
        } else if (!moved || pid != oldPmtPid) {
            Append(out.out, p);
        }
        copying = copying || (moved && pid == copiedPid && (p[1] & 0x40));
        if (copying && pid == copiedPid) {
            p[1] = U8((p[1] & 0xE0) | addedPid >> 8), p[2] = U8(addedPid);
            p[3] = U8((p[3] & 0xF0) | (addedCc++ & 15));
            Append(out.out, p);
        }
    }
    return out.out;
}

}  // namespace korvane::test
