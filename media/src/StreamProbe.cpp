#include "media/StreamProbe.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace korvane::media {

const char* PayloadKindName(PayloadKind kind) {
    switch (kind) {
    case PayloadKind::ProgramStream:
        return "program stream";
    case PayloadKind::TransportStream:
        return "transport stream";
    case PayloadKind::Unknown:
        break;
    }
    return "unknown";
}

namespace {

constexpr size_t kTsPacket = 188;
constexpr int kTsRun = 5;  // sync bytes in a row that make a transport stream

bool IsPackHeader(const uint8_t* p, size_t avail) {
    if (avail < 12 || p[0] != 0 || p[1] != 0 || p[2] != 1 || p[3] != 0xBA) return false;
    if ((p[4] & 0xC0) == 0x40)
        return avail >= 14 && (p[4] & 0x04) && (p[6] & 0x04) && (p[8] & 0x04) && (p[9] & 0x01) &&
               (p[12] & 0x03) == 0x03;
    if ((p[4] & 0xF0) == 0x20)
        return (p[4] & 0x01) && (p[6] & 0x01) && (p[8] & 0x01) && (p[9] & 0x80) && (p[11] & 0x01);
    return false;
}

// A run of sync bytes 188 apart; a short file may hold fewer packets than the run needs.
bool IsTsRun(const uint8_t* data, size_t size, size_t at) {
    int seen = 0;
    for (size_t i = at; i < size && seen < kTsRun; i += kTsPacket, ++seen)
        if (data[i] != 0x47) return false;
    return seen >= 2 || (seen == 1 && size - at == kTsPacket);
}

size_t FindPack(const uint8_t* data, size_t size) {
    for (size_t i = 0; i + 4 <= size;) {
        const void* hit = std::memchr(data + i, 0xBA, size - i);
        if (!hit) break;
        size_t j = static_cast<const uint8_t*>(hit) - data;
        if (j >= 3 && IsPackHeader(data + j - 3, size - (j - 3))) return j - 3;
        i = j + 1;
    }
    return std::string::npos;
}

size_t FindTs(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size;) {
        const void* hit = std::memchr(data + i, 0x47, size - i);
        if (!hit) break;
        size_t j = static_cast<const uint8_t*>(hit) - data;
        if (IsTsRun(data, size, j)) return j;
        i = j + 1;
    }
    return std::string::npos;
}

}  // namespace

PayloadSniff SniffPayload(const uint8_t* data, size_t size) {
    PayloadSniff sniff;
    size_t pack = FindPack(data, size);
    size_t ts = FindTs(data, size);
    if (pack == std::string::npos && ts == std::string::npos) return sniff;
    if (ts == std::string::npos || (pack != std::string::npos && pack < ts)) {
        sniff.kind = PayloadKind::ProgramStream;
        sniff.syncOffset = pack;
        return sniff;
    }
    sniff.kind = PayloadKind::TransportStream;
    sniff.syncOffset = ts;
    for (size_t i = ts; i + 4 <= size && data[i] == 0x47; i += kTsPacket) {
        unsigned pid = (data[i + 1] & 0x1F) << 8 | data[i + 2];
        if (pid != 0x1FFF && (data[i + 3] & 0xC0) != 0) {
            sniff.scrambled = true;
            break;
        }
    }
    return sniff;
}

bool StreamProber::Collector::OnPacket(const PesPacket& packet) {
    for (ProbedStream& s : streams) {
        if (s.key == packet.key) {
            ++s.packets;
            if (!s.hasPts && packet.hasPts) {
                s.hasPts = true;
                s.firstPts = packet.pts;
            }
            return true;
        }
    }
    ProbedStream s;
    s.key = packet.key;
    s.kind = packet.kind;
    s.hasPts = packet.hasPts;
    s.firstPts = packet.pts;
    s.packets = 1;
    s.firstOffset = packet.offset;
    streams.push_back(s);
    return true;
}

StreamProber::StreamProber(PayloadKind kind) : m_transport(kind == PayloadKind::TransportStream) {}

void StreamProber::Feed(const uint8_t* data, size_t size) {
    if (m_transport) {
        m_tsReader.Feed(data, size, m_collector);
    } else {
        m_reader.Feed(data, size, m_collector);
    }
}

ProbeResult StreamProber::Finish() {
    ProbeResult result;
    if (m_transport) {
        m_tsReader.Finish(m_collector);
        result.scrambled = m_tsReader.Status() == ReaderStatus::Encrypted;
        result.tsStreams = m_tsReader.Streams();
        result.tsStats = m_tsReader.Stats();
    } else {
        m_reader.Finish(m_collector);
        result.scrambled = m_reader.Status() == ReaderStatus::Encrypted;
        result.stats = m_reader.Stats();
    }
    result.streams = std::move(m_collector.streams);
    auto rank = [](StreamKind k) {
        switch (k) {
        case StreamKind::Video:
        case StreamKind::H264:
            return 0;
        case StreamKind::MpegAudio:
        case StreamKind::Aac:
            return 1;
        case StreamKind::Ac3:
            return 2;
        case StreamKind::Other:
            break;
        }
        return 3;
    };
    std::stable_sort(result.streams.begin(), result.streams.end(),
                     [&](const ProbedStream& a, const ProbedStream& b) {
                         int ra = rank(a.kind), rb = rank(b.kind);
                         return ra != rb ? ra < rb : a.key < b.key;
                     });
    return result;
}

ProbeResult ProbeProgramStream(const uint8_t* data, size_t size) {
    StreamProber prober;
    prober.Feed(data, size);
    return prober.Finish();
}

ProbeResult ProbeTransportStream(const uint8_t* data, size_t size) {
    StreamProber prober(PayloadKind::TransportStream);
    prober.Feed(data, size);
    return prober.Finish();
}

}  // namespace korvane::media
