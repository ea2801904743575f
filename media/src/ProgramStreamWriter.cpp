#include "media/ProgramStreamWriter.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace korvane::media {
namespace {

constexpr size_t kPackHeaderSize = 14;
// PES_packet_length counts 3 header bytes, up to 10 timestamp bytes, up to 4 substream
// header bytes and the payload, and cannot exceed 65535.
constexpr size_t kMaxPiece = 65535 - 3 - 10 - 4;
// Sort key of a packet that comes before its stream's first timestamp: as early as possible.
constexpr int64_t kEarly = std::numeric_limits<int64_t>::min() / 4;

void PutTimestamp(uint8_t* q, unsigned prefix, int64_t ts) {
    ts &= kTimestampMask;
    q[0] = static_cast<uint8_t>(prefix << 4 | ((ts >> 29) & 0x0E) | 1);
    q[1] = static_cast<uint8_t>(ts >> 22);
    q[2] = static_cast<uint8_t>(((ts >> 14) & 0xFE) | 1);
    q[3] = static_cast<uint8_t>(ts >> 7);
    q[4] = static_cast<uint8_t>(((ts << 1) & 0xFE) | 1);
}

uint32_t DefaultBufferBound(StreamKind kind) {
    switch (kind) {
    case StreamKind::Video:
        return 232 * 1024;
    case StreamKind::H264:
        return 1024 * 1024;  // HD levels' coded picture buffers
    case StreamKind::MpegAudio:
    case StreamKind::Aac:
    case StreamKind::Ac3:
        return 4 * 1024;
    case StreamKind::Other:
        break;
    }
    return 16 * 1024;
}

}  // namespace

struct ProgramStreamWriter::QueuedPacket {
    size_t offset = 0;  // in the stream's arena
    size_t size = 0;
    int64_t key = 0;   // unwrapped DTS, else PTS, else the stream's last timestamp
    uint64_t seq = 0;  // arrival order, to break ties
    bool hasPts = false;
    bool hasDts = false;
    int64_t pts = 0;
    int64_t dts = 0;
    uint8_t sub[4] = {0, 0, 0, 0};
    uint8_t subSize = 0;
};

struct ProgramStreamWriter::Stream {
    WriterStreamConfig config;
    bool ended = false;
    bool seen = false;    // a timestamped packet has arrived
    int64_t lastKey = 0;  // unwrapped sort key of the last timestamped packet
    bool haveRaw = false;
    int64_t lastRaw = 0;  // last raw key, to follow the 33-bit wrap
    std::deque<QueuedPacket> queue;
    std::vector<uint8_t> arena;  // payloads of the queued packets, in order
};

ProgramStreamWriter::ProgramStreamWriter(ByteSink& sink, const WriterOptions& options)
    : m_sink(sink), m_options(options), m_muxRate(options.muxRate ? options.muxRate : 25200) {
    if (m_muxRate > 0x3FFFFF) m_muxRate = 0x3FFFFF;
    m_out.Resize(m_options.outputChunkBytes + 2 * 65536);
}

ProgramStreamWriter::~ProgramStreamWriter() = default;

bool ProgramStreamWriter::Fail(const std::string& text) {
    if (m_error.empty()) m_error = text;
    return false;
}

int ProgramStreamWriter::AddStream(const WriterStreamConfig& config) {
    if (m_started) {
        Fail("Streams must be added before the first packet is written.");
        return -1;
    }
    uint8_t id = config.key.streamId;
    if (id != kPrivateStream1 && !(id >= 0xC0 && id <= 0xEF)) {
        Fail("Stream id " + std::to_string(id) + " cannot carry an elementary stream.");
        return -1;
    }
    if ((config.kind == StreamKind::H264 && id < 0xE0) ||
        (config.kind == StreamKind::Aac && !(id >= 0xC0 && id <= 0xDF))) {
        Fail("Stream id " + std::to_string(id) + " cannot carry " + StreamKindName(config.kind) + ".");
        return -1;
    }
    for (const auto& s : m_streams) {
        if (s->config.key == config.key) {
            Fail("Stream id " + std::to_string(id) + " substream " + std::to_string(config.key.substreamId) +
                 " was added twice.");
            return -1;
        }
    }
    auto stream = std::make_unique<Stream>();
    stream->config = config;
    if (id != kPrivateStream1) stream->config.key.substreamId = 0;
    if (stream->config.bufferBoundBytes == 0)
        stream->config.bufferBoundBytes = DefaultBufferBound(config.kind);
    m_streams.push_back(std::move(stream));
    return static_cast<int>(m_streams.size() - 1);
}

