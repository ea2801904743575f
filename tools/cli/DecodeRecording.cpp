#include "cli/DecodeRecording.h"

#include "cli/PayloadDecryption.h"
#include "cli/RecordingHead.h"
#include "cli/RecordingMetadata.h"
#include "cli/InputStream.h"
#include "cli/OutputStream.h"

namespace korvane::cli {
namespace {

// Enough of the payload to tell a program stream from a transport stream past some damage
// at its start, and no more: a stream piped in is decrypted as it comes.
constexpr size_t kPayloadProbeBytes = size_t(256) << 10;

int Failure(const Messages& messages, const std::string& text) {
    messages.Error(text);
    return 1;
}

std::string DamageReport(const media::DecryptStats& stats) {
    std::string text;
    const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : "; ") + part; };
    if (stats.packetsDropped)
        add(std::to_string(stats.packetsDropped) + " scrambled packet" +
            (stats.packetsDropped == 1 ? "" : "s") + " could not be decrypted and " +
            (stats.packetsDropped == 1 ? "was" : "were") + " dropped");
    if (stats.damageEvents)
        add(std::to_string(stats.bytesSkipped) + " damaged bytes skipped in " +
            std::to_string(stats.damageEvents) + (stats.damageEvents == 1 ? " place" : " places"));
    if (stats.truncatedUnits) add("the input ends inside a packet");
    return text;
}

}  // namespace

int DecodeRecording(const DecodeRequest& request, const Messages& messages, DecodeResult* result) {
    std::string error;
    InputStream in;
    if (!in.Open(request.input, &error)) return Failure(messages, error);
    RecordingHead head;
    const media::TivoStatus status =
        ReadRecordingHead(in, request.writeStream ? kPayloadProbeBytes : 0, &head, &error);
    if (request.writeStream ? status != media::TivoStatus::Ok : !HasChunks(status))
        return Failure(messages, error);
    const media::TivoFile& file = head.file;
    result->transportStream = file.payloadKind == media::PayloadKind::TransportStream;

    media::TivoKeys keys;
    if (!RecordingKeys(file, request.key, &keys, &error)) return Failure(messages, error);
    if (request.verifyKey && !VerifyKey(file, keys, request.key, messages, &error))
        return Failure(messages, error);
    std::string pyTivoText;
    if (!request.pyTivoTextPath.empty() && !RecordingPyTivoText(file, keys, &pyTivoText, &error))
        return Failure(messages, error);
    if (request.writeChunkFiles) {
        if (!WriteChunkFiles(file, keys, "", &error)) return Failure(messages, error);
        messages.Note(1, std::to_string(file.chunks.size()) + " chunk files written");
    }
    if (request.writeStream) {
        messages.Note(1, std::string("decrypting a ") +
                             (result->transportStream ? "transport stream" : "program stream") + " from " +
                             in.Name());
        OutputStream out;
        if (!out.Open(request.output, &error)) return Failure(messages, error);
        media::DecryptStats& stats = result->stats;
        if (!DecryptPayload(head, keys, in, out, messages, &stats, &error)) return Failure(messages, error);
        messages.Note(1, std::to_string(stats.bytesOut) + " bytes written, " +
                             std::to_string(stats.packetsDecrypted) + " packets decrypted");
        if (stats.DamageCount()) messages.Error(DamageReport(stats));
        if (stats.packetsDropped && !stats.packetsDecrypted)
            return Failure(messages,
                           "Not one scrambled packet could be decrypted: none came with a key "
                           "record to decrypt it by.");
    }
    if (!request.pyTivoTextPath.empty()) {
        if (!WriteTextFile(request.pyTivoTextPath, pyTivoText, &error)) return Failure(messages, error);
        messages.Note(1, "metadata written to \"" + request.pyTivoTextPath + "\"");
    }
    return 0;
}

}  // namespace korvane::cli
