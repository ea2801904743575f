// The Turing stream cipher (Rose and Hawkes, Qualcomm, 2002): the keystream .TiVo payloads
// and metadata are XORed with. Keyed S-boxes are precomputed once per key, and the keystream
// comes 340 bytes (17 rounds) at a time, so decrypting costs no allocation and no per-byte
// table setup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace korvane::media {

struct PreparedKeystream;

class TuringKeystream {
public:
    static constexpr size_t kBlockBytes = 340;
    static constexpr size_t kMaxKeyBytes = 32;

    TuringKeystream() = default;

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

    // Where the cipher stands, to go on from there later without making the bytes before it
    // again (the payload view keeps these at its checkpoints): 432 bytes, not the 4 KiB of
    // keyed tables, which Init makes again from the key.
    struct Saved {
        uint32_t r[17];
        uint8_t block[kBlockBytes];
        uint32_t used;
        uint64_t position;
    };
    // False while bytes made by a helper thread are still to be handed out, or before Init.
    bool Save(Saved* out) const;
    // Goes on from a saved state of a keystream of the same key and IV (call Init with them first).
    void Restore(const Saved& saved);

private:
    void LoadKey(const uint8_t* key, size_t keySize);
    void LoadIv(const uint8_t* iv, size_t ivSize);
    void GenerateWords(uint32_t* out);  // the next 85 words of keystream
    void NextBlock();                   // into m_block
    // Hands out up to size prepared bytes to use(bytes, n) and returns how many; 0 when
    // there are none (left), after which the cipher goes on by itself.
    template <class Use>
    size_t TakePrepared(size_t size, Use use);
    void DropPrepared();

    uint32_t m_sbox[4][256] = {};
    uint32_t m_key[kMaxKeyBytes / 4] = {};
    size_t m_keyWords = 0;
    uint32_t m_r[17] = {};
    uint8_t m_block[kBlockBytes] = {};
    size_t m_used = kBlockBytes;  // bytes of m_block already handed out
    bool m_ready = false;
    uint64_t m_position = 0;
    std::shared_ptr<PreparedKeystream> m_prepared;  // while its bytes last
    size_t m_preparedUsed = 0;
};

}  // namespace korvane::media