bool ProgramStreamWriter::WritePacket(int index, const ElementaryPacket& packet) {
    if (Failed()) return false;
    if (index < 0 || static_cast<size_t>(index) >= m_streams.size())
        return Fail("No stream has the index " + std::to_string(index) + ".");
    Stream& s = *m_streams[static_cast<size_t>(index)];
    if (s.ended || m_finished) return Fail("A packet arrived after the end of its stream.");
    m_started = true;
    ++m_stats.packetsIn;

    QueuedPacket q;
    q.size = packet.payloadSize;
    q.seq = m_stats.packetsIn;
    q.hasPts = packet.hasPts;
    q.hasDts = packet.hasDts;
    q.pts = packet.pts & kTimestampMask;
    q.dts = packet.dts & kTimestampMask;
    q.subSize = std::min<uint8_t>(packet.substreamHeaderSize, 4);
    std::memcpy(q.sub, packet.substreamHeader, q.subSize);
    if (packet.hasPts || packet.hasDts) {
        int64_t raw = packet.hasDts ? q.dts : q.pts;
        if (!m_haveReference) {
            m_haveReference = true;
            m_reference = raw;
        }
        int64_t key = s.haveRaw ? s.lastKey + TimestampDelta(s.lastRaw, raw)
                                : m_reference + TimestampDelta(m_reference, raw);
        s.haveRaw = true;
        s.lastRaw = raw;
        s.lastKey = key;
        s.seen = true;
        q.key = key;
    } else {
        q.key = s.seen ? s.lastKey : kEarly;
    }

    // What this packet's timestamp now allows of the others goes first.
    if (!Drain(false)) return false;

    bool direct = s.queue.empty();
    for (const auto& other : m_streams) {
        if (!direct) break;
        if (other.get() == &s) continue;
        if (!other->queue.empty()) {
            direct = other->queue.front().key > q.key;
        } else if (!other->ended) {
            direct = other->seen && other->lastKey + m_options.interleaveTolerance >= q.key;
        }
    }
    if (direct) return EmitPacket(s, q, packet.payload) && FlushOutput(false);

    q.offset = s.arena.size();
    s.arena.insert(s.arena.end(), packet.payload, packet.payload + packet.payloadSize);
    s.queue.push_back(q);
    ++m_stats.queuedPackets;
    m_queuedBytes += q.size;
    m_stats.peakQueuedBytes = std::max(m_stats.peakQueuedBytes, m_queuedBytes);
    return Drain(false);
}

bool ProgramStreamWriter::EndOfStream(int index) {
    if (Failed()) return false;
    if (index < 0 || static_cast<size_t>(index) >= m_streams.size())
        return Fail("No stream has the index " + std::to_string(index) + ".");
    m_streams[static_cast<size_t>(index)]->ended = true;
    return Drain(false);
}

bool ProgramStreamWriter::Finish() {
    if (m_finished) return !Failed();
    if (Failed()) return false;
    for (auto& s : m_streams)
        s->ended = true;
    if (!Drain(true)) return false;
    m_finished = true;
    if (!m_systemHeaderWritten) {
        WritePackHeader(0);
        WriteSystemHeader();
    }
    uint8_t* q = Reserve(4);
    q[0] = 0;
    q[1] = 0;
    q[2] = 1;
    q[3] = 0xB9;
    m_outUsed += 4;
    return FlushOutput(true);
}

bool ProgramStreamWriter::Drain(bool all) {
    for (;;) {
        Stream* best = nullptr;
        for (auto& s : m_streams) {
            if (s->queue.empty()) continue;
            const QueuedPacket& f = s->queue.front();
            if (!best || f.key < best->queue.front().key ||
                (f.key == best->queue.front().key && f.seq < best->queue.front().seq))
                best = s.get();
        }
        if (!best) return true;
        if (!all && m_queuedBytes <= m_options.maxQueuedBytes) {
            // Wait while an open stream with nothing queued could still send an earlier packet.
            int64_t key = best->queue.front().key;
            for (auto& s : m_streams) {
                if (s.get() != best && !s->ended && s->queue.empty() &&
                    (!s->seen || s->lastKey + m_options.interleaveTolerance < key))
                    return true;
            }
        }
        if (!EmitFront(*best) || !FlushOutput(false)) return false;
    }
}

