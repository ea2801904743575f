// What the payload view's readers share: how much they know of a piece of state, what a unit
// of the payload becomes, the keystreams they make lazily, and a small table of per-stream
// state. Internal to media/ (PayloadView.cpp, ViewTs.cpp, ViewPs.cpp).
//
// A reader that starts in the middle of a recording knows nothing of what came before: the
// tables in force, the key records, where each stream's keystream stands, where the clear
// part of a PES ends. It learns them from what it reads, and says so: a piece of state is
// Exact once it follows from what was read alone. In a pass that makes no keystream, what
// would follow from the keystream of a block begun in that pass is Opaque: a second pass
// that makes the keystream from that block's start knows it exactly. A unit whose output
// depends on anything Unknown is not given out: the view then starts further back.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "media/TivoKeys.h"
#include "media/Turing.h"

namespace korvane::media::view {

enum class Know : uint8_t { Unknown, Opaque, Exact };

constexpr uint64_t kNever = UINT64_MAX;

// What one unit (a TS packet, a program stream unit, or bytes between units) becomes.
struct UnitPlan {
    enum Kind : uint8_t {
        AsIs,     // the file's bytes
        Decrypt,  // the file's bytes, scrambling bits cleared, XORed from xorFrom to the end
        Replace,  // `bytes` instead (a key packet made a null packet, a PMT without the key PID)
        Opaque,   // known once the keystream from `need` on is made (a pass without keystream)
        Unknown,  // depends on what came before the point the view started from
    };
    Kind kind = AsIs;
    bool leftScrambled = false;  // a scrambled unit that stays as it is (counted)
    uint64_t start = 0;          // payload offset
    uint32_t size = 0;
    // Decrypt:
    uint32_t bitsAt = 0;  // the byte (offset in the unit) whose scrambling bits go
    uint8_t bitsMask = 0xFF;
    uint32_t xorFrom = 0;  // from here (offset in the unit) to the end, XORed; size: nothing
    uint16_t slot = 0;
    uint8_t streamId = 0;
    uint32_t block = 0;
    uint64_t keyIndex = 0;  // the keystream byte that meets xorFrom
    // Opaque:
    uint64_t need = kNever;
    // Decrypt and Opaque: where the block of the keystream began (how far back a view that
    // starts afresh must look).
    uint64_t runStart = kNever;
    // Replace:
    uint8_t bytes[188];

    void Reset(uint64_t at, size_t unitSize) {
        kind = AsIs;
        leftScrambled = false;
        start = at;
        size = static_cast<uint32_t>(unitSize);
        need = kNever;
        runStart = kNever;
    }
    bool Known() const { return kind != Unknown; }
};

// Per-stream state of a handful of streams (PIDs, stream ids) out of many: a sorted vector,
// so that copying the state for a checkpoint copies only the streams seen. Streams not in it
// have the state `fallback` says.
template <class T>
class SparseTable {
public:
    T fallback;

    T& Get(uint16_t key) {
        if (m_last < m_items.size() && m_items[m_last].key == key) return m_items[m_last];
        auto it = std::lower_bound(m_items.begin(), m_items.end(), key,
                                   [](const T& item, uint16_t k) { return item.key < k; });
        if (it == m_items.end() || it->key != key) {
            T made = fallback;
            made.key = key;
            it = m_items.insert(it, made);
        }
        m_last = static_cast<size_t>(it - m_items.begin());
        return *it;
    }
    const T* Find(uint16_t key) const {
        auto it = std::lower_bound(m_items.begin(), m_items.end(), key,
                                   [](const T& item, uint16_t k) { return item.key < k; });
        return it == m_items.end() || it->key != key ? nullptr : &*it;
    }
    template <class F>
    void ForEach(F&& f) {
        for (T& item : m_items)
            f(item);
        f(fallback);
    }
    size_t Size() const { return m_items.size(); }
    const std::vector<T>& Items() const { return m_items; }
    void Clear() {
        m_items.clear();
        m_last = 0;
    }

private:
    std::vector<T> m_items;
    size_t m_last = 0;
};

// The keystreams the view makes, one per slot (a PID or a stream id), made only when bytes of
// them are needed and kept between reads: a reader going on where it stopped continues each
// keystream where it stands. Bounded: the least used is dropped when all entries are taken
// (as many as the streaming decryptor keeps keystreams, 4.5 KiB each, made only when used; a
// recording scrambles a handful of streams).
class LazyKeystreams {
public:
    static constexpr size_t kMaxEntries = 64;

