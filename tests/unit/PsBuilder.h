// Hand-built program stream pieces for tests, written independently of the media writer so
// the reader is checked against the standard's layout rather than against our own output.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace korvane::test {

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

inline Bytes Timestamp(unsigned prefix, int64_t ts) {
    return {static_cast<uint8_t>(prefix << 4 | ((ts >> 29) & 0x0E) | 1), static_cast<uint8_t>(ts >> 22),
            static_cast<uint8_t>(((ts >> 14) & 0xFE) | 1), static_cast<uint8_t>(ts >> 7),
            static_cast<uint8_t>(((ts << 1) & 0xFE) | 1)};
}

// An MPEG-2 pack header; the mux rate is in units of 50 bytes/s.
inline Bytes PackHeader(int64_t scr, unsigned stuffing = 0, unsigned scrExtension = 0,
                        uint32_t muxRate = 25200) {
    Bytes b = {0, 0, 1, 0xBA};
    Append(b, {static_cast<uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03)),
               static_cast<uint8_t>(scr >> 20),
               static_cast<uint8_t>(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03)),
               static_cast<uint8_t>(scr >> 5),
               static_cast<uint8_t>(((scr << 3) & 0xF8) | 0x04 | ((scrExtension >> 7) & 0x03)),
               static_cast<uint8_t>(((scrExtension << 1) & 0xFE) | 0x01), static_cast<uint8_t>(muxRate >> 14),
               static_cast<uint8_t>(muxRate >> 6), static_cast<uint8_t>(((muxRate << 2) & 0xFC) | 0x03),
               static_cast<uint8_t>(0xF8 | stuffing)});
    b.resize(b.size() + stuffing, 0xFF);
    return b;
}

// One entry of a system header's stream list: a P-STD buffer bound in units of 128 bytes,
// or of 1024 with the large scale. Ids 0xB8 and 0xB9 stand for all audio and all video.
struct StreamBound {
    uint8_t streamId;
    bool largeScale;
    unsigned size;  // 13 bits
};

inline Bytes SystemHeader(const std::vector<StreamBound>& bounds, unsigned audioBound = 1,
                          unsigned videoBound = 1, uint32_t rateBound = 25200, bool fixedRate = false) {
    size_t length = 6 + 3 * bounds.size();
    Bytes b = {0, 0, 1, 0xBB};
    Append(b, {static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
               static_cast<uint8_t>(0x80 | ((rateBound >> 15) & 0x7F)), static_cast<uint8_t>(rateBound >> 7),
               static_cast<uint8_t>(((rateBound << 1) & 0xFE) | 0x01),
               static_cast<uint8_t>(audioBound << 2 | (fixedRate ? 0x02 : 0)),
               static_cast<uint8_t>(0xE0 | videoBound)});  // audio and video locked, marker
    b.push_back(0x7F);
    for (const StreamBound& e : bounds)
        Append(b,
               {e.streamId, static_cast<uint8_t>(0xC0 | (e.largeScale ? 0x20 : 0) | ((e.size >> 8) & 0x1F)),
                static_cast<uint8_t>(e.size)});
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
    PesSpec(uint8_t id, Bytes data, bool withPts = false, bool withDts = false, int64_t ptsAt = 0,
            int64_t dtsAt = 0, bool isScrambled = false, Bytes substream = {})
        : streamId(id),
          payload(std::move(data)),
          pts(withPts),
          dts(withDts),
          ptsValue(ptsAt),
          dtsValue(dtsAt),
          scrambled(isScrambled),
          substreamHeader(std::move(substream)) {}
    uint8_t streamId = 0xE0;
    Bytes payload;
    bool pts = false;
    bool dts = false;
    int64_t ptsValue = 0;
    int64_t dtsValue = 0;
    bool scrambled = false;
    Bytes substreamHeader;  // private stream 1 only
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
    Bytes header = {
        static_cast<uint8_t>((s.scrambled ? 0xB0 : 0x80) | (s.flagBits & 0x0F)),
        static_cast<uint8_t>((s.pts ? (s.dts ? 0xC0 : 0x80) : 0) | (s.escr ? 0x20 : 0) |
                             (s.esRate ? 0x10 : 0) | (s.trickMode ? 0x08 : 0) | (s.copyInfo ? 0x04 : 0) |
                             (s.crc ? 0x02 : 0) | (s.pstdBuffer ? 0x01 : 0)),
        0};
    if (s.pts) Append(header, Timestamp(s.dts ? 3 : 2, s.ptsValue));
    if (s.pts && s.dts) Append(header, Timestamp(1, s.dtsValue));
    if (s.escr) Append(header, {0xC4, 0x00, 0x04, 0x00, 0x04, 0x01});  // base 0, extension 0, markers
    if (s.esRate) Append(header, {0x80, 0x3A, 0x99});                  // 7500 x 50 bytes/s, markers
    if (s.trickMode) Append(header, {0x1F});                           // slow motion, repeat 31
    if (s.copyInfo) Append(header, {0xAA});                            // marker, 0x2A
    if (s.crc) Append(header, {0x5A, 0xA5});
    if (s.pstdBuffer) {
        Append(header, {0x1E});  // extension flags: P-STD buffer only, reserved bits set
        Append(header,
               {static_cast<uint8_t>(0x40 | (s.pstdLargeScale ? 0x20 : 0) | ((s.pstdSize >> 8) & 0x1F)),
                static_cast<uint8_t>(s.pstdSize)});
    }
    header.resize(header.size() + s.headerStuffing, 0xFF);
    header[2] = static_cast<uint8_t>(header.size() - 3);
    size_t length = header.size() + s.substreamHeader.size() + s.payload.size();
    Bytes b = {0, 0, 1, s.streamId, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    Append(b, header);
    Append(b, s.substreamHeader);
    Append(b, s.payload);
    return b;
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
    if (h.stdBuffer)
        Append(body, {static_cast<uint8_t>(0x40 | (h.stdLargeScale ? 0x20 : 0) | ((h.stdSize >> 8) & 0x1F)),
                      static_cast<uint8_t>(h.stdSize)});
    if (pts) Append(body, Timestamp(h.dts ? 3 : 2, ptsValue));
    if (pts && h.dts) Append(body, Timestamp(1, h.dtsValue));
    if (!pts) body.push_back(0x0F);
    Append(body, payload);
    Bytes b = {0, 0, 1, streamId, static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())};
    Append(b, body);
    return b;
}

// A packet the reader passes over by its length: padding (0xBE), private stream 2 (0xBF),
// a program stream map (0xBC), whatever it holds.
inline Bytes OtherPacket(uint8_t streamId, const Bytes& content) {
    Bytes b = {
        0, 0, 1, streamId, static_cast<uint8_t>(content.size() >> 8), static_cast<uint8_t>(content.size())};
    Append(b, content);
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
    for (size_t i = 0; i < size; ++i)
        b[i] = static_cast<uint8_t>(0x10 + (seed * 7 + i) % 200);
    return b;
}

inline Bytes EndCode() {
    return {0, 0, 1, 0xB9};
}

}  // namespace korvane::test
