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
        pes::HeaderWalk walk = pes::FindExtension(p, size, &at);
        if (walk == pes::HeaderWalk::BadHeader) return Fail("a PES header contradicts its own length");
        if (walk == pes::HeaderWalk::Ok && (p[at] & pes::kPrivateDataFlag))
            return Fail("a PES packet carries private data of its own");
        // A new extension is its flags byte and the record; an existing one takes the record
        // right after its flags byte, where the standard puts PES_private_data.
        const size_t added = walk == pes::HeaderWalk::Ok ? pes::kRecordSize : pes::kRecordSize + 1;
        const size_t insertAt = walk == pes::HeaderWalk::Ok ? at + 1 : at;
        if (size_t(p[8]) + added > 255 || size - 6 + added > 65535)
            return Fail("a PES packet is too long to take the 16-byte record");

        uint32_t& count = m_packetCounts[id];
        const uint32_t block = (m_options.firstBlock + count / m_options.packetsPerBlock) & 0xFFFFFF;
        if (count % m_options.packetsPerBlock == 0 && count != 0) ++stats.blockChanges;
        ++count;
        TuringKeystream* keystream = m_keystreams.Select(id, id, block);
        if (!keystream) return Fail("the hash library failed");
        const size_t headerEnd = size_t(9) + p[8];
        keystream->Skip(4);
        keystream->Xor(p + headerEnd, size - headerEnd);

        uint8_t* insert = m_extra;
        if (walk == pes::HeaderWalk::Ok) {
            p[at] |= pes::kPrivateDataFlag;
        } else {
            *insert++ = pes::kPrivateDataFlag | pes::kExtensionReservedBits;
            p[7] |= pes::kExtensionFlag;
        }
        pes::MakeRecord(block, insert);
        p[6] |= pes::kScramblingBits;
        p[8] = static_cast<uint8_t>(p[8] + added);
        pes::SetPacketLength(p, size + added);
        ++stats.packetsEncrypted;
        return out.Add(p, insertAt) && out.Add(m_extra, added) && out.Add(p + insertAt, size - insertAt);
    }

    void OnSkipped(size_t, bool newStretch) {
        if (newStretch) Fail("bytes between units are no program stream");
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
    uint32_t m_packetCounts[256] = {};
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
