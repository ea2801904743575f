#include "media/TransportStreamDecryptor.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "PesRecord.h"
#include "TsSync.h"
#include "TsTables.h"
#include "media/TransportStreamReader.h"

namespace korvane::media {
namespace {

constexpr size_t kPacket = kTsPacketSize;
constexpr size_t kPidCount = 8192;
constexpr uint16_t kNoPid = ts::kNoPid;
// A PID's keystream state takes 4.5 KiB (9.5 KiB with the AVX-512 code, Turing.h) and is kept
// for good; key packets can name all 8192 PIDs. A recording scrambles a handful: the packets
// of PIDs past this many are dropped.
constexpr size_t kMaxKeystreamPids = 64;

struct PidState {
    uint8_t streamType = 0;
    bool hasRecord = false;  // a key record has come for this PID
    uint8_t streamId = 0;
    uint32_t block = 0;
    ts::PesWalk walk;  // where the clear part of its current PES ends
};

}  // namespace

class TransportStreamDecryptor::Impl {
public:
    Impl(const TivoKeys& keys, KeystreamMaking making, DecryptLayout layout)
        : m_keystreams(keys.media, making), m_pids(kPidCount), m_keystreamPids(kPidCount),
          m_keepOffsets(layout == DecryptLayout::KeepOffsets) {
        m_carry.reserve(4 * kPacket);
    }
    // A recording uses a handful of the 8192 PIDs: their states are made on first use, which
    // keeps a megabyte of untouched state out of the process's working set.
    PidState& State(uint16_t pid) {
        std::unique_ptr<PidState>& s = m_pids[pid & (kPidCount - 1)];
        if (!s) s.reset(new PidState);
        return *s;
    }

    void Reset() {
        m_keystreams.Reset();
        for (auto& p : m_pids)
            p.reset();
        m_carry.clear();
        m_locked = false;
        m_inDamage = false;
        m_pmtPid = m_keyPid = kNoPid;
        m_patSections.Reset();
        m_pmtSections.Reset();
        m_stats = DecryptStats{};
        m_keyPackets = 0;
        m_failed = false;
    }

    bool Feed(uint8_t* data, size_t size, ByteSink& out) {
        if (m_failed) return false;
        m_stats.bytesIn += size;
        if (!m_carry.empty()) {
            size_t old = m_carry.size();
            size_t take = std::min(size, 4 * kPacket);
            m_carry.insert(m_carry.end(), data, data + take);
            size_t used = Process(m_carry.data(), m_carry.size(), false, out);
            if (m_failed) return false;
            if (used < old) {
                m_carry.erase(m_carry.begin(), m_carry.begin() + static_cast<std::ptrdiff_t>(used));
                if (take == size) return true;
                // Cannot happen (what was added completes any packet); counted as damage.
                m_stats.bytesSkipped += old - used;
                ++m_stats.damageEvents;
                m_locked = false;
                used = old;
            }
            m_carry.clear();
            data += used - old;
            size -= used - old;
        }
        size_t used = Process(data, size, false, out);
        if (m_failed) return false;
        m_carry.assign(data + used, data + size);
        return true;
    }

    bool Finish(ByteSink& out) {
        if (m_failed) return false;
        if (!m_carry.empty()) Process(m_carry.data(), m_carry.size(), true, out);
        m_carry.clear();
        return !m_failed;
    }

