// The Turing cipher's constant tables (internal to media/).
#pragma once

#include <cstdint>

namespace korvane::media::turing {

extern const uint8_t kSbox[256];
extern const uint32_t kQbox[256];
extern const uint32_t kMultab[256];  // alpha * w = (w << 8) ^ kMultab[w >> 24]

}  // namespace korvane::media::turing
