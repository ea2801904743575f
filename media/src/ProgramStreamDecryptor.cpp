#include "media/ProgramStreamDecryptor.h"

#include <cstring>

#include "PesDecrypt.h"
#include "PesRecord.h"
#include "PsUnits.h"

namespace korvane::media {

namespace pes {

Examined Examine(const uint8_t* p, size_t size) {
    size_t ext = 0;
    switch (FindExtension(p, size, &ext)) {
    case HeaderWalk::BadHeader:
        return {PacketResult::BadHeader, 0, 0};
    case HeaderWalk::NoExtension:
        return {PacketResult::MissingRecord, 0, 0};
    case HeaderWalk::Ok:
        break;
    }
    if (!(p[ext] & kPrivateDataFlag)) return {PacketResult::MissingRecord, 0, 0};
    const uint8_t* record = p + ext + 1;
    if (ext + 1 + kRecordSize > size_t(9) + p[8]) return {PacketResult::BadHeader, 0, 0};
    if (!RecordValid(record)) return {PacketResult::InvalidRecord, 0, 0};
    return {PacketResult::Decrypted, ext, RecordBlock(record)};
}

PacketResult DecryptPacket(uint8_t* p, size_t size, KeystreamSet& keystreams, size_t* removed, bool keepRecord) {
    const Examined e = Examine(p, size);
    *removed = 0;
    if (e.result == PacketResult::MissingRecord || e.result == PacketResult::InvalidRecord) {
        // The TiVo spent keystream on a packet whose record we cannot read: most likely from
        // the stream's current block, so skip as much there and its next packets still decrypt.
        if (TuringKeystream* keystream = keystreams.Current(p[3])) keystream->Skip(KeystreamSpent(p, size));
    }
    if (e.result != PacketResult::Decrypted) return e.result;

    TuringKeystream* keystream = keystreams.Select(p[3], p[3], e.block);
    if (!keystream) return PacketResult::HashFailed;
    const size_t headerEnd = size_t(9) + p[8];
    keystream->Skip(4);  // the record's crypted word: TiVo spends keystream on it, we ignore it
    keystream->Xor(p + headerEnd, size - headerEnd);
    p[6] &= static_cast<uint8_t>(~kScramblingBits);
    if (keepRecord) return PacketResult::Decrypted;

    // Remove the record (and the extension when it held nothing else) so the packet is the
    // one that went into the encryption: the header bytes before it move up.
    const size_t ext = e.ext;
    size_t cutAt = ext + 1, cut = kRecordSize;
    if (!(p[ext] & kOtherExtensionFields)) {
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
    Impl(const TivoKeys& keys, KeystreamMaking making, DecryptLayout layout)
        : m_keystreams(keys.media, making), m_keepOffsets(layout == DecryptLayout::KeepOffsets) {}

    bool OnUnit(uint8_t* p, size_t size, ps::OutputRun& out) {
        switch (pes::ClassifyUnit(p, size)) {
        case pes::UnitKind::Clear:
            ++stats.packetsClear;
            return out.Add(p, size);
        case pes::UnitKind::NotDecryptable:
            // Scrambled in a way no TiVo does: there is no key for it.
            ++stats.packetsDropped;
            ++stats.badHeaders;
            return !m_keepOffsets || out.Add(p, size);
        case pes::UnitKind::Scrambled:
            break;
        }
        size_t removed = 0;
        switch (pes::DecryptPacket(p, size, m_keystreams, &removed, m_keepOffsets)) {
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
        return !m_keepOffsets || out.Add(p, size);
    }

    bool OnSkipped(const uint8_t* bytes, size_t size, bool newStretch, ps::OutputRun& out) {
        stats.bytesSkipped += size;
        if (newStretch) ++stats.damageEvents;
        return !m_keepOffsets || out.Add(bytes, size);
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
    const bool m_keepOffsets;
};

ProgramStreamDecryptor::ProgramStreamDecryptor(const TivoKeys& keys, KeystreamMaking making, DecryptLayout layout)
    : m_impl(new Impl(keys, making, layout)) {}

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
