#include "media/TransportStreamDecryptor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "PesRecord.h"
#include "TsClearPart.h"
#include "TsSections.h"
#include "TsSync.h"
#include "media/MpegStreams.h"
#include "media/TivoContainer.h"
#include "media/TivoMetadata.h"
#include "media/TransportStreamReader.h"

namespace korvane::media {
namespace {

constexpr size_t kPacket = kTsPacketSize;
constexpr size_t kPidCount = 8192;
constexpr uint16_t kNoPid = 0xFFFF;
constexpr size_t kKeyEntrySize = 20;
// A PID's keystream state takes 4.5 KiB (9.5 KiB with the AVX-512 code, Turing.h) and is kept
// for good; key packets can name all 8192 PIDs. A recording scrambles a handful: the packets
// of PIDs past this many are dropped.
constexpr size_t kMaxKeystreamPids = 64;

struct PidState {
    uint8_t streamType = 0;
    bool listed = false;     // in the current PMT
    bool hasRecord = false;  // a key record has come for this PID
    uint8_t streamId = 0;
    uint32_t block = 0;
    ts::PesWalk walk;  // where the clear part of its current PES ends
};

}  // namespace

class TransportStreamDecryptor::Impl {
public:
    Impl(const TivoKeys& keys, KeystreamMaking making)
        : m_keystreams(keys.media, making), m_pids(kPidCount), m_keystreamPids(kPidCount) {
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
        while (pos < size && !m_failed) {
            size_t avail = size - pos;
            if (m_locked) {
                if (avail <= kPacket && !atEnd) break;
                if (avail < kPacket) {
                    ++m_stats.truncatedUnits;
                    m_stats.bytesSkipped += avail;
                    pos = size;
                    break;
                }
                if (data[pos] == kTsSyncByte && (avail == kPacket || data[pos + kPacket] == kTsSyncByte)) {
                    uint8_t* p = data + pos;
                    if (Packet(p)) {
                        if (run + runSize != p) flush();
                        if (runSize == 0) run = p;
                        runSize += kPacket;
                    }
                    pos += kPacket;
                    continue;
                }
                m_locked = false;
            }
            // Sync: three sync bytes 188 apart (fewer at the very end of the input).
            bool needMore = false;
            pos = ts::SkipToSync(data, pos, size, atEnd, &m_inDamage, &m_stats, &needMore);
            if (needMore || pos >= size) break;
            m_locked = true;
            m_inDamage = false;
        }
        flush();
        return pos;
    }

