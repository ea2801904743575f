// The streams of an encrypted program-stream payload, found in its first probe window after
// decryption, reading the window in small pieces.
//
// media's ProbeDecryptedPayload holds the whole 8 MiB window in memory; here it goes through
// in 256 KiB pieces. Load runs this while the crypto DLLs are freshly loaded, and the whole
// window on top of them was the Wine process's peak (about 41 MiB, over the 40 MiB ceiling).
#pragma once

#include "media/Io.h"
#include "media/TivoContainer.h"
#include "media/TivoKeys.h"

namespace korvane::filters {

// Sets file->probe, probeDecrypted, probeDamage and keys as ProbeDecryptedPayload does.
// ReadFailed when the window cannot be read or the hash library fails.
media::TivoStatus ProbeDecryptedInPieces(media::ByteSource& source, const media::TivoKeys& keys,
                                         media::TivoFile* file);

}  // namespace korvane::filters
