#include "media/TivoKeys.h"

#include <algorithm>
#include <cstring>

#include "KeystreamHelper.h"
#include "media/TivoContainer.h"

namespace korvane::media {

struct KeystreamSet::Slot {
    TuringKeystream keystream;
    uint8_t streamId = 0;
    uint32_t block = 0;
    bool valid = false;  // false until built, and after a Reset
    // With a helper: whether it may make this slot's blocks, the block it is making ahead,
    // and how many keystream bytes the last finished block took.
    bool helped = false;
    std::shared_ptr<PreparedKeystream> ahead;
    uint64_t lastBlockBytes = 0;
    unsigned misses = 0;  // blocks made ahead in a row that were not the next after all
};

namespace {

// A stream whose blocks do not follow one another would have the helper make nothing but
// waste: after this many misses in a row it stops helping that stream.
constexpr unsigned kMissesBeforeGivingUp = 3;

uint32_t BlockAfter(uint32_t block) {
    return (block + 1) & 0xFFFFFF;  // the record holds 24 bits
}

}  // namespace

bool NormalizeMediaAccessKey(const std::string& text, std::string* digits) {
    std::string kept;
    for (char c : text) {
        if (c == ' ' || c == '-') continue;
        if (c < '0' || c > '9') return false;
        kept += c;
    }
    if (kept.size() != kMediaAccessKeyDigits) return false;
    *digits = kept;
    return true;
}

bool DeriveTivoKeys(const std::string& mak, const uint8_t* licenseData, size_t licenseSize, TivoKeys* keys) {
    const ByteView makView{reinterpret_cast<const uint8_t*>(mak.data()), mak.size()};
    const ByteView license{licenseData, licenseSize};
    if (!ComputeHash(HashAlgorithm::Sha1, {makView, license}, keys->media)) return false;

    static const char kPrefix[] = "tivo:TiVo DVR:";
    uint8_t md5[kMd5Size];
    if (!ComputeHash(HashAlgorithm::Md5,
                     {{reinterpret_cast<const uint8_t*>(kPrefix), sizeof kPrefix - 1}, makView}, md5))
        return false;
    static const char kHex[] = "0123456789abcdef";
    uint8_t hex[2 * kMd5Size];
    for (size_t i = 0; i < kMd5Size; ++i) {
        hex[2 * i] = static_cast<uint8_t>(kHex[md5[i] >> 4]);
        hex[2 * i + 1] = static_cast<uint8_t>(kHex[md5[i] & 0x0F]);
    }
    return ComputeHash(HashAlgorithm::Sha1, {{hex, sizeof hex}, license}, keys->metadata);
}

bool DeriveTivoKeys(const std::string& mak, const TivoFile& file, TivoKeys* keys) {
    const TivoChunk* license = nullptr;
    for (const TivoChunk& chunk : file.chunks)
        if (chunk.IsPlainXml()) license = &chunk;
    if (!license) return DeriveTivoKeys(mak, nullptr, 0, keys);
    return DeriveTivoKeys(mak, license->data.data(), license->data.size(), keys);
}

bool DeriveCipherKey(const uint8_t* baseKey, uint8_t streamId, uint32_t block, CipherKey* out) {
    uint8_t copy[kTivoKeySize];
    std::memcpy(copy, baseKey, sizeof copy);
    copy[16] = streamId;
    copy[17] = static_cast<uint8_t>(block >> 16);
    copy[18] = static_cast<uint8_t>(block >> 8);
    copy[19] = static_cast<uint8_t>(block);
    return ComputeHash(HashAlgorithm::Sha1, {{copy, 17}}, out->key) &&
           ComputeHash(HashAlgorithm::Sha1, {{copy, sizeof copy}}, out->iv);
}

bool InitKeystream(TuringKeystream& keystream, const uint8_t* baseKey, uint8_t streamId, uint32_t block) {
    CipherKey cipher;
    return DeriveCipherKey(baseKey, streamId, block, &cipher) &&
           keystream.Init(cipher.key, sizeof cipher.key, cipher.iv, sizeof cipher.iv);
}

KeystreamSet::KeystreamSet(const uint8_t* baseKey, KeystreamMaking making)
    : m_withHelper(making == KeystreamMaking::WithHelperThread) {
    std::memcpy(m_baseKey, baseKey, sizeof m_baseKey);
}

KeystreamSet::~KeystreamSet() {
    Reset();
}

void KeystreamSet::PrepareAhead(Slot& slot, uint8_t streamId, uint32_t block) {
    // Blocks of a stream hold about as many packets each: make a little more than the last
    // one took, so that the helper neither stops short often nor makes much for nothing.
    constexpr uint64_t kFirstGuess = 512 << 10, kLeast = 64 << 10, kMost = KeystreamBuffers::kBufferBytes;
    const uint64_t guess = slot.lastBlockBytes ? slot.lastBlockBytes + slot.lastBlockBytes / 8 : kFirstGuess;
    if (!m_helper) m_helper.reset(new KeystreamHelper(m_baseKey));
    slot.ahead = m_helper->Prepare(streamId, block, static_cast<size_t>(std::clamp(guess, kLeast, kMost)));
}

TuringKeystream* KeystreamSet::Select(unsigned slot, uint8_t streamId, uint32_t block) {
    if (slot >= kMaxSlots) return nullptr;
    if (slot >= m_slots.size()) m_slots.resize(slot + 1);
    std::unique_ptr<Slot>& s = m_slots[slot];
    if (!s) {
        s.reset(new Slot);
        s->helped = m_withHelper && m_helpedSlots < kHelpedSlots;
        m_helpedSlots += s->helped;
    }
    if (s->valid && s->streamId == streamId && s->block == block) return &s->keystream;
    if (s->valid && s->streamId == streamId) s->lastBlockBytes = s->keystream.Position();
    s->valid = false;
    ++m_rebuilds;
    if (s->ahead && s->ahead->streamId == streamId && s->ahead->block == block) {
        // Made ahead: this thread makes the next block itself while the helper makes the
        // one after.
        const std::shared_ptr<PreparedKeystream> prepared = std::move(s->ahead);
        s->misses = 0;
        if (!prepared->WaitStarted()) return nullptr;
        s->keystream.ContinueFrom(prepared);
        PrepareAhead(*s, streamId, BlockAfter(BlockAfter(block)));
    } else {
        if (s->ahead && !(s->ahead->streamId == streamId && s->ahead->block == BlockAfter(block))) {
            s->ahead->Cancel();
            s->ahead.reset();
            if (++s->misses >= kMissesBeforeGivingUp) s->helped = false;
        }
        if (!InitKeystream(s->keystream, m_baseKey, streamId, block)) return nullptr;
        if (s->helped && !s->ahead) PrepareAhead(*s, streamId, BlockAfter(block));
    }
    s->streamId = streamId;
    s->block = block;
    s->valid = true;
    return &s->keystream;
}

TuringKeystream* KeystreamSet::Current(unsigned slot) {
    if (slot >= m_slots.size() || !m_slots[slot] || !m_slots[slot]->valid) return nullptr;
    return &m_slots[slot]->keystream;
}

void KeystreamSet::Reset() {
    for (std::unique_ptr<Slot>& s : m_slots) {
        if (!s) continue;
        s->valid = false;
        if (s->ahead) s->ahead->Cancel();
        s->ahead.reset();
    }
}

}  // namespace korvane::media
