#include "media/PacketFraming.h"

#include <cstring>

namespace korvane::media {
namespace {

// Layout of the 32-byte record (host byte order: both ends live in one process).
constexpr uint32_t kMagic = 0x4B56504B;  // "KPVK"
constexpr uint8_t kHasPts = 1;
constexpr uint8_t kHasDts = 2;

struct FrameHeader {
    uint32_t magic;
    uint32_t payloadSize;
    uint8_t flags;
    uint8_t substreamHeaderSize;
    uint8_t substreamHeader[4];
    uint8_t reserved[2];
    int64_t pts;
    int64_t dts;
};
static_assert(sizeof(FrameHeader) <= kFrameHeaderSize, "frame header must fit its record");

}  // namespace

size_t WriteFrame(const PesPacket& packet, uint8_t* dst, size_t capacity) {
    if (capacity < FramedSize(packet.payloadSize) || packet.payloadSize > 0xFFFFFFFFu) return 0;
    FrameHeader h{};
    h.magic = kMagic;
    h.payloadSize = static_cast<uint32_t>(packet.payloadSize);
    h.flags = static_cast<uint8_t>((packet.hasPts ? kHasPts : 0) | (packet.hasDts ? kHasDts : 0));
    h.substreamHeaderSize = packet.substreamHeaderSize > 4 ? 4 : packet.substreamHeaderSize;
    std::memcpy(h.substreamHeader, packet.substreamHeader, 4);
    h.pts = packet.pts;
    h.dts = packet.dts;
    std::memset(dst, 0, kFrameHeaderSize);
    std::memcpy(dst, &h, sizeof h);
    if (packet.payloadSize) std::memcpy(dst + kFrameHeaderSize, packet.payload, packet.payloadSize);
    return FramedSize(packet.payloadSize);
}

bool ReadFrame(const uint8_t** cursor, const uint8_t* end, ElementaryPacket* packet) {
    const uint8_t* p = *cursor;
    if (p >= end || size_t(end - p) < kFrameHeaderSize) return false;
    FrameHeader h;
    std::memcpy(&h, p, sizeof h);
    if (h.magic != kMagic || h.substreamHeaderSize > 4) return false;
    if (size_t(end - p) - kFrameHeaderSize < h.payloadSize) return false;
    *packet = ElementaryPacket{};
    packet->payload = p + kFrameHeaderSize;
    packet->payloadSize = h.payloadSize;
    packet->hasPts = (h.flags & kHasPts) != 0;
    packet->hasDts = (h.flags & kHasDts) != 0;
    packet->pts = h.pts;
    packet->dts = h.dts;
    packet->substreamHeaderSize = h.substreamHeaderSize;
    std::memcpy(packet->substreamHeader, h.substreamHeader, 4);
    *cursor = p + kFrameHeaderSize + h.payloadSize;
    return true;
}

}  // namespace korvane::media
