// Hand-built program stream pieces for tests, written independently of the media writer so
// the reader is checked against the standard's layout rather than against our own output.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace korvane::test {

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

inline Bytes Timestamp(unsigned prefix, int64_t ts) {
    return {static_cast<uint8_t>(prefix << 4 | ((ts >> 29) & 0x0E) | 1), static_cast<uint8_t>(ts >> 22),
            static_cast<uint8_t>(((ts >> 14) & 0xFE) | 1), static_cast<uint8_t>(ts >> 7),
            static_cast<uint8_t>(((ts << 1) & 0xFE) | 1)};
}

inline Bytes PackHeader(int64_t scr, unsigned stuffing = 0) {
    Bytes b = {0, 0, 1, 0xBA,
               static_cast<uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03)),
               static_cast<uint8_t>(scr >> 20),
               static_cast<uint8_t>(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03)),
               static_cast<uint8_t>(scr >> 5),
               static_cast<uint8_t>(((scr << 3) & 0xF8) | 0x04),
               0x01, 0x01, 0x89, 0xC3, static_cast<uint8_t>(0xF8 | stuffing)};
    b.resize(b.size() + stuffing, 0xFF);
    return b;
}

inline Bytes Mpeg1PackHeader(int64_t scr) {
    Bytes b = {0, 0, 1, 0xBA};
    Bytes t = Timestamp(2, scr);
    Append(b, t);
    Append(b, {0x80, 0x1B, 0x83});  // mux rate with its markers
    return b;
}

struct PesSpec {
    PesSpec(uint8_t id, Bytes data, bool withPts = false, bool withDts = false, int64_t ptsAt = 0, int64_t dtsAt = 0,
            bool isScrambled = false, Bytes substream = {})
        : streamId(id), payload(std::move(data)), pts(withPts), dts(withDts), ptsValue(ptsAt), dtsValue(dtsAt),
          scrambled(isScrambled), substreamHeader(std::move(substream)) {}
    uint8_t streamId = 0xE0;
    Bytes payload;
    bool pts = false;
    bool dts = false;
    int64_t ptsValue = 0;
    int64_t dtsValue = 0;
    bool scrambled = false;
    Bytes substreamHeader;  // private stream 1 only
};

inline Bytes Pes(const PesSpec& s) {
    Bytes header = {static_cast<uint8_t>(s.scrambled ? 0xB1 : 0x81),
                    static_cast<uint8_t>(s.pts ? (s.dts ? 0xC0 : 0x80) : 0), 0};
    if (s.pts) Append(header, Timestamp(s.dts ? 3 : 2, s.ptsValue));
    if (s.pts && s.dts) Append(header, Timestamp(1, s.dtsValue));
    header[2] = static_cast<uint8_t>(header.size() - 3);
    size_t length = header.size() + s.substreamHeader.size() + s.payload.size();
    Bytes b = {0, 0, 1, s.streamId, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    Append(b, header);
    Append(b, s.substreamHeader);
    Append(b, s.payload);
    return b;
}

inline Bytes Mpeg1Pes(uint8_t streamId, const Bytes& payload, bool pts, int64_t ptsValue) {
    Bytes body = {0xFF, 0xFF, 0x40, 0x20};  // stuffing, STD buffer size
    if (pts) Append(body, Timestamp(2, ptsValue));
    else body.push_back(0x0F);
    Append(body, payload);
    Bytes b = {0, 0, 1, streamId, static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())};
    Append(b, body);
    return b;
}

inline Bytes Padding(size_t bytes) {
    Bytes b = {0, 0, 1, 0xBE, static_cast<uint8_t>(bytes >> 8), static_cast<uint8_t>(bytes)};
    b.resize(b.size() + bytes, 0xFF);
    return b;
}

// Payload bytes that never form a start code, distinct per seed.
inline Bytes Filler(size_t size, uint8_t seed) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(0x10 + (seed * 7 + i) % 200);
    return b;
}

inline Bytes EndCode() { return {0, 0, 1, 0xB9}; }

}  // namespace korvane::test
