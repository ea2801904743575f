// Decrypting one scrambled PES packet in place: shared by the stream decryptor and the
// video key check. Internal to media/.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/TivoKeys.h"

namespace korvane::media::pes {

enum class PacketResult { Decrypted, MissingRecord, InvalidRecord, BadHeader, HashFailed };

// p: a whole PES packet of a stream id that can be scrambled, with an MPEG-2 header whose
// scrambling bits are set. Decrypted: the packet, now clear and without its record, starts
// at p + *removed and is size - *removed bytes long. Any other result means the packet must
// be dropped; for a missing or invalid record the stream's current keystream skips what the
// packet would have used.
PacketResult DecryptPacket(uint8_t* p, size_t size, KeystreamSet& keystreams, size_t* removed);

}  // namespace korvane::media::pes
