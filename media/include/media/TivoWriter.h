// Wrapping an MPEG program or transport stream into a .TiVo container the way a TiVo lays one
// out, clear or encrypted with a Media Access Key, so the program can be tried (and tested)
// without a recorder. Test material only: the filter pack does not link it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/Io.h"
#include "media/ProgramStreamEncryptor.h"
#include "media/TivoKeys.h"

namespace korvane::media {

struct TivoWrapOptions {
    std::string title = "Korvane test recording";
    std::string episode;
    std::string description;
    std::string channel;
    std::string recordingTime = "2026-01-01T20:00:00Z";
    // A whole metadata document to carry in both metadata chunks instead of one made from
    // the fields above (a recording's real TvBusEnvelope, for tests of the metadata readers).
    std::string metadataXml;
    // With a Media Access Key (10 digits) the file is encrypted as a TiVo delivers it: a
    // license chunk with a random salt (or the one given, 32 hex digits), both metadata
    // chunks encrypted, and the payload scrambled: every scrambleable PES packet of a program
    // stream (see ProgramStreamEncryptor), the audio and video packets of a transport stream
    // (TransportStreamEncryptor); `encryption` says how.
    std::string mediaAccessKey;
    std::string salt;
    EncryptOptions encryption;
    // Chunk ids and order as seen in a real file: the license chunk (id 3) first, then the
    // two metadata chunks (ids 1 and 2), plain XML unless a Media Access Key encrypts them.
    bool includeLicenseChunk = true;
    // Header flags: the transport-stream bit is set from the payload; these are the others.
    uint16_t otherFlags = 0x0D;
    // Round the MPEG offset up to this (a TiVo uses multiples of 1024; at least 10240).
    uint32_t offsetAlignment = 1024;
    uint32_t minimumOffset = 10240;
};

// The container head (header, chunks, padding) for a payload of the given kind; the payload
// itself follows it directly. Useful for tests that build files in memory. With
// options.mediaAccessKey set, the metadata is encrypted and *keys (if given) receives the
// keys to encrypt the payload with; an empty head means the key was not 10 digits, the salt
// not 32 hex digits, or the hash library failed.
std::vector<uint8_t> BuildTivoHead(bool transportStream, const TivoWrapOptions& options = {},
                                   TivoKeys* keys = nullptr);

// Copies inputPath (a program stream or transport stream, recognised by its bytes) into a
// new .TiVo file at outputPath. Paths go through std::fopen, so "Z:\..." works under Wine.
// False with *error naming the file and the fault.
bool WrapMpegInTivo(const std::string& inputPath, const std::string& outputPath, std::string* error,
                    const TivoWrapOptions& options = {});

}  // namespace korvane::media
