// The .TiVo container: a 16-byte header, metadata chunks, then an MPEG payload that runs from
// the header's MPEG offset to the end of the file. All numbers are big-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/Io.h"
#include "media/StreamProbe.h"
#include "media/TivoKeys.h"

namespace korvane::media {

constexpr size_t kTivoHeaderSize = 16;
constexpr size_t kTivoChunkHeaderSize = 12;
constexpr uint16_t kTivoFlagTransportStream = 0x20;
constexpr uint16_t kTivoChunkPlainXml = 0;
constexpr uint16_t kTivoChunkEncryptedXml = 1;

struct TivoHeader {
    uint16_t reserved4 = 0;   // bytes 4-5, meaning unknown
    uint16_t flags = 0;       // 0x20: transport stream payload
    uint16_t reserved8 = 0;   // bytes 8-9, meaning unknown
    uint32_t mpegOffset = 0;  // absolute file offset of the MPEG payload
    uint16_t chunkCount = 0;
};

struct TivoChunk {
    uint32_t chunkSize = 0;  // including its 12-byte header and padding
    uint32_t dataSize = 0;
    uint16_t id = 0;
    uint16_t type = 0;        // kTivoChunkPlainXml or kTivoChunkEncryptedXml
    uint64_t fileOffset = 0;  // where the chunk header starts
    std::vector<uint8_t> data;

    bool IsPlainXml() const { return type == kTivoChunkPlainXml; }
    std::string Text() const { return std::string(data.begin(), data.end()); }
};

enum class TivoStatus {
    Ok,
    ReadFailed,           // the file could not be read
    NotTivo,              // no "TiVo" magic
    TruncatedHeader,      // fewer than 16 bytes, or the chunks end before their stated size
    BadChunk,             // a chunk size smaller than its header plus data
    UnknownChunkType,     // a chunk type other than plain or encrypted XML
    ChunkPastMpegOffset,  // the chunks run past the MPEG offset
    OffsetBeyondEnd,      // the MPEG offset lies beyond the end of the file
    EmptyPayload,         // nothing after the MPEG offset
    UnknownPayloadKind,   // the payload looks like neither a program nor a transport stream
};

struct TivoFile {
    TivoHeader header;
    std::vector<TivoChunk> chunks;
    uint64_t fileSize = 0;
    uint64_t payloadOffset = 0;
    uint64_t payloadSize = 0;
    // Decided by the payload bytes (whichever sync comes first); a header flag that disagrees
    // is only recorded in flagSaysTransport. Bytes showing neither are an error.
    PayloadKind payloadKind = PayloadKind::Unknown;
    bool flagSaysTransport = false;
    uint64_t payloadSyncOffset = 0;  // damage before the first pack header / TS packet
    // A scrambled payload parses fine (the tool still prints it) but cannot be converted as
    // it is: without a key that fits (probeDecrypted false) callers that convert refuse it
    // with kEncryptedPayloadText; with one they pass it through
    // ProgramStreamDecryptor(file.keys).
    bool scrambled = false;
    // Streams found in the first probeBytes of the payload, either kind (of the decrypted
    // payload when probeDecrypted).
    ProbeResult probe;
    // Set when TivoParseOptions::mediaAccessKeys held a key that fits (or ProbeDecryptedPayload
    // ran): which of those keys fits (-1: none, or not asked) and its derived keys.
    int keyIndex = -1;
    TivoKeys keys;
    bool probeDecrypted = false;
    // Scrambled packets the probe had to drop because they could not be decrypted.
    uint64_t probeDamage = 0;
};

// Which chunks' data ParseTivo reads. Every chunk's header is read and checked either way; the
// data of a chunk left unread stays empty.
enum class TivoChunkData {
    None,
    KeyChunks,  // the license (the last plain chunk) and the first encrypted chunk: all a key needs
    All,
};

// The most chunk data ParseTivo reads in all: metadata is a few KiB, and a file that claims
// more would only make a parse exhaust memory.
constexpr uint64_t kMaxChunkDataRead = uint64_t(1) << 20;
// More chunks than a recording has (three, as a rule) only make the parse read more headers.
constexpr unsigned kMaxTivoChunks = 64;

struct TivoParseOptions {
    size_t probeBytes = kDefaultProbeBytes;  // how much of the payload to look at
    TivoChunkData chunkData = TivoChunkData::KeyChunks;
    // Media Access Keys to try on a scrambled program stream payload (10 digits each): the
    // first that fits (metadata check, else video) is recorded in keyIndex/keys and the probe
    // lists the streams of the decrypted payload. None fits: keyIndex stays -1 and the probe
    // stays that of the scrambled payload.
    std::vector<std::string> mediaAccessKeys;
};

// Parses the header and chunks from the source and probes the start of the payload. On
// failure returns the status and sets *error (if given) to a sentence naming the fault;
// *file is then partly filled (header and chunks read so far).
TivoStatus ParseTivo(ByteSource& source, TivoFile* file, std::string* error,
                     const TivoParseOptions& options = {});

// Opens the file by path (std::fopen, so "Z:\..." under Wine) and parses it. Errors name
// the file.
TivoStatus ParseTivoFile(const std::string& path, TivoFile* file, std::string* error,
                         const TivoParseOptions& options = {});

// Probes the first probeBytes of a parsed file's scrambled payload (program or transport stream) again, read
// in pieces, decrypted with keys: sets file->probe, probeDecrypted, probeDamage and keys. For callers that
// choose the key themselves (a key store, a dialog).
TivoStatus ProbeDecryptedPayload(ByteSource& source, const TivoKeys& keys, TivoFile* file, std::string* error,
                                 size_t probeBytes = kDefaultProbeBytes);

const char* TivoStatusName(TivoStatus status);

}  // namespace korvane::media
