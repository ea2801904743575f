// Records what the program stream reader delivers, payloads copied.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "PsBuilder.h"
#include "media/ProgramStreamReader.h"

namespace korvane::test {

struct Seen {
    media::StreamKey key;
    media::StreamKind kind;
    bool hasPts, hasDts;
    int64_t pts, dts, scr;
    int scrExtension;
    bool mpeg1;
    Bytes payload;
    Bytes substreamHeader;
    uint64_t offset;
    bool operator==(const Seen& o) const {
        return key == o.key && kind == o.kind && hasPts == o.hasPts && hasDts == o.hasDts && pts == o.pts &&
               dts == o.dts && scr == o.scr && scrExtension == o.scrExtension && mpeg1 == o.mpeg1 &&
               payload == o.payload && substreamHeader == o.substreamHeader && offset == o.offset;
    }
};

// What a failing comparison prints: the fields, and the payload by size and first bytes.
inline std::ostream& operator<<(std::ostream& out, const Seen& s) {
    out << "{stream " << int(s.key.streamId) << "." << int(s.key.substreamId) << " kind " << int(s.kind)
        << (s.mpeg1 ? " mpeg1" : " mpeg2") << " pts " << (s.hasPts ? std::to_string(s.pts) : "-") << " dts "
        << (s.hasDts ? std::to_string(s.dts) : "-") << " scr " << s.scr << "+" << s.scrExtension << " at "
        << s.offset << ", " << s.payload.size() << " bytes";
    for (size_t i = 0; i < s.payload.size() && i < 4; ++i)
        out << " " << int(s.payload[i]);
    return out << ", substream header of " << s.substreamHeader.size() << "}";
}

class Collector : public media::PacketHandler {
public:
    bool OnPacket(const media::PesPacket& p) override {
        packets.push_back({p.key, p.kind, p.hasPts, p.hasDts, p.pts, p.dts, p.hasScr ? p.scrBase : -1,
                           p.scrExtension, p.mpeg1, Bytes(p.payload, p.payload + p.payloadSize),
                           Bytes(p.substreamHeader, p.substreamHeader + p.substreamHeaderSize), p.offset});
        return stopAfter == 0 || packets.size() < stopAfter;
    }
    std::vector<Seen> packets;
    size_t stopAfter = 0;
};

// Reads the whole buffer in chunks of the given size (0: in one piece).
inline std::vector<Seen> ReadAll(const Bytes& data, size_t chunk = 0,
                                 media::ProgramStreamReader* use = nullptr) {
    media::ProgramStreamReader local;
    media::ProgramStreamReader& reader = use ? *use : local;
    Collector c;
    if (chunk == 0) chunk = data.size() ? data.size() : 1;
    for (size_t pos = 0; pos < data.size(); pos += chunk) {
        size_t n = std::min(chunk, data.size() - pos);
        if (!reader.Feed(data.data() + pos, n, c)) break;
    }
    reader.Finish(c);
    return c.packets;
}

}  // namespace korvane::test
