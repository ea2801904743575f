// Keys of an encrypted .TiVo file, derived from the owner's Media Access Key (MAK) and the
// license (type-0) chunk, and the per-stream keystreams built from them.
//
// Each stream has its own keystream, keyed by (stream id, block number); it continues where
// it stopped while the block number stays the same, even when other streams' packets come in
// between, and is rebuilt only when the block number changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/Hash.h"
#include "media/Turing.h"

namespace korvane::media {

struct TivoFile;

constexpr size_t kMediaAccessKeyDigits = 10;
constexpr size_t kTivoKeySize = kSha1Size;

// The digits of a key as typed: spaces and dashes are ignored. False (and *digits untouched)
// unless exactly 10 decimal digits and nothing else remain.
bool NormalizeMediaAccessKey(const std::string& text, std::string* digits);

struct TivoKeys {
    uint8_t media[kTivoKeySize] = {};  // payload: SHA-1(MAK || license data)
    uint8_t metadata[kTivoKeySize] =
        {};  // type-1 chunks: SHA-1(hex MD5("tivo:TiVo DVR:" || MAK) || license data)
};

// mak: the 10 ASCII digits. licenseData: the data of the (last) type-0 chunk. False only when
// the hash library fails.
bool DeriveTivoKeys(const std::string& mak, const uint8_t* licenseData, size_t licenseSize, TivoKeys* keys);
// The same from a parsed file; the license is its last type-0 chunk (none: empty data).
bool DeriveTivoKeys(const std::string& mak, const TivoFile& file, TivoKeys* keys);

// The Turing key and IV for one stream and block of a base key (TivoKeys::media or ::metadata).
struct CipherKey {
    uint8_t key[kSha1Size] = {};
    uint8_t iv[kSha1Size] = {};
};
bool DeriveCipherKey(const uint8_t* baseKey, uint8_t streamId, uint32_t block, CipherKey* out);

// Builds a keystream for (stream id, block) of a base key. False when hashing fails.
bool InitKeystream(TuringKeystream& keystream, const uint8_t* baseKey, uint8_t streamId, uint32_t block);

// Who makes the keystreams of a KeystreamSet (and of the decryptors that hold one).
enum class KeystreamMaking {
    // The calling thread alone.
    OnCallerThread,
    // Also a helper thread of the set's own: while the caller decrypts a stream's block, it
    // makes the keystream of the block after next, so that each of two cores makes every
    // other block (a TiVo moves each stream on to the next block every few hundred
    // packets). The bytes handed out are the same either way.
    WithHelperThread,
};

class KeystreamHelper;

// The keystreams of many streams at once. A slot is the caller's name for a stream: the PES
// stream id in a program stream, the PID in a transport stream. Each slot's state is
// allocated the first time the slot is used (about 4.5 KiB, 9.5 KiB with the AVX-512 code)
// and kept, so selecting costs no allocation afterwards (with a helper thread: one buffer per
// block made ahead, at most a few MiB for each of the first kHelpedSlots slots).
class KeystreamSet {
public:
    static constexpr unsigned kMaxSlots = 8192;
    static constexpr unsigned kHelpedSlots = 2;

    explicit KeystreamSet(const uint8_t* baseKey, KeystreamMaking making = KeystreamMaking::OnCallerThread);
    ~KeystreamSet();
    KeystreamSet(const KeystreamSet&) = delete;
    KeystreamSet& operator=(const KeystreamSet&) = delete;

    // The slot's keystream positioned for (stream id, block): continued if the slot last used
    // the same pair, rebuilt from byte 0 otherwise. nullptr when slot >= kMaxSlots or the
    // hash library failed.
    TuringKeystream* Select(unsigned slot, uint8_t streamId, uint32_t block);
    // The slot's keystream where it stands, without choosing a block: nullptr when the slot
    // has none yet. A packet whose record is damaged still used up keystream at the TiVo;
    // skipping it here keeps the slot's following packets decrypting right.
    TuringKeystream* Current(unsigned slot);
    // Forgets every slot's position (after a seek or flush).
    void Reset();
    uint64_t Rebuilds() const { return m_rebuilds; }

private:
    struct Slot;
    // With a helper: queues the block's keystream for the slot, about as long as its last.
    void PrepareAhead(Slot& slot, uint8_t streamId, uint32_t block);

    uint8_t m_baseKey[kTivoKeySize];
    std::vector<std::unique_ptr<Slot>> m_slots;
    uint64_t m_rebuilds = 0;
    std::unique_ptr<KeystreamHelper> m_helper;  // WithHelperThread only, started at the first Select
    const bool m_withHelper;
    unsigned m_helpedSlots = 0;
};

}  // namespace korvane::media