    bool m_failed = false;
    DecryptStats m_stats;
    uint64_t m_keyPackets = 0;

private:
    // Decrypts the whole packets in [data, data + size) and writes them out in runs; returns
    // the bytes used (the rest waits for more input unless atEnd).
    size_t Process(uint8_t* data, size_t size, bool atEnd, ByteSink& out) {
        size_t pos = 0;
        uint8_t* run = nullptr;
        size_t runSize = 0;
        auto flush = [&] {
            if (runSize && !m_failed) {
                if (!out.Write(run, runSize)) m_failed = true;
                m_stats.bytesOut += runSize;
            }
            runSize = 0;
        };
        // Bytes that go out: kept in the run while they follow it in place.
        auto pass = [&](uint8_t* p, size_t n) {
            if (run + runSize != p) flush();
            if (runSize == 0) run = p;
            runSize += n;
        };
        while (pos < size && !m_failed) {
            size_t avail = size - pos;
            if (m_locked) {
                if (avail <= kPacket && !atEnd) break;
                if (avail < kPacket) {
                    ++m_stats.truncatedUnits;
                    m_stats.bytesSkipped += avail;
                    if (m_keepOffsets) pass(data + pos, avail);
                    pos = size;
                    break;
                }
                if (data[pos] == kTsSyncByte && (avail == kPacket || data[pos + kPacket] == kTsSyncByte)) {
                    uint8_t* p = data + pos;
                    if (Packet(p) || m_keepOffsets) pass(p, kPacket);
                    pos += kPacket;
                    continue;
                }
                m_locked = false;
            }
            // Sync: three sync bytes 188 apart (fewer at the very end of the input).
            bool needMore = false;
            const size_t from = pos;
            pos = ts::SkipToSync(data, pos, size, atEnd, &m_inDamage, &m_stats, &needMore);
            if (m_keepOffsets && pos > from) pass(data + from, pos - from);
            if (needMore || pos >= size) break;
            m_locked = true;
            m_inDamage = false;
        }
        flush();
        return pos;
    }

    // One packet, in place. False: drop it (with KeepOffsets it goes out as it came, or as a
    // null packet for a key packet).
    bool Packet(uint8_t* p) {
        const ts::PacketHead h = ts::ReadHead(p);
        const uint16_t pid = h.pid;
        if (!h.payload) {
            if (h.scrambling && h.error) {
                // Flagged in error: its header cannot be trusted, its bytes may be scrambled.
                ++m_stats.packetsDropped;
                return false;
            }
            if (h.scrambling) ++m_stats.packetsClear;  // no payload: nothing is scrambled
            p[3] &= 0x3F;
            return true;
        }
        uint8_t* q = p + h.payloadAt;
        const size_t n = kPacket - h.payloadAt;
        if (!h.scrambling) {
            if (pid == 0) {
                ++m_stats.packetsClear;
                m_patSections.Feed(q, n, h.start, &m_badSections, [&](const uint8_t* s, size_t size, bool) {
                    Pat(s, size);
                    return true;
                });
            } else if (pid == m_pmtPid) {
                ++m_stats.packetsClear;
                m_pmtSections.Feed(q, n, h.start, &m_badSections, [&](const uint8_t* s, size_t size, bool whole) {
                    // A table inside this packet can be rewritten in place; one that spans
                    // packets is only read, as the packets before its end have gone out.
                    Pmt(s, size, whole ? q + (s - q) : nullptr, q + n);
                    return true;
                });
            } else if (pid == m_keyPid) {
                Keys(q, n);
                if (m_keepOffsets) ts::MakeNullPacket(p);
                return false;  // of no use once decrypted
            } else {
                ++m_stats.packetsClear;
                if (h.start && m_pids[pid]) m_pids[pid]->walk.region = ts::Region::Encrypted;  // a clear PES: nothing to walk
            }
            return true;
        }
        PidState& s = State(pid);
        if (!s.hasRecord || pid == m_keyPid || pid == m_pmtPid || pid == 0) {
            ++m_stats.packetsDropped;
            ++m_stats.missingRecords;
            if (h.start) s.walk.region = ts::Region::Encrypted;
            return false;
        }
        if (!m_keystreamPids[pid]) {
            if (m_keystreamPidCount == kMaxKeystreamPids && !m_keepOffsets) {
                ++m_stats.packetsDropped;
                return false;
            }
            m_keystreamPids[pid] = true;
            ++m_keystreamPidCount;
        }
        TuringKeystream* ks = m_keystreams.Select(pid, s.streamId, s.block);
        if (!ks) {
            m_failed = true;
            return false;
        }
        m_stats.keystreamRebuilds = m_keystreams.Rebuilds();
        if (h.start) s.walk.StartPes();
        s.walk.mpeg2Video = ts::IsMpeg2VideoType(s.streamType);
        size_t clear = ts::ClearPart(s.walk, q, n, *ks);
        ks->Xor(q + clear, n - clear);
        p[3] &= 0x3F;
        ++m_stats.packetsDecrypted;
        return true;
    }

