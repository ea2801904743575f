#include "TuringWide.h"

#include <utility>

#include "TuringTables.h"

#if KORVANE_TURING_WIDE
#include <immintrin.h>
#endif

namespace korvane::media::turing {

void MakePlanes(const uint32_t (&sbox)[4][256], SboxPlanes& planes) {
    for (int t = 0; t < 4; ++t)
        for (int p = 0; p < 4; ++p)
            for (int v = 0; v < 256; ++v)
                planes[t][p][v] = static_cast<uint8_t>(sbox[t][v] >> (8 * p));
}

#if !KORVANE_TURING_WIDE

bool WideCodeRuns() {
    return false;
}

void GenerateWide(const SboxPlanes&, uint32_t (&)[17], uint8_t*, bool) {}

#else

bool WideCodeRuns() {
    // libgcc's and compiler-rt's checks include the system's saving of the AVX-512 registers.
    // (Every processor with VBMI has BMI2, whose shifts save the register steps a copy each.)
    static const bool runs = (__builtin_cpu_init(), true) && __builtin_cpu_supports("avx512f") &&
                             __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi") &&
                             __builtin_cpu_supports("bmi2");
    return runs;
}

namespace {

#define KORVANE_WIDE __attribute__((target("avx512f,avx512bw,avx512vbmi,bmi2")))
#define KORVANE_WIDE_INLINE __attribute__((target("avx512f,avx512bw,avx512vbmi,bmi2"), always_inline)) inline

// The register sequence x[0..336] of one call (x[0..16] given, 320 steps made), kept in five
// phases, phases[j][m] = x[5m + j]: round k takes its inputs from x[5k + c] for fixed c, so
// the inputs of 16 consecutive rounds are 16 consecutive words of one phase.
constexpr int kSteps = 5 * static_cast<int>(kWideRounds);
constexpr int kPhaseWords = 80;  // x up to 336, and the 16-word loads starting at m <= 66
using Phases = uint32_t[5][kPhaseWords];

// Index vectors of the permutes, made by the compiler.
struct Indices {
    // Words to byte planes: bytes 0..31 take byte b (from the least significant) of words
    // 0..31 of the first two registers, bytes 32..63 byte b + 1.
    alignas(64) uint8_t planes01[64] = {};
    alignas(64) uint8_t planes23[64] = {};
    // Byte planes back to words: register g, from planes 0|1 (bytes 0, 1 of each word) and
    // 2|3 (bytes 2, 3).
    alignas(64) uint8_t words[4][64] = {};
    // Five registers of 64 round outputs each (A..E of rounds 0..63) into the keystream's
    // word order, round by round: output register r of a group of 16 rounds takes words
    // 16r..16r+15 of 80, word e being output e % 5 of round e / 5.
    alignas(64) uint32_t fromAB[5][16] = {};
    alignas(64) uint32_t fromCD[5][16] = {};
    alignas(64) uint32_t fromE[5][16] = {};
    uint16_t takeCD[5] = {};
    uint16_t takeE[5] = {};