    // One packet, in place. False: drop it.
    bool Packet(uint8_t* p) {
        const uint16_t pid = static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]);
        const bool start = (p[1] & 0x40) != 0;
        const unsigned scrambling = p[3] >> 6;
        const unsigned adaptation = (p[3] >> 4) & 3;
        size_t at = 4;
        if (adaptation & 2) at = 5 + size_t(p[4]);
        const bool payload = (adaptation & 1) && at < kPacket && !(p[1] & 0x80);
        if (!payload) {
            if (scrambling && (p[1] & 0x80)) {
                // Flagged in error: its header cannot be trusted, its bytes may be scrambled.
                ++m_stats.packetsDropped;
                return false;
            }
            if (scrambling) ++m_stats.packetsClear;  // no payload: nothing is scrambled
            p[3] &= 0x3F;
            return true;
        }
        uint8_t* q = p + at;
        const size_t n = kPacket - at;
        if (!scrambling) {
            if (pid == m_keyPid && m_keyPid != kNoPid) {
                Keys(q, n);
                return false;  // of no use once decrypted
            }
            ++m_stats.packetsClear;
            if (pid == 0)
                m_patSections.Feed(q, n, start, &m_badSections, [&](const uint8_t* s, size_t size, bool) {
                    Pat(s, size);
                    return true;
                });
            else if (pid == m_pmtPid)
                m_pmtSections.Feed(q, n, start, &m_badSections,
                                   [&](const uint8_t* s, size_t size, bool whole) {
                                       // A table inside this packet can be rewritten in place; one that spans
                                       // packets is only read, as the packets before its end have gone out.
                                       Pmt(s, size, whole ? q + (s - q) : nullptr, q + n);
                                       return true;
                                   });
            else if (start && m_pids[pid])
                m_pids[pid]->walk.region = ts::Region::Encrypted;  // a clear PES: nothing to walk
            return true;
        }
        PidState& s = State(pid);
        if (!s.hasRecord || pid == m_keyPid || pid == m_pmtPid || pid == 0) {
            ++m_stats.packetsDropped;
            ++m_stats.missingRecords;
            if (start) s.walk.region = ts::Region::Encrypted;
            return false;
        }
        if (!m_keystreamPids[pid]) {
            if (m_keystreamPidCount == kMaxKeystreamPids) {
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
        if (start) s.walk.StartPes();
        s.walk.mpeg2Video = s.streamType == kTsTypeMpeg1Video || s.streamType == kTsTypeMpeg2Video;
        size_t clear = ClearPart(s.walk, q, n, *ks);
        ks->Xor(q + clear, n - clear);
        p[3] &= 0x3F;
        ++m_stats.packetsDecrypted;
        return true;
    }

    // The clear part of this packet's payload. Where a start code may begin, the bytes are
    // either a clear header's start code or, decrypted with the next keystream bytes (clear
    // bytes use none), the first slice's.
    static size_t ClearPart(ts::PesWalk& walk, const uint8_t* q, size_t n, const TuringKeystream& ks) {
        bool havePeek = false;
        uint8_t peek[5];
        return ts::ClearPrefix(walk, q, n, [&](const uint8_t* at, size_t avail) {
            if (!havePeek) {
                TuringKeystream copy = ks;  // look ahead without using the bytes
                copy.Generate(peek, sizeof peek);
                havePeek = true;
            }
            return ts::JudgeScrambled(at, avail, peek);
        });
    }

    // A bad CRC leaves the old tables.
    void Pat(const uint8_t* s, size_t size) {
        if (!ts::LongSectionValid(s, size) || s[0] != 0x00) return;
        for (size_t i = 8; i + 4 <= size - 4; i += 4) {
            uint16_t program = static_cast<uint16_t>(s[i] << 8 | s[i + 1]);
            if (program == 0) continue;
            const uint16_t pmtPid = static_cast<uint16_t>((s[i + 2] & 0x1F) << 8 | s[i + 3]);
            if (pmtPid != m_pmtPid) m_pmtSections.Reset();
            m_pmtPid = pmtPid;
            return;
        }
    }

    // Learns the stream types and the key PID. When the table stands whole in this packet
    // (writable, with the packet ending at packetEnd), the key PID is also taken out of it:
    // its packets are dropped, so the decrypted stream is the recording as it was before TiVo
    // added them (bit for bit in the known-answer recordings).
    void Pmt(const uint8_t* s, size_t size, uint8_t* writable, uint8_t* packetEnd) {
        if (!ts::LongSectionValid(s, size) || s[0] != 0x02) return;
        const size_t end = size - 4;
        size_t i = 12 + (size_t(s[10] & 0x0F) << 8 | s[11]);
        if (i > end) return;
        for (auto& p : m_pids)
            if (p) p->listed = false;
        m_keyPid = kNoPid;
        for (size_t at = i; at + 5 <= end;) {
            const uint16_t pid = static_cast<uint16_t>((s[at + 1] & 0x1F) << 8 | s[at + 2]);
            const size_t entry = 5 + (size_t(s[at + 3] & 0x0F) << 8 | s[at + 4]);
            if (at + entry > end) return;
            State(pid).streamType = s[at];
            State(pid).listed = true;
            if (s[at] == kTsTypeTivoKeys && m_keyPid == kNoPid) m_keyPid = pid;
            at += entry;
        }
        if (writable) DropKeyEntries(writable, i, end, packetEnd);
    }

    // Takes the key PID entries out of a PMT section at s (entries from `first` to `end`) and
    // fills what it frees, up to the packet's end, with 0xFF.
    static void DropKeyEntries(uint8_t* s, size_t first, size_t end, uint8_t* packetEnd) {
        size_t kept = first, i = first;  // where the next kept entry goes
        while (i + 5 <= end) {
            const size_t entry = 5 + (size_t(s[i + 3] & 0x0F) << 8 | s[i + 4]);
            if (s[i] != kTsTypeTivoKeys) {
                std::memmove(s + kept, s + i, entry);
                kept += entry;
            }
            i += entry;
        }
        if (kept == i) return;
        const size_t length = kept + 4 - 3;
        s[1] = static_cast<uint8_t>((s[1] & 0xF0) | (length >> 8));
        s[2] = static_cast<uint8_t>(length);
        const uint32_t crc = MpegCrc32(s, kept);
        for (int k = 0; k < 4; ++k)
            s[kept + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
        std::memset(s + kept + 4, 0xFF, static_cast<size_t>(packetEnd - (s + kept + 4)));
    }

    // "TiVo", 0x81 0x03, two bytes, a 16-bit count of the bytes that follow, then 20-byte
    // entries: PID, stream id, one byte, the 16-byte record.
    void Keys(const uint8_t* q, size_t n) {
        if (n < 10 || std::memcmp(q, "TiVo", 4) != 0 || q[4] != 0x81 || q[5] != 0x03) {
            ++m_stats.invalidRecords;
            return;
        }
        ++m_keyPackets;
        size_t bytes = std::min(n - 10, size_t(q[8]) << 8 | q[9]);
        for (size_t e = 10; e + kKeyEntrySize <= 10 + bytes; e += kKeyEntrySize) {
            uint16_t pid = static_cast<uint16_t>((q[e] & 0x1F) << 8 | q[e + 1]);
            const uint8_t* record = q + e + 4;
            if (!pes::RecordValid(record)) {
                ++m_stats.invalidRecords;
                continue;
            }
            PidState& s = State(pid);
            s.hasRecord = true;
            s.streamId = q[e + 2];
            s.block = pes::RecordBlock(record);
        }
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
};

TransportStreamDecryptor::TransportStreamDecryptor(const TivoKeys& keys, KeystreamMaking making)
    : m_impl(new Impl(keys, making)) {}
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
