#include "media/ProgramStreamDecryptor.h"

#include <cstring>

#include "PesDecrypt.h"
#include "PesRecord.h"
#include "PsUnits.h"

namespace korvane::media {

namespace pes {

namespace {

// The TiVo spent keystream on a packet whose record we cannot read: most likely from the
// stream's current block, so skip as much there and its next packets still decrypt.
PacketResult Unreadable(PacketResult result, const uint8_t* p, size_t size, KeystreamSet& keystreams) {
    if (TuringKeystream* keystream = keystreams.Current(p[3])) keystream->Skip(4 + (size - 9 - p[8]));
    return result;
}

}  // namespace

PacketResult DecryptPacket(uint8_t* p, size_t size, KeystreamSet& keystreams, size_t* removed) {
    size_t ext = 0;
    switch (FindExtension(p, size, &ext)) {
    case HeaderWalk::BadHeader:
        return PacketResult::BadHeader;
    case HeaderWalk::NoExtension:
        return Unreadable(PacketResult::MissingRecord, p, size, keystreams);
    case HeaderWalk::Ok:
        break;
    }
    const size_t headerEnd = size_t(9) + p[8];
    const uint8_t extFlags = p[ext];
    if (!(extFlags & kPrivateDataFlag)) return Unreadable(PacketResult::MissingRecord, p, size, keystreams);
    const uint8_t* record = p + ext + 1;
    if (ext + 1 + kRecordSize > headerEnd) return PacketResult::BadHeader;
    if (!RecordValid(record)) return Unreadable(PacketResult::InvalidRecord, p, size, keystreams);

    TuringKeystream* keystream = keystreams.Select(p[3], p[3], RecordBlock(record));
    if (!keystream) return PacketResult::HashFailed;
    keystream->Skip(4);  // the record's crypted word: TiVo spends keystream on it, we ignore it
    keystream->Xor(p + headerEnd, size - headerEnd);
    p[6] &= static_cast<uint8_t>(~kScramblingBits);

    // Remove the record (and the extension when it held nothing else) so the packet is the
    // one that went into the encryption: the header bytes before it move up.
    size_t cutAt = ext + 1, cut = kRecordSize;
    if (!(extFlags & kOtherExtensionFields)) {
        cutAt = ext;
        cut = kRecordSize + 1;
        p[7] &= static_cast<uint8_t>(~kExtensionFlag);
    } else {
        p[ext] &= static_cast<uint8_t>(~kPrivateDataFlag);
    }
    p[8] = static_cast<uint8_t>(p[8] - cut);
    SetPacketLength(p, size - cut);
    std::memmove(p + cut, p, cutAt);
    *removed = cut;
    return PacketResult::Decrypted;
}

}  // namespace pes

class ProgramStreamDecryptor::Impl {
public:
    Impl(const TivoKeys& keys, KeystreamMaking making) : m_keystreams(keys.media, making) {}

    bool OnUnit(uint8_t* p, size_t size, ps::OutputRun& out) {
        const uint8_t id = p[3];
        if (size < 9 || !pes::HasPesHeader(id) || (p[6] & 0xC0) != 0x80 || !(p[6] & pes::kScramblingBits)) {
            ++stats.packetsClear;
            return out.Add(p, size);
        }
        if (!pes::CanBeScrambled(id) || (p[6] & pes::kScramblingBits) != pes::kScramblingBits) {
            // Scrambled in a way no TiVo does: there is no key for it.
            ++stats.packetsDropped;
            ++stats.badHeaders;
            return true;
        }
        size_t removed = 0;
        switch (pes::DecryptPacket(p, size, m_keystreams, &removed)) {
        case pes::PacketResult::Decrypted:
            ++stats.packetsDecrypted;
            return out.Add(p + removed, size - removed);
        case pes::PacketResult::MissingRecord:
            ++stats.missingRecords;
            break;
        case pes::PacketResult::InvalidRecord:
            ++stats.invalidRecords;
            break;
        case pes::PacketResult::BadHeader:
            ++stats.badHeaders;
            break;
        case pes::PacketResult::HashFailed:
            return false;
        }
        ++stats.packetsDropped;
        return true;
    }

    void OnSkipped(size_t bytes, bool newStretch) {
        stats.bytesSkipped += bytes;
        if (newStretch) ++stats.damageEvents;
    }

    // The reader would skip the cut unit as damage and look inside it for units: so does the
    // splitter, so that a scrambled packet in there is never passed on as clear bytes.
    bool OnTruncated(size_t) {
        ++stats.truncatedUnits;
        return true;
    }

    const DecryptStats& Stats() {
        stats.keystreamRebuilds = m_keystreams.Rebuilds() - m_rebuildsBefore;
        return stats;
    }

    void Reset() {
        splitter.Reset();
        m_keystreams.Reset();
        stats = DecryptStats{};
        m_rebuildsBefore = m_keystreams.Rebuilds();
    }

    ps::UnitSplitter splitter;
    DecryptStats stats;

private:
    KeystreamSet m_keystreams;
    uint64_t m_rebuildsBefore = 0;
};

ProgramStreamDecryptor::ProgramStreamDecryptor(const TivoKeys& keys, KeystreamMaking making)
    : m_impl(new Impl(keys, making)) {}

ProgramStreamDecryptor::~ProgramStreamDecryptor() = default;

bool ProgramStreamDecryptor::Feed(uint8_t* data, size_t size, ByteSink& out) {
    if (m_failed) return false;
    m_impl->stats.bytesIn += size;
    ps::OutputRun run(out);
    m_failed = !m_impl->splitter.Feed(data, size, *m_impl, run);
    m_impl->stats.bytesOut += run.Written();
    return !m_failed;
}

bool ProgramStreamDecryptor::Finish(ByteSink& out) {
    if (m_failed) return false;
    ps::OutputRun run(out);
    m_failed = !m_impl->splitter.Finish(*m_impl, run);
    m_impl->stats.bytesOut += run.Written();
    return !m_failed;
}

void ProgramStreamDecryptor::Reset() {
    m_impl->Reset();
    m_failed = false;
}

const DecryptStats& ProgramStreamDecryptor::Stats() const {
    return m_impl->Stats();
}

}  // namespace korvane::media
