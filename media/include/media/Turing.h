// The Turing stream cipher (Rose and Hawkes, Qualcomm, 2002): the keystream .TiVo payloads
// and metadata are XORed with. Keyed S-boxes are precomputed once per key, and the keystream
// comes 340 bytes (17 rounds) at a time, or 1280 (64 rounds) on processors with AVX-512 byte
// permutes (TuringWide.h), so decrypting costs no allocation and no per-byte table setup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Whether the code for processors with AVX-512 byte permutes is built (src/TuringWide.h): GCC
// and Clang on x86-64 can build code for a processor the build does not assume and choose it
// at run time. Windows is left out: the code has not been run under Wine, whose thread
// contexts may not carry the AVX-512 registers.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__) && !defined(_WIN32)
#define KORVANE_TURING_WIDE 1
#else
#define KORVANE_TURING_WIDE 0
#endif

namespace korvane::media {

struct PreparedKeystream;

class TuringKeystream {
public:
    static constexpr size_t kBlockBytes = 340;
    static constexpr size_t kMaxKeyBytes = 32;
    // The wide code's 64 rounds, where it is built.
    static constexpr size_t kMostBlockBytes = KORVANE_TURING_WIDE ? 1280 : kBlockBytes;

    // The code that makes the keystream: the fastest this processor runs, or the portable
    // code on every processor (what the tests hold the fast code to). Both make the same bytes.
    enum class Code { Fastest, Portable };

    TuringKeystream() = default;
    explicit TuringKeystream(Code code) : m_code(code) {}

    // key: 4..32 bytes, iv: 0.. bytes, both multiples of 4, and key words + IV words at most
    // 16. False (and unusable) otherwise. Starts the keystream at byte 0.
    bool Init(const uint8_t* key, size_t keySize, const uint8_t* iv, size_t ivSize);
    bool Ready() const { return m_ready; }

    // XORs the next size keystream bytes into data.
    void Xor(uint8_t* data, size_t size);
    // Writes the next size keystream bytes.
    void Generate(uint8_t* out, size_t size);
    // Discards the next count keystream bytes.
    void Skip(uint64_t count);

    // Hands out the bytes another thread makes ahead (KeystreamSet's helper; they may still
    // be coming) before any of its own, then continues from the cipher state they end in.
    void ContinueFrom(std::shared_ptr<PreparedKeystream> prepared);
    // Keystream bytes handed out (XORed, written or skipped) since Init.
    uint64_t Position() const { return m_position; }
    // Whether Init chose code for this processor rather than the portable code.
    bool UsesWideCode() const { return m_wide; }

    // Where the cipher stands, to go on from there later without making the bytes before it
    // again (the payload view keeps these at its checkpoints): the register and the block in
    // hand (432 bytes, 1.4 KiB with the wide code), not the 4 KiB of keyed tables, which Init
    // makes again from the key.
    struct Saved {
        uint32_t r[17];
        uint8_t block[kMostBlockBytes];
        uint32_t used;
        uint32_t blockBytes;  // the block size of the code that saved it
        uint64_t position;
    };
    // False while bytes made by a helper thread are still to be handed out, or before Init.
    bool Save(Saved* out) const;
    // Goes on from a saved state of a keystream of the same key and IV (call Init with them
    // first), made by the same code: false, and nothing changed, if it was the other code's.
    bool Restore(const Saved& saved);

private:
    void LoadKey(const uint8_t* key, size_t keySize);
    void LoadIv(const uint8_t* iv, size_t ivSize);
    void GenerateWords(uint32_t* out);  // the next 85 words of keystream (portable code)
    void NextBlock();                   // into m_block
    // The wide code's next block into out (XORed into it with xorInto); only when m_wide.
    void WideBlock(uint8_t* out, bool xorInto);
    // Hands out up to size prepared bytes to use(bytes, n) and returns how many; 0 when
    // there are none (left), after which the cipher goes on by itself.
    template <class Use>
    size_t TakePrepared(size_t size, Use use);
    void DropPrepared();

    uint32_t m_sbox[4][256] = {};
#if KORVANE_TURING_WIDE
    uint8_t m_planes[4][4][256] = {};  // the wide code's form of m_sbox (TuringWide.h)
#endif
    uint32_t m_key[kMaxKeyBytes / 4] = {};
    size_t m_keyWords = 0;
    uint32_t m_r[17] = {};  // the register at the start of a block, the oldest word first
    uint8_t m_block[kMostBlockBytes] = {};
    size_t m_blockBytes = kBlockBytes;  // what the code in use makes at a time
    size_t m_used = kBlockBytes;        // bytes of m_block already handed out
    Code m_code = Code::Fastest;
    bool m_wide = false;
    bool m_ready = false;
    uint64_t m_position = 0;
    std::shared_ptr<PreparedKeystream> m_prepared;  // while its bytes last
    size_t m_preparedUsed = 0;
};

}  // namespace korvane::media
