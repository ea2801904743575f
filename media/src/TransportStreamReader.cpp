#include "media/TransportStreamReader.h"

#include "TsSections.h"
#include "TsSync.h"

#include <algorithm>
#include <cstring>

namespace korvane::media {
namespace {

constexpr uint16_t kPatPid = 0x0000;
constexpr uint16_t kNullPid = 0x1FFF;
constexpr size_t kPidCount = 8192;

inline int64_t ReadTimestamp(const uint8_t* p) {
    return (int64_t(p[0] >> 1) & 7) << 30 | int64_t(p[1]) << 22 | int64_t(p[2] >> 1) << 15 |
           int64_t(p[3]) << 7 | int64_t(p[4] >> 1);
}

}  // namespace

StreamKind ClassifyTsStream(uint8_t streamType, bool ac3Descriptor) {
    switch (streamType) {
    case kTsTypeMpeg1Video:
    case kTsTypeMpeg2Video:
        return StreamKind::Video;
    case kTsTypeH264:
        return StreamKind::H264;
    case kTsTypeMpeg1Audio:
    case kTsTypeMpeg2Audio:
        return StreamKind::MpegAudio;
    case kTsTypeAacAdts:
        return StreamKind::Aac;
    // E-AC-3 travels as AC-3 does, in private stream 1: ffmpeg reads it back from there as
    // E-AC-3 with the same bytes and timestamps.
    case kTsTypeAc3:
    case kTsTypeEac3:
        return StreamKind::Ac3;
    case kTsTypePrivatePes:
        return ac3Descriptor ? StreamKind::Ac3 : StreamKind::Other;
    default:
        break;
    }
    return StreamKind::Other;
}

std::string DescribeTsStream(uint8_t streamType, bool ac3Descriptor, bool eac3Descriptor) {
    switch (streamType) {
    case kTsTypeMpeg1Video:
        return "MPEG-1 video";
    case kTsTypeMpeg2Video:
        return "MPEG-2 video";
    case kTsTypeH264:
        return "H.264 video";
    case kTsTypeMpeg1Audio:
        return "MPEG-1 audio";
    case kTsTypeMpeg2Audio:
        return "MPEG-2 audio";
    case kTsTypeAacAdts:
        return "AAC audio";
    case kTsTypeAc3:
        return "AC-3 audio";
    case kTsTypeEac3:
        return "E-AC-3 audio";
    case kTsTypeTivoKeys:
        return "TiVo key records (skipped)";
    case kTsTypePrivatePes:
        if (eac3Descriptor) return "E-AC-3 audio";
        if (ac3Descriptor) return "AC-3 audio";
        return "private data (skipped)";
    case 0x05:
        return "private sections (skipped)";
    case 0x86:
        return "SCTE-35 cues (skipped)";
    default:
        break;
    }
    static const char* const hex = "0123456789ABCDEF";
    std::string text = "stream type 0x";
    text += hex[streamType >> 4];
    text += hex[streamType & 15];
    return text + " (skipped)";
}

struct TransportStreamReader::PidState {
    int lastCc = -1;
    ts::SectionAssembler sections;  // PAT or PMT
    // PES being reassembled.
    bool active = false;
    bool continuation = false;  // pes holds payload bytes only (a later piece of a long PES)
    size_t expected = 0;        // whole PES size from its length field; 0 unbounded or not yet known
    uint64_t offset = 0;        // stream offset of the packet that started it
    std::vector<uint8_t> pes;
    // The key this PID was given; kept across PMT versions while its kind stays the same.
    bool hasKey = false;
    StreamKind kind = StreamKind::Other;
    StreamKey key;
};

TransportStreamReader::TransportStreamReader() : m_pids(kPidCount, nullptr) {
    m_carry.reserve(2048);
}

TransportStreamReader::~TransportStreamReader() {
    for (PidState* p : m_pids)
        delete p;
}

void TransportStreamReader::Reset() {
    for (PidState*& p : m_pids) {
        delete p;
        p = nullptr;
    }
    m_carry.clear();
    m_carryOffset = 0;
    m_locked = false;
    m_inDamage = false;
    m_packetOffset = 0;
    m_status = ReaderStatus::Ok;
    m_stats = TsReaderStats{};
    m_streams.clear();
    m_pmtPid = 0xFFFF;
    m_programNumber = 0;
    m_pmtVersion = -1;
    m_nextVideo = 0xE0;
    m_nextAudio = 0xC0;
    m_nextAc3 = 0x80;
    m_share = kTsReassemblyBudget;
    m_reassemblyBytes = 0;
}

std::string TransportStreamReader::ErrorText() const {
    return m_status == ReaderStatus::Encrypted ? kEncryptedPayloadText : "";
}

TransportStreamReader::PidState& TransportStreamReader::State(uint16_t pid) {
    PidState*& s = m_pids[pid & (kPidCount - 1)];
    if (!s) s = new PidState;
    return *s;
}

const TsStream* TransportStreamReader::StreamOf(uint16_t pid) const {
    for (const TsStream& s : m_streams)
        if (s.pid == pid) return &s;
    return nullptr;
}

bool TransportStreamReader::Feed(const uint8_t* data, size_t size, PacketHandler& handler) {
    if (m_status != ReaderStatus::Ok) return false;
    m_handler = &handler;
    uint64_t dataOffset = m_stats.bytesIn;
    m_stats.bytesIn += size;
    if (!m_carry.empty()) {
        // Finish the packet (or sync window) left from the last chunk in the carry buffer,
        // then go on straight in the caller's data.
        size_t old = m_carry.size();
        size_t take = std::min(size, 4 * kTsPacketSize);
        m_carry.insert(m_carry.end(), data, data + take);
        size_t used = ParseBuffer(m_carry.data(), m_carry.size(), m_carryOffset, false);
        if (m_status != ReaderStatus::Ok) return false;
        if (used < old) {
            // Still short of a whole packet: everything taken stays carried.
            m_carry.erase(m_carry.begin(), m_carry.begin() + static_cast<std::ptrdiff_t>(used));
            m_carryOffset += used;
            if (take == size) return true;
            // Cannot happen (a packet or sync window is shorter than what was added); should
            // it, the carried bytes count as damage rather than stall the reader.
            m_stats.bytesSkipped += old - used;
            ++m_stats.damageEvents;
            m_locked = false;
            used = old;
        }
        m_carry.clear();
        data += used - old;
        size -= used - old;
        dataOffset += used - old;
    }
    size_t used = ParseBuffer(data, size, dataOffset, false);
    if (m_status != ReaderStatus::Ok) return false;
    m_carry.assign(data + used, data + size);
    m_carryOffset = dataOffset + used;
    return true;
}

bool TransportStreamReader::Finish(PacketHandler& handler) {
    if (m_status != ReaderStatus::Ok) return false;
    m_handler = &handler;
    if (!m_carry.empty()) ParseBuffer(m_carry.data(), m_carry.size(), m_carryOffset, true);
    m_carry.clear();
    for (const TsStream& s : m_streams) {
        if (m_status != ReaderStatus::Ok) break;
        PidState& st = State(s.pid);
        if (s.carried && st.active) FlushPes(st, s, false);
    }
    return m_status == ReaderStatus::Ok;
}

size_t TransportStreamReader::ParseBuffer(const uint8_t* data, size_t size, uint64_t base, bool atEnd) {
    size_t pos = 0;
    while (pos < size && m_status == ReaderStatus::Ok) {
        size_t avail = size - pos;
        if (m_locked) {
            if (avail <= kTsPacketSize && !atEnd) break;
            if (avail < kTsPacketSize) {
                // A packet cut short by the end of the input.
                m_stats.bytesSkipped += avail;
                ++m_stats.damageEvents;
                pos = size;
                break;
            }
            // A packet counts only if the next one starts where it ends: garbage that cuts a
            // packet short must not be read as that packet's payload.
            if (data[pos] == kTsSyncByte &&
                (avail == kTsPacketSize || data[pos + kTsPacketSize] == kTsSyncByte)) {
                m_packetOffset = base + pos;
                ParsePacket(data + pos);
                pos += kTsPacketSize;
                continue;
            }
            m_locked = false;
        }
        // Look for sync: skip what cannot start a packet, stop at a candidate that needs more
        // bytes to judge.
        bool needMore = false;
        pos = ts::SkipToSync(data, pos, size, atEnd, &m_inDamage, &m_stats, &needMore);
        if (needMore || pos >= size) break;
        m_locked = true;
        m_inDamage = false;
    }
    return pos;
}

void TransportStreamReader::ParsePacket(const uint8_t* p) {
    ++m_stats.packets;
    if (p[1] & 0x80) {
        // transport_error_indicator: nothing in the packet (not even its PID) can be trusted.
        ++m_stats.errorPackets;
        return;
    }
    const bool start = (p[1] & 0x40) != 0;
    const uint16_t pid = static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]);
    const unsigned scrambling = p[3] >> 6;
    const unsigned adaptation = (p[3] >> 4) & 3;
    const int cc = p[3] & 0x0F;
    if (pid == kNullPid) {
        ++m_stats.nullPackets;
        return;
    }
    if (adaptation == 0) {
        ++m_stats.errorPackets;
        return;
    }
    size_t payloadStart = 4;
    bool discontinuity = false;
    if (adaptation & 2) {
        size_t length = p[4];
        if (length > (adaptation == 3 ? 182u : 183u)) {
            ++m_stats.errorPackets;
            return;
        }
        discontinuity = length > 0 && (p[5] & 0x80);
        payloadStart = 5 + length;
    }
    const bool hasPayload = (adaptation & 1) != 0;

    const bool psi = pid == kPatPid || pid == m_pmtPid;
    const TsStream* stream = psi ? nullptr : StreamOf(pid);
    const bool wanted = psi || (stream && stream->carried);
    if (!wanted) {
        ++m_stats.skippedPackets;
        return;
    }
    PidState& state = State(pid);
    if (hasPayload) {
        if (state.lastCc >= 0 && !discontinuity) {
            if (cc == state.lastCc) {
                ++m_stats.duplicatePackets;
                return;
            }
            if (cc != ((state.lastCc + 1) & 15)) ++m_stats.continuityErrors;
        }
        state.lastCc = cc;
    }
    if (!hasPayload || payloadStart >= kTsPacketSize) return;

    if (scrambling != 0) {
        ++m_stats.scrambledPackets;
        if (stream) {
            m_status = ReaderStatus::Encrypted;
            return;
        }
    }
    if ((p[3] >> 6) != 0) {
        // Still scrambled after the filter: never pass such bytes on.
        ++m_stats.scrambledPackets;
        return;
    }
    if (psi) {
        state.sections.Feed(p + payloadStart, kTsPacketSize - payloadStart, start, &m_stats.badSections,
                            [&](const uint8_t* section, size_t size, bool) {
                                OnSection(pid, section, size);
                                return m_status == ReaderStatus::Ok;
                            });
    } else {
        OnPesData(state, *stream, p + payloadStart, kTsPacketSize - payloadStart, start);
    }
}

