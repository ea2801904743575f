#include <cstdio>
#include <memory>

#include "media/ProgramStreamDecryptor.h"
#include "media/TivoContainer.h"
#include "media/TivoMetadata.h"
#include "media/TransportStreamDecryptor.h"

namespace korvane::media {
namespace {

// The payload from the file's MPEG offset through the decryptor into the output; the output
// goes again when anything fails.
template <class Decryptor>
bool DecryptPayload(FileByteSource& in, const TivoFile& file, const TivoKeys& keys,
                    const std::string& inputPath, const std::string& outputPath, DecryptStats* stats,
                    std::string* error) {
    FileByteSink out;
    if (!out.Open(outputPath, error)) return false;
    Decryptor decryptor(keys);
    constexpr size_t kBlock = size_t(1) << 20;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBlock]);
    bool ok = true;
    for (uint64_t pos = file.payloadOffset; ok && pos < file.fileSize;) {
        size_t n = in.ReadAt(pos, buffer.get(), kBlock);
        if (n == 0) break;
        ok = decryptor.Feed(buffer.get(), n, out);
        pos += n;
    }
    if (ok) ok = decryptor.Finish(out);
    bool readFailed = in.Failed() || decryptor.Stats().bytesIn != file.payloadSize;
    std::string closeError;
    bool closed = out.Close(&closeError);
    if (stats) *stats = decryptor.Stats();
    if (!ok || readFailed || !closed) {
        if (error)
            *error = readFailed            ? "Cannot read \"" + inputPath + "\"."
                     : !closeError.empty() ? closeError
                                           : "Cannot write \"" + outputPath + "\".";
        std::remove(outputPath.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool DecryptTivoFile(const std::string& inputPath, const std::string& outputPath,
                     const std::string& mediaAccessKey, DecryptStats* stats, std::string* error) {
    std::string mak;
    if (!NormalizeMediaAccessKey(mediaAccessKey, &mak)) {
        if (error) *error = "The Media Access Key must be 10 digits.";
        return false;
    }
    FileByteSource in;
    if (!in.Open(inputPath, error)) return false;
    TivoFile file;
    TivoParseOptions parse;
    parse.probeBytes = 4096;  // only the payload kind matters here
    std::string text;
    if (ParseTivo(in, &file, &text, parse) != TivoStatus::Ok) {
        if (error) *error = "\"" + inputPath + "\": " + text;
        return false;
    }
    const bool transport = file.payloadKind == PayloadKind::TransportStream;
    TivoKeys keys;
    if (!DeriveTivoKeys(mak, file, &keys)) {
        if (error) *error = "The hash library failed.";
        return false;
    }
    // The video check reads program streams: a transport stream's key is judged by its metadata.
    const KeyFit fit = transport ? CheckKeyByMetadata(file, keys).fit : CheckKey(in, file, keys).fit;
    if (fit == KeyFit::Wrong) {
        if (error) *error = "The Media Access Key does not fit \"" + inputPath + "\".";
        return false;
    }

    return transport
               ? DecryptPayload<TransportStreamDecryptor>(in, file, keys, inputPath, outputPath, stats, error)
               : DecryptPayload<ProgramStreamDecryptor>(in, file, keys, inputPath, outputPath, stats, error);
}

}  // namespace korvane::media