    explicit LazyKeystreams(const uint8_t* baseKey) { std::memcpy(m_baseKey, baseKey, sizeof m_baseKey); }

    // The keystream of (stream id, block) in the slot, standing at byte `index`; nullptr when
    // the hash library failed.
    TuringKeystream* At(uint16_t slot, uint8_t streamId, uint32_t block, uint64_t index) {
        Entry* e = Find(slot);
        if (!e || e->streamId != streamId || e->block != block || e->keystream.Position() > index) {
            if (!e) e = Take(slot);
            e->ready = false;
            if (!InitKeystream(e->keystream, m_baseKey, streamId, block)) return nullptr;
            e->ready = true;
            e->streamId = streamId;
            e->block = block;
        }
        e->lastUse = ++m_clock;
        const uint64_t skip = index - e->keystream.Position();
        e->keystream.Skip(skip);
        made += skip;
        return &e->keystream;
    }

    // XORs size bytes from the keystream's byte `index`. False when the hash library failed.
    bool Xor(uint16_t slot, uint8_t streamId, uint32_t block, uint64_t index, uint8_t* data, size_t size) {
        TuringKeystream* ks = At(slot, streamId, block, index);
        if (!ks) return false;
        ks->Xor(data, size);
        made += size;
        return true;
    }

    // The five bytes from `index` on, without using them up. False when the hash library failed.
    bool Peek(uint16_t slot, uint8_t streamId, uint32_t block, uint64_t index, uint8_t* out) {
        TuringKeystream* ks = At(slot, streamId, block, index);
        if (!ks) return false;
        // Made and taken back: a copy of the whole keystream would copy its 4 KiB of tables.
        TuringKeystream::Saved here;
        if (!ks->Save(&here)) return false;
        ks->Generate(out, 5);
        ks->Restore(here);
        made += 5;
        return true;
    }

    // Where the slot's keystream stands, to keep at a checkpoint.
    struct Kept {
        uint16_t slot;
        uint8_t streamId;
        uint32_t block;
        TuringKeystream::Saved saved;
    };
    bool Keep(uint16_t slot, uint8_t streamId, uint32_t block, uint64_t atMost, Kept* out) const {
        const Entry* e = Find(slot);
        if (!e || e->streamId != streamId || e->block != block || e->keystream.Position() > atMost) return false;
        out->slot = slot;
        out->streamId = streamId;
        out->block = block;
        return e->keystream.Save(&out->saved);
    }
    // Takes a kept keystream back unless the slot's own stands between it and `atMost`.
    void Restore(const Kept& kept, uint64_t atMost) {
        Entry* e = Find(kept.slot);
        if (e && e->streamId == kept.streamId && e->block == kept.block &&
            e->keystream.Position() >= kept.saved.position && e->keystream.Position() <= atMost)
            return;
        if (!e) e = Take(kept.slot);
        e->ready = false;
        if (!InitKeystream(e->keystream, m_baseKey, kept.streamId, kept.block)) return;
        if (!e->keystream.Restore(kept.saved)) return;  // the slot is made again when next used
        e->ready = true;
        e->streamId = kept.streamId;
        e->block = kept.block;
        e->lastUse = ++m_clock;
    }

    uint64_t made = 0;  // keystream bytes made, skipped ones included

private:
    struct Entry {
        uint16_t slot = 0;
        bool ready = false;
        uint8_t streamId = 0;
        uint32_t block = 0;
        uint64_t lastUse = 0;
        TuringKeystream keystream;
    };
    Entry* Find(uint16_t slot) {
        for (auto& e : m_entries)
            if (e->ready && e->slot == slot) return e.get();
        return nullptr;
    }
    const Entry* Find(uint16_t slot) const {
        for (auto& e : m_entries)
            if (e->ready && e->slot == slot) return e.get();
        return nullptr;
    }
    Entry* Take(uint16_t slot) {
        Entry* e = nullptr;
        for (auto& c : m_entries)
            if (!c->ready) e = c.get();
        if (!e && m_entries.size() < kMaxEntries) {
            m_entries.emplace_back(new Entry);
            e = m_entries.back().get();
        }
        if (!e) {
            e = m_entries.front().get();
            for (auto& c : m_entries)
                if (c->lastUse < e->lastUse) e = c.get();
        }
        e->ready = false;
        e->slot = slot;
        return e;
    }

    uint8_t m_baseKey[kTivoKeySize];
    std::vector<std::unique_ptr<Entry>> m_entries;
    uint64_t m_clock = 0;
};

}  // namespace korvane::media::view