bool ProgramStreamWriter::EmitFront(Stream& s) {
    QueuedPacket q = s.queue.front();
    s.queue.pop_front();
    m_queuedBytes -= q.size;
    bool ok = EmitPacket(s, q, s.arena.data() + q.offset);
    if (s.queue.empty()) {
        s.arena.clear();
    } else {
        size_t head = s.queue.front().offset;
        if (head >= (size_t(1) << 20) && head * 2 >= s.arena.size()) {
            s.arena.erase(s.arena.begin(), s.arena.begin() + static_cast<std::ptrdiff_t>(head));
            for (QueuedPacket& p : s.queue)
                p.offset -= head;
        }
    }
    return ok;
}

// One queued packet as PES packets of at most kMaxPiece payload bytes, each in a pack of its
// own; only the first piece carries the timestamps and a substream header kept as read.
bool ProgramStreamWriter::EmitPacket(Stream& s, const QueuedPacket& q, const uint8_t* payload) {
    size_t done = 0;
    bool first = true;
    do {
        const size_t piece = std::min(q.size - done, kMaxPiece);
        const uint8_t* data = payload + done;
        WritePackHeader(NextScr(s, q));
        if (!m_systemHeaderWritten) WriteSystemHeader();
        uint8_t sub[4];
        const size_t subSize = SubstreamHeader(s, q, first, data, piece, sub);
        WritePes(s.config.key.streamId, q, first, sub, subSize, data, piece);
        done += piece;
        first = false;
    } while (done < q.size);
    return true;
}

// The SCR runs decodeDelay ahead of the earliest decode time still to come, never
// backwards, and never faster than the mux rate allows for the bytes since the last
// pack. Any stream's next packet is no earlier than the last one it sent, and queued
// packets are no earlier than this one, so the SCR never overtakes a packet's DTS.
int64_t ProgramStreamWriter::NextScr(const Stream& s, const QueuedPacket& q) {
    int64_t scr;
    int64_t txTime = static_cast<int64_t>((m_bytesGenerated - m_bytesAtLastScr) * 1800 / m_muxRate);
    int64_t floor = q.key;
    for (const auto& other : m_streams) {
        if (other.get() != &s && !other->ended && other->seen) floor = std::min(floor, other->lastKey);
    }
    int64_t desired = q.key != kEarly ? floor - m_options.decodeDelay : (m_haveScr ? m_lastScr : 0);
    if (!m_haveScr) {
        scr = std::max<int64_t>(desired, 0);
        m_haveScr = true;
    } else {
        scr = std::max(desired, m_lastScr + txTime);
        if (q.key != kEarly && scr > desired + m_options.decodeDelay && m_muxRate < 0x3FFFFF)
            m_muxRate = std::min<uint32_t>(0x3FFFFF, m_muxRate + m_muxRate / 2);
    }
    m_lastScr = scr;
    m_bytesAtLastScr = m_bytesGenerated;
    return scr;
}

// The private stream 1 substream header of one piece (none for other streams): AC-3 keeps the
// DVD-style header it came with on its first piece, and gets one made for it otherwise (frame
// count, offset of the first access unit); other substreams keep theirs on the first piece
// and carry just the substream id after it.
size_t ProgramStreamWriter::SubstreamHeader(const Stream& s, const QueuedPacket& q, bool first,
                                            const uint8_t* data, size_t piece, uint8_t sub[4]) {
    if (s.config.key.streamId != kPrivateStream1) return 0;
    const bool ac3 = s.config.kind == StreamKind::Ac3;
    size_t subSize;
    if (first && q.subSize == 4 && ac3) {
        std::memcpy(sub, q.sub, 4);
        subSize = 4;
    } else if (ac3) {
        unsigned frames = 0;
        size_t firstUnit = 0;
        for (size_t i = 0; i + 1 < piece; ++i) {
            if (data[i] == 0x0B && data[i + 1] == 0x77) {
                if (frames++ == 0) firstUnit = i + 1;
            }
        }
        sub[1] = static_cast<uint8_t>(std::min(frames, 255u));
        sub[2] = static_cast<uint8_t>(firstUnit >> 8);
        sub[3] = static_cast<uint8_t>(firstUnit);
        subSize = 4;
    } else if (first && q.subSize > 0) {
        std::memcpy(sub, q.sub, q.subSize);
        subSize = q.subSize;
    } else {
        subSize = 1;
    }
    sub[0] = s.config.key.substreamId;
    return subSize;
}

