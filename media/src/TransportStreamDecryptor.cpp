#include "media/TransportStreamDecryptor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "PesRecord.h"
#include "media/MpegStreams.h"
#include "media/TivoContainer.h"
#include "media/TivoMetadata.h"
#include "media/TransportStreamReader.h"

namespace korvane::media {
namespace {

constexpr size_t kPacket = kTsPacketSize;
constexpr size_t kPidCount = 8192;
constexpr uint16_t kNoPid = 0xFFFF;
constexpr size_t kScan = SIZE_MAX;  // a header whose end only the next start code shows
constexpr size_t kKeyEntrySize = 20;

// Where the bytes of a PID's current PES stand with respect to encryption.
enum class Region : uint8_t {
    Encrypted,     // everything from here to the next PES start (also: no PES start seen yet)
    PesHeader,     // the PES header, always clear
    VideoHeaders,  // MPEG-2 video headers before the first slice, clear
};

// Walking the clear MPEG-2 headers: at a start code, inside a header of known length, or in
// one (user data) that runs to the next start code.
enum class Walk : uint8_t { AtCode, Header, Scan };

struct PidState {
    uint8_t streamType = 0;
    bool listed = false;       // in the current PMT
    bool hasRecord = false;    // a key record has come for this PID
    uint8_t streamId = 0;
    uint32_t block = 0;
    Region region = Region::Encrypted;
    uint8_t pesHead[9] = {};
    size_t pesSeen = 0;        // PES header bytes seen
    size_t pesTotal = 0;       // its whole size once byte 8 is known
    Walk walk = Walk::AtCode;
    uint8_t codeSeen = 0;      // bytes of a clear start code taken so far (00 00 01 xx)
    uint8_t code = 0;          // the start code of the header being walked
    uint8_t head[80] = {};     // its first bytes after the start code, enough to size it
    size_t headSeen = 0;
    size_t headerLeft = 0;     // bytes of the header still to come once sized
};

bool IsMpeg2Video(uint8_t type) { return type == kTsTypeMpeg1Video || type == kTsTypeMpeg2Video; }

// Start codes of the headers that stay clear before the first slice.
bool IsClearHeaderCode(uint8_t c) { return c == 0x00 || c == 0xB2 || c == 0xB3 || c == 0xB5 || c == 0xB7 || c == 0xB8; }
bool IsSliceCode(uint8_t c) { return c >= 0x01 && c <= 0xAF; }

// Bytes of the header after its start code: 0 while more of it must be seen, kScan when
// only the next start code ends it.
size_t HeaderLength(uint8_t code, const uint8_t* h, size_t seen) {
    switch (code) {
    case 0xB3:  // sequence header: 8 bytes, then the intra and non-intra matrices if loaded
        if (seen < 8) return 0;
        if (!(h[7] & 0x02)) return 8 + ((h[7] & 0x01) ? 64 : 0);
        if (seen < 72) return 0;
        return 8 + 64 + ((h[71] & 0x01) ? 64 : 0);
    case 0xB5:  // extensions, by their id
        if (seen < 1) return 0;
        switch (h[0] >> 4) {
        case 1: return 6;                               // sequence extension
        case 2: return (h[0] & 0x01) ? 8 : 5;           // sequence display, with colour description
        case 8:                                         // picture coding, with composite display
            if (seen < 5) return 0;
            return (h[4] & 0x40) ? 7 : 5;
        default: return kScan;
        }
    case 0xB8: return 4;   // group of pictures
    case 0x00: {           // picture header: longer for P and B pictures; extra information rare
        if (seen < 2) return 0;
        unsigned type = (h[1] >> 3) & 7;
        if (type == 1) {
            if (seen < 4) return 0;
            return (h[3] & 0x04) ? kScan : 4;
        }
        if (seen < 5) return 0;
        if (type == 2) return (h[4] & 0x40) ? kScan : 5;
        return (h[4] & 0x04) ? kScan : 5;
    }
    default: return kScan;  // user data and anything unexpected
    }
}

}  // namespace

class TransportStreamDecryptor::Impl {
public:
    explicit Impl(const TivoKeys& keys) : keystreams_(keys.media), pids_(kPidCount) { carry_.reserve(4 * kPacket); }

    void Reset() {
        keystreams_.Reset();
        std::fill(pids_.begin(), pids_.end(), PidState{});
        carry_.clear();
        locked_ = false;
        inDamage_ = false;
        pmtPid_ = keyPid_ = kNoPid;
        stats_ = DecryptStats{};
        keyPackets_ = 0;
        failed_ = false;
    }

