#include "media/TivoKeys.h"

#include <cstring>

#include "media/TivoContainer.h"

namespace korvane::media {

struct KeystreamSet::Slot {
    TuringKeystream keystream;
    uint8_t streamId = 0;
    uint32_t block = 0;
    bool valid = false;  // false until built, and after a Reset
};

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

KeystreamSet::KeystreamSet(const uint8_t* baseKey) {
    std::memcpy(m_baseKey, baseKey, sizeof m_baseKey);
}

KeystreamSet::~KeystreamSet() = default;

TuringKeystream* KeystreamSet::Select(unsigned slot, uint8_t streamId, uint32_t block) {
    if (slot >= kMaxSlots) return nullptr;
    if (slot >= m_slots.size()) m_slots.resize(slot + 1);
    std::unique_ptr<Slot>& s = m_slots[slot];
    if (!s) s.reset(new Slot);
    if (s->valid && s->streamId == streamId && s->block == block) return &s->keystream;
    s->valid = false;
    if (!InitKeystream(s->keystream, m_baseKey, streamId, block)) return nullptr;
    s->streamId = streamId;
    s->block = block;
    s->valid = true;
    ++m_rebuilds;
    return &s->keystream;
}

TuringKeystream* KeystreamSet::Current(unsigned slot) {
    if (slot >= m_slots.size() || !m_slots[slot] || !m_slots[slot]->valid) return nullptr;
    return &m_slots[slot]->keystream;
}

void KeystreamSet::Reset() {
    for (std::unique_ptr<Slot>& s : m_slots)
        if (s) s->valid = false;
}

}  // namespace korvane::media
