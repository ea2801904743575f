#include "media/TransportStreamEncryptor.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "PesRecord.h"
#include "TsClearPart.h"
#include "media/MpegStreams.h"
#include "media/TransportStreamReader.h"

namespace korvane::media {
namespace {

constexpr size_t kPacket = kTsPacketSize;
constexpr uint16_t kNoPid = 0xFFFF;
constexpr size_t kEntriesPerKeyPacket = (kPacket - 4 - 10) / 20;

struct PidState {
    uint8_t streamType = 0;
    bool scrambled = false;  // an audio or video PID of the PMT
    bool announced = false;  // its record has gone out in a key packet
    uint8_t streamId = 0;
    uint32_t block = 0;
    uint64_t packets = 0;  // of its packets scrambled in the current block
    ts::PesWalk plain;     // the clear part as the plaintext shows it
    ts::PesWalk check;     // and as the decryptor will find it in the output
};

bool IsAudioOrVideo(uint8_t type) {
    switch (type) {
    case kTsTypeMpeg1Video:
    case kTsTypeMpeg2Video:
    case kTsTypeH264:
    case kTsTypeMpeg1Audio:
    case kTsTypeMpeg2Audio:
    case kTsTypeAacAdts:
    case kTsTypeAc3:
    case kTsTypeEac3:
    case kTsTypePrivatePes:
        return true;
    default:
        return false;
    }
}

uint8_t StreamIdFor(uint8_t type) {
    switch (type) {
    case kTsTypeMpeg1Video:
    case kTsTypeMpeg2Video:
    case kTsTypeH264:
        return 0xE0;
    case kTsTypeMpeg1Audio:
    case kTsTypeMpeg2Audio:
    case kTsTypeAacAdts:
        return 0xC0;
    default:
        return 0xBD;
    }
}

}  // namespace

class TransportStreamEncryptor::Impl {
public:
    Impl(const TivoKeys& keys, const EncryptOptions& options)
        : m_options(options), m_keystreams(keys.media), m_pids(8192) {
        if (m_options.packetsPerBlock == 0) m_options.packetsPerBlock = 1;
    }

    bool Feed(uint8_t* data, size_t size, ByteSink& out) {
        if (!m_error.empty()) return false;
        m_stats.bytesIn += size;
        size_t pos = 0;
        if (!m_carry.empty()) {
            size_t take = std::min(size, kPacket - m_carry.size());
            m_carry.insert(m_carry.end(), data, data + take);
            pos = take;
            if (m_carry.size() == kPacket) {
                Packet(m_carry.data());
                m_carry.clear();
            }
        }
        for (; m_error.empty() && pos + kPacket <= size; pos += kPacket)
            Packet(data + pos);
        if (m_error.empty() && pos < size) m_carry.assign(data + pos, data + size);
        return Flush(out);
    }

    bool Finish(ByteSink& out) {
        if (m_error.empty() && !m_carry.empty()) Fail("The transport stream ends inside a packet.");
        m_carry.clear();
        return Flush(out);
    }

    std::string m_error;
    EncryptStats m_stats;

private:
    void Fail(const std::string& text) {
        if (m_error.empty()) m_error = text;
    }

    bool Flush(ByteSink& out) {
        if (!m_pending.empty() && m_error.empty()) {
            if (!out.Write(m_pending.data(), m_pending.size()))
                Fail("The encrypted stream could not be written.");
            m_stats.bytesOut += m_pending.size();
        }
        m_pending.clear();
        return m_error.empty();
    }

    void Emit(const uint8_t* p) { m_pending.insert(m_pending.end(), p, p + kPacket); }