    bool Feed(uint8_t* data, size_t size, ByteSink& out) {
        if (failed_) return false;
        stats_.bytesIn += size;
        if (!carry_.empty()) {
            size_t old = carry_.size();
            size_t take = std::min(size, 4 * kPacket);
            carry_.insert(carry_.end(), data, data + take);
            size_t used = Process(carry_.data(), carry_.size(), false, out);
            if (failed_) return false;
            if (used < old) {
                carry_.erase(carry_.begin(), carry_.begin() + static_cast<std::ptrdiff_t>(used));
                if (take == size) return true;
                // Cannot happen (what was added completes any packet); counted as damage.
                stats_.bytesSkipped += old - used;
                ++stats_.damageEvents;
                locked_ = false;
                used = old;
            }
            carry_.clear();
            data += used - old;
            size -= used - old;
        }
        size_t used = Process(data, size, false, out);
        if (failed_) return false;
        carry_.assign(data + used, data + size);
        return true;
    }

    bool Finish(ByteSink& out) {
        if (failed_) return false;
        if (!carry_.empty()) Process(carry_.data(), carry_.size(), true, out);
        carry_.clear();
        return !failed_;
    }

    bool failed_ = false;
    DecryptStats stats_;
    uint64_t keyPackets_ = 0;

private:
    // Decrypts the whole packets in [data, data + size) and writes them out in runs; returns
    // the bytes used (the rest waits for more input unless atEnd).
    size_t Process(uint8_t* data, size_t size, bool atEnd, ByteSink& out) {
        size_t pos = 0;
        uint8_t* run = nullptr;
        size_t runSize = 0;
        auto flush = [&] {
            if (runSize && !failed_) {
                if (!out.Write(run, runSize)) failed_ = true;
                stats_.bytesOut += runSize;
            }
            runSize = 0;
        };
        while (pos < size && !failed_) {
            size_t avail = size - pos;
            if (locked_) {
                if (avail <= kPacket && !atEnd) break;
                if (avail < kPacket) {
                    ++stats_.truncatedUnits;
                    stats_.bytesSkipped += avail;
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
                locked_ = false;
            }
            // Sync: three sync bytes 188 apart (fewer at the very end of the input).
            size_t i = pos;
            bool needMore = false;
            for (; i < size; ++i) {
                const void* hit = std::memchr(data + i, kTsSyncByte, size - i);
                if (!hit) {
                    i = size;
                    break;
                }
                i = static_cast<const uint8_t*>(hit) - data;
                size_t left = size - i;
                if (left < 2 * kPacket + 1) {
                    if (!atEnd) {
                        needMore = true;
                        break;
                    }
                    bool ok = left >= kPacket;
                    for (size_t k = kPacket; ok && k < left; k += kPacket) ok = data[i + k] == kTsSyncByte;
                    if (ok) break;
                } else if (data[i + kPacket] == kTsSyncByte && data[i + 2 * kPacket] == kTsSyncByte) {
                    break;
                }
            }
            if (i > pos) {
                if (!inDamage_) {
                    inDamage_ = true;
                    ++stats_.damageEvents;
                }
                stats_.bytesSkipped += i - pos;
                pos = i;
            }
            if (needMore || i >= size) break;
            locked_ = true;
            inDamage_ = false;
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
            if (scrambling) ++stats_.packetsClear;  // no payload: nothing is scrambled
            p[3] &= 0x3F;
            return true;
        }
        uint8_t* q = p + at;
        const size_t n = kPacket - at;
        if (!scrambling) {
            if (pid == keyPid_ && keyPid_ != kNoPid) {
                Keys(q, n);
                return false;  // of no use once decrypted
            }
            ++stats_.packetsClear;
            if (pid == 0 && start) Pat(q, n);
            else if (pid == pmtPid_ && start) Pmt(q, n);
            else if (start) pids_[pid].region = Region::Encrypted;  // a clear PES: nothing to walk
            return true;
        }
        PidState& s = pids_[pid];
        if (!s.hasRecord || pid == keyPid_ || pid == pmtPid_ || pid == 0) {
            ++stats_.packetsDropped;
            ++stats_.missingRecords;
            if (start) s.region = Region::Encrypted;
            return false;
        }
        TuringKeystream* ks = keystreams_.Select(pid, s.streamId, s.block);
        if (!ks) {
            failed_ = true;
            return false;
        }
        stats_.keystreamRebuilds = keystreams_.Rebuilds();
        if (start) {
            s.region = Region::PesHeader;
            s.pesSeen = 0;
            s.pesTotal = 0;
        }
        size_t clear = ClearPrefix(s, q, n, *ks);
        ks->Xor(q + clear, n - clear);
        p[3] &= 0x3F;
        ++stats_.packetsDecrypted;
        return true;
    }

    // How many of the payload's first bytes are clear; walks them.
    size_t ClearPrefix(PidState& s, const uint8_t* q, size_t n, const TuringKeystream& ks) {
        size_t i = 0;
        bool havePeek = false;
        uint8_t peek[5];
        while (i < n) {
            if (s.region == Region::Encrypted) return i;
            if (s.region == Region::PesHeader) {
                if (s.pesSeen < 9) {
                    size_t take = std::min(n - i, 9 - s.pesSeen);
                    std::memcpy(s.pesHead + s.pesSeen, q + i, take);
                    s.pesSeen += take;
                    i += take;
                    if (s.pesSeen < 9) return i;
                    if (s.pesHead[0] != 0 || s.pesHead[1] != 0 || s.pesHead[2] != 1) {
                        s.region = Region::Encrypted;  // no PES header: nothing to keep clear
                        return i;
                    }
                    s.pesTotal = 9 + size_t(s.pesHead[8]);
                }
                size_t take = std::min(n - i, s.pesTotal - s.pesSeen);
                s.pesSeen += take;
                i += take;
                if (s.pesSeen < s.pesTotal) return i;
                if (IsMpeg2Video(s.streamType)) {
                    s.region = Region::VideoHeaders;
                    s.walk = Walk::AtCode;
                    s.codeSeen = 0;
                } else {
                    s.region = Region::Encrypted;
                }
                continue;
            }
            // MPEG-2 video headers.
            if (s.walk == Walk::Header) {
                if (s.headerLeft == 0) {
                    size_t take = std::min(n - i, sizeof s.head - s.headSeen);
                    std::memcpy(s.head + s.headSeen, q + i, take);
                    size_t length = HeaderLength(s.code, s.head, s.headSeen + take);
                    if (length == 0) {
                        s.headSeen += take;
                        i += take;
                        continue;
                    }
                    if (length == kScan) {
                        s.walk = Walk::Scan;
                        continue;
                    }
                    s.headerLeft = length - s.headSeen;  // of the header, still to pass
                }
                size_t take = std::min(n - i, s.headerLeft);
                i += take;
                s.headerLeft -= take;
                s.headSeen += take;
                if (s.headerLeft == 0) {
                    s.walk = Walk::AtCode;
                    s.codeSeen = 0;
                }
                continue;
            }
            if (s.walk == Walk::AtCode && s.codeSeen > 0) {
                // A start code begun in the last packet: its bytes were passed clear.
                uint8_t b = q[i];
                if (s.codeSeen < 3) {
                    if (b != (s.codeSeen == 2 ? 1 : 0)) {
                        s.region = Region::Encrypted;
                        return i;
                    }
                    ++s.codeSeen;
                    ++i;
                    continue;
                }
                if (!IsClearHeaderCode(b)) {
                    s.region = Region::Encrypted;
                    return i;
                }
                StartHeader(s, b);
                ++i;
                continue;
            }
            // At a place where a start code may begin (AtCode), or inside user data (Scan):
            // a clear header start code, or the encrypted start code of the first slice?
            if (!havePeek) {
                TuringKeystream copy = ks;  // the next keystream bytes, without using them
                copy.Generate(peek, sizeof peek);
                havePeek = true;
            }
            int verdict = Judge(q + i, n - i, peek);
            if (verdict < 0) {
                s.region = Region::Encrypted;
                return i;
            }
            if (verdict > 0) {
                size_t have = std::min<size_t>(n - i, 4);
                if (have < 4) {
                    s.walk = Walk::AtCode;
                    s.codeSeen = static_cast<uint8_t>(have);
                    return n;
                }
                StartHeader(s, q[i + 3]);
                i += 4;
                continue;
            }
            // Neither: header payload bytes (Scan), or zero stuffing between headers.
            if (s.walk == Walk::AtCode && q[i] != 0) {
                s.region = Region::Encrypted;
                return i;
            }
            ++i;
        }
        return n;
    }

    // +1: the bytes begin a clear header start code; -1: they decrypt to the start code of a
    // slice (with or without a leading zero byte); 0: neither. Near the end of a packet only
    // the bytes there are compared.
    static int Judge(const uint8_t* q, size_t avail, const uint8_t* k) {
        auto clearMatch = [&] {
            const uint8_t want[3] = {0, 0, 1};
            for (size_t j = 0; j < 4 && j < avail; ++j)
                if (j < 3 ? q[j] != want[j] : !IsClearHeaderCode(q[j])) return false;
            return true;
        };
        auto sliceMatch = [&](size_t zeros) {
            for (size_t j = 0; j < zeros + 2 && j < avail; ++j) {
                uint8_t x = q[j] ^ k[j];
                if (j < zeros && x != 0) return false;
                if (j == zeros && x != 1) return false;
                if (j == zeros + 1 && !IsSliceCode(x)) return false;
            }
            return true;
        };
        if (clearMatch()) return 1;
        if (sliceMatch(2) || sliceMatch(3)) return -1;
        return 0;
    }

    static void StartHeader(PidState& s, uint8_t code) {
        s.code = code;
        s.codeSeen = 0;
        s.headSeen = 0;
        s.headerLeft = 0;
        s.walk = code == 0xB7 ? Walk::AtCode : Walk::Header;
    }

    // Tables in one packet each (a TiVo's are short); a bad CRC leaves the old ones.
    static bool Section(const uint8_t* q, size_t n, const uint8_t** section, size_t* size) {
        size_t pointer = q[0];
        if (1 + pointer + 3 > n) return false;
        const uint8_t* s = q + 1 + pointer;
        size_t total = 3 + (size_t(s[1] & 0x0F) << 8 | s[2]);
        if (1 + pointer + total > n || total < 12 || MpegCrc32(s, total) != 0) return false;
        *section = s;
        *size = total;
        return true;
    }

    void Pat(const uint8_t* q, size_t n) {
        const uint8_t* s;
        size_t size;
        if (!Section(q, n, &s, &size) || s[0] != 0x00) return;
        for (size_t i = 8; i + 4 <= size - 4; i += 4) {
            uint16_t program = static_cast<uint16_t>(s[i] << 8 | s[i + 1]);
            if (program == 0) continue;
            pmtPid_ = static_cast<uint16_t>((s[i + 2] & 0x1F) << 8 | s[i + 3]);
            return;
        }
    }

    // Learns the stream types and the key PID, then takes the key PID out of the table: its
    // packets are dropped, so the decrypted stream is the recording as it was before TiVo
    // added them (bit for bit in the known-answer recordings).
    void Pmt(uint8_t* q, size_t n) {
        const uint8_t* found;
        size_t size;
        if (!Section(q, n, &found, &size) || found[0] != 0x02) return;
        uint8_t* s = q + (found - q);
        const size_t end = size - 4;
        size_t i = 12 + (size_t(s[10] & 0x0F) << 8 | s[11]);
        if (i > end) return;
        for (PidState& p : pids_) p.listed = false;
        keyPid_ = kNoPid;
        size_t kept = i;  // where the next kept entry goes
        while (i + 5 <= end) {
            uint8_t type = s[i];
            uint16_t pid = static_cast<uint16_t>((s[i + 1] & 0x1F) << 8 | s[i + 2]);
            size_t entry = 5 + (size_t(s[i + 3] & 0x0F) << 8 | s[i + 4]);
            if (i + entry > end) return;
            pids_[pid].streamType = type;
            pids_[pid].listed = true;
            if (type == kTsTypeTivoKeys) {
                if (keyPid_ == kNoPid) keyPid_ = pid;
            } else {
                std::memmove(s + kept, s + i, entry);
                kept += entry;
            }
            i += entry;
        }
        if (kept == i) return;
        size_t length = kept + 4 - 3;
        s[1] = static_cast<uint8_t>((s[1] & 0xF0) | (length >> 8));
        s[2] = static_cast<uint8_t>(length);
        uint32_t crc = MpegCrc32(s, kept);
        for (int k = 0; k < 4; ++k) s[kept + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
        std::memset(s + kept + 4, 0xFF, static_cast<size_t>(q + n - (s + kept + 4)));
    }

    // "TiVo", 0x81 0x03, two bytes, a 16-bit count of the bytes that follow, then 20-byte
    // entries: PID, stream id, one byte, the 16-byte record.
    void Keys(const uint8_t* q, size_t n) {
        if (n < 10 || std::memcmp(q, "TiVo", 4) != 0 || q[4] != 0x81 || q[5] != 0x03) {
            ++stats_.invalidRecords;
            return;
        }
        ++keyPackets_;
        size_t bytes = std::min(n - 10, size_t(q[8]) << 8 | q[9]);
        for (size_t e = 10; e + kKeyEntrySize <= 10 + bytes; e += kKeyEntrySize) {
            uint16_t pid = static_cast<uint16_t>((q[e] & 0x1F) << 8 | q[e + 1]);
            const uint8_t* record = q + e + 4;
            if (!pes::RecordValid(record)) {
                ++stats_.invalidRecords;
                continue;
            }
            PidState& s = pids_[pid];
            s.hasRecord = true;
            s.streamId = q[e + 2];
            s.block = pes::RecordBlock(record);
        }
    }

    KeystreamSet keystreams_;
    std::vector<PidState> pids_;
    std::vector<uint8_t> carry_;
    bool locked_ = false;
    bool inDamage_ = false;
    uint16_t pmtPid_ = kNoPid;
    uint16_t keyPid_ = kNoPid;
};

TransportStreamDecryptor::TransportStreamDecryptor(const TivoKeys& keys) : impl_(new Impl(keys)) {}
TransportStreamDecryptor::~TransportStreamDecryptor() = default;

bool TransportStreamDecryptor::Feed(uint8_t* data, size_t size, ByteSink& out) { return impl_->Feed(data, size, out); }
bool TransportStreamDecryptor::Finish(ByteSink& out) { return impl_->Finish(out); }
void TransportStreamDecryptor::Reset() { impl_->Reset(); }
bool TransportStreamDecryptor::Failed() const { return impl_->failed_; }
const DecryptStats& TransportStreamDecryptor::Stats() const {
    return impl_->stats_;
}
uint64_t TransportStreamDecryptor::KeyPackets() const { return impl_->keyPackets_; }

}  // namespace korvane::media

namespace korvane::media {

bool DecryptTivoTransportFile(const std::string& inputPath, const std::string& outputPath,
                              const std::string& mediaAccessKey, DecryptStats* stats, std::string* error) {
    std::string mak;
    if (!NormalizeMediaAccessKey(mediaAccessKey, &mak)) {
        if (error) *error = "The Media Access Key must be 10 digits.";
        return false;
    }
    FileByteSource in;
    if (!in.Open(inputPath, error)) return false;
    TivoFile file;
    TivoParseOptions parse;
    parse.probeBytes = 4096;  // only the payload kind matters here
    std::string text;
    if (ParseTivo(in, &file, &text, parse) != TivoStatus::Ok) {
        if (error) *error = "\"" + inputPath + "\": " + text;
        return false;
    }
    if (file.payloadKind != PayloadKind::TransportStream) {
        if (error) *error = "\"" + inputPath + "\" holds a program stream, not a transport stream.";
        return false;
    }
    TivoKeys keys;
    if (!DeriveTivoKeys(mak, file, &keys)) {
        if (error) *error = "The hash library failed.";
        return false;
    }
    if (CheckKeyByMetadata(file, keys).fit == KeyFit::Wrong) {
        if (error) *error = "The Media Access Key does not fit \"" + inputPath + "\".";
        return false;
    }
    FileByteSink out;
    if (!out.Open(outputPath, error)) return false;
    TransportStreamDecryptor decryptor(keys);
    constexpr size_t kBlock = size_t(1) << 20;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBlock]);
    bool ok = true;
    for (uint64_t pos = file.payloadOffset; ok && pos < file.fileSize;) {
        size_t n = in.ReadAt(pos, buffer.get(), kBlock);
        if (n == 0) break;
        ok = decryptor.Feed(buffer.get(), n, out);
        pos += n;
    }
    if (ok) ok = decryptor.Finish(out);
    bool readFailed = in.Failed() || decryptor.Stats().bytesIn != file.payloadSize;
    std::string closeError;
    bool closed = out.Close(&closeError);
    if (stats) *stats = decryptor.Stats();
    if (!ok || readFailed || !closed) {
        if (error)
            *error = readFailed ? "Cannot read \"" + inputPath + "\"."
                     : !closeError.empty() ? closeError
                                           : "Cannot write \"" + outputPath + "\".";
        std::remove(outputPath.c_str());
        return false;
    }
    return true;
}

}  // namespace korvane::media
