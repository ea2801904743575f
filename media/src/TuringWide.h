// The Turing keystream 64 rounds at a time on processors with AVX-512 byte permutes
// (AVX512-VBMI: Intel since Ice Lake, AMD since Zen 4). Internal to media/.
//
// The portable code looks up 20 S-box bytes and shifts the register five times for every 20
// bytes of keystream, one round after another; it was three quarters of the decryption time
// and most of what piping a recording through korvane-tivodecode costs on top of copying it.
// The rounds' S-box inputs depend only on the register, so this code steps the register 320
// times first and then looks up all 320 words' bytes at once: a 256-entry byte table is four
// 64-byte registers, and one permute instruction looks up 64 bytes in two of them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/Turing.h"  // KORVANE_TURING_WIDE: where this code is built

namespace korvane::media::turing {

constexpr size_t kWideRounds = 64;
constexpr size_t kWideBytes = 20 * kWideRounds;  // keystream bytes per call

// The keyed S-boxes as byte planes: planes[t][p][v] is byte p (from the least significant)
// of box t's entry v.
using SboxPlanes = uint8_t[4][4][256];

// Whether this processor (and system) runs the wide code; false where it is not built.
bool WideCodeRuns();

// The planes of the keyed S-boxes.
void MakePlanes(const uint32_t (&sbox)[4][256], SboxPlanes& planes);

// The next kWideBytes keystream bytes into out (XORed into it with xorInto), from the register
// r: r[0] the oldest word, r[16] the newest, as the portable code keeps it at the start of a
// block; r is left 320 steps on, in the same form. Only when WideCodeRuns().
void GenerateWide(const SboxPlanes& planes, uint32_t (&r)[17], uint8_t* out, bool xorInto);

}  // namespace korvane::media::turing