    void Packet(uint8_t* p) {
        if (p[0] != kTsSyncByte)
            return Fail("The input is no sequence of whole 188-byte transport stream packets.");
        const uint16_t pid = static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]);
        const bool start = (p[1] & 0x40) != 0;
        const unsigned adaptation = (p[3] >> 4) & 3;
        if ((p[3] >> 6) != 0) return Fail("The transport stream is already scrambled.");
        size_t at = (adaptation & 2) ? 5 + size_t(p[4]) : 4;
        const bool payload = (adaptation & 1) && at < kPacket && !(p[1] & 0x80);
        if (payload && pid == 0 && start) Pat(p + at, kPacket - at);
        if (payload && pid == m_pmtPid && start) {
            if (!Pmt(p + at, kPacket - at)) return;
            ++m_stats.unitsCopied;
            Emit(p);
            Announce();
            return;
        }
        PidState& s = m_pids[pid];
        if (!payload || !s.scrambled || !s.announced) {
            ++m_stats.unitsCopied;
            Emit(p);
            return;
        }
        if (s.packets == m_options.packetsPerBlock) {
            s.block = (s.block + 1) & 0xFFFFFF;
            s.packets = 0;
            ++m_stats.blockChanges;
            KeyPacket(ScrambledPids());  // a TiVo lists every stream's record, changed or not
        }
        ++s.packets;
        TuringKeystream* ks = m_keystreams.Select(pid, s.streamId, s.block);
        if (!ks) return Fail("The hash library failed.");
        uint8_t* q = p + at;
        const size_t n = kPacket - at;
        if (start) {
            s.plain.StartPes();
            s.check.StartPes();
        }
        s.plain.mpeg2Video = s.check.mpeg2Video =
            s.streamType == kTsTypeMpeg1Video || s.streamType == kTsTypeMpeg2Video;
        uint8_t peek[5];
        TuringKeystream ahead = *ks;
        ahead.Generate(peek, sizeof peek);
        // A start code cut by the end of the packet stays clear as far as it goes (the
        // decryptor cannot tell it from a header's); a slice's then starts at its last byte.
        size_t clear = ts::ClearPrefix(s.plain, q, n, [&](const uint8_t* b, size_t avail) {
            if (ScrambledFromHere(s.plain, b, avail)) return -1;
            if (ts::LooksLikeClearHeaderCode(b, avail)) return 1;
            if (ts::LooksLikeSliceCode(b, avail, nullptr, 2) || ts::LooksLikeSliceCode(b, avail, nullptr, 3))
                return -1;
            return 0;
        });
        ks->Xor(q + clear, n - clear);
        p[3] |= 0xC0;
        // The decryptor decides on what it receives: it must find the same clear part.
        size_t found = ts::ClearPrefix(s.check, q, n, [&](const uint8_t* b, size_t avail) {
            return ts::JudgeScrambled(b, avail, peek);
        });
        if (found != clear)
            return Fail("A packet's encrypted bytes would read as a clear header; try another salt.");
        ++m_stats.packetsEncrypted;
        Emit(p);
    }

    // Where the options begin the scrambled part before the first slice: at a whole start code
    // (00 00 01 xx) in this packet.
    bool ScrambledFromHere(const ts::PesWalk& walk, const uint8_t* b, size_t avail) const {
        if (avail < 4 || b[0] != 0 || b[1] != 0 || b[2] != 1) return false;
        switch (m_options.videoScrambling) {
        case VideoScrambling::FromFirstSlice:
            return false;
        case VideoScrambling::FromUserData:
            return b[3] == 0xB2;
        case VideoScrambling::AfterPictureHeader:
            return walk.code == 0x00;
        }
        return false;
    }

    std::vector<uint16_t> ScrambledPids() const {
        std::vector<uint16_t> list;
        for (uint16_t pid = 0; pid < 8192; ++pid)
            if (m_pids[pid].scrambled) list.push_back(pid);
        return list;
    }

    static bool Section(uint8_t* q, size_t n, uint8_t** section, size_t* size) {
        size_t pointer = q[0];
        if (1 + pointer + 3 > n) return false;
        uint8_t* s = q + 1 + pointer;
        size_t total = 3 + (size_t(s[1] & 0x0F) << 8 | s[2]);
        if (1 + pointer + total > n || total < 12 || MpegCrc32(s, total) != 0) return false;
        *section = s;
        *size = total;
        return true;
    }

    void Pat(uint8_t* q, size_t n) {
        uint8_t* s;
        size_t size;
        if (!Section(q, n, &s, &size) || s[0] != 0x00) return;
        for (size_t i = 8; i + 4 <= size - 4; i += 4) {
            if ((s[i] << 8 | s[i + 1]) == 0) continue;
            m_pmtPid = static_cast<uint16_t>((s[i + 2] & 0x1F) << 8 | s[i + 3]);
            return;
        }
    }

    // Learns the streams and appends the key PID's entry, in the 0xFF fill after the section.
    bool Pmt(uint8_t* q, size_t n) {
        uint8_t* s;
        size_t size;
        if (!Section(q, n, &s, &size) || s[0] != 0x02) {
            Fail("The PMT is not one whole section in one packet.");
            return false;
        }
        const size_t end = size - 4;
        std::vector<bool> used(8192, false);
        for (size_t i = 12 + (size_t(s[10] & 0x0F) << 8 | s[11]); i + 5 <= end;) {
            uint8_t type = s[i];
            uint16_t pid = static_cast<uint16_t>((s[i + 1] & 0x1F) << 8 | s[i + 2]);
            i += 5 + (size_t(s[i + 3] & 0x0F) << 8 | s[i + 4]);
            used[pid] = true;
            if (type == kTsTypeTivoKeys) {
                Fail("The transport stream already has a TiVo key PID.");
                return false;
            }
            PidState& st = m_pids[pid];
            if (!IsAudioOrVideo(type) || (st.scrambled && st.streamType == type)) continue;
            st.streamType = type;
            st.scrambled = true;
            st.announced = false;
            st.streamId = StreamIdFor(type);
            st.block = m_options.firstBlock & 0xFFFFFF;
            st.packets = 0;
        }
        if (m_keyPid == kNoPid) {
            m_keyPid = 0x0FF0;
            while (used[m_keyPid] || m_keyPid == m_pmtPid)
                --m_keyPid;
        }
        uint8_t* fill = s + size;
        uint8_t* stop = q + n;
        if (stop - fill < 5 || std::any_of(fill, stop, [](uint8_t b) { return b != 0xFF; })) {
            Fail("The PMT packet has no room (0xFF fill) for the key PID's entry.");
            return false;
        }
        uint8_t* entry = s + end;
        std::memmove(entry + 5, entry, 4);  // the CRC, rewritten below
        entry[0] = kTsTypeTivoKeys;
        entry[1] = static_cast<uint8_t>(0xE0 | m_keyPid >> 8);
        entry[2] = static_cast<uint8_t>(m_keyPid);
        entry[3] = 0xF0;
        entry[4] = 0x00;
        size_t length = size + 5 - 3;
        s[1] = static_cast<uint8_t>((s[1] & 0xF0) | (length >> 8));
        s[2] = static_cast<uint8_t>(length);
        uint32_t crc = MpegCrc32(s, end + 5);
        for (int k = 0; k < 4; ++k)
            s[end + 5 + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
        return true;
    }

    // After a PMT that lists PIDs without a record yet.
    void Announce() {
        for (const PidState& s : m_pids)
            if (s.scrambled && !s.announced) return KeyPacket(ScrambledPids());
    }

    // "TiVo", 0x81 0x03, 0x7D 0x00, the byte count, then per PID its stream id and record.
    void KeyPacket(const std::vector<uint16_t>& list) {
        for (size_t first = 0; first < list.size(); first += kEntriesPerKeyPacket) {
            size_t count = std::min(kEntriesPerKeyPacket, list.size() - first);
            uint8_t p[kPacket];
            std::memset(p, 0xFF, sizeof p);
            p[0] = kTsSyncByte;
            p[1] = static_cast<uint8_t>(0x40 | m_keyPid >> 8);
            p[2] = static_cast<uint8_t>(m_keyPid);
            p[3] = static_cast<uint8_t>(0x10 | (m_keyCc++ & 0x0F));
            uint8_t* q = p + 4;
            std::memcpy(q, "TiVo\x81\x03\x7D\x00", 8);
            q[8] = static_cast<uint8_t>((count * 20) >> 8);
            q[9] = static_cast<uint8_t>(count * 20);
            for (size_t k = 0; k < count; ++k) {
                uint16_t pid = list[first + k];
                PidState& s = m_pids[pid];
                uint8_t* e = q + 10 + 20 * k;
                e[0] = static_cast<uint8_t>(pid >> 8);
                e[1] = static_cast<uint8_t>(pid);
                e[2] = s.streamId;
                e[3] = 0x10;
                pes::MakeRecord(s.block, e + 4);
                s.announced = true;
            }
            Emit(p);
        }
    }

    EncryptOptions m_options;
    KeystreamSet m_keystreams;
    std::vector<PidState> m_pids;
    std::vector<uint8_t> m_carry;
    std::vector<uint8_t> m_pending;
    uint16_t m_pmtPid = kNoPid;
    uint16_t m_keyPid = kNoPid;
    unsigned m_keyCc = 0;
};

TransportStreamEncryptor::TransportStreamEncryptor(const TivoKeys& keys, const EncryptOptions& options)
    : m_impl(new Impl(keys, options)) {}
TransportStreamEncryptor::~TransportStreamEncryptor() = default;
bool TransportStreamEncryptor::Feed(uint8_t* data, size_t size, ByteSink& out) {
    return m_impl->Feed(data, size, out);
}
bool TransportStreamEncryptor::Finish(ByteSink& out) {
    return m_impl->Finish(out);
}
const std::string& TransportStreamEncryptor::ErrorText() const {
    return m_impl->m_error;
}
const EncryptStats& TransportStreamEncryptor::Stats() const {
    return m_impl->m_stats;
}

}  // namespace korvane::media