void TransportStreamReader::OnSection(uint16_t pid, const uint8_t* s, size_t size) {
    if (!ts::LongSectionValid(s, size)) {
        ++m_stats.badSections;
        return;
    }
    if (!(s[5] & 1)) return;  // a table announced for later: the current one still holds
    if (pid == kPatPid && s[0] == 0x00) {
        OnPat(s, size);
    } else if (pid == m_pmtPid && s[0] == 0x02) {
        OnPmt(s, size);
    }
}

void TransportStreamReader::OnPat(const uint8_t* s, size_t size) {
    for (size_t i = 8; i + 4 <= size - 4; i += 4) {
        uint16_t program = static_cast<uint16_t>(s[i] << 8 | s[i + 1]);
        uint16_t pid = static_cast<uint16_t>((s[i + 2] & 0x1F) << 8 | s[i + 3]);
        if (program == 0) continue;  // the network PID
        if (pid != m_pmtPid || program != m_programNumber) {
            // The old PMT PID is read no more: a table half put together there is of no use.
            if (m_pmtPid != pid && m_pmtPid < kPidCount && m_pids[m_pmtPid])
                m_pids[m_pmtPid]->sections = ts::SectionAssembler{};
            m_pmtPid = pid;
            m_programNumber = program;
            m_pmtVersion = -1;
        }
        return;
    }
}