// One PES packet: MPEG-2 header with the timestamps on the first piece (a DTS only when it
// differs from the PTS), the substream header, the payload.
void ProgramStreamWriter::WritePes(uint8_t streamId, const QueuedPacket& q, bool first, const uint8_t* sub,
                                   size_t subSize, const uint8_t* data, size_t piece) {
    bool pts = first && q.hasPts;
    bool dts = pts && q.hasDts && q.dts != q.pts;
    size_t headerData = pts ? (dts ? 10 : 5) : 0;
    size_t length = 3 + headerData + subSize + piece;
    uint8_t* o = Reserve(6 + length);
    o[0] = 0;
    o[1] = 0;
    o[2] = 1;
    o[3] = streamId;
    o[4] = static_cast<uint8_t>(length >> 8);
    o[5] = static_cast<uint8_t>(length);
    o[6] = 0x81;  // MPEG-2 syntax, not scrambled, original
    o[7] = static_cast<uint8_t>(pts ? (dts ? 0xC0 : 0x80) : 0x00);
    o[8] = static_cast<uint8_t>(headerData);
    uint8_t* w = o + 9;
    if (pts) {
        PutTimestamp(w, dts ? 3 : 2, q.pts);
        w += 5;
        if (dts) {
            PutTimestamp(w, 1, q.dts);
            w += 5;
        }
    }
    std::memcpy(w, sub, subSize);
    w += subSize;
    if (piece) std::memcpy(w, data, piece);  // an empty packet queued alone has no bytes, not even an address
    m_outUsed += 6 + length;
    m_bytesGenerated += 6 + length;
    ++m_stats.pesPacketsOut;
}

void ProgramStreamWriter::WritePackHeader(int64_t scr) {
    scr &= kTimestampMask;
    uint8_t* o = Reserve(kPackHeaderSize);
    o[0] = 0;
    o[1] = 0;
    o[2] = 1;
    o[3] = 0xBA;
    o[4] = static_cast<uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03));
    o[5] = static_cast<uint8_t>(scr >> 20);
    o[6] = static_cast<uint8_t>(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03));
    o[7] = static_cast<uint8_t>(scr >> 5);
    o[8] = static_cast<uint8_t>(((scr << 3) & 0xF8) | 0x04);  // SCR extension 0
    o[9] = 0x01;
    o[10] = static_cast<uint8_t>(m_muxRate >> 14);
    o[11] = static_cast<uint8_t>(m_muxRate >> 6);
    o[12] = static_cast<uint8_t>(((m_muxRate << 2) & 0xFC) | 0x03);
    o[13] = 0xF8;  // no stuffing
    m_outUsed += kPackHeaderSize;
    m_bytesGenerated += kPackHeaderSize;
    ++m_stats.packsOut;
}

