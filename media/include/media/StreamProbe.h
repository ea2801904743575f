// Looking at the start of an MPEG payload before any sample flows: what kind of stream it is,
// whether it is scrambled, and which elementary streams it carries. The demultiplexer needs
// its output pins at connection time, so it builds them from ProbeProgramStream's list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/Io.h"
#include "media/MpegStreams.h"
#include "media/ProgramStreamReader.h"
#include "media/TransportStreamReader.h"

namespace korvane::media {

enum class PayloadKind { Unknown, ProgramStream, TransportStream };

const char* PayloadKindName(PayloadKind kind);

// How much of the payload a probe should be given: enough for a first audio packet that
// comes seconds after the first video at broadcast bit rates.
constexpr size_t kDefaultProbeBytes = size_t(8) << 20;

struct PayloadSniff {
    PayloadKind kind = PayloadKind::Unknown;
    size_t syncOffset = 0;   // where the first pack header / first of a run of TS packets starts
    bool scrambled = false;  // transport streams: a TS packet with scrambling bits (program
                             // streams: see ProbeResult::scrambled)
};

// Looks for a pack start code 00 00 01 BA (validated by its marker bits) or for 0x47 every
// 188 bytes, after any damage at the start of the data.
PayloadSniff SniffPayload(const uint8_t* data, size_t size);

struct ProbedStream {
    StreamKey key;
    StreamKind kind = StreamKind::Other;
    bool hasPts = false;
    int64_t firstPts = 0;      // first PTS seen for the stream
    uint64_t packets = 0;      // PES packets seen in the probed bytes
    uint64_t firstOffset = 0;  // offset of its first packet in the probed bytes
};

struct ProbeResult {
    // Elementary streams in a stable order: video first, then MPEG audio, then AC-3, then
    // others; within a kind by stream id and substream id.
    std::vector<ProbedStream> streams;
    bool scrambled = false;  // a scrambled PES packet was found (payload unusable)
    ReaderStats stats;
    // Transport streams: every stream of the PMT, carried or skipped, and the reader's counts.
    std::vector<TsStream> tsStreams;
    TsReaderStats tsStats;
};

// The same probe fed in pieces (a source reading the start of the payload in chunks).
class StreamProber final : public ByteSink {
public:
    explicit StreamProber(PayloadKind kind = PayloadKind::ProgramStream);
    StreamProber(const StreamProber&) = delete;
    StreamProber& operator=(const StreamProber&) = delete;
    void Feed(const uint8_t* data, size_t size);
    // As a sink, so that a decryptor can write straight into the prober.
    bool Write(const uint8_t* data, size_t size) override {
        Feed(data, size);
        return true;
    }
    // Sorts and returns what was found; the prober is spent afterwards.
    ProbeResult Finish();

private:
    class Collector final : public PacketHandler {
    public:
        bool OnPacket(const PesPacket& packet) override;
        std::vector<ProbedStream> streams;
    };
    Collector m_collector;
    bool m_transport = false;
    ProgramStreamReader m_reader;
    TransportStreamReader m_tsReader;
};

// Reads a program stream from the start of the given bytes (the whole buffer is the window:
// pass kDefaultProbeBytes or the whole payload if shorter). Never fails: damage is skipped.
ProbeResult ProbeProgramStream(const uint8_t* data, size_t size);
// The same for a transport stream: the streams of its first program that have PES packets in
// the window, keyed as the transport stream reader delivers them.
ProbeResult ProbeTransportStream(const uint8_t* data, size_t size);

}  // namespace korvane::media
