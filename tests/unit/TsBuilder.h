// Builds small transport streams by hand for the reader's tests: PAT, PMT and PES packets
// cut into 188-byte packets with per-PID continuity counters.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "media/MpegStreams.h"

namespace korvane::test {

using TsBytes = std::vector<uint8_t>;

struct TsEs {
    uint8_t type;
    uint16_t pid;
    TsBytes descriptors;
};

class TsBuilder {
public:
    TsBytes out;
    std::map<uint16_t, int> cc;

    // One section, in as many packets as it takes.
    void Section(uint16_t pid, TsBytes section) {
        uint32_t crc = media::MpegCrc32(section.data(), section.size());
        for (int s = 24; s >= 0; s -= 8)
            section.push_back(static_cast<uint8_t>(crc >> s));
        TsBytes payload{0};  // pointer_field
        payload.insert(payload.end(), section.begin(), section.end());
        Packets(pid, payload, true, 0xFF);
    }
    void Pat(uint16_t pmtPid, uint16_t program = 1) {
        TsBytes s{0x00, 0xB0, 13, 0x00, 0x01, 0xC1, 0, 0};
        s.insert(s.end(), {static_cast<uint8_t>(program >> 8), static_cast<uint8_t>(program),
                           static_cast<uint8_t>(0xE0 | pmtPid >> 8), static_cast<uint8_t>(pmtPid)});
        Section(0, s);
    }
    void Pmt(uint16_t pmtPid, int version, const std::vector<TsEs>& streams, uint16_t program = 1) {
        TsBytes s{0x02, 0xB0, 0};
        s.insert(s.end(), {static_cast<uint8_t>(program >> 8), static_cast<uint8_t>(program),
                           static_cast<uint8_t>(0xC1 | version << 1)});
        s.insert(s.end(), {0, 0, 0xE1, 0x00, 0xF0, 0x00});
        for (const TsEs& e : streams) {
            s.push_back(e.type);
            s.push_back(static_cast<uint8_t>(0xE0 | e.pid >> 8));
            s.push_back(static_cast<uint8_t>(e.pid));
            s.push_back(static_cast<uint8_t>(0xF0 | e.descriptors.size() >> 8));
            s.push_back(static_cast<uint8_t>(e.descriptors.size()));
            s.insert(s.end(), e.descriptors.begin(), e.descriptors.end());
        }
        s[2] = static_cast<uint8_t>(s.size() - 3 + 4);
        Section(pmtPid, s);
    }
    static void PutTs(uint8_t* q, unsigned prefix, int64_t ts) {
        q[0] = static_cast<uint8_t>(prefix << 4 | ((ts >> 29) & 0x0E) | 1);
        q[1] = static_cast<uint8_t>(ts >> 22);
        q[2] = static_cast<uint8_t>(((ts >> 14) & 0xFE) | 1);
        q[3] = static_cast<uint8_t>(ts >> 7);
        q[4] = static_cast<uint8_t>(((ts << 1) & 0xFE) | 1);
    }
    // A PES packet (bounded unless unbounded is set) with a PTS (and DTS if >= 0).
    static TsBytes Pes(uint8_t streamId, const TsBytes& payload, int64_t pts, int64_t dts = -1,
                       bool unbounded = false) {
        TsBytes p{0, 0, 1, streamId, 0, 0, 0x80};
        p.insert(p.end(),
                 {static_cast<uint8_t>(dts >= 0 ? 0xC0 : 0x80), static_cast<uint8_t>(dts >= 0 ? 10 : 5)});
        p.resize(p.size() + p.back());
        PutTs(&p[9], dts >= 0 ? 3 : 2, pts);
        if (dts >= 0) PutTs(&p[14], 1, dts);
        p.insert(p.end(), payload.begin(), payload.end());
        size_t length = unbounded ? 0 : p.size() - 6;
        p[4] = static_cast<uint8_t>(length >> 8);
        p[5] = static_cast<uint8_t>(length);
        return p;
    }
    // Cuts data into packets of the PID; the last one is padded by an adaptation field
    // (fill 0xFF after a section instead, as tables are).
    void Packets(uint16_t pid, const TsBytes& data, bool table = false, int fill = -1,
                 uint8_t scrambling = 0) {
        size_t pos = 0;
        do {
            size_t left = data.size() - pos;
            uint8_t p[188];
            p[0] = 0x47;
            p[1] = static_cast<uint8_t>((pos == 0 ? 0x40 : 0) | pid >> 8);
            p[2] = static_cast<uint8_t>(pid);
            int& c = cc[pid];
            size_t take = std::min<size_t>(left, 184);
            if (take < 184 && !table) {
                size_t af = 184 - take;  // adaptation field bytes including its length byte
                p[3] = static_cast<uint8_t>(scrambling << 6 | 0x30 | (c & 15));
                p[4] = static_cast<uint8_t>(af - 1);
                if (af > 1) p[5] = 0;
                for (size_t i = 6; i < 4 + af; ++i)
                    p[i] = 0xFF;
                std::copy(data.begin() + static_cast<std::ptrdiff_t>(pos),
                          data.begin() + static_cast<std::ptrdiff_t>(pos + take), p + 4 + af);
            } else {
                p[3] = static_cast<uint8_t>(scrambling << 6 | 0x10 | (c & 15));
                std::fill(p + 4, p + 188, static_cast<uint8_t>(fill < 0 ? 0xFF : fill));
                std::copy(data.begin() + static_cast<std::ptrdiff_t>(pos),
                          data.begin() + static_cast<std::ptrdiff_t>(pos + take), p + 4);
            }
            c = (c + 1) & 15;
            out.insert(out.end(), p, p + 188);
            pos += take;
        } while (pos < data.size());
    }
};

inline TsBytes Pattern(size_t n, uint8_t seed) {
    TsBytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return b;
}

}  // namespace korvane::test
