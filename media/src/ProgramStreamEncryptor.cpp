#include "media/ProgramStreamEncryptor.h"

#include "PesRecord.h"
#include "PsUnits.h"

namespace korvane::media {

class ProgramStreamEncryptor::Impl {
public:
    Impl(const TivoKeys& keys, const EncryptOptions& options) : options_(options), keystreams_(keys.media) {
        if (options_.packetsPerBlock == 0) options_.packetsPerBlock = 1;
    }

    bool OnUnit(uint8_t* p, size_t size, ps::OutputRun& out) {
        const uint8_t id = p[3];
        if (!pes::CanBeScrambled(id) || size < 6) {
            ++stats.unitsCopied;
            return out.Add(p, size);
        }
        if (size < 9 || (p[6] & 0xC0) != 0x80) return Fail("a PES packet without an MPEG-2 header cannot carry the record");
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

        uint32_t& count = packetCounts_[id];
        const uint32_t block = (options_.firstBlock + count / options_.packetsPerBlock) & 0xFFFFFF;
        if (count % options_.packetsPerBlock == 0 && count != 0) ++stats.blockChanges;
        ++count;
        TuringKeystream* keystream = keystreams_.Select(id, id, block);
        if (!keystream) return Fail("the hash library failed");
        const size_t headerEnd = size_t(9) + p[8];
        keystream->Skip(4);
        keystream->Xor(p + headerEnd, size - headerEnd);

        uint8_t* insert = extra_;
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
        return out.Add(p, insertAt) && out.Add(extra_, added) && out.Add(p + insertAt, size - insertAt);
    }

    void OnSkipped(size_t, bool newStretch) {
        if (newStretch) Fail("bytes between units are no program stream");
    }

    bool OnTruncated(uint8_t*, size_t, ps::OutputRun&) { return Fail("the last packet is cut short"); }

    bool Fail(const std::string& text) {
        if (error.empty()) error = "Cannot encrypt the program stream: " + text + ".";
        return false;
    }

    ps::UnitSplitter splitter;
    EncryptStats stats;
    std::string error;

private:
    EncryptOptions options_;
    KeystreamSet keystreams_;
    uint32_t packetCounts_[256] = {};
    uint8_t extra_[pes::kRecordSize + 1] = {};
};

ProgramStreamEncryptor::ProgramStreamEncryptor(const TivoKeys& keys, const EncryptOptions& options)
    : impl_(new Impl(keys, options)) {}

ProgramStreamEncryptor::~ProgramStreamEncryptor() = default;

bool ProgramStreamEncryptor::Feed(uint8_t* data, size_t size, ByteSink& out) {
    if (!error_.empty()) return false;
    impl_->stats.bytesIn += size;
    ps::OutputRun run(out);
    bool ok = impl_->splitter.Feed(data, size, *impl_, run) && impl_->error.empty();
    impl_->stats.bytesOut += run.Written();
    if (!ok) error_ = impl_->error.empty() ? "Cannot write the encrypted stream." : impl_->error;
    return ok;
}

bool ProgramStreamEncryptor::Finish(ByteSink& out) {
    if (!error_.empty()) return false;
    ps::OutputRun run(out);
    bool ok = impl_->splitter.Finish(*impl_, run) && impl_->error.empty();
    impl_->stats.bytesOut += run.Written();
    if (!ok) error_ = impl_->error.empty() ? "Cannot write the encrypted stream." : impl_->error;
    return ok;
}

const EncryptStats& ProgramStreamEncryptor::Stats() const { return impl_->stats; }

}  // namespace korvane::media
