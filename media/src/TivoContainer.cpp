#include "media/TivoContainer.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "media/ProgramStreamDecryptor.h"
#include "media/TivoMetadata.h"
#include "media/TransportStreamDecryptor.h"

namespace korvane::media {
namespace {

inline uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
inline uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

TivoStatus Fail(TivoStatus status, const std::string& text, std::string* error) {
    if (error) *error = text;
    return status;
}

// Decrypts the window in place and probes what comes out (the decryptor writes straight into
// the prober, so the decrypted window is never copied).
template <class Decryptor>
bool ProbeDecryptedWindow(uint8_t* window, size_t size, const TivoKeys& keys, TivoFile* file) {
    Decryptor decryptor(keys);
    StreamProber prober(file->payloadKind);
    if (!decryptor.Feed(window, size, prober) || !decryptor.Finish(prober)) return false;
    file->probe = prober.Finish();
    file->probeDecrypted = true;
    file->probeDamage = decryptor.Stats().packetsDropped;
    file->keys = keys;
    return true;
}

// The first of the caller's keys that fits: the metadata decides when the file has some,
// else the video in the window (read from it piece by piece: it is still needed scrambled).
int FindFittingKey(const std::vector<std::string>& candidates, const uint8_t* window, size_t size,
                   const TivoFile& file, TivoKeys* keys) {
    MemoryByteSource scrambled(window, size);
    for (size_t i = 0; i < candidates.size(); ++i) {
        std::string mak;
        if (!NormalizeMediaAccessKey(candidates[i], &mak) || !DeriveTivoKeys(mak, file, keys)) continue;
        KeyCheck check = CheckKeyByMetadata(file, *keys);
        if (check.basis == KeyCheckBasis::None) check.fit = CheckKeyByVideo(scrambled, 0, size, *keys);
        if (check.fit == KeyFit::Fits) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

const char* TivoStatusName(TivoStatus status) {
    switch (status) {
    case TivoStatus::Ok:
        return "ok";
    case TivoStatus::ReadFailed:
        return "read failed";
    case TivoStatus::NotTivo:
        return "not a TiVo file";
    case TivoStatus::TruncatedHeader:
        return "truncated header";
    case TivoStatus::BadChunk:
        return "bad chunk";
    case TivoStatus::UnknownChunkType:
        return "unknown chunk type";
    case TivoStatus::ChunkPastMpegOffset:
        return "chunk past the MPEG offset";
    case TivoStatus::OffsetBeyondEnd:
        return "MPEG offset beyond the end of the file";
    case TivoStatus::EmptyPayload:
        return "empty MPEG payload";
    case TivoStatus::UnknownPayloadKind:
        return "unknown payload kind";
    }
    return "unknown status";
}

namespace {

// The 16-byte header: its fields, and an MPEG offset that can hold it and lies in the file.
TivoStatus ReadHeader(ByteSource& source, TivoFile* file, std::string* error) {
    uint8_t head[kTivoHeaderSize];
    size_t got = source.ReadAt(0, head, sizeof head);
    if (source.Failed()) return Fail(TivoStatus::ReadFailed, "The file header could not be read.", error);
    if (std::memcmp(head, "TiVo", std::min<size_t>(got, 4)) != 0 || got == 0)
        return Fail(TivoStatus::NotTivo, "Not a TiVo file: it does not start with \"TiVo\".", error);
    if (got < kTivoHeaderSize)
        return Fail(
            TivoStatus::TruncatedHeader,
            "Truncated TiVo header: the file has " + std::to_string(got) + " bytes, the header needs 16.",
            error);
    TivoHeader& h = file->header;
    h.reserved4 = Be16(head + 4);
    h.flags = Be16(head + 6);
    h.reserved8 = Be16(head + 8);
    h.mpegOffset = Be32(head + 10);
    h.chunkCount = Be16(head + 14);
    file->flagSaysTransport = (h.flags & kTivoFlagTransportStream) != 0;
    if (h.mpegOffset > file->fileSize)
        return Fail(TivoStatus::OffsetBeyondEnd,
                    "The MPEG offset " + std::to_string(h.mpegOffset) + " lies beyond the end of the file (" +
                        std::to_string(file->fileSize) + " bytes).",
                    error);
    if (h.mpegOffset < kTivoHeaderSize)
        return Fail(TivoStatus::ChunkPastMpegOffset,
                    "The MPEG offset " + std::to_string(h.mpegOffset) + " lies inside the 16-byte header.",
                    error);
    return TivoStatus::Ok;
}

std::string ChunkName(size_t index, const TivoHeader& h) {
    return "Chunk " + std::to_string(index + 1) + " of " + std::to_string(h.chunkCount);
}

// The chunk headers between the header and the MPEG offset, each checked against both.
TivoStatus ReadChunkHeaders(ByteSource& source, TivoFile* file, std::string* error) {
    const TivoHeader& h = file->header;
    if (h.chunkCount > kMaxTivoChunks)
        return Fail(
            TivoStatus::BadChunk,
            "The header claims " + std::to_string(h.chunkCount) + " chunks; a recording has a handful.",
            error);
    uint64_t pos = kTivoHeaderSize;
    for (unsigned i = 0; i < h.chunkCount; ++i) {
        const std::string which = ChunkName(i, h);
        if (pos + kTivoChunkHeaderSize > h.mpegOffset)
            return Fail(TivoStatus::ChunkPastMpegOffset,
                        which + " at offset " + std::to_string(pos) + " runs past the MPEG offset " +
                            std::to_string(h.mpegOffset) + ".",
                        error);
        uint8_t ch[kTivoChunkHeaderSize];
        if (source.ReadAt(pos, ch, sizeof ch) != sizeof ch)
            return Fail(source.Failed() ? TivoStatus::ReadFailed : TivoStatus::TruncatedHeader,
                        which + ": its header could not be read.", error);
        TivoChunk chunk;
        chunk.chunkSize = Be32(ch);
        chunk.dataSize = Be32(ch + 4);
        chunk.id = Be16(ch + 8);
        chunk.type = Be16(ch + 10);
        chunk.fileOffset = pos;
        if (uint64_t(chunk.chunkSize) < kTivoChunkHeaderSize + uint64_t(chunk.dataSize))
            return Fail(TivoStatus::BadChunk,
                        which + " is smaller (" + std::to_string(chunk.chunkSize) +
                            " bytes) than its header and " + std::to_string(chunk.dataSize) +
                            " bytes of data.",
                        error);
        if (chunk.type != kTivoChunkPlainXml && chunk.type != kTivoChunkEncryptedXml)
            return Fail(TivoStatus::UnknownChunkType,
                        which + " has the unknown type " + std::to_string(chunk.type) + ".", error);
        if (pos + chunk.chunkSize > h.mpegOffset)
            return Fail(TivoStatus::ChunkPastMpegOffset,
                        which + " (" + std::to_string(chunk.chunkSize) + " bytes at offset " +
                            std::to_string(pos) + ") runs past the MPEG offset " +
                            std::to_string(h.mpegOffset) + ".",
                        error);
        pos += chunk.chunkSize;
        file->chunks.push_back(std::move(chunk));
    }
    return TivoStatus::Ok;
}

// Whether the chunk's data is read: for a key, the last plain chunk (the license) and the first
// encrypted chunk with data (the key check's).
bool Wanted(TivoChunkData which, const TivoFile& file, size_t index) {
    if (which == TivoChunkData::All) return true;
    if (which == TivoChunkData::None) return false;
    const TivoChunk& chunk = file.chunks[index];
    if (chunk.IsPlainXml()) {
        for (size_t later = index + 1; later < file.chunks.size(); ++later)
            if (file.chunks[later].IsPlainXml()) return false;
        return true;
    }
    for (size_t earlier = 0; earlier < index; ++earlier)
        if (!file.chunks[earlier].IsPlainXml() && file.chunks[earlier].dataSize != 0) return false;
    return true;
}

// The data of the chunks asked for, at most kMaxChunkDataRead in all.
TivoStatus ReadChunkData(ByteSource& source, const TivoParseOptions& options, TivoFile* file,
                         std::string* error) {
    uint64_t total = 0;
    for (size_t i = 0; i < file->chunks.size(); ++i) {
        TivoChunk& chunk = file->chunks[i];
        if (chunk.dataSize == 0 || !Wanted(options.chunkData, *file, i)) continue;
        total += chunk.dataSize;
        if (total > kMaxChunkDataRead)
            return Fail(TivoStatus::BadChunk,
                        ChunkName(i, file->header) + " claims " + std::to_string(chunk.dataSize) +
                            " bytes of data, far more than metadata needs.",
                        error);
        chunk.data.resize(chunk.dataSize);
        if (source.ReadAt(chunk.fileOffset + kTivoChunkHeaderSize, chunk.data.data(), chunk.dataSize) !=
            chunk.dataSize)
            return Fail(source.Failed() ? TivoStatus::ReadFailed : TivoStatus::TruncatedHeader,
                        ChunkName(i, file->header) + ": its data could not be read.", error);
    }
    return TivoStatus::Ok;
}

// With the caller's keys, the first that fits decrypts the window for the probe.
TivoStatus TryKeysOnProgramStream(uint8_t* window, size_t size, const TivoParseOptions& options,
                                  TivoFile* file, std::string* error) {
    TivoKeys keys;
    int fits = FindFittingKey(options.mediaAccessKeys, window, size, *file, &keys);
    if (fits < 0) return TivoStatus::Ok;
    if (!ProbeDecryptedWindow<ProgramStreamDecryptor>(window, size, keys, file))
        return Fail(TivoStatus::ReadFailed, "The key could not be used: the hash library failed.", error);
    file->keyIndex = fits;
    return TivoStatus::Ok;
}

// A key is judged by the metadata alone here: the video check reads program streams.
TivoStatus TryKeysOnTransportStream(uint8_t* window, size_t size, const TivoParseOptions& options,
                                    TivoFile* file, std::string* error) {
    for (size_t i = 0; i < options.mediaAccessKeys.size(); ++i) {
        std::string mak;
        TivoKeys keys;
        if (!NormalizeMediaAccessKey(options.mediaAccessKeys[i], &mak) ||
            !DeriveTivoKeys(mak, *file, &keys) || CheckKeyByMetadata(*file, keys).fit != KeyFit::Fits)
            continue;
        if (!ProbeDecryptedWindow<TransportStreamDecryptor>(window, size, keys, file))
            return Fail(TivoStatus::ReadFailed, "The key could not be used: the hash library failed.", error);
        file->keyIndex = static_cast<int>(i);
        break;
    }
    return TivoStatus::Ok;
}

// The payload after the MPEG offset: what kind it is (confirmed by its bytes), the streams in
// its first probeBytes, whether it is scrambled and, given keys, which one opens it.
TivoStatus ProbePayload(ByteSource& source, const TivoParseOptions& options, TivoFile* file,
                        std::string* error) {
    const TivoHeader& h = file->header;
    file->payloadOffset = h.mpegOffset;
    file->payloadSize = file->fileSize - h.mpegOffset;
    if (file->payloadSize == 0)
        return Fail(TivoStatus::EmptyPayload,
                    "The file ends at the MPEG offset " + std::to_string(h.mpegOffset) +
                        ": there is no MPEG payload.",
                    error);

    size_t window = static_cast<size_t>(
        std::min<uint64_t>(file->payloadSize, std::max<size_t>(options.probeBytes, 4096)));
    std::unique_ptr<uint8_t[]> probe(new uint8_t[window]);
    size_t read = source.ReadAt(file->payloadOffset, probe.get(), window);
    if (read != window)
        return Fail(TivoStatus::ReadFailed, "The start of the MPEG payload could not be read.", error);
    PayloadSniff sniff = SniffPayload(probe.get(), window);
    if (sniff.kind == PayloadKind::Unknown)
        return Fail(TivoStatus::UnknownPayloadKind,
                    "The payload at offset " + std::to_string(file->payloadOffset) +
                        " is neither an MPEG program stream (no pack header) nor a transport stream (no 0x47 "
                        "every 188 bytes).",
                    error);
    file->payloadKind = sniff.kind;
    file->payloadSyncOffset = sniff.syncOffset;
    if (sniff.kind == PayloadKind::ProgramStream) {
        file->probe = ProbeProgramStream(probe.get(), window);
        file->scrambled = file->probe.scrambled;
        if (!file->scrambled || options.mediaAccessKeys.empty()) return TivoStatus::Ok;
        return TryKeysOnProgramStream(probe.get(), window, options, file, error);
    }
    file->probe = ProbeTransportStream(probe.get(), window);
    // Scrambling bits on a PID we never carry (a data service) do not make the recording
    // unusable; on a carried stream they do. Without a PMT there is no telling which.
    file->scrambled = file->probe.scrambled || (sniff.scrambled && file->probe.tsStreams.empty());
    if (!file->scrambled) return TivoStatus::Ok;
    return TryKeysOnTransportStream(probe.get(), window, options, file, error);
}

}  // namespace

TivoStatus ParseTivo(ByteSource& source, TivoFile* file, std::string* error,
                     const TivoParseOptions& options) {
    *file = TivoFile{};
    file->fileSize = source.Size();
    TivoStatus status = ReadHeader(source, file, error);
    if (status == TivoStatus::Ok) status = ReadChunkHeaders(source, file, error);
    if (status == TivoStatus::Ok) status = ReadChunkData(source, options, file, error);
    if (status == TivoStatus::Ok) status = ProbePayload(source, options, file, error);
    return status;
}

namespace {

// Reads the window in pieces (so that a caller's memory holds one piece, not the whole
// window), decrypts each in place and probes what comes out.
template <class Decryptor>
TivoStatus ProbeDecryptedPieces(ByteSource& source, const TivoKeys& keys, size_t window, TivoFile* file,
                                std::string* error) {
    constexpr size_t kPieceSize = 256 << 10;
    AlignedBuffer piece(std::min(kPieceSize, std::max<size_t>(window, 1)));
    Decryptor decryptor(keys);
    StreamProber prober(file->payloadKind);
    for (size_t done = 0; done < window;) {
        const size_t want = std::min(window - done, piece.Size());
        if (source.ReadAt(file->payloadOffset + done, piece.Data(), want) != want)
            return Fail(TivoStatus::ReadFailed, "The start of the MPEG payload could not be read.", error);
        if (!decryptor.Feed(piece.Data(), want, prober))
            return Fail(TivoStatus::ReadFailed, "The key could not be used: the hash library failed.", error);
        done += want;
    }
    if (!decryptor.Finish(prober))
        return Fail(TivoStatus::ReadFailed, "The key could not be used: the hash library failed.", error);
    file->probe = prober.Finish();
    file->probeDecrypted = true;
    file->probeDamage = decryptor.Stats().packetsDropped;
    file->keys = keys;
    return TivoStatus::Ok;
}

}  // namespace

TivoStatus ProbeDecryptedPayload(ByteSource& source, const TivoKeys& keys, TivoFile* file, std::string* error,
                                 size_t probeBytes) {
    size_t window =
        static_cast<size_t>(std::min<uint64_t>(file->payloadSize, std::max<size_t>(probeBytes, 4096)));
    if (file->payloadKind == PayloadKind::TransportStream)
        return ProbeDecryptedPieces<TransportStreamDecryptor>(source, keys, window, file, error);
    return ProbeDecryptedPieces<ProgramStreamDecryptor>(source, keys, window, file, error);
}

TivoStatus ParseTivoFile(const std::string& path, TivoFile* file, std::string* error,
                         const TivoParseOptions& options) {
    FileByteSource source;
    std::string text;
    if (!source.Open(path, &text)) {
        *file = TivoFile{};
        return Fail(TivoStatus::ReadFailed, text, error);
    }
    TivoStatus status = ParseTivo(source, file, &text, options);
    if (status != TivoStatus::Ok && error) *error = "\"" + path + "\": " + text;
    return status;
}

}  // namespace korvane::media