    constexpr Indices() {
        for (int i = 0; i < 32; ++i) {
            planes01[i] = static_cast<uint8_t>(4 * i);
            planes01[32 + i] = static_cast<uint8_t>(4 * i + 1);
            planes23[i] = static_cast<uint8_t>(4 * i + 2);
            planes23[32 + i] = static_cast<uint8_t>(4 * i + 3);
        }
        for (int g = 0; g < 4; ++g)
            for (int i = 0; i < 16; ++i)
                for (int b = 0; b < 4; ++b)
                    words[g][4 * i + b] = static_cast<uint8_t>((b & 1) * 64 + 16 * g + i);
        for (int r = 0; r < 5; ++r)
            for (int i = 0; i < 16; ++i) {
                const int e = 16 * r + i, k = e / 5, j = e % 5;
                fromAB[r][i] = static_cast<uint32_t>((j == 1 ? 16 : 0) + k);
                fromCD[r][i] = static_cast<uint32_t>((j == 3 ? 16 : 0) + k);
                fromE[r][i] = static_cast<uint32_t>(k);
                if (j == 2 || j == 3) takeCD[r] = static_cast<uint16_t>(takeCD[r] | 1u << i);
                if (j == 4) takeE[r] = static_cast<uint16_t>(takeE[r] | 1u << i);
            }
    }
};
constexpr Indices kIndices{};

// One register step: x[n] = x[n-2] ^ x[n-13] ^ alpha * x[n-17].
template <int N>
KORVANE_WIDE_INLINE void Step(Phases& x) {
    const uint32_t w = x[(N - 17) % 5][(N - 17) / 5];
    x[N % 5][N / 5] = x[(N - 2) % 5][(N - 2) / 5] ^ x[(N - 13) % 5][(N - 13) / 5] ^ (w << 8) ^ kMultab[w >> 24];
}

// The register's steps, five to a round, unrolled so that every index is a constant.
template <int K>
KORVANE_WIDE_INLINE void RoundSteps(Phases& x) {
    Step<5 * K + 17>(x);
    Step<5 * K + 18>(x);
    Step<5 * K + 19>(x);
    Step<5 * K + 20>(x);
    Step<5 * K + 21>(x);
}

template <int... K>
KORVANE_WIDE_INLINE void Steps(Phases& x, std::integer_sequence<int, K...>) {
    (RoundSteps<K>(x), ...);
}

using Words64 = __m512i[4];  // 64 words, 16 to a register

KORVANE_WIDE_INLINE void Load(Words64& w, const uint32_t* from) {
    for (int g = 0; g < 4; ++g)
        w[g] = _mm512_loadu_si512(from + 16 * g);
}

// Entry v of a 256-entry byte table for each byte v of index.
KORVANE_WIDE_INLINE __m512i LookUp(const uint8_t* table, __m512i index) {
    const __m512i low = _mm512_permutex2var_epi8(_mm512_loadu_si512(table), index, _mm512_loadu_si512(table + 64));
    const __m512i high =
        _mm512_permutex2var_epi8(_mm512_loadu_si512(table + 128), index, _mm512_loadu_si512(table + 192));
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
}

// w = S0(rotl(w, 8 * Rot)) for 64 words. S0 looks box t up by byte t of its input counted
// from the most significant; after the rotation that is byte (t + Rot) % 4 of w, so the
// rotation is only a choice of planes.
template <int Rot>
KORVANE_WIDE_INLINE void S0(const SboxPlanes& boxes, Words64& w) {
    const __m512i i01 = _mm512_load_si512(kIndices.planes01), i23 = _mm512_load_si512(kIndices.planes23);
    const __m512i a01 = _mm512_permutex2var_epi8(w[0], i01, w[1]), b01 = _mm512_permutex2var_epi8(w[2], i01, w[3]);
    const __m512i a23 = _mm512_permutex2var_epi8(w[0], i23, w[1]), b23 = _mm512_permutex2var_epi8(w[2], i23, w[3]);
    // in[b]: byte b (from the least significant) of the 64 words. (Masked forms here and
    // below: GCC 12 warns that the plain ones' undefined source is used uninitialized.)
    __m512i in[4];
    in[0] = _mm512_mask_shuffle_i64x2(a01, 0xFF, a01, b01, 0x44);
    in[1] = _mm512_mask_shuffle_i64x2(a01, 0xFF, a01, b01, 0xEE);
    in[2] = _mm512_mask_shuffle_i64x2(a23, 0xFF, a23, b23, 0x44);
    in[3] = _mm512_mask_shuffle_i64x2(a23, 0xFF, a23, b23, 0xEE);
    __m512i out[4];
#pragma GCC unroll 4
    for (int p = 0; p < 4; ++p) {
        __m512i sum = _mm512_setzero_si512();
#pragma GCC unroll 4
        for (int t = 0; t < 4; ++t)
            sum = _mm512_xor_si512(sum, LookUp(boxes[t][p], in[3 - ((t + Rot) & 3)]));
        out[p] = sum;
    }
#pragma GCC unroll 4
    for (int g = 0; g < 4; ++g) {
        const __m512i index = _mm512_load_si512(kIndices.words[g]);
        const __m512i low = _mm512_permutex2var_epi8(out[0], index, out[1]);
        const __m512i high = _mm512_permutex2var_epi8(out[2], index, out[3]);
        w[g] = _mm512_mask_blend_epi8(0xCCCCCCCCCCCCCCCCull, low, high);
    }
}

// a += b + c + d + e... the pseudo-Hadamard mix of the five words of a round.
KORVANE_WIDE_INLINE void Mix(__m512i& a, __m512i& b, __m512i& c, __m512i& d, __m512i& e) {
    e = _mm512_add_epi32(e, _mm512_add_epi32(_mm512_add_epi32(a, b), _mm512_add_epi32(c, d)));
    a = _mm512_add_epi32(a, e);
    b = _mm512_add_epi32(b, e);
    c = _mm512_add_epi32(c, e);
    d = _mm512_add_epi32(d, e);
}

}  // namespace

KORVANE_WIDE void GenerateWide(const SboxPlanes& boxes, uint32_t (&r)[17], uint8_t* out, bool xorInto) {
    alignas(64) Phases x;
    for (int n = 0; n < 17; ++n)
        x[n % 5][n / 5] = r[n];
    Steps(x, std::make_integer_sequence<int, static_cast<int>(kWideRounds)>{});

    // Round k (its first step made): a = x[5k+17], b = x[5k+14], c = x[5k+7], d = x[5k+2],
    // e = x[5k+1]; after its next three steps it adds x[5k+18], x[5k+16], x[5k+12], x[5k+5]
    // and x[5k+4] (see Round in Turing.cpp).
    Words64 a, b, c, d, e;
    Load(a, &x[2][3]);
    Load(b, &x[4][2]);
    Load(c, &x[2][1]);
    Load(d, &x[2][0]);
    Load(e, &x[1][0]);
    for (int g = 0; g < 4; ++g)
        Mix(a[g], b[g], c[g], d[g], e[g]);
    S0<0>(boxes, a);
    S0<1>(boxes, b);
    S0<2>(boxes, c);
    S0<3>(boxes, d);
    S0<0>(boxes, e);
    Words64 a2, b2, c2, d2, e2;
    Load(a2, &x[3][3]);
    Load(b2, &x[1][3]);
    Load(c2, &x[2][2]);
    Load(d2, &x[0][1]);
    Load(e2, &x[4][0]);
    // Big-endian words, as the portable code stores them.
    const __m512i swap = _mm512_set4_epi32(0x0C0D0E0F, 0x08090A0B, 0x04050607, 0x00010203);
#pragma GCC unroll 4
    for (int g = 0; g < 4; ++g) {
        Mix(a[g], b[g], c[g], d[g], e[g]);
        a[g] = _mm512_add_epi32(a[g], a2[g]);
        b[g] = _mm512_add_epi32(b[g], b2[g]);
        c[g] = _mm512_add_epi32(c[g], c2[g]);
        d[g] = _mm512_add_epi32(d[g], d2[g]);
        e[g] = _mm512_add_epi32(e[g], e2[g]);
#pragma GCC unroll 5
        for (int k = 0; k < 5; ++k) {
            const __m512i ab = _mm512_permutex2var_epi32(a[g], _mm512_load_si512(kIndices.fromAB[k]), b[g]);
            const __m512i cd = _mm512_permutex2var_epi32(c[g], _mm512_load_si512(kIndices.fromCD[k]), d[g]);
            const __m512i ee = _mm512_mask_permutexvar_epi32(e[g], 0xFFFF, _mm512_load_si512(kIndices.fromE[k]), e[g]);
            __m512i words = _mm512_mask_blend_epi32(kIndices.takeCD[k], ab, cd);
            words = _mm512_shuffle_epi8(_mm512_mask_blend_epi32(kIndices.takeE[k], words, ee), swap);
            uint8_t* to = out + 4 * (80 * g + 16 * k);
            if (xorInto) words = _mm512_xor_si512(words, _mm512_loadu_si512(to));
            _mm512_storeu_si512(to, words);
        }
    }
    for (int n = 0; n < 17; ++n)
        r[n] = x[(n + kSteps) % 5][(n + kSteps) / 5];
}

#endif

}  // namespace korvane::media::turing