void TransportStreamReader::OnPmt(const uint8_t* s, size_t size) {
    uint16_t program = static_cast<uint16_t>(s[3] << 8 | s[4]);
    if (program != m_programNumber) return;
    int version = (s[5] >> 1) & 0x1F;
    if (version == m_pmtVersion) return;
    const size_t end = size - 4;
    size_t infoLength = size_t(s[10] & 0x0F) << 8 | s[11];
    if (12 + infoLength > end) {
        ++m_stats.badSections;
        return;
    }
    std::vector<TsStream> streams;
    for (size_t i = 12 + infoLength; i + 5 <= end;) {
        TsStream t;
        t.streamType = s[i];
        t.pid = static_cast<uint16_t>((s[i + 1] & 0x1F) << 8 | s[i + 2]);
        size_t esInfo = size_t(s[i + 3] & 0x0F) << 8 | s[i + 4];
        if (i + 5 + esInfo > end) {
            ++m_stats.badSections;
            return;
        }
        bool ac3 = false, eac3 = false;
        for (size_t d = i + 5; d + 2 <= i + 5 + esInfo;) {
            uint8_t tag = s[d], length = s[d + 1];
            if (d + 2 + length > i + 5 + esInfo) break;
            // AC-3: the DVB AC-3 descriptor, the ATSC audio descriptor, or the "AC-3"
            // registration; E-AC-3: their enhanced counterparts.
            if (tag == 0x6A || tag == 0x81) ac3 = true;
            if (tag == 0x7A || tag == 0xCC) eac3 = true;
            if (tag == 0x05 && length >= 4 && std::memcmp(s + d + 2, "AC-3", 4) == 0) ac3 = true;
            if (tag == 0x05 && length >= 4 && std::memcmp(s + d + 2, "EAC3", 4) == 0) eac3 = true;
            d += 2 + length;
        }
        t.kind = ClassifyTsStream(t.streamType, ac3 || eac3);
        t.description = DescribeTsStream(t.streamType, ac3, eac3);
        i += 5 + esInfo;
        if (t.pid == kPatPid || t.pid == m_pmtPid || t.pid == kNullPid) continue;
        streams.push_back(t);
    }
    m_pmtVersion = version;
    ++m_stats.pmtVersions;

    // PES still being assembled for a PID that leaves the program (or changes kind) go out now,
    // and its buffer goes back to the budget.
    for (const TsStream& old : m_streams) {
        if (!old.carried) continue;
        bool kept = false;
        for (const TsStream& t : streams)
            if (t.pid == old.pid && t.kind == old.kind) kept = true;
        if (kept) continue;
        PidState& st = State(old.pid);
        if (st.active) FlushPes(st, old, false);
        Release(st);
    }
    for (TsStream& t : streams) {
        if (t.kind == StreamKind::Other) continue;
        PidState& st = State(t.pid);
        if (!st.hasKey || st.kind != t.kind) {
            StreamKey key;
            bool ok = true;
            switch (t.kind) {
            case StreamKind::Video:
            case StreamKind::H264:
                ok = m_nextVideo <= 0xEF;
                key.streamId = m_nextVideo++;
                break;
            case StreamKind::MpegAudio:
            case StreamKind::Aac:
                ok = m_nextAudio <= 0xDF;
                key.streamId = m_nextAudio++;
                break;
            case StreamKind::Ac3:
                ok = m_nextAc3 <= 0x87;
                key.streamId = kPrivateStream1;
                key.substreamId = m_nextAc3++;
                break;
            case StreamKind::Other:
                ok = false;
                break;
            }
            if (!ok) {
                t.description += " (skipped: too many streams)";
                t.kind = StreamKind::Other;
                continue;
            }
            Release(st);
            st = PidState{};
            st.hasKey = true;
            st.kind = t.kind;
            st.key = key;
        }
        t.key = st.key;
        t.carried = true;
    }
    m_streams = std::move(streams);
    FitShares();
}

