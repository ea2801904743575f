// The head of a .TiVo recording (header, licence and metadata chunks) read from the front of
// a stream, so that a pipe is read once, in order: what follows the head is the payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/InputStream.h"
#include "media/TivoContainer.h"
#include "media/TivoKeys.h"

namespace korvane::cli {

struct RecordingHead {
    media::TivoFile file;               // header and chunks; payloadKind when payload bytes were read
    std::vector<uint8_t> payloadStart;  // the payload bytes read with the head
};

// Reads the head and then up to payloadBytes of the payload (fewer when the input ends):
// enough to tell a program stream from a transport stream. Returns the parser's verdict;
// *error names the input and the fault. With payloadBytes 0 the verdict is EmptyPayload
// for a good head; HasChunks tells whether the metadata is there either way.
media::TivoStatus ReadRecordingHead(InputStream& in, size_t payloadBytes, RecordingHead* head,
                                    std::string* error);
bool HasChunks(media::TivoStatus status);

// Whether anything in the recording is encrypted: a metadata chunk, or the payload's start.
bool NeedsKey(const media::TivoFile& file);

// The chunks holding the recording's metadata documents, in file order: every encrypted chunk
// and the plain ones that are not the licence.
std::vector<const media::TivoChunk*> MetadataChunks(const media::TivoFile& file);

// The chunk's data as its owner reads it: decrypted with keys when it is encrypted.
bool ChunkData(const media::TivoChunk& chunk, const media::TivoKeys& keys, std::string* data);

}  // namespace korvane::cli
