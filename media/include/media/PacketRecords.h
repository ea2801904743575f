// The samples between the demultiplexer and the multiplexer: a run of records, one per PES
// packet of the pin's stream, each with the packet's timestamps and substream header.
//
// A record normally points at the payload where it stands in the demultiplexer's input
// sample instead of copying it: the demultiplexer delivers inside its own Receive, while
// that input sample is alive, and the multiplexer's writer copies what it keeps before
// Receive returns. A payload that is not inside the input sample (a packet that straddled
// two input samples, which the reader reassembles in a buffer of its own) follows its record
// inline. Records are 8-byte aligned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "media/ProgramStreamReader.h"
#include "media/ProgramStreamWriter.h"

namespace korvane::filters {

struct PacketRecord {
    uint32_t recordSize;  // this header plus any inline payload, padded to 8 bytes
    uint32_t payloadSize;
    const uint8_t* payload;  // null: the payload follows the record
    int64_t pts;
    int64_t dts;
    uint8_t hasPts;
    uint8_t hasDts;
    uint8_t substreamHeaderSize;
    uint8_t substreamHeader[4];
    uint8_t reserved;
};

inline size_t PaddedRecordSize(size_t inlineBytes) {
    return (sizeof(PacketRecord) + inlineBytes + 7) & ~size_t(7);
}

// Writes the packet's record at dst; the payload goes inline unless it lies within
// [borrowBegin, borrowEnd). Returns the bytes used, or 0 if capacity is too small.
inline size_t WritePacketRecord(const media::PesPacket& packet, const uint8_t* borrowBegin,
                                const uint8_t* borrowEnd, uint8_t* dst, size_t capacity) {
    const bool borrowed = packet.payload >= borrowBegin && packet.payload + packet.payloadSize <= borrowEnd;
    const size_t size = PaddedRecordSize(borrowed ? 0 : packet.payloadSize);
    if (size > capacity) return 0;
    PacketRecord r{};
    r.recordSize = static_cast<uint32_t>(size);
    r.payloadSize = static_cast<uint32_t>(packet.payloadSize);
    r.payload = borrowed ? packet.payload : nullptr;
    r.pts = packet.pts;
    r.dts = packet.dts;
    r.hasPts = packet.hasPts;
    r.hasDts = packet.hasDts;
    r.substreamHeaderSize = packet.substreamHeaderSize;
    std::memcpy(r.substreamHeader, packet.substreamHeader, sizeof(r.substreamHeader));
    std::memcpy(dst, &r, sizeof(r));
    if (!borrowed && packet.payloadSize) std::memcpy(dst + sizeof(r), packet.payload, packet.payloadSize);
    return size;
}

// Reads the record at *cursor into *packet and advances; false on a malformed record.
inline bool ReadPacketRecord(const uint8_t** cursor, const uint8_t* end, media::ElementaryPacket* packet) {
    if (static_cast<size_t>(end - *cursor) < sizeof(PacketRecord)) return false;
    PacketRecord r;
    std::memcpy(&r, *cursor, sizeof(r));
    if (r.recordSize < sizeof(r) || r.recordSize > static_cast<size_t>(end - *cursor) ||
        (!r.payload && PaddedRecordSize(r.payloadSize) != r.recordSize) || r.substreamHeaderSize > 4)
        return false;
    packet->payload = r.payload ? r.payload : *cursor + sizeof(r);
    packet->payloadSize = r.payloadSize;
    packet->hasPts = r.hasPts != 0;
    packet->hasDts = r.hasDts != 0;
    packet->pts = r.pts;
    packet->dts = r.dts;
    packet->substreamHeaderSize = r.substreamHeaderSize;
    std::memcpy(packet->substreamHeader, r.substreamHeader, 4);
    *cursor += r.recordSize;
    return true;
}

}  // namespace korvane::filters
