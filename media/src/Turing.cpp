#include "media/Turing.h"

#include <cstring>

#include "TuringTables.h"

namespace korvane::media {
namespace {

using turing::kMultab;
using turing::kQbox;
using turing::kSbox;

constexpr int kRegisterWords = 17;

inline uint32_t Rotl(uint32_t w, unsigned n) {
    n &= 31;
    return n ? (w << n) | (w >> (32 - n)) : w;
}

// Byte p of w, counted from the most significant.
inline unsigned ByteAt(uint32_t w, unsigned p) { return (w >> (24 - 8 * p)) & 0xFF; }

inline uint32_t LoadBe(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

inline void StoreBe(uint8_t* p, uint32_t w) {
    p[0] = static_cast<uint8_t>(w >> 24);
    p[1] = static_cast<uint8_t>(w >> 16);
    p[2] = static_cast<uint8_t>(w >> 8);
    p[3] = static_cast<uint8_t>(w);
}

// The key-independent word transform applied to key and IV words.
uint32_t FixedS(uint32_t w) {
    for (unsigned p = 0; p < 4; ++p) {
        uint32_t b = kSbox[ByteAt(w, p)];
        unsigned shift = 24 - 8 * p;
        w = ((w ^ Rotl(kQbox[b], 8 * p)) & ~(uint32_t(0xFF) << shift)) | (b << shift);
    }
    return w;
}

// Pseudo-Hadamard mix of n words: the last absorbs the others, then they all absorb it.
void MixWords(uint32_t* w, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < n; ++i) sum += w[i];
    w[n - 1] += sum;
    for (size_t i = 0; i + 1 < n; ++i) w[i] += w[n - 1];
}

using SboxTables = uint32_t[4][256];

inline uint32_t S0(const SboxTables& t, uint32_t w) {
    return t[0][w >> 24] ^ t[1][(w >> 16) & 0xFF] ^ t[2][(w >> 8) & 0xFF] ^ t[3][w & 0xFF];
}

// One register step at position Z; the register is never shifted, positions are taken
// modulo 17 at compile time, so a block of 17 rounds is straight-line code.
template <int Z>
inline void Step(uint32_t* r) {
    constexpr int z = Z % kRegisterWords;
    uint32_t w = r[z];
    r[z] = r[(Z + 15) % kRegisterWords] ^ r[(Z + 4) % kRegisterWords] ^ (w << 8) ^ kMultab[w >> 24];
}

template <int Z>
inline void Round(uint32_t* r, const SboxTables& t, uint32_t* out) {
    Step<Z>(r);
    uint32_t a = r[Z % kRegisterWords], b = r[(Z + 14) % kRegisterWords], c = r[(Z + 7) % kRegisterWords];
    uint32_t d = r[(Z + 2) % kRegisterWords], e = r[(Z + 1) % kRegisterWords];
    e += a + b + c + d;
    a += e;
    b += e;
    c += e;
    d += e;
    a = S0(t, a);
    b = S0(t, Rotl(b, 8));
    c = S0(t, Rotl(c, 16));
    d = S0(t, Rotl(d, 24));
    e = S0(t, e);
    e += a + b + c + d;
    a += e;
    b += e;
    c += e;
    d += e;
    Step<Z + 1>(r);
    Step<Z + 2>(r);
    Step<Z + 3>(r);
    a += r[(Z + 1) % kRegisterWords];
    b += r[(Z + 16) % kRegisterWords];
    c += r[(Z + 12) % kRegisterWords];
    d += r[(Z + 5) % kRegisterWords];
    e += r[(Z + 4) % kRegisterWords];
    out[0] = a;
    out[1] = b;
    out[2] = c;
    out[3] = d;
    out[4] = e;
    Step<Z + 4>(r);
}

inline void XorBytes(uint8_t* data, const uint8_t* key, size_t size) {
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t a, b;
        std::memcpy(&a, data + i, 8);
        std::memcpy(&b, key + i, 8);
        a ^= b;
        std::memcpy(data + i, &a, 8);
    }
    for (; i < size; ++i) data[i] ^= key[i];
}

}  // namespace