void TransportStreamReader::FitShares() {
    size_t carried = 0;
    for (const TsStream& t : m_streams)
        carried += t.carried;
    m_share = kTsReassemblyBudget / std::max<size_t>(carried, 1);
    // A stream holding more than its new share delivers what it has (a PES with a length field
    // never holds that much) and gives the rest of its buffer back.
    for (const TsStream& t : m_streams) {
        if (!t.carried) continue;
        PidState& st = State(t.pid);
        if (st.pes.capacity() <= m_share) continue;
        if (st.active && st.expected == 0 && st.pes.size() + kTsPacketSize > m_share) DeliverPiece(st, t);
        std::vector<uint8_t> kept(st.pes);
        m_reassemblyBytes -= st.pes.capacity();
        m_reassemblyBytes += kept.capacity();
        st.pes.swap(kept);
    }
}

void TransportStreamReader::Reserve(PidState& state, size_t bytes) {
    const size_t had = state.pes.capacity();
    if (bytes <= had) return;
    // Geometric growth, but never past the stream's share of the budget.
    state.pes.reserve(std::max(bytes, std::min(m_share, std::max<size_t>(2 * had, 4096))));
    m_reassemblyBytes += state.pes.capacity() - had;
}

void TransportStreamReader::Release(PidState& state) {
    m_reassemblyBytes -= state.pes.capacity();
    std::vector<uint8_t>().swap(state.pes);
}

