#include "media/Turing.h"

#include <cstring>

#include "PreparedKeystream.h"
#include "TuringTables.h"
#include "TuringWide.h"

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
inline unsigned ByteAt(uint32_t w, unsigned p) {
    return (w >> (24 - 8 * p)) & 0xFF;
}

inline uint32_t LoadBe(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The word as it stands in memory on a big-endian machine, for 32-bit stores on this one.
inline uint32_t BigEndianWord(uint32_t w) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return w;
#else
    return __builtin_bswap32(w);
#endif
}

inline void StoreBe(uint8_t* p, uint32_t w) {
    const uint32_t bytes = BigEndianWord(w);
    std::memcpy(p, &bytes, 4);
}

// One 32-bit load, swap and store: byte by byte, this was a tenth of the decryption time.
inline void XorBe(uint8_t* p, uint32_t w) {
    uint32_t bytes;
    std::memcpy(&bytes, p, 4);
    bytes ^= BigEndianWord(w);
    std::memcpy(p, &bytes, 4);
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
    for (size_t i = 0; i + 1 < n; ++i)
        sum += w[i];
    w[n - 1] += sum;
    for (size_t i = 0; i + 1 < n; ++i)
        w[i] += w[n - 1];
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
    for (; i < size; ++i)
        data[i] ^= key[i];
}

}  // namespace

bool TuringKeystream::Init(const uint8_t* key, size_t keySize, const uint8_t* iv, size_t ivSize) {
    m_ready = false;
    if (keySize < 4 || keySize > kMaxKeyBytes || keySize % 4 != 0 || ivSize % 4 != 0 ||
        keySize / 4 + ivSize / 4 + 1 > kRegisterWords)
        return false;
    m_wide = KORVANE_TURING_WIDE && m_code == Code::Fastest && turing::WideCodeRuns();
    m_blockBytes = m_wide ? turing::kWideBytes : kBlockBytes;
    LoadKey(key, keySize);
    LoadIv(iv, ivSize);
    m_used = m_blockBytes;
    m_ready = true;
    m_position = 0;
    DropPrepared();
    return true;
}

bool TuringKeystream::Save(Saved* out) const {
    if (!m_ready || m_prepared) return false;
    std::memcpy(out->r, m_r, sizeof m_r);
    std::memcpy(out->block, m_block, sizeof m_block);
    out->used = static_cast<uint32_t>(m_used);
    out->blockBytes = static_cast<uint32_t>(m_blockBytes);
    out->position = m_position;
    return true;
}

bool TuringKeystream::Restore(const Saved& saved) {
    // The register means the start of a block of that code's size.
    if (saved.blockBytes != m_blockBytes) return false;
    DropPrepared();
    std::memcpy(m_r, saved.r, sizeof m_r);
    std::memcpy(m_block, saved.block, sizeof m_block);
    m_used = saved.used;
    m_position = saved.position;
    return true;
}

void TuringKeystream::DropPrepared() {
    // Bytes still being made for this keystream are no longer wanted.
    if (m_prepared) m_prepared->Cancel();
    m_prepared.reset();
}

void TuringKeystream::ContinueFrom(std::shared_ptr<PreparedKeystream> prepared) {
    DropPrepared();
    m_prepared = std::move(prepared);
    m_preparedUsed = 0;
    m_position = 0;
    m_ready = true;
}

template <class Use>
size_t TuringKeystream::TakePrepared(size_t size, Use use) {
    size_t made = m_prepared->Made();
    if (made == m_preparedUsed) made = m_prepared->WaitBeyond(m_preparedUsed);
    if (made == m_preparedUsed) {
        // The helper stopped here: go on from its cipher. Held, so that the state copied
        // from outlives the copy.
        const std::shared_ptr<PreparedKeystream> done = std::move(m_prepared);
        const uint64_t position = m_position;
        *this = done->after;
        m_position = position;
        return 0;
    }
    const size_t n = made - m_preparedUsed < size ? made - m_preparedUsed : size;
    use(m_prepared->Data() + m_preparedUsed, n);
    m_preparedUsed += n;
    m_position += n;
    return n;
}

void TuringKeystream::LoadKey(const uint8_t* key, size_t keySize) {
    m_keyWords = keySize / 4;
    for (size_t i = 0; i < m_keyWords; ++i)
        m_key[i] = FixedS(LoadBe(key + 4 * i));
    MixWords(m_key, m_keyWords);
    for (unsigned lane = 0; lane < 4; ++lane) {
        unsigned shift = 24 - 8 * lane;
        for (unsigned j = 0; j < 256; ++j) {
            uint32_t t = j, w = 0;
            for (size_t i = 0; i < m_keyWords; ++i) {
                t = kSbox[ByteAt(m_key[i], lane) ^ t];
                w ^= Rotl(kQbox[t], static_cast<unsigned>(i) + 8 * lane);
            }
            m_sbox[lane][j] = (w & ~(uint32_t(0xFF) << shift)) | (t << shift);
        }
    }
#if KORVANE_TURING_WIDE
    if (m_wide) turing::MakePlanes(m_sbox, m_planes);
#endif
}

void TuringKeystream::LoadIv(const uint8_t* iv, size_t ivSize) {
    size_t ivWords = ivSize / 4;
    size_t i = 0;
    for (size_t k = 0; k < ivWords; ++k)
        m_r[i++] = FixedS(LoadBe(iv + 4 * k));
    for (size_t k = 0; k < m_keyWords; ++k)
        m_r[i++] = m_key[k];
    m_r[i++] = static_cast<uint32_t>(m_keyWords << 4 | ivWords) | 0x01020300;
    for (size_t j = 0; i < kRegisterWords; ++i, ++j)
        m_r[i] = S0(m_sbox, m_r[j] + m_r[i - 1]);
    MixWords(m_r, kRegisterWords);
}

