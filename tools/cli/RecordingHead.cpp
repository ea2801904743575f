#include "cli/RecordingHead.h"

#include <algorithm>

#include "media/TivoMetadata.h"

namespace korvane::cli {
namespace {

using media::TivoStatus;

// A TiVo's head is 10-25 KiB; a far larger MPEG offset is damage, and buffering it would
// only spend the memory the command promises to stay under.
constexpr uint32_t kLargestHead = 1u << 20;

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

bool IsLicence(const media::TivoChunk& chunk) {
    if (!chunk.IsPlainXml()) return false;
    const std::string start(chunk.data.begin(),
                            chunk.data.begin() + std::min<size_t>(chunk.data.size(), 256));
    return start.find("<license") != std::string::npos || start.find(":license") != std::string::npos;
}

}  // namespace

TivoStatus ReadRecordingHead(InputStream& in, size_t payloadBytes, RecordingHead* head, std::string* error) {
    std::vector<uint8_t> bytes(media::kTivoHeaderSize);
    bytes.resize(in.ReadFull(bytes.data(), bytes.size()));
    if (in.Failed()) {
        *error = in.ErrorText();
        return TivoStatus::ReadFailed;
    }
    if (bytes.empty()) {
        *error = in.Name() + " is empty: no recording came.";
        return TivoStatus::NotTivo;
    }
    if (bytes.size() == media::kTivoHeaderSize) {
        const uint32_t offset = Be32(&bytes[10]);
        if (offset > kLargestHead) {
            *error = in.Name() + ": the MPEG offset " + std::to_string(offset) +
                     " is far beyond any TiVo header; the file is damaged.";
            return TivoStatus::BadChunk;
        }
        if (offset > bytes.size()) {
            const size_t have = bytes.size();
            bytes.resize(size_t(offset) + payloadBytes);
            bytes.resize(have + in.ReadFull(bytes.data() + have, bytes.size() - have));
            if (in.Failed()) {
                *error = in.ErrorText();
                return TivoStatus::ReadFailed;
            }
            if (bytes.size() < offset && std::equal(bytes.begin(), bytes.begin() + 4, "TiVo")) {
                *error = in.Name() + " ends after " + std::to_string(bytes.size()) +
                         " bytes, inside its TiVo header (the payload would start at " +
                         std::to_string(offset) + ").";
                return TivoStatus::TruncatedHeader;
            }
        }
    }
    media::MemoryByteSource source(bytes.data(), bytes.size());
    media::TivoParseOptions options;
    options.probeBytes = payloadBytes;
    options.chunkData = media::TivoChunkData::All;  // -D writes every chunk, the metadata reads both
    std::string text;
    const TivoStatus status = media::ParseTivo(source, &head->file, &text, options);
    if (status != TivoStatus::Ok) *error = in.Name() + ": " + text;
    if (HasChunks(status) && head->file.header.mpegOffset < bytes.size())
        head->payloadStart.assign(bytes.begin() + head->file.header.mpegOffset, bytes.end());
    return status;
}

bool HasChunks(TivoStatus status) {
    return status == TivoStatus::Ok || status == TivoStatus::EmptyPayload ||
           status == TivoStatus::UnknownPayloadKind;
}

bool NeedsKey(const media::TivoFile& file) {
    for (const media::TivoChunk& chunk : file.chunks)
        if (!chunk.IsPlainXml()) return true;
    return file.scrambled;
}

std::vector<const media::TivoChunk*> MetadataChunks(const media::TivoFile& file) {
    std::vector<const media::TivoChunk*> chunks;
    for (const media::TivoChunk& chunk : file.chunks)
        if (!IsLicence(chunk)) chunks.push_back(&chunk);
    return chunks;
}

bool ChunkData(const media::TivoChunk& chunk, const media::TivoKeys& keys, std::string* data) {
    if (chunk.IsPlainXml()) {
        *data = chunk.Text();
        return true;
    }
    if (chunk.data.empty()) {
        data->clear();
        return true;
    }
    return media::DecryptMetadataChunk(keys, chunk, data);
}

}  // namespace korvane::cli