bool TuringKeystream::Init(const uint8_t* key, size_t keySize, const uint8_t* iv, size_t ivSize) {
    ready_ = false;
    if (keySize < 4 || keySize > kMaxKeyBytes || keySize % 4 != 0 || ivSize % 4 != 0 ||
        keySize / 4 + ivSize / 4 + 1 > kRegisterWords)
        return false;
    LoadKey(key, keySize);
    LoadIv(iv, ivSize);
    used_ = kBlockBytes;
    ready_ = true;
    return true;
}

void TuringKeystream::LoadKey(const uint8_t* key, size_t keySize) {
    keyWords_ = keySize / 4;
    for (size_t i = 0; i < keyWords_; ++i) key_[i] = FixedS(LoadBe(key + 4 * i));
    MixWords(key_, keyWords_);
    for (unsigned lane = 0; lane < 4; ++lane) {
        unsigned shift = 24 - 8 * lane;
        for (unsigned j = 0; j < 256; ++j) {
            uint32_t t = j, w = 0;
            for (size_t i = 0; i < keyWords_; ++i) {
                t = kSbox[ByteAt(key_[i], lane) ^ t];
                w ^= Rotl(kQbox[t], static_cast<unsigned>(i) + 8 * lane);
            }
            sbox_[lane][j] = (w & ~(uint32_t(0xFF) << shift)) | (t << shift);
        }
    }
}

void TuringKeystream::LoadIv(const uint8_t* iv, size_t ivSize) {
    size_t ivWords = ivSize / 4;
    size_t i = 0;
    for (size_t k = 0; k < ivWords; ++k) r_[i++] = FixedS(LoadBe(iv + 4 * k));
    for (size_t k = 0; k < keyWords_; ++k) r_[i++] = key_[k];
    r_[i++] = static_cast<uint32_t>(keyWords_ << 4 | ivWords) | 0x01020300;
    for (size_t j = 0; i < kRegisterWords; ++i, ++j) r_[i] = S0(sbox_, r_[j] + r_[i - 1]);
    MixWords(r_, kRegisterWords);
}

void TuringKeystream::NextBlock() {
    // Work on local copies: byte stores into block_ could alias the register and the
    // S-box tables, which would make the compiler reload them after every store.
    uint32_t r[kRegisterWords];
    std::memcpy(r, r_, sizeof r);
    uint32_t o[kBlockBytes / 4];
    Round<0>(r, sbox_, o);
    Round<5>(r, sbox_, o + 5);
    Round<10>(r, sbox_, o + 10);
    Round<15>(r, sbox_, o + 15);
    Round<20>(r, sbox_, o + 20);
    Round<25>(r, sbox_, o + 25);
    Round<30>(r, sbox_, o + 30);
    Round<35>(r, sbox_, o + 35);
    Round<40>(r, sbox_, o + 40);
    Round<45>(r, sbox_, o + 45);
    Round<50>(r, sbox_, o + 50);
    Round<55>(r, sbox_, o + 55);
    Round<60>(r, sbox_, o + 60);
    Round<65>(r, sbox_, o + 65);
    Round<70>(r, sbox_, o + 70);
    Round<75>(r, sbox_, o + 75);
    Round<80>(r, sbox_, o + 80);
    std::memcpy(r_, r, sizeof r);
    for (size_t i = 0; i < kBlockBytes / 4; ++i) StoreBe(block_ + 4 * i, o[i]);
    used_ = 0;
}

void TuringKeystream::Xor(uint8_t* data, size_t size) {
    while (size > 0) {
        if (used_ == kBlockBytes) NextBlock();
        size_t n = kBlockBytes - used_ < size ? kBlockBytes - used_ : size;
        XorBytes(data, block_ + used_, n);
        used_ += n;
        data += n;
        size -= n;
    }
}

void TuringKeystream::Generate(uint8_t* out, size_t size) {
    while (size > 0) {
        if (used_ == kBlockBytes) NextBlock();
        size_t n = kBlockBytes - used_ < size ? kBlockBytes - used_ : size;
        std::memcpy(out, block_ + used_, n);
        used_ += n;
        out += n;
        size -= n;
    }
}

void TuringKeystream::Skip(uint64_t count) {
    while (count > 0) {
        if (used_ == kBlockBytes) NextBlock();
        uint64_t n = kBlockBytes - used_ < count ? kBlockBytes - used_ : count;
        used_ += static_cast<size_t>(n);
        count -= n;
    }
}

}  // namespace korvane::media