void TuringKeystream::GenerateWords(uint32_t* o) {
    // Work on a local copy of the register: stores through the output could otherwise alias
    // it and the S-box tables, making the compiler reload them after every store.
    uint32_t r[kRegisterWords];
    std::memcpy(r, m_r, sizeof r);
    Round<0>(r, m_sbox, o);
    Round<5>(r, m_sbox, o + 5);
    Round<10>(r, m_sbox, o + 10);
    Round<15>(r, m_sbox, o + 15);
    Round<20>(r, m_sbox, o + 20);
    Round<25>(r, m_sbox, o + 25);
    Round<30>(r, m_sbox, o + 30);
    Round<35>(r, m_sbox, o + 35);
    Round<40>(r, m_sbox, o + 40);
    Round<45>(r, m_sbox, o + 45);
    Round<50>(r, m_sbox, o + 50);
    Round<55>(r, m_sbox, o + 55);
    Round<60>(r, m_sbox, o + 60);
    Round<65>(r, m_sbox, o + 65);
    Round<70>(r, m_sbox, o + 70);
    Round<75>(r, m_sbox, o + 75);
    Round<80>(r, m_sbox, o + 80);
    std::memcpy(m_r, r, sizeof r);
}

void TuringKeystream::WideBlock(uint8_t* out, bool xorInto) {
#if KORVANE_TURING_WIDE
    static_assert(turing::kWideBytes <= kMostBlockBytes, "m_block holds what the wide code makes at a time");
    turing::GenerateWide(m_planes, m_r, out, xorInto);
#else
    (void)out;
    (void)xorInto;
#endif
}

void TuringKeystream::NextBlock() {
    m_used = 0;
    if (m_wide) {
        WideBlock(m_block, false);
        return;
    }
    uint32_t o[kBlockBytes / 4];
    GenerateWords(o);
    for (size_t i = 0; i < kBlockBytes / 4; ++i)
        StoreBe(m_block + 4 * i, o[i]);
}

void TuringKeystream::Xor(uint8_t* data, size_t size) {
    while (m_prepared && size > 0) {
        const size_t n =
            TakePrepared(size, [data](const uint8_t* key, size_t count) { XorBytes(data, key, count); });
        data += n;
        size -= n;
    }
    m_position += size;
    while (size > 0) {
        if (m_used == m_blockBytes && size >= m_blockBytes && m_wide) {
            WideBlock(data, true);
            data += m_blockBytes;
            size -= m_blockBytes;
            continue;
        }
        if (m_used == m_blockBytes && size >= m_blockBytes) {
            // Whole blocks go straight into the data, without the trip through m_block.
            uint32_t o[kBlockBytes / 4];
            GenerateWords(o);
            for (size_t i = 0; i < kBlockBytes / 4; ++i)
                XorBe(data + 4 * i, o[i]);
            data += kBlockBytes;
            size -= kBlockBytes;
            continue;
        }
        if (m_used == m_blockBytes) NextBlock();
        size_t n = m_blockBytes - m_used < size ? m_blockBytes - m_used : size;
        XorBytes(data, m_block + m_used, n);
        m_used += n;
        data += n;
        size -= n;
    }
}

void TuringKeystream::Generate(uint8_t* out, size_t size) {
    while (m_prepared && size > 0) {
        const size_t n =
            TakePrepared(size, [out](const uint8_t* key, size_t count) { std::memcpy(out, key, count); });
        out += n;
        size -= n;
    }
    m_position += size;
    while (size > 0) {
        if (m_used == m_blockBytes && size >= m_blockBytes && m_wide) {
            WideBlock(out, false);
            out += m_blockBytes;
            size -= m_blockBytes;
            continue;
        }
        if (m_used == m_blockBytes && size >= m_blockBytes) {
            // Whole blocks straight into the output, as Xor does (the helper thread makes
            // its blocks this way).
            uint32_t o[kBlockBytes / 4];
            GenerateWords(o);
            for (size_t i = 0; i < kBlockBytes / 4; ++i)
                StoreBe(out + 4 * i, o[i]);
            out += kBlockBytes;
            size -= kBlockBytes;
            continue;
        }
        if (m_used == m_blockBytes) NextBlock();
        size_t n = m_blockBytes - m_used < size ? m_blockBytes - m_used : size;
        std::memcpy(out, m_block + m_used, n);
        m_used += n;
        out += n;
        size -= n;
    }
}

void TuringKeystream::Skip(uint64_t count) {
    while (m_prepared && count > 0) {
        const size_t piece = count < (uint64_t(1) << 30) ? static_cast<size_t>(count) : size_t(1) << 30;
        count -= TakePrepared(piece, [](const uint8_t*, size_t) {});
    }
    m_position += count;
    while (count > 0) {
        if (!m_wide && m_used == m_blockBytes && count > kBlockBytes) {
            // Whole blocks that nobody reads: made (the cipher must step through them) but not
            // stored. The payload view skips megabytes this way to reach an offset.
            uint32_t o[kBlockBytes / 4];
            GenerateWords(o);
            count -= kBlockBytes;
            continue;
        }
        if (m_used == m_blockBytes) NextBlock();
        uint64_t n = m_blockBytes - m_used < count ? m_blockBytes - m_used : count;
        m_used += static_cast<size_t>(n);
        count -= n;
    }
}

}  // namespace korvane::media
