#include "media/ProgramStreamReader.h"

#include "PsFraming.h"

#include <algorithm>
#include <cstring>

namespace korvane::media {

const char* const kEncryptedPayloadText = "The MPEG payload is encrypted, needs the Media Access Key.";

namespace {

// The longest unit we ever need whole: a PES packet (6 + 65535 bytes) plus the next start
// code prefix that vouches for its length field.
constexpr size_t kMaxUnit = 6 + 65535 + 3;

inline int64_t ReadTimestamp(const uint8_t* p) {
    return (int64_t(p[0] >> 1) & 7) << 30 | int64_t(p[1]) << 22 | int64_t(p[2] >> 1) << 15 |
           int64_t(p[3]) << 7 | int64_t(p[4] >> 1);
}

inline bool HasElementaryPayload(uint8_t id) {
    return id == kPrivateStream1 || (id >= 0xC0 && id <= 0xEF);
}

}  // namespace

ProgramStreamReader::ProgramStreamReader() {
    m_carry.reserve(kMaxUnit + 64);
}

void ProgramStreamReader::Reset() {
    m_carry.clear();
    m_carryOffset = 0;
    m_status = ReaderStatus::Ok;
    m_stats = ReaderStats{};
    m_inDamage = false;
    m_haveScr = false;
    m_scrBase = 0;
    m_scrExtension = 0;
    m_rawAc3 = -1;
}

std::string ProgramStreamReader::ErrorText() const {
    return m_status == ReaderStatus::Encrypted ? kEncryptedPayloadText : "";
}

bool ProgramStreamReader::Feed(const uint8_t* data, size_t size, PacketHandler& handler) {
    if (m_status != ReaderStatus::Ok) return false;
    uint64_t dataOffset = m_stats.bytesIn;
    m_stats.bytesIn += size;
    if (!m_carry.empty()) {
        // Complete the unit left from the last chunk in the carry buffer; once parsing has
        // passed the carried bytes, continue straight in the caller's data.
        size_t old = m_carry.size();
        size_t take = std::min(size, kMaxUnit + 16);
        m_carry.insert(m_carry.end(), data, data + take);
        size_t used = ParseBuffer(m_carry.data(), m_carry.size(), m_carryOffset, false, handler);
        if (m_status != ReaderStatus::Ok) return false;
        if (used < old) {
            m_carry.erase(m_carry.begin(), m_carry.begin() + static_cast<std::ptrdiff_t>(used));
            m_carryOffset += used;
            if (take == size) return true;
            // A unit never needs more than kMaxUnit bytes, so this cannot happen; should it,
            // the carried bytes count as damage rather than stall the reader.
            m_stats.bytesSkipped += old - used;
            ++m_stats.damageEvents;
            m_carry.clear();
            used = old;
        } else {
            m_carry.clear();
        }
        data += used - old;
        size -= used - old;
        dataOffset += used - old;
    }
    size_t used = ParseBuffer(data, size, dataOffset, false, handler);
    if (m_status != ReaderStatus::Ok) return false;
    m_carry.assign(data + used, data + size);
    m_carryOffset = dataOffset + used;
    return true;
}

bool ProgramStreamReader::Finish(PacketHandler& handler) {
    if (m_status != ReaderStatus::Ok) return false;
    if (!m_carry.empty()) ParseBuffer(m_carry.data(), m_carry.size(), m_carryOffset, true, handler);
    m_carry.clear();
    return m_status == ReaderStatus::Ok;
}

size_t ProgramStreamReader::ParseBuffer(const uint8_t* data, size_t size, uint64_t base, bool atEnd,
                                        PacketHandler& handler) {
    size_t pos = 0;
    while (pos < size && m_status == ReaderStatus::Ok) {
        size_t used = 0;
        m_unitOffset = base + pos;
        Parse r = ParseUnit(data + pos, size - pos, atEnd, &used, handler);
        if (r == Parse::Done) {
            pos += used;
            m_inDamage = false;
            continue;
        }
        if (r == Parse::NeedMore) break;
        if (r == Parse::BadUnit) {
            // Its length is believed, so the bytes inside are its own: looking for a unit
            // among them could only find one in its payload.
            CountDamage(used);
            pos += used;
            continue;
        }
        size_t skip = Resync(data + pos, size - pos, atEnd);
        if (skip == 0) break;
        pos += skip;
    }
    return pos;
}

size_t ProgramStreamReader::Resync(const uint8_t* p, size_t avail, bool atEnd) {
    const size_t skip = ps::DamageBefore(p, avail, atEnd);
    if (skip > 0) CountDamage(skip);
    return skip;
}

void ProgramStreamReader::CountDamage(size_t bytes) {
    if (!m_inDamage) {
        m_inDamage = true;
        ++m_stats.damageEvents;
    }
    m_stats.bytesSkipped += bytes;
}

ProgramStreamReader::Parse ProgramStreamReader::ParseUnit(const uint8_t* p, size_t avail, bool atEnd,
                                                          size_t* used, PacketHandler& handler) {
    const ps::Frame frame = ps::FrameUnit(p, avail, atEnd);
    if (frame.kind == ps::Frame::NeedMore) return Parse::NeedMore;
    if (frame.kind == ps::Frame::Damaged) {
        if (frame.truncated) ++m_stats.truncatedPackets;
        return Parse::Damaged;
    }
    const uint8_t code = p[3];
    const size_t total = frame.size;
    *used = total;
    if (code == 0xB9) {
        ++m_stats.endCodes;
        return Parse::Done;
    }
    if (code == 0xBA) {
        if ((p[4] & 0xC0) == 0x40) {
            m_scrBase = (int64_t(p[4] >> 3) & 7) << 30 | (int64_t(p[4]) & 3) << 28 | int64_t(p[5]) << 20 |
                        int64_t(p[6] >> 3) << 15 | (int64_t(p[6]) & 3) << 13 | int64_t(p[7]) << 5 |
                        int64_t(p[8] >> 3);
            m_scrExtension = (p[8] & 3) << 7 | p[9] >> 1;
        } else {
            m_scrBase = ReadTimestamp(p + 4);
            m_scrExtension = 0;
        }
        m_haveScr = true;
        ++m_stats.packs;
        return Parse::Done;
    }
    if (code == 0xBB) {
        ++m_stats.systemHeaders;
        return Parse::Done;
    }
    if (!HasElementaryPayload(code)) {
        ++m_stats.otherPackets;
        return Parse::Done;
    }
    return ParsePes(p, total, atEnd, used, handler);
}

ProgramStreamReader::Parse ProgramStreamReader::ParsePes(const uint8_t* p, size_t total, bool, size_t* used,
                                                         PacketHandler& handler) {
    PesPacket packet;
    packet.key.streamId = p[3];
    packet.offset = m_unitOffset;
    const uint8_t* body = p + 6;
    const uint8_t* end = p + total;
    const uint8_t* payload;
    if ((body[0] & 0xC0) == 0x80) {
        if (end - body < 3) return Parse::BadUnit;
        if ((body[0] & 0x30) != 0) {
            m_status = ReaderStatus::Encrypted;
            return Parse::Done;
        }
        uint8_t flags = body[1];
        size_t headerLength = body[2];
        if (size_t(end - body) < 3 + headerLength) return Parse::BadUnit;
        unsigned ptsDts = flags >> 6;
        if (ptsDts == 2) {
            if (headerLength < 5) return Parse::BadUnit;
            packet.hasPts = true;
            packet.pts = ReadTimestamp(body + 3);
        } else if (ptsDts == 3) {
            if (headerLength < 10) return Parse::BadUnit;
            packet.hasPts = packet.hasDts = true;
            packet.pts = ReadTimestamp(body + 3);
            packet.dts = ReadTimestamp(body + 8);
        }
        payload = body + 3 + headerLength;
    } else {
        packet.mpeg1 = true;
        const uint8_t* q = body;
        int stuffing = 0;
        while (q < end && *q == 0xFF && stuffing < 16) {
            ++q;
            ++stuffing;
        }
        if (q < end && (*q & 0xC0) == 0x40) q += 2;
        if (q >= end) return Parse::BadUnit;
        if ((*q & 0xF0) == 0x20) {
            if (end - q < 5) return Parse::BadUnit;
            packet.hasPts = true;
            packet.pts = ReadTimestamp(q);
            q += 5;
        } else if ((*q & 0xF0) == 0x30) {
            if (end - q < 10) return Parse::BadUnit;
            packet.hasPts = packet.hasDts = true;
            packet.pts = ReadTimestamp(q);
            packet.dts = ReadTimestamp(q + 5);
            q += 10;
        } else if (*q == 0x0F) {
            ++q;
        } else {
            return Parse::BadUnit;
        }
        payload = q;
    }
    if (packet.key.streamId == kPrivateStream1) {
        if (payload == end) {
            ++m_stats.otherPackets;
            return Parse::Done;
        }
        if (m_rawAc3 < 0) m_rawAc3 = (end - payload >= 2 && payload[0] == 0x0B && payload[1] == 0x77) ? 1 : 0;
        if (m_rawAc3 == 1) {
            packet.key.substreamId = kRawAc3Substream;
        } else {
            uint8_t sub = payload[0];
            packet.key.substreamId = sub;
            // AC-3 and DTS substreams carry a frame count and a first access unit pointer.
            size_t headerSize = (sub >= 0x80 && sub <= 0x8F) ? 4 : 1;
            if (size_t(end - payload) < headerSize) return Parse::BadUnit;
            std::memcpy(packet.substreamHeader, payload, headerSize);
            packet.substreamHeaderSize = static_cast<uint8_t>(headerSize);
            payload += headerSize;
        }
    }
    packet.kind = ClassifyStream(packet.key);
    packet.payload = payload;
    packet.payloadSize = static_cast<size_t>(end - payload);
    packet.hasScr = m_haveScr;
    packet.scrBase = m_scrBase;
    packet.scrExtension = m_scrExtension;
    *used = total;
    Deliver(packet, handler);
    return Parse::Done;
}

bool ProgramStreamReader::Deliver(PesPacket& packet, PacketHandler& handler) {
    ++m_stats.pesPackets;
    if (!handler.OnPacket(packet)) {
        m_status = ReaderStatus::Stopped;
        return false;
    }
    return true;
}

}  // namespace korvane::media
