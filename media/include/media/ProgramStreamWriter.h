// MPEG-2 program stream writer: the multiplexer's core.
//
// Takes elementary packets per stream (payload bytes with their PTS/DTS) and writes a
// standard MPEG-2 program stream: a pack header before every PES packet (an SCR that never
// goes back and stays ahead of every decode time, a mux rate raised to cover the stream's bit
// rate), a system header in the first pack listing every stream with its buffer bound, each
// input packet as one PES packet (split only beyond the PES length limit) with its original
// PTS/DTS and no scrambling bits, and the program end code at the end. H.264 (in a video
// stream id) and AAC (in an audio stream id) are named in a program stream map after the
// first system header; AC-3 goes in private stream 1 with the DVD substream header.
//
// Streams are interleaved by time (DTS, else PTS): a packet is written once no open stream
// can still send an earlier one, judged by the last timestamp each stream sent, give or take
// interleaveTolerance; until then it waits in its stream's queue (copied), and the queues
// never exceed maxQueuedBytes. Input that is already interleaved, as a demultiplexer
// delivers it, passes straight through without being copied. Output reaches the sink in
// writes of about outputChunkBytes.
//
// No exceptions escape; no global state; not internally locked (the multiplexer filter
// serialises its input pins' calls).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "media/Io.h"
#include "media/MpegStreams.h"

namespace korvane::media {

struct WriterStreamConfig {
    StreamKey key;  // substreamId for private stream 1 (AC-3: 0x80-0x87)
    StreamKind kind = StreamKind::Other;
    uint32_t bufferBoundBytes = 0;  // P-STD buffer bound; 0 chooses one by kind
};

struct ElementaryPacket {
    const uint8_t* payload = nullptr;  // elementary stream bytes (no substream header)
    size_t payloadSize = 0;
    bool hasPts = false;
    bool hasDts = false;
    int64_t pts = 0;  // 33-bit, 90 kHz
    int64_t dts = 0;
    // The DVD-style substream header for private stream 1 as read (4 bytes), kept as it was;
    // when absent the writer makes one (substream id, frame count, first access unit).
    uint8_t substreamHeader[4] = {0, 0, 0, 0};
    uint8_t substreamHeaderSize = 0;
};

struct WriterOptions {
    size_t outputChunkBytes = size_t(1) << 20;
    size_t maxQueuedBytes = size_t(8) << 20;
    // program_mux_rate in units of 50 bytes/s to start with (10.08 Mbit/s, DVD's maximum);
    // raised by half whenever the stream's bit rate leaves the SCR behind its timestamps.
    uint32_t muxRate = 25200;
    // How much earlier than a packet just written another stream's next packet may still be
    // (90 kHz units). 0 orders strictly by time; the default keeps a demultiplexer's own
    // interleaving, where video runs up to about half a second ahead of audio.
    int64_t interleaveTolerance = 63000;
    // How far the SCR runs ahead of the earliest decode time still to come (90 kHz units).
    int64_t decodeDelay = 27000;
};

struct WriterStats {
    uint64_t packetsIn = 0;
    uint64_t pesPacketsOut = 0;
    uint64_t queuedPackets = 0;  // packets that had to wait (and be copied) for interleaving
    uint64_t packsOut = 0;
    uint64_t bytesOut = 0;
    size_t peakQueuedBytes = 0;
};

class ProgramStreamWriter {
public:
    explicit ProgramStreamWriter(ByteSink& sink, const WriterOptions& options = {});
    ~ProgramStreamWriter();
    ProgramStreamWriter(const ProgramStreamWriter&) = delete;
    ProgramStreamWriter& operator=(const ProgramStreamWriter&) = delete;

    // Declares a stream; all streams come before the first packet. Returns its index, or -1
    // (see ErrorText) for a duplicate key or a call after writing started.
    int AddStream(const WriterStreamConfig& config);
    // Queues one packet (its bytes are copied as needed) and writes what interleaving allows.
    bool WritePacket(int stream, const ElementaryPacket& packet);
    // No more packets for this stream: the others no longer wait for it.
    bool EndOfStream(int stream);
    // Writes everything still queued, the program end code, and flushes the sink.
    bool Finish();

    bool Failed() const { return !m_error.empty(); }
    const std::string& ErrorText() const { return m_error; }
    const WriterStats& Stats() const { return m_stats; }
    size_t QueuedBytes() const { return m_queuedBytes; }

private:
    struct Stream;
    struct QueuedPacket;
    bool Fail(const std::string& text);
    bool Drain(bool all);
    bool EmitFront(Stream& stream);
    bool EmitPacket(Stream& stream, const QueuedPacket& packet, const uint8_t* payload);
    int64_t NextScr(const Stream& stream, const QueuedPacket& packet);
    static size_t SubstreamHeader(const Stream& stream, const QueuedPacket& packet, bool first,
                                  const uint8_t* data, size_t piece, uint8_t sub[4]);
    void WritePes(uint8_t streamId, const QueuedPacket& packet, bool first, const uint8_t* sub,
                  size_t subSize, const uint8_t* data, size_t piece);
    void WritePackHeader(int64_t scrBase);
    void WriteSystemHeader();
    void WriteStreamMap();
    bool FlushOutput(bool force);
    uint8_t* Reserve(size_t bytes);

    ByteSink& m_sink;
    WriterOptions m_options;
    std::vector<std::unique_ptr<Stream>> m_streams;
    AlignedBuffer m_out;
    size_t m_outUsed = 0;
    size_t m_queuedBytes = 0;
    bool m_started = false;
    bool m_finished = false;
    bool m_systemHeaderWritten = false;
    bool m_haveScr = false;
    int64_t m_lastScr = 0;  // unwrapped, 90 kHz
    uint64_t m_bytesAtLastScr = 0;
    uint64_t m_bytesGenerated = 0;  // every byte produced, flushed or not
    bool m_haveReference = false;
    int64_t m_reference = 0;  // first timestamp seen, to unwrap every stream against
    uint32_t m_muxRate = 0;
    std::string m_error;
    WriterStats m_stats;
};

}  // namespace korvane::media
