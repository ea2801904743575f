// Demultiplexing a program stream and multiplexing it again in one pass, the way the filter
// graph does it (probe the start, one writer stream per probed elementary stream, every
// packet passed through with its timestamps). The tool, the tests and the benchmark use it as
// the reference pipeline.
#pragma once

#include <cstdint>
#include <string>

#include "media/Io.h"
#include "media/ProgramStreamReader.h"
#include "media/ProgramStreamWriter.h"
#include "media/StreamProbe.h"
#include "media/TivoKeys.h"
#include "media/TransportStreamReader.h"

namespace korvane::media {

struct RemuxStats {
    ReaderStats reader;                 // program stream input
    TsReaderStats tsReader;             // transport stream input
    uint64_t decryptedPackets = 0;      // with a key: scrambled packets decrypted
    uint64_t undecryptablePackets = 0;  // with a key: scrambled packets dropped (record missing or invalid)
    WriterStats writer;
    unsigned streams = 0;         // elementary streams written
    uint64_t droppedPackets = 0;  // packets of streams the probe did not find, or of kind Other
};

struct RemuxOptions {
    size_t readChunkBytes = size_t(1) << 20;
    size_t probeBytes = 0;  // 0: kDefaultProbeBytes
    WriterOptions writer;
    // RemuxProgramStream, RemuxPayload: decrypt the stream with these keys before reading it (nullptr: the
    // stream is clear, and a scrambled one fails).
    const TivoKeys* keys = nullptr;
    // RemuxFile: the Media Access Key for an encrypted .TiVo file (empty: none).
    std::string mediaAccessKey;
};

// Reads [offset, source size) of the source as a program stream and writes the remultiplexed
// stream to the sink. False with *error on a read or write failure, a scrambled payload
// ("encrypted, needs the Media Access Key") or a payload without any elementary stream.
bool RemuxProgramStream(ByteSource& source, uint64_t offset, ByteSink& sink, RemuxStats* stats,
                        std::string* error, const RemuxOptions& options = {});

// The same for either kind of payload: a transport stream's carried streams come out as
// the program stream streams the transport stream reader names them.
bool RemuxPayload(ByteSource& source, uint64_t offset, PayloadKind kind, ByteSink& sink, RemuxStats* stats,
                  std::string* error, const RemuxOptions& options = {});

// By path: a .TiVo file (its payload) or a plain program or transport stream, to a new
// program stream.
bool RemuxFile(const std::string& inputPath, const std::string& outputPath, RemuxStats* stats,
               std::string* error, const RemuxOptions& options = {});

}  // namespace korvane::media
