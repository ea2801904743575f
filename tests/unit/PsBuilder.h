// Hand-built MPEG pieces for tests, written independently of the media writer so the readers
// are checked against the standard's layout rather than against our own output.
#pragma once

#include <cstdint>
#include <vector>

namespace korvane::test {

using Bytes = std::vector<uint8_t>;

inline uint8_t U8(int64_t v) {
    return static_cast<uint8_t>(v);
}

inline void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

// Every unit with a 16-bit length after its start code: PES packets, system headers, padding
// (0xBE), private stream 2 (0xBF), a program stream map (0xBC).
inline Bytes Unit(uint8_t id, const Bytes& content) {
    Bytes b = {0, 0, 1, id, U8(content.size() >> 8), U8(content.size())};
    Append(b, content);
    return b;
}

inline Bytes Padding(size_t bytes) {
    return Unit(0xBE, Bytes(bytes, 0xFF));
}

inline Bytes Timestamp(unsigned prefix, int64_t ts) {
    return {U8(prefix << 4 | ((ts >> 29) & 0x0E) | 1), U8(ts >> 22), U8(((ts >> 14) & 0xFE) | 1), U8(ts >> 7),
            U8(((ts << 1) & 0xFE) | 1)};
}

// A P-STD / STD buffer bound: 13 bits in units of 128 bytes, or of 1024 with the large scale.
inline Bytes Bound(uint8_t top, bool largeScale, unsigned size) {
    return {U8(top | (largeScale ? 0x20 : 0) | ((size >> 8) & 0x1F)), U8(size)};
}

// An MPEG-2 pack header (mux rate 25200 x 50 bytes/s), or an MPEG-1 one.
inline Bytes PackHeader(int64_t scr, unsigned stuffing = 0, unsigned scrExtension = 0) {
    Bytes b = {0, 0, 1, 0xBA, U8(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03)), U8(scr >> 20)};
    Append(b, {U8(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03)), U8(scr >> 5),
               U8(((scr << 3) & 0xF8) | 0x04 | ((scrExtension >> 7) & 0x03)),
               U8(((scrExtension << 1) & 0xFE) | 0x01)});
    Append(b, {0x01, 0x89, 0xC3, U8(0xF8 | stuffing)});
    b.resize(b.size() + stuffing, 0xFF);
    return b;
}

inline Bytes Mpeg1PackHeader(int64_t scr) {
    Bytes b = {0, 0, 1, 0xBA};
    Append(b, Timestamp(2, scr));
    Append(b, {0x80, 0x1B, 0x83});  // mux rate with its markers
    return b;
}

// One entry of a system header's stream list. Ids 0xB8 and 0xB9 stand for all audio and all video.
struct StreamBound {
    uint8_t streamId;
    bool largeScale;
    unsigned size;
};

inline Bytes SystemHeader(const std::vector<StreamBound>& bounds, unsigned audioBound = 1,
                          unsigned videoBound = 1, uint32_t rateBound = 25200, bool fixedRate = false) {
    Bytes b = {U8(0x80 | ((rateBound >> 15) & 0x7F)),
               U8(rateBound >> 7),
               U8(((rateBound << 1) & 0xFE) | 0x01),
               U8(audioBound << 2 | (fixedRate ? 0x02 : 0)),
               U8(0xE0 | videoBound),
               0x7F};
    for (const StreamBound& e : bounds) {
        b.push_back(e.streamId);
        Append(b, Bound(0xC0, e.largeScale, e.size));
    }
    return Unit(0xBB, b);
}

struct PesSpec {
    uint8_t streamId = 0xE0;
    Bytes payload;
    bool pts = false;
    bool dts = false;
    int64_t ptsValue = 0;
    int64_t dtsValue = 0;
    bool scrambled = false;
    Bytes substreamHeader = {};  // private stream 1 only
    // Priority, data alignment, copyright and original bits.
    uint8_t flagBits = 0x01;
    // Optional header fields, in their order in the header, then stuffing bytes.
    bool escr = false;
    bool esRate = false;
    bool trickMode = false;
    bool copyInfo = false;
    bool crc = false;
    bool pstdBuffer = false;  // a PES extension holding only the P-STD buffer field
    bool pstdLargeScale = false;
    unsigned pstdSize = 0;
    unsigned headerStuffing = 0;
};

inline Bytes Pes(const PesSpec& s) {
    Bytes header = {U8((s.scrambled ? 0xB0 : 0x80) | (s.flagBits & 0x0F)),
                    U8((s.pts ? (s.dts ? 0xC0 : 0x80) : 0) | (s.escr ? 0x20 : 0) | (s.esRate ? 0x10 : 0) |
                       (s.trickMode ? 0x08 : 0) | (s.copyInfo ? 0x04 : 0) | (s.crc ? 0x02 : 0) |
                       (s.pstdBuffer ? 0x01 : 0)),
                    0};
    if (s.pts) Append(header, Timestamp(s.dts ? 3 : 2, s.ptsValue));
    if (s.pts && s.dts) Append(header, Timestamp(1, s.dtsValue));
    if (s.escr) Append(header, {0xC4, 0x00, 0x04, 0x00, 0x04, 0x01});  // base 0, extension 0, markers
    if (s.esRate) Append(header, {0x80, 0x3A, 0x99});                  // 7500 x 50 bytes/s, markers
    if (s.trickMode) Append(header, {0x1F});                           // slow motion, repeat 31
    if (s.copyInfo) Append(header, {0xAA});                            // marker, 0x2A
    if (s.crc) Append(header, {0x5A, 0xA5});
    if (s.pstdBuffer) {
        header.push_back(0x1E);  // extension flags: P-STD buffer only, reserved bits set
        Append(header, Bound(0x40, s.pstdLargeScale, s.pstdSize));
    }
    header.resize(header.size() + s.headerStuffing, 0xFF);
    header[2] = U8(header.size() - 3);
    Append(header, s.substreamHeader);
    Append(header, s.payload);
    return Unit(s.streamId, header);
}

// The MPEG-1 packet header's variable part: stuffing bytes, an STD buffer field, timestamps.
struct Mpeg1Header {
    unsigned stuffing = 2;
    bool stdBuffer = true;
    bool stdLargeScale = false;
    unsigned stdSize = 32;
    bool dts = false;
    int64_t dtsValue = 0;
};

inline Bytes Mpeg1Pes(uint8_t streamId, const Bytes& payload, bool pts, int64_t ptsValue,
                      const Mpeg1Header& h = {}) {
    Bytes body(h.stuffing, 0xFF);
    if (h.stdBuffer) Append(body, Bound(0x40, h.stdLargeScale, h.stdSize));
    if (pts) Append(body, Timestamp(h.dts ? 3 : 2, ptsValue));
    if (pts && h.dts) Append(body, Timestamp(1, h.dtsValue));
    if (!pts) body.push_back(0x0F);
    Append(body, payload);
    return Unit(streamId, body);
}

// Payload bytes that never form a start code, distinct per seed.
inline Bytes Filler(size_t size, uint8_t seed) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i)
        b[i] = U8(0x10 + (seed * 7 + i) % 200);
    return b;
}

}  // namespace korvane::test
