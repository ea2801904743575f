// Records what a program or transport stream reader delivers, payloads copied.
#pragma once

#include <map>
#include <tuple>
#include <vector>

#include "PsBuilder.h"
#include "media/ProgramStreamReader.h"

namespace korvane::test {

struct Seen {
    media::StreamKey key;
    media::StreamKind kind;
    bool hasPts, hasDts;
    int64_t pts, dts, scr;  // scr -1: no pack header yet
    int scrExtension;
    bool mpeg1;
    Bytes payload;
    Bytes substreamHeader;
    uint64_t offset;
    auto Tied() const {
        return std::tie(key.streamId, key.substreamId, kind, hasPts, hasDts, pts, dts, scr, scrExtension,
                        mpeg1, payload, substreamHeader, offset);
    }
    bool operator==(const Seen& o) const { return Tied() == o.Tied(); }
};

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

// Reads the whole buffer in chunks of the given size (0: in one piece), with the reader given
// or a fresh one.
template <class Reader = media::ProgramStreamReader>
std::vector<Seen> ReadAll(const Bytes& data, size_t chunk = 0, Reader&& reader = Reader()) {
    Collector c;
    if (chunk == 0) chunk = data.size() ? data.size() : 1;
    for (size_t pos = 0; pos < data.size(); pos += chunk)
        if (!reader.Feed(data.data() + pos, std::min(chunk, data.size() - pos), c)) break;
    reader.Finish(c);
    return c.packets;
}

// Per stream, every packet's timestamps and then its bytes.
inline std::map<media::StreamKey, Bytes> PerStream(const std::vector<Seen>& packets) {
    std::map<media::StreamKey, Bytes> streams;
    for (const Seen& p : packets) {
        const int64_t t[2] = {p.hasPts ? p.pts : -1, p.hasDts ? p.dts : -1};
        Bytes& b = streams[p.key];
        b.insert(b.end(), reinterpret_cast<const uint8_t*>(t), reinterpret_cast<const uint8_t*>(t + 2));
        Append(b, p.payload);
    }
    return streams;
}

}  // namespace korvane::test
