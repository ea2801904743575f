#include "cli/PayloadDecryption.h"

#include "cli/ReadAhead.h"
#include "media/TransportStreamDecryptor.h"

namespace korvane::cli {
namespace {

constexpr uint64_t kProgressStep = uint64_t(128) << 20;

template <class Decryptor>
bool Run(RecordingHead& head, const media::TivoKeys& keys, InputStream& in, OutputStream& out,
         const Messages& messages, media::DecryptStats* stats) {
    Decryptor decryptor(keys, media::KeystreamMaking::WithHelperThread);
    bool ok =
        head.payloadStart.empty() || decryptor.Feed(head.payloadStart.data(), head.payloadStart.size(), out);
    ReadAhead reader(in);
    // The output writes from the reader's pieces: everything lent is written and given back
    // before the pieces go, whichever way this function is left.
    struct Drained {
        OutputStream& out;
        ~Drained() { out.Drain(); }
    } drained{out};
    uint64_t read = head.payloadStart.size(), nextProgress = kProgressStep;
    while (ok) {
        // The input has no more for now (a pipe, a download): pass on what is decrypted
        // rather than hold it until more comes.
        if (reader.WouldWait() && !out.Flush()) ok = false;
        const ReadAhead::Piece piece = reader.Next();
        if (!ok || piece.size == 0) break;
        // Decrypted in place and written from there: the output gives the piece back.
        out.Lend(piece.data, piece.size, &reader, piece.index);
        ok = decryptor.Feed(piece.data, piece.size, out);
        ok = out.EndLend() && ok;
        read += piece.size;
        if (read >= nextProgress) {
            messages.Note(1, std::to_string(read >> 20) + " MiB of the payload read");
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
