// Decrypting one recording from a file or standard input, the work behind tivodecode's
// command line and `korvane-tivo decrypt`: read the head, choose and check the key, write
// the chunk files and the pyTivo text if asked, then the decrypted stream.
#pragma once

#include <string>

#include "cli/MediaAccessKey.h"
#include "cli/Messages.h"
#include "media/ProgramStreamDecryptor.h"

namespace korvane::cli {

struct DecodeRequest {
    std::string input = "-";   // a path, or "-" for standard input
    std::string output = "-";  // a path, or "-" for standard output
    KeyChoice key;
    bool verifyKey = true;
    bool writeChunkFiles = false;  // chunk-NN-IIII.xml in the working directory
    bool writeStream = true;
    std::string pyTivoTextPath;  // where the pyTivo text goes; empty: nowhere
};

struct DecodeResult {
    media::DecryptStats stats;
    bool transportStream = false;
};

// Returns the exit status: 0 when everything asked for was written, 1 otherwise, with the
// reason told through messages. A key that does not fit ends the work before anything is
// written. Damage in the stream is reported and skipped; only a stream of which not one
// scrambled packet could be decrypted counts as a failure.
int DecodeRecording(const DecodeRequest& request, const Messages& messages, DecodeResult* result);

}  // namespace korvane::cli
