// Small transport streams built by hand: PAT, PMT and PES packets cut into 188-byte packets
// with per-PID continuity counters.
#pragma once

#include <algorithm>
#include <map>

#include "PsBuilder.h"
#include "media/MpegStreams.h"

namespace korvane::test {

struct TsEs {
    uint8_t type;
    uint16_t pid;
    Bytes descriptors;
};

class TsBuilder {
public:
    Bytes out;

    // One section behind its pointer field, in as many packets as it takes.
    void Section(uint16_t pid, Bytes section) {
        const uint32_t crc = media::MpegCrc32(section.data(), section.size());
        Append(section, {U8(crc >> 24), U8(crc >> 16), U8(crc >> 8), U8(crc)});
        section.insert(section.begin(), 0);
        Packets(pid, section, 0, true);
    }
    void Pat(uint16_t pmtPid, int version = 0) {
        Section(0, {0x00, 0xB0, 13, 0, 1, U8(0xC1 | version << 1), 0, 0, 0, 1, U8(0xE0 | pmtPid >> 8),
                    U8(pmtPid)});
    }
    void Pmt(uint16_t pmtPid, int version, const std::vector<TsEs>& streams) {
        Bytes s{0x02, 0xB0, 0, 0, 1, U8(0xC1 | version << 1), 0, 0, 0xE1, 0x00, 0xF0, 0x00};
        for (const TsEs& e : streams) {
            Append(s, {e.type, U8(0xE0 | e.pid >> 8), U8(e.pid), 0xF0, U8(e.descriptors.size())});
            Append(s, e.descriptors);
        }
        const size_t length = s.size() - 3 + 4;
        s[1] = U8(0xB0 | length >> 8);
        s[2] = U8(length);
        Section(pmtPid, s);
    }
    // Cuts data into packets of the PID; the last one is padded by an adaptation field (by
    // 0xFF after a table's section instead).
    void Packets(uint16_t pid, const Bytes& data, uint8_t scrambling = 0, bool table = false) {
        size_t pos = 0;
        do {
            const size_t take = std::min<size_t>(data.size() - pos, 184);
            const size_t field = table ? 0 : 184 - take;  // adaptation field, its length byte included
            Bytes p{0x47, U8((pos == 0 ? 0x40 : 0) | pid >> 8), U8(pid),
                    U8(scrambling << 6 | (field ? 0x30 : 0x10) | (m_cc[pid]++ & 15))};
            if (field) p.push_back(U8(field - 1));
            if (field > 1) p.push_back(0);
            p.resize(4 + field, 0xFF);
            p.insert(p.end(), data.begin() + static_cast<std::ptrdiff_t>(pos),
                     data.begin() + static_cast<std::ptrdiff_t>(pos + take));
            p.resize(188, 0xFF);
            Append(out, p);
            pos += take;
        } while (pos < data.size());
    }

private:
    std::map<uint16_t, int> m_cc;
};

// A PES packet with a PTS (and a DTS if >= 0), with a length or (unbounded) without one.
inline Bytes TsPes(uint8_t streamId, const Bytes& payload, int64_t pts, int64_t dts = -1,
                   bool unbounded = false) {
    Bytes p = Pes({streamId, payload, true, dts >= 0, pts, dts});
    if (unbounded) p[4] = p[5] = 0;
    return p;
}

}  // namespace korvane::test
