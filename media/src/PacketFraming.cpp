#include "media/PacketFraming.h"

namespace korvane::media {

size_t WriteFrame(const PesPacket&, uint8_t*, size_t) { return 0; }
bool ReadFrame(const uint8_t**, const uint8_t*, ElementaryPacket*) { return false; }

}  // namespace korvane::media