void TransportStreamReader::DeliverPiece(PidState& state, const TsStream& stream) {
    FlushPes(state, stream, true);
    state.active = true;
    state.continuation = true;
}

void TransportStreamReader::OnPesData(PidState& state, const TsStream& stream, const uint8_t* p, size_t size,
                                      bool start) {
    if (start) {
        if (state.active) FlushPes(state, stream, false);
        if (m_status != ReaderStatus::Ok) return;
        state.active = true;
        state.continuation = false;
        state.expected = 0;
        state.offset = m_packetOffset;
        state.pes.clear();
    } else if (!state.active) {
        return;  // the middle of a PES whose start we never saw
    } else if (state.expected == 0 && state.pes.size() + size > m_share) {
        DeliverPiece(state, stream);
    }
    Reserve(state, state.pes.size() + size);
    state.pes.insert(state.pes.end(), p, p + size);
    if (!state.continuation && state.expected == 0 && state.pes.size() >= 6) {
        size_t length = size_t(state.pes[4]) << 8 | state.pes[5];
        if (length) state.expected = 6 + length;
    }
    if (state.expected && state.pes.size() >= state.expected) {
        // The rest of the packet is stuffing after a bounded PES.
        state.pes.resize(state.expected);
        FlushPes(state, stream, true);
    }
}

void TransportStreamReader::FlushPes(PidState& state, const TsStream& stream, bool complete) {
    state.active = false;
    if (!complete && state.expected && state.pes.size() < state.expected) ++m_stats.truncatedPes;
    PesPacket packet;
    packet.key = stream.key;
    packet.kind = stream.kind;
    packet.offset = state.offset;
    const uint8_t* b = state.pes.data();
    const uint8_t* end = b + state.pes.size();
    const uint8_t* payload = b;
    if (!state.continuation) {
        if (state.pes.size() < 9 || b[0] != 0 || b[1] != 0 || b[2] != 1 || (b[6] & 0xC0) != 0x80) {
            ++m_stats.badPes;
            state.pes.clear();
            return;
        }
        if (b[6] & 0x30) {
            m_status = ReaderStatus::Encrypted;
            return;
        }
        uint8_t flags = b[7];
        size_t headerLength = b[8];
        unsigned ptsDts = flags >> 6;
        if (9 + headerLength > state.pes.size() || (ptsDts == 2 && headerLength < 5) ||
            (ptsDts == 3 && headerLength < 10) || ptsDts == 1) {
            ++m_stats.badPes;
            state.pes.clear();
            return;
        }
        if (ptsDts >= 2) {
            packet.hasPts = true;
            packet.pts = ReadTimestamp(b + 9);
        }
        if (ptsDts == 3) {
            packet.hasDts = true;
            packet.dts = ReadTimestamp(b + 14);
        }
        payload = b + 9 + headerLength;
    }
    packet.payload = payload;
    packet.payloadSize = static_cast<size_t>(end - payload);
    if (packet.payloadSize > 0) {
        ++m_stats.pesPackets;
        if (!m_handler->OnPacket(packet)) m_status = ReaderStatus::Stopped;
    }
    state.pes.clear();
}

}  // namespace korvane::media
