// A recording's payload decrypted as it streams in: the bytes read with the head first, then
// the rest of the input in the pieces it comes in, through the decryptor of the payload's
// kind (program stream or transport stream), out in the same kind.
#pragma once

#include <cstdint>
#include <string>

#include "cli/Messages.h"
#include "cli/RecordingHead.h"
#include "cli/InputStream.h"
#include "cli/OutputStream.h"
#include "media/ProgramStreamDecryptor.h"
#include "media/TivoKeys.h"

namespace korvane::cli {

// Packets that cannot be decrypted are dropped and counted in *stats, never stop the
// stream. False with *error only when the input cannot be read or the output written (or
// the hash library fails). The head's payload bytes are decrypted in place.
bool DecryptPayload(RecordingHead& head, const media::TivoKeys& keys, InputStream& in, OutputStream& out,
                    const Messages& messages, media::DecryptStats* stats, std::string* error);

}  // namespace korvane::cli
