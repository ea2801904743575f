#include "cli/PayloadDecryption.h"

#include "media/TransportStreamDecryptor.h"

namespace korvane::cli {
namespace {

constexpr size_t kReadBytes = size_t(1) << 20;
constexpr uint64_t kProgressStep = uint64_t(256) << 20;

template <class Decryptor>
bool Run(RecordingHead& head, const media::TivoKeys& keys, InputStream& in, OutputStream& out,
         const Messages& messages, media::DecryptStats* stats) {
    Decryptor decryptor(keys, media::KeystreamMaking::WithHelperThread);
    bool ok =
        head.payloadStart.empty() || decryptor.Feed(head.payloadStart.data(), head.payloadStart.size(), out);
    media::AlignedBuffer buffer(kReadBytes);
    uint64_t nextProgress = kProgressStep;
    while (ok) {
        const size_t n = in.ReadSome(buffer.Data(), buffer.Size());
        if (n == 0) break;
        ok = decryptor.Feed(buffer.Data(), n, out);
        // A short read means the input has no more for now (a pipe, a download): pass on what
        // is decrypted rather than hold it until more comes.
        if (ok && n < buffer.Size()) ok = out.Flush();
        if (in.BytesRead() >= nextProgress) {
            messages.Note(2, std::to_string(in.BytesRead() >> 20) + " MiB read");
            nextProgress += kProgressStep;
        }
    }
    if (ok) ok = decryptor.Finish(out);
    *stats = decryptor.Stats();
    return ok;
}

}  // namespace

bool DecryptPayload(RecordingHead& head, const media::TivoKeys& keys, InputStream& in, OutputStream& out,
                    const Messages& messages, media::DecryptStats* stats, std::string* error) {
    const bool ok = head.file.payloadKind == media::PayloadKind::TransportStream
                        ? Run<media::TransportStreamDecryptor>(head, keys, in, out, messages, stats)
                        : Run<media::ProgramStreamDecryptor>(head, keys, in, out, messages, stats);
    std::string closeError;
    const bool closed = out.Close(&closeError);
    if (in.Failed())
        *error = in.ErrorText();
    else if (!closed)
        *error = closeError;
    else if (!ok)
        *error = "The hash library failed.";
    return ok && closed && !in.Failed();
}

}  // namespace korvane::cli
