// The payload view's reading of a program stream: units cut where the decryptor cuts them,
// found again anywhere in the file, and each stream's keystream position learnt from the
// records. Internal to media/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ViewPlan.h"
#include "ViewWindow.h"

namespace korvane::media::view {

// Where the decryptor's walk over the units stands: it cuts the payload from offset 0 into
// units and stretches of damage (PsFraming.h), and the same walk from any offset it passes
// gives the same cuts from there on.
struct PsWalker {
    uint64_t pos = 0;

    bool operator==(const PsWalker& o) const { return pos == o.pos; }
    Event Step(Window& window);
};

// The longest unit: a 16-bit length after six bytes.
constexpr size_t kPsMaxUnit = 6 + 65535;

// The states the decryptor's walk must pass through one of near `from`. Its units begin at
// system start codes and damage ends at the next one, so it stands on the first start code at
// or after `from`, or jumps over it with a unit that begins at a start code before it (within
// the longest unit's span). Empty with *fromStart set at the payload's start.
std::vector<PsWalker> PsCandidates(Window& window, uint64_t from, bool* fromStart);

struct PsStream {
    uint16_t key = 0;          // stream id
    bool slotKnown = false;    // whether the keystream's last block is known
    bool slotValid = false;    //   there is one (false: the stream has had none)
    uint32_t block = 0;        //   and which
    Know pos = Know::Unknown;  // keystream bytes used in that block
    uint64_t used = 0;
    uint64_t runStart = 0;  // where that block's keystream began (for the view's estimates)
};

class PsEngine {
public:
    // At the payload's start everything is known; anywhere else nothing is.
    void StartOfPayload();
    void Blank();
    // Nothing of a program stream needs the keystream to be read: the record says it all.
    void MakeWet() {}

    // The plan for a unit of the walk (p: its bytes).
    void Unit(const uint8_t* p, size_t size, uint64_t at, UnitPlan& plan);
    size_t Streams() const { return m_streams.Size(); }
    // Keystream positions worth keeping at a checkpoint: (slot, stream id, block, bytes used).
    template <class F>
    void ForEachPosition(F&& f) const {
        for (const PsStream& s : m_streams.Items())
            if (s.slotKnown && s.slotValid && s.pos == Know::Exact) f(s.key, static_cast<uint8_t>(s.key), s.block, s.used);
    }

private:
    SparseTable<PsStream> m_streams;
};

}  // namespace korvane::media::view
