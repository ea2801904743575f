#include "media/ProgramStreamEncryptor.h"

#include "PesRecord.h"
#include "PsUnits.h"

namespace korvane::media {

class ProgramStreamEncryptor::Impl {
public:
    Impl(const TivoKeys& keys, const EncryptOptions& options) : m_options(options), m_keystreams(keys.media) {
        if (m_options.packetsPerBlock == 0) m_options.packetsPerBlock = 1;
    }

    bool OnUnit(uint8_t* p, size_t size, ps::OutputRun& out) {
        const uint8_t id = p[3];
        if (!pes::CanBeScrambled(id) || size < 6) {
            ++stats.unitsCopied;
            return out.Add(p, size);
        }
        if (size < 9 || (p[6] & 0xC0) != 0x80)
            return Fail("a PES packet without an MPEG-2 header cannot carry the record");
        if (p[6] & pes::kScramblingBits) return Fail("a PES packet is scrambled already");
        size_t at = 0;
        const pes::HeaderWalk walk = pes::FindExtension(p, size, &at);
        if (walk == pes::HeaderWalk::BadHeader) return Fail("a PES header contradicts its own length");
        // Where a TiVo puts the record in a header that holds a DTS, or a PES extension of its
        // own, is not known: the known-answer recordings leave such packets clear, so do we.
        if (walk == pes::HeaderWalk::Ok || (p[7] >> 6) == 3) {
            ++stats.unitsCopied;
            return out.Add(p, size);
        }
        constexpr size_t kAdded = 1 + pes::kRecordSize;  // the extension's flags byte, the record
        if (size_t(p[8]) + kAdded > 255 || size - 6 + kAdded > 65535)
            return Fail("a PES packet is too long to take the 16-byte record");

        // The block advances with the scrambled packets of all streams together.
        const uint32_t block = (m_options.firstBlock + m_scrambled / m_options.packetsPerBlock) & 0xFFFFFF;
        if (m_scrambled % m_options.packetsPerBlock == 0 && m_scrambled != 0) ++stats.blockChanges;
        ++m_scrambled;
        TuringKeystream* keystream = m_keystreams.Select(id, id, block);
        if (!keystream) return Fail("the hash library failed");
        const size_t headerEnd = size_t(9) + p[8];
        keystream->Skip(4);
        keystream->Xor(p + headerEnd, size - headerEnd);

        m_extra[0] = pes::kPrivateDataFlag | pes::kExtensionReservedBits;
        pes::MakeRecord(block, m_extra + 1);
        p[7] |= pes::kExtensionFlag;
        p[6] |= pes::kScramblingBits;
        p[8] = static_cast<uint8_t>(p[8] + kAdded);
        pes::SetPacketLength(p, size + kAdded);
        ++stats.packetsEncrypted;
        return out.Add(p, at) && out.Add(m_extra, kAdded) && out.Add(p + at, size - at);
    }

    bool OnSkipped(const uint8_t*, size_t, bool newStretch, ps::OutputRun&) {
        if (newStretch) Fail("bytes between units are no program stream");
        return true;
    }

    bool OnTruncated(size_t) { return Fail("the last packet is cut short"); }

    bool Fail(const std::string& text) {
        if (error.empty()) error = "Cannot encrypt the program stream: " + text + ".";
        return false;
    }

    ps::UnitSplitter splitter;
    EncryptStats stats;
    std::string error;

private:
    EncryptOptions m_options;
    KeystreamSet m_keystreams;
    uint32_t m_scrambled = 0;  // packets scrambled so far
    uint8_t m_extra[pes::kRecordSize + 1] = {};
};

ProgramStreamEncryptor::ProgramStreamEncryptor(const TivoKeys& keys, const EncryptOptions& options)
    : m_impl(new Impl(keys, options)) {}

ProgramStreamEncryptor::~ProgramStreamEncryptor() = default;

bool ProgramStreamEncryptor::Feed(uint8_t* data, size_t size, ByteSink& out) {
    if (!m_error.empty()) return false;
    m_impl->stats.bytesIn += size;
    ps::OutputRun run(out);
    bool ok = m_impl->splitter.Feed(data, size, *m_impl, run) && m_impl->error.empty();
    m_impl->stats.bytesOut += run.Written();
    if (!ok) m_error = m_impl->error.empty() ? "Cannot write the encrypted stream." : m_impl->error;
    return ok;
}

bool ProgramStreamEncryptor::Finish(ByteSink& out) {
    if (!m_error.empty()) return false;
    ps::OutputRun run(out);
    bool ok = m_impl->splitter.Finish(*m_impl, run) && m_impl->error.empty();
    m_impl->stats.bytesOut += run.Written();
    if (!ok) m_error = m_impl->error.empty() ? "Cannot write the encrypted stream." : m_impl->error;
    return ok;
}

const EncryptStats& ProgramStreamEncryptor::Stats() const {
    return m_impl->stats;
}

}  // namespace korvane::media
