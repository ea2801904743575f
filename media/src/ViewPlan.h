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

#include "KeystreamHelper.h"
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
//
// With KeystreamMaking::WithHelperThread, while the reader goes on from its last read (a
// parser streaming through the file), a helper thread makes ahead the blocks to come of the
// first kHelpedSlots slots, as KeystreamSet does for the decryptors: the caller makes one
// block, the helper the next, so that two cores share what bounds sequential reading. The
// bytes are the same either way; a read elsewhere makes its keystream as before, and a block
// made ahead that does not come next is dropped.
class LazyKeystreams {
public:
    static constexpr size_t kMaxEntries = 64;
    static constexpr size_t kHelpedSlots = KeystreamSet::kHelpedSlots;

    explicit LazyKeystreams(const uint8_t* baseKey, KeystreamMaking making = KeystreamMaking::OnCallerThread)
        : m_withHelper(making == KeystreamMaking::WithHelperThread) {
        std::memcpy(m_baseKey, baseKey, sizeof m_baseKey);
    }
    ~LazyKeystreams() {
        // Blocks being made ahead are no longer wanted: the helper stops at its next piece
        // (m_helper, declared first, is joined last).
        for (auto& e : m_entries)
            if (e->ahead) e->ahead->Cancel();
    }
    LazyKeystreams(const LazyKeystreams&) = delete;
    LazyKeystreams& operator=(const LazyKeystreams&) = delete;

    // Whether the reader goes on from its last read: only then are blocks made ahead, since
    // only then is the next block of a stream likely the one wanted next.
    void SetReadingOn(bool on) { m_readingOn = on; }

    // The keystream of (stream id, block) in the slot, standing at byte `index`; nullptr when
    // the hash library failed.
    TuringKeystream* At(uint16_t slot, uint8_t streamId, uint32_t block, uint64_t index) {
        Entry* e = Find(slot);
        if (!e || e->streamId != streamId || e->block != block || e->keystream.Position() > index) {
            if (!e) e = Take(slot);
            if (!Build(*e, streamId, block)) return nullptr;
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
        if (ks->Save(&here)) {
            ks->Generate(out, 5);
            ks->Restore(here);
        } else {
            // Bytes made ahead are in hand, which Save cannot keep: a copy reads on over them
            // (it shares them and only reads them), the keystream itself stays where it is.
            TuringKeystream copy(*ks);
            copy.Generate(out, 5);
        }
        made += 5;
        return true;
    }

    // Where the slot's keystream stands, to keep at a checkpoint. False too while the slot
    // uses a block made ahead (a read from the checkpoint then makes it from the block's start).
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

    uint64_t made = 0;       // keystream bytes made, skipped ones included
    uint64_t handedOver = 0;  // blocks the helper made ahead and this took over

private:
    struct Entry {
        uint16_t slot = 0;
        bool ready = false;
        uint8_t streamId = 0;
        uint32_t block = 0;
        uint64_t lastUse = 0;
        TuringKeystream keystream;
        // With a helper: whether it makes this slot's blocks, the block it is making ahead, how
        // much of the slot's last block was used (how much to make ahead), and blocks made
        // ahead in a row that did not come next while reading on.
        bool helped = false;
        std::shared_ptr<PreparedKeystream> ahead;
        uint64_t lastBlockBytes = 0;
        unsigned misses = 0;
    };

    // A stream whose blocks do not follow one another would have the helper make nothing but
    // waste: after this many misses in a row it stops helping that slot (KeystreamSet's rule).
    static constexpr unsigned kMissesBeforeGivingUp = 3;

    static uint32_t BlockAfter(uint32_t block) { return (block + 1) & 0xFFFFFF; }  // 24-bit block numbers

    // The entry's keystream at the start of (stream id, block): handed over from the helper
    // when it made that block ahead, made here otherwise.
    bool Build(Entry& e, uint8_t streamId, uint32_t block) {
        if (e.ready && e.streamId == streamId && e.block != block) e.lastBlockBytes = e.keystream.Position();
        e.ready = false;
        if (e.ahead && e.ahead->streamId == streamId && e.ahead->block == block) {
            // This thread makes the next block itself while the helper makes the one after.
            const std::shared_ptr<PreparedKeystream> prepared = std::move(e.ahead);
            e.misses = 0;
            if (!prepared->WaitStarted()) return false;
            e.keystream.ContinueFrom(prepared);
            ++handedOver;
            if (m_readingOn && e.helped) PrepareAhead(e, streamId, BlockAfter(BlockAfter(block)));
        } else {
            // A block made ahead stays while it may still come (the same block made again
            // after going back a little in it keeps the next ones).
            if (e.ahead && !(e.ahead->streamId == streamId && (e.ahead->block == BlockAfter(block) ||
                                                                e.ahead->block == BlockAfter(BlockAfter(block))))) {
                e.ahead->Cancel();
                e.ahead.reset();
                if (m_readingOn && ++e.misses >= kMissesBeforeGivingUp) e.helped = false;
            }
            if (!InitKeystream(e.keystream, m_baseKey, streamId, block)) return false;
            if (m_readingOn && e.helped && !e.ahead) PrepareAhead(e, streamId, BlockAfter(block));
        }
        e.ready = true;
        e.streamId = streamId;
        e.block = block;
        return true;
    }

    void PrepareAhead(Entry& e, uint8_t streamId, uint32_t block) {
        // Blocks of a stream hold about as many packets each: a little more than the last one
        // took (KeystreamSet's guess), so that the helper neither stops short often nor makes
        // much for nothing.
        constexpr uint64_t kFirstGuess = 512 << 10, kLeast = 64 << 10, kMost = KeystreamBuffers::kBufferBytes;
        const uint64_t guess = e.lastBlockBytes ? e.lastBlockBytes + e.lastBlockBytes / 8 : kFirstGuess;
        if (!m_helper) m_helper.reset(new KeystreamHelper(m_baseKey));
        e.ahead = m_helper->Prepare(streamId, block, static_cast<size_t>(std::clamp(guess, kLeast, kMost)));
    }

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
        if (e->ahead) e->ahead->Cancel();
        e->ahead.reset();
        e->misses = 0;
        e->lastBlockBytes = 0;
        // The first slots used keep their help when their entry is taken and given back.
        e->helped = false;
        if (m_withHelper) {
            const auto known = std::find(m_helpedSlots.begin(), m_helpedSlots.end(), slot);
            if (known != m_helpedSlots.end()) {
                e->helped = true;
            } else if (m_helpedSlots.size() < kHelpedSlots) {
                m_helpedSlots.push_back(slot);
                e->helped = true;
            }
        }
        e->slot = slot;
        return e;
    }

    uint8_t m_baseKey[kTivoKeySize];
    const bool m_withHelper;
    bool m_readingOn = false;
    std::vector<uint16_t> m_helpedSlots;        // at most kHelpedSlots
    std::unique_ptr<KeystreamHelper> m_helper;  // started when first needed; joined after the entries go
    std::vector<std::unique_ptr<Entry>> m_entries;
    uint64_t m_clock = 0;
};

}  // namespace korvane::media::view