void ProgramStreamWriter::WriteSystemHeader() {
    m_systemHeaderWritten = true;
    struct Bound {
        uint8_t id;
        uint32_t bytes;
    };
    std::vector<Bound> bounds;
    unsigned audio = 0, video = 0;
    for (const auto& s : m_streams) {
        const WriterStreamConfig& c = s->config;
        if (c.kind == StreamKind::Video || c.kind == StreamKind::H264) ++video;
        if (c.kind == StreamKind::MpegAudio || c.kind == StreamKind::Ac3 || c.kind == StreamKind::Aac)
            ++audio;
        auto same = std::find_if(bounds.begin(), bounds.end(),
                                 [&](const Bound& b) { return b.id == c.key.streamId; });
        if (same == bounds.end()) {
            bounds.push_back({c.key.streamId, c.bufferBoundBytes});
        } else {
            same->bytes = std::max(same->bytes, c.bufferBoundBytes);
        }
    }
    size_t length = 6 + 3 * bounds.size();
    uint8_t* o = Reserve(6 + length);
    o[0] = 0;
    o[1] = 0;
    o[2] = 1;
    o[3] = 0xBB;
    o[4] = static_cast<uint8_t>(length >> 8);
    o[5] = static_cast<uint8_t>(length);
    // The mux rate may be raised later, so the bound is the largest the field can hold.
    const uint32_t rateBound = 0x3FFFFF;
    o[6] = static_cast<uint8_t>(0x80 | ((rateBound >> 15) & 0x7F));
    o[7] = static_cast<uint8_t>(rateBound >> 7);
    o[8] = static_cast<uint8_t>(((rateBound << 1) & 0xFE) | 0x01);
    o[9] = static_cast<uint8_t>(std::min(audio, 63u) << 2);  // not fixed rate, not constrained
    o[10] = static_cast<uint8_t>(0x20 | std::min(video, 31u));
    o[11] = 0x7F;
    uint8_t* w = o + 12;
    for (const Bound& b : bounds) {
        bool large = b.id >= 0xE0 || b.bytes > 8191u * 128u;
        uint32_t units = large ? (b.bytes + 1023) / 1024 : (b.bytes + 127) / 128;
        units = std::min(units, 8191u);
        w[0] = b.id;
        w[1] = static_cast<uint8_t>(0xC0 | (large ? 0x20 : 0) | (units >> 8));
        w[2] = static_cast<uint8_t>(units);
        w += 3;
    }
    m_outUsed += 6 + length;
    m_bytesGenerated += 6 + length;
    WriteStreamMap();
}

void ProgramStreamWriter::WriteStreamMap() {
    // Only streams whose stream id does not name their coding go in the map: a reader takes a
    // listed type over the id, and MPEG-1 video or Layer II audio listed under a generic type
    // would come back as another codec. With no such stream there is no map at all, as before.
    std::vector<std::pair<uint8_t, uint8_t>> entries;  // stream type, stream id
    for (const auto& s : m_streams) {
        if (s->config.kind == StreamKind::H264) entries.push_back({0x1B, s->config.key.streamId});
        if (s->config.kind == StreamKind::Aac) entries.push_back({0x0F, s->config.key.streamId});
    }
    if (entries.empty()) return;
    size_t length = 10 + 4 * entries.size();
    uint8_t* o = Reserve(6 + length);
    o[0] = 0;
    o[1] = 0;
    o[2] = 1;
    o[3] = 0xBC;
    o[4] = static_cast<uint8_t>(length >> 8);
    o[5] = static_cast<uint8_t>(length);
    o[6] = 0x80;  // current, version 0
    o[7] = 0x01;  // marker
    o[8] = 0;     // no program stream descriptors
    o[9] = 0;
    o[10] = static_cast<uint8_t>((4 * entries.size()) >> 8);
    o[11] = static_cast<uint8_t>(4 * entries.size());
    uint8_t* w = o + 12;
    for (const auto& e : entries) {
        w[0] = e.first;
        w[1] = e.second;
        w[2] = 0;
        w[3] = 0;
        w += 4;
    }
    uint32_t crc = MpegCrc32(o, static_cast<size_t>(w - o));
    w[0] = static_cast<uint8_t>(crc >> 24);
    w[1] = static_cast<uint8_t>(crc >> 16);
    w[2] = static_cast<uint8_t>(crc >> 8);
    w[3] = static_cast<uint8_t>(crc);
    m_outUsed += 6 + length;
    m_bytesGenerated += 6 + length;
}

uint8_t* ProgramStreamWriter::Reserve(size_t bytes) {
    if (m_outUsed + bytes > m_out.Size()) {
        FlushOutput(true);
        if (bytes > m_out.Size()) m_out.Resize(bytes);
    }
    return m_out.Data() + m_outUsed;
}

bool ProgramStreamWriter::FlushOutput(bool force) {
    if (m_outUsed == 0 || (!force && m_outUsed < m_options.outputChunkBytes)) return !Failed();
    if (!m_sink.Write(m_out.Data(), m_outUsed)) Fail("The program stream could not be written.");
    m_stats.bytesOut += m_outUsed;
    m_outUsed = 0;
    return !Failed();
}

}  // namespace korvane::media
