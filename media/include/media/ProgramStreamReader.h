// Streaming MPEG program stream reader: the demultiplexer's core.
//
// Feed it the stream in chunks of any size (a packet may straddle chunks); it calls the
// handler once per PES packet of an elementary stream, with the payload exactly as it stands.
// Memory stays bounded whatever the input size: only a packet that straddles two chunks is
// copied, into a buffer of at most one packet (about 64 KiB). No exceptions escape; objects
// are independent (no global state) and not internally locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/MpegStreams.h"

namespace korvane::media {

struct PesPacket {
    StreamKey key;  // stream id and, for private stream 1, substream id
    StreamKind kind = StreamKind::Other;
    bool hasPts = false;
    bool hasDts = false;
    int64_t pts = 0;  // 33-bit values exactly as in the stream
    int64_t dts = 0;
    bool hasScr = false;
    int64_t scrBase = 0;   // SCR of the pack this packet came in (90 kHz, 33 bits)
    int scrExtension = 0;  // its 27 MHz remainder (0..299); 0 for MPEG-1 packs
    bool mpeg1 = false;    // MPEG-1 PES header syntax
    // Elementary stream bytes: after the PES header and, for private stream 1, after the
    // substream header. Valid only during the handler call.
    const uint8_t* payload = nullptr;
    size_t payloadSize = 0;
    // The private stream 1 substream header as it stood (4 bytes for DVD-style AC-3;
    // 0 for raw AC-3 and for other stream ids).
    uint8_t substreamHeader[4] = {0, 0, 0, 0};
    uint8_t substreamHeaderSize = 0;
    uint64_t offset = 0;  // stream offset of the packet's start code
};

class PacketHandler {
public:
    virtual ~PacketHandler() = default;
    // Return false to stop reading; Feed then returns false with ReaderStatus::Stopped.
    virtual bool OnPacket(const PesPacket& packet) = 0;
};

enum class ReaderStatus {
    Ok,
    Stopped,    // the handler asked to stop
    Encrypted,  // a scrambled PES packet was met
};

struct ReaderStats {
    uint64_t bytesIn = 0;
    uint64_t packs = 0;
    uint64_t systemHeaders = 0;
    uint64_t pesPackets = 0;    // delivered to the handler
    uint64_t otherPackets = 0;  // padding, private stream 2, program stream map, ...
    uint64_t endCodes = 0;
    uint64_t damageEvents = 0;      // places where the reader had to resynchronise
    uint64_t bytesSkipped = 0;      // bytes passed over while resynchronising
    uint64_t truncatedPackets = 0;  // a packet cut short by the end of the input
};

// Message for a scrambled payload; the filters show it as their failure text.
extern const char* const kEncryptedPayloadText;

class ProgramStreamReader {
public:
    ProgramStreamReader();
    ProgramStreamReader(const ProgramStreamReader&) = delete;
    ProgramStreamReader& operator=(const ProgramStreamReader&) = delete;

    // Consumes the next chunk of the stream. Returns false once reading has stopped (handler
    // asked, or encrypted payload); later calls do nothing and return false.
    bool Feed(const uint8_t* data, size_t size, PacketHandler& handler);
    // End of input: delivers a last packet that was complete but unverified, counts a
    // truncated one. Returns false as Feed does.
    bool Finish(PacketHandler& handler);
    // Back to the state of a new reader (after a seek or flush).
    void Reset();

    ReaderStatus Status() const { return m_status; }
    // Empty while Status() is Ok or Stopped.
    std::string ErrorText() const;
    const ReaderStats& Stats() const { return m_stats; }

private:
    // BadUnit: a unit framed by its length whose header makes no sense, passed over whole.
    enum class Parse { Done, NeedMore, Damaged, BadUnit };
    size_t ParseBuffer(const uint8_t* data, size_t size, uint64_t base, bool atEnd, PacketHandler& handler);
    Parse ParseUnit(const uint8_t* p, size_t avail, bool atEnd, size_t* used, PacketHandler& handler);
    Parse ParsePes(const uint8_t* p, size_t avail, bool atEnd, size_t* used, PacketHandler& handler);
    size_t Resync(const uint8_t* p, size_t avail, bool atEnd);
    void CountDamage(size_t bytes);
    bool Deliver(PesPacket& packet, PacketHandler& handler);

    std::vector<uint8_t> m_carry;  // an incomplete unit left over from the previous chunk
    uint64_t m_carryOffset = 0;    // stream offset of m_carry[0]
    uint64_t m_unitOffset = 0;     // stream offset of the unit being parsed
    ReaderStatus m_status = ReaderStatus::Ok;
    ReaderStats m_stats;
    bool m_inDamage = false;  // counting one damaged stretch as one event
    bool m_haveScr = false;
    int64_t m_scrBase = 0;
    int m_scrExtension = 0;
    int m_rawAc3 = -1;  // private stream 1 form, decided by its first packet: -1 unknown, 0 DVD header, 1 raw
};

}  // namespace korvane::media
