#include "DecryptedProbe.h"

#include <algorithm>

#include "media/ProgramStreamDecryptor.h"
#include "media/StreamProbe.h"

namespace korvane::filters {
namespace {

constexpr size_t kPieceSize = 256 << 10;

class ProberSink final : public media::ByteSink {
public:
    explicit ProberSink(media::StreamProber& prober) : prober_(prober) {}
    bool Write(const uint8_t* data, size_t size) override {
        prober_.Feed(data, size);
        return true;
    }

private:
    media::StreamProber& prober_;
};

}  // namespace

media::TivoStatus ProbeDecryptedInPieces(media::ByteSource& source, const media::TivoKeys& keys,
                                         media::TivoFile* file) {
    const uint64_t window = std::min<uint64_t>(file->payloadSize, media::kDefaultProbeBytes);
    media::AlignedBuffer piece(kPieceSize);
    media::ProgramStreamDecryptor decryptor(keys);
    media::StreamProber prober;
    ProberSink sink(prober);
    for (uint64_t done = 0; done < window;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(window - done, piece.Size()));
        if (source.ReadAt(file->payloadOffset + done, piece.Data(), want) != want ||
            !decryptor.Feed(piece.Data(), want, sink))
            return media::TivoStatus::ReadFailed;
        done += want;
    }
    if (!decryptor.Finish(sink))
        return media::TivoStatus::ReadFailed;
    file->probe = prober.Finish();
    file->probeDecrypted = true;
    file->probeDamage = decryptor.Stats().packetsDropped;
    file->keys = keys;
    return media::TivoStatus::Ok;
}

}  // namespace korvane::filters
