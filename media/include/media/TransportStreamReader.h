// Streaming MPEG transport stream reader: the demultiplexer's core for transport-stream
// recordings (HD and H.264 channels).
//
// Feed it the stream in chunks of any size; it finds the 188-byte packets (resynchronising
// after garbage anywhere), follows the first program of the PAT and every version of its PMT,
// reassembles the PES packets of each elementary stream it can carry, and hands them to the
// same PacketHandler the program stream reader uses, each under the program stream key the
// writer will give it (video 0xE0.., MPEG audio and AAC 0xC0.., AC-3 and E-AC-3 0xBD/0x80..). The output
// does not depend on how the input is cut. Damage (continuity gaps, packets flagged in error,
// broken tables) is counted and reading goes on.
//
// Memory: one partial packet, a small state per PID met, and the PES being reassembled, which
// all share one budget (kTsReassemblyBudget) however many streams the PMT lists.
// No exceptions escape; objects are independent and not internally locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/MpegStreams.h"
#include "media/ProgramStreamReader.h"

namespace korvane::media {

constexpr size_t kTsPacketSize = 188;
constexpr uint8_t kTsSyncByte = 0x47;
// The PES being reassembled share this many bytes: each carried stream holds at most its share
// (the budget over the number of carried streams, always more than a PES with a length field
// can be, as at most 56 streams are carried), and a longer PES (unbounded video) is delivered
// in pieces of that share; the later pieces carry no timestamps, which the elementary stream
// does not notice. A 32-bit process can spare it whatever a stream does.
constexpr size_t kTsReassemblyBudget = size_t(4) << 20;

// TS stream types we meet in recordings.
constexpr uint8_t kTsTypeMpeg1Video = 0x01;
constexpr uint8_t kTsTypeMpeg2Video = 0x02;
constexpr uint8_t kTsTypeMpeg1Audio = 0x03;
constexpr uint8_t kTsTypeMpeg2Audio = 0x04;
constexpr uint8_t kTsTypePrivatePes = 0x06;
constexpr uint8_t kTsTypeAacAdts = 0x0F;
constexpr uint8_t kTsTypeH264 = 0x1B;
constexpr uint8_t kTsTypeAc3 = 0x81;
constexpr uint8_t kTsTypeEac3 = 0x87;
constexpr uint8_t kTsTypeTivoKeys = 0x97;

// One elementary stream of the PMT, carried or not.
struct TsStream {
    uint16_t pid = 0;
    uint8_t streamType = 0;
    StreamKind kind = StreamKind::Other;  // Other: skipped
    StreamKey key;                        // the program stream key it is delivered under
    bool carried = false;
    std::string description;  // "H.264 video", "E-AC-3 audio (skipped)", ...
};

// What a stream type (with its descriptors' verdict for type 0x06: an AC-3 or E-AC-3
// descriptor) is, and whether we carry it. E-AC-3 is carried as AC-3 (private stream 1).
StreamKind ClassifyTsStream(uint8_t streamType, bool ac3Descriptor);
std::string DescribeTsStream(uint8_t streamType, bool ac3Descriptor, bool eac3Descriptor);

struct TsReaderStats {
    uint64_t bytesIn = 0;
    uint64_t packets = 0;  // 188-byte packets read
    uint64_t nullPackets = 0;
    uint64_t pesPackets = 0;        // delivered to the handler (pieces of one PES count each)
    uint64_t damageEvents = 0;      // places where sync was lost and found again
    uint64_t bytesSkipped = 0;      // bytes passed over while resynchronising
    uint64_t continuityErrors = 0;  // packets missing on a PID (counter jumps)
    uint64_t duplicatePackets = 0;  // a packet sent twice (same counter), dropped
    uint64_t errorPackets = 0;      // transport_error_indicator set, or a malformed header
    uint64_t badSections = 0;       // PAT/PMT sections with a bad CRC or layout
    uint64_t pmtVersions = 0;       // PMT versions taken
    uint64_t skippedPackets = 0;    // packets of PIDs we do not carry (captions, data, keys...)
    uint64_t truncatedPes = 0;      // a PES cut short (by a new start or the end of input)
    uint64_t badPes = 0;            // PES headers that made no sense, dropped
    uint64_t scrambledPackets = 0;  // transport_scrambling_control set
};

class TransportStreamReader {
public:
    TransportStreamReader();
    ~TransportStreamReader();
    TransportStreamReader(const TransportStreamReader&) = delete;
    TransportStreamReader& operator=(const TransportStreamReader&) = delete;

    // Consumes the next chunk. Returns false once reading has stopped (handler asked, or a
    // scrambled packet of a carried stream met); later calls do nothing and return false.
    bool Feed(const uint8_t* data, size_t size, PacketHandler& handler);
    // End of input: delivers the PES still being assembled. Returns false as Feed does.
    bool Finish(PacketHandler& handler);
    void Reset();

    ReaderStatus Status() const { return m_status; }
    std::string ErrorText() const;
    const TsReaderStats& Stats() const { return m_stats; }
    // The streams of the current PMT, in PMT order (empty until a PMT was read).
    const std::vector<TsStream>& Streams() const { return m_streams; }
    uint16_t ProgramNumber() const { return m_programNumber; }
    // The buffers of the PES being reassembled, in bytes (at most kTsReassemblyBudget).
    size_t ReassemblyBytes() const { return m_reassemblyBytes; }
    uint16_t PmtPid() const { return m_pmtPid; }

private:
    struct PidState;
    size_t ParseBuffer(const uint8_t* data, size_t size, uint64_t base, bool atEnd);
    void ParsePacket(const uint8_t* p);
    void OnSection(uint16_t pid, const uint8_t* section, size_t size);
    void OnPat(const uint8_t* section, size_t size);
    void OnPmt(const uint8_t* section, size_t size);
    void OnPesData(PidState& state, const TsStream& stream, const uint8_t* p, size_t size, bool start);
    void FlushPes(PidState& state, const TsStream& stream, bool complete);
    void DeliverPiece(PidState& state, const TsStream& stream);
    void Reserve(PidState& state, size_t bytes);
    void Release(PidState& state);
    void FitShares();
    PidState& State(uint16_t pid);
    const TsStream* StreamOf(uint16_t pid) const;

    std::vector<uint8_t> m_carry;        // the start of a packet (or of a resync window) left over
    uint64_t m_carryOffset = 0;          // stream offset of m_carry[0]
    PacketHandler* m_handler = nullptr;  // the caller's, during Feed and Finish
    bool m_locked = false;               // sync found; the next packet is expected right here
    bool m_inDamage = false;
    uint64_t m_packetOffset = 0;  // stream offset of the packet being parsed
    ReaderStatus m_status = ReaderStatus::Ok;
    TsReaderStats m_stats;
    std::vector<PidState*> m_pids;  // indexed by PID (8192), created on use
    std::vector<TsStream> m_streams;
    uint16_t m_pmtPid = 0xFFFF;  // none yet
    uint16_t m_programNumber = 0;
    int m_pmtVersion = -1;
    uint8_t m_nextVideo = 0xE0, m_nextAudio = 0xC0, m_nextAc3 = 0x80;
    size_t m_share = kTsReassemblyBudget;  // what each carried stream may hold
    size_t m_reassemblyBytes = 0;          // capacity of every PidState::pes
};

}  // namespace korvane::media