    // A bad CRC leaves the old tables.
    void Pat(const uint8_t* s, size_t size) {
        const int pmtPid = ts::PatPmtPid(s, size);
        if (pmtPid < 0) return;
        if (pmtPid != m_pmtPid) m_pmtSections.Reset();
        m_pmtPid = static_cast<uint16_t>(pmtPid);
    }

    // Learns the stream types and the key PID. When the table stands whole in this packet
    // (writable, with the packet ending at packetEnd), the key PID is also taken out of it:
    // its packets are dropped, so the decrypted stream is the recording as it was before TiVo
    // added them (bit for bit in the known-answer recordings).
    void Pmt(const uint8_t* s, size_t size, uint8_t* writable, uint8_t* packetEnd) {
        bool complete = false;
        uint16_t keyPid = kNoPid;
        const bool read = ts::ReadPmt(s, size, &complete, [&](uint8_t type, uint16_t pid) {
            State(pid).streamType = type;
            if (type == kTsTypeTivoKeys && keyPid == kNoPid) keyPid = pid;
        });
        if (!read) return;
        m_keyPid = keyPid;
        if (writable && complete) ts::DropKeyEntries(writable, size, packetEnd);
    }

    void Keys(const uint8_t* q, size_t n) {
        const bool valid = ts::ReadKeyPacket(q, n, [&](uint16_t pid, uint8_t streamId, const uint8_t* record) {
            if (!pes::RecordValid(record)) {
                ++m_stats.invalidRecords;
                return;
            }
            PidState& s = State(pid);
            s.hasRecord = true;
            s.streamId = streamId;
            s.block = pes::RecordBlock(record);
        });
        if (!valid)
            ++m_stats.invalidRecords;
        else
            ++m_keyPackets;
    }

    KeystreamSet m_keystreams;
    std::vector<std::unique_ptr<PidState>> m_pids;
    // The PIDs m_keystreams holds a state for, kept over Reset as the states are.
    std::vector<bool> m_keystreamPids;
    size_t m_keystreamPidCount = 0;
    std::vector<uint8_t> m_carry;
    bool m_locked = false;
    bool m_inDamage = false;
    uint16_t m_pmtPid = kNoPid;
    uint16_t m_keyPid = kNoPid;
    ts::SectionAssembler m_patSections, m_pmtSections;
    uint64_t m_badSections = 0;  // the reader after us counts these
    const bool m_keepOffsets;
};

TransportStreamDecryptor::TransportStreamDecryptor(const TivoKeys& keys, KeystreamMaking making,
                                                   DecryptLayout layout)
    : m_impl(new Impl(keys, making, layout)) {}
TransportStreamDecryptor::~TransportStreamDecryptor() = default;

bool TransportStreamDecryptor::Feed(uint8_t* data, size_t size, ByteSink& out) {
    return m_impl->Feed(data, size, out);
}
bool TransportStreamDecryptor::Finish(ByteSink& out) {
    return m_impl->Finish(out);
}
void TransportStreamDecryptor::Reset() {
    m_impl->Reset();
}
bool TransportStreamDecryptor::Failed() const {
    return m_impl->m_failed;
}
const DecryptStats& TransportStreamDecryptor::Stats() const {
    return m_impl->m_stats;
}
uint64_t TransportStreamDecryptor::KeyPackets() const {
    return m_impl->m_keyPackets;
}

}  // namespace korvane::media
