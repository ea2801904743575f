// The payload view over arbitrary bytes, as a program or a transport stream, scrambled by the
// encryptors where they take the input (the seeds are clear ffmpeg streams) or as they are:
// reads at offsets and of sizes the input chooses, with the view's distances so small that
// reads start afresh, look back more than once and resync mid-stream, must give exactly what
// the decryptor keeping offsets gives in one pass (itself the same in chunks), and so must
// the view read from start to end.
#include <random>

#include "FuzzCommon.h"
#include "media/PayloadView.h"
#include "media/StreamProbe.h"
#include "media/TivoContainer.h"
#include "media/TransportStreamDecryptor.h"
#include "media/TransportStreamEncryptor.h"

using namespace korvane::fuzz;

namespace {

template <class Encryptor>
Bytes Scrambled(const Bytes& input, uint8_t mode) {
    Bytes work(input);
    EncryptOptions options;
    options.packetsPerBlock = 1 + (mode >> 1) % 7;
    options.videoScrambling = static_cast<VideoScrambling>((mode >> 4) % 3);
    Encryptor encryptor(Keys(), options);
    MemoryByteSink out;
    if (!encryptor.Feed(work.data(), work.size(), out) || !encryptor.Finish(out)) return input;
    return out.Bytes();
}

template <class Decryptor>
Bytes KeepOffsets(const Bytes& input, size_t chunk) {
    Bytes work(input);
    Decryptor decryptor(Keys(), KeystreamMaking::OnCallerThread, DecryptLayout::KeepOffsets);
    MemoryByteSink out;
    for (size_t pos = 0; pos < work.size(); pos += chunk)
        if (!decryptor.Feed(work.data() + pos, std::min(chunk, work.size() - pos), out)) __builtin_trap();
    if (!decryptor.Finish(out)) __builtin_trap();
    return out.Bytes();
}

void Check(PayloadView& view, const Bytes& want, uint64_t offset, size_t length, Bytes& got) {
    got.assign(length, 0);
    const size_t n = view.ReadAt(offset, got.data(), length);
    const size_t expected = offset >= want.size() ? 0 : std::min<size_t>(length, want.size() - offset);
    if (n != expected || !std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n),
                                     want.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(offset, want.size()))))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint8_t mode = data[0], tune = data[1];
    data += 2;
    size -= 2;
    const Bytes input(data, data + size);
    bool ts = SniffPayload(data, size).kind == PayloadKind::TransportStream;
    if (mode & 0x80) ts = !ts;
    Bytes payload = input;
    if (!(mode & 0x40)) payload = ts ? Scrambled<TransportStreamEncryptor>(input, mode) : Scrambled<ProgramStreamEncryptor>(input, mode);

    const size_t chunk = 1 + size_t(tune) * 13;
    const Bytes want = ts ? KeepOffsets<TransportStreamDecryptor>(payload, payload.size() + 1)
                          : KeepOffsets<ProgramStreamDecryptor>(payload, payload.size() + 1);
    if (want.size() != payload.size()) __builtin_trap();
    if ((ts ? KeepOffsets<TransportStreamDecryptor>(payload, chunk) : KeepOffsets<ProgramStreamDecryptor>(payload, chunk)) != want)
        __builtin_trap();

    TivoFile file;
    file.payloadSize = file.fileSize = payload.size();
    file.payloadKind = ts ? PayloadKind::TransportStream : PayloadKind::ProgramStream;
    file.scrambled = true;
    PayloadViewOptions options;
    options.firstScanBytes = 64 + (tune & 0x3F) * 64u;
    options.continueBytes = (tune >> 6) * 3000u;
    options.checkpointSpacing = 400 + (tune & 7) * 300u;
    options.maxCheckpoints = 4;
    MemoryByteSource source(payload.data(), payload.size());
    Bytes got;
    {
        PayloadView view(source, file, Keys(), options);
        std::minstd_rand rng(static_cast<unsigned>(size * 2654435761u + mode * 40503u + tune));
        uint64_t last = 0;
        for (int i = 0; i < 48; ++i) {
            const uint64_t offset = (rng() % 3 == 0) ? last : rng() % (payload.size() + 1);
            const size_t length = (rng() % 4 == 0) ? rng() % (payload.size() + 1) : rng() % 600;
            Check(view, want, offset, length, got);
            last = offset + length;
        }
    }
    PayloadView view(source, file, Keys(), options);
    for (uint64_t pos = 0; pos < want.size(); pos += chunk)
        Check(view, want, pos, chunk, got);
    return 0;
}
