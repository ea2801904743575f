// The payload view's reading of a transport stream: packets found where the decryptor finds
// them, from anywhere in the file, and what it knows in each: the tables and the key PID in
// force, each PID's key record, where its keystream stands and where the clear part of its
// PES ends. Internal to media/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "TsSections.h"
#include "TsTables.h"
#include "ViewPlan.h"
#include "ViewWindow.h"

namespace korvane::media::view {

// Where the decryptor's walk over the packets stands: locked on at pos (a packet is taken when
// its sync byte and the next packet's are there), or looking for three sync bytes 188 apart
// from pos on (TsSync.h).
struct TsWalker {
    uint64_t pos = 0;
    bool locked = false;

    bool operator==(const TsWalker& o) const { return pos == o.pos && locked == o.locked; }
    Event Step(Window& window);
};

// The states the decryptor's walk must pass through one of near `from`: having taken a
// packet that began in the 188 bytes before it, or looking for sync at `from`. Empty with
// *fromStart set when `from` is within a packet of the payload's start.
std::vector<TsWalker> TsCandidates(Window& window, uint64_t from, bool* fromStart);

struct TsPid {
    uint16_t key = 0;  // PID
    bool typeKnown = false;
    uint8_t type = 0;  // stream type from the PMT
    // The key record in force.
    bool recordKnown = false;
    bool hasRecord = false;
    uint8_t streamId = 0;
    uint32_t block = 0;
    // What the keystream was last made for, and the bytes used since.
    bool slotKnown = false;
    bool slotValid = false;
    uint8_t slotStreamId = 0;
    uint32_t slotBlock = 0;
    Know pos = Know::Unknown;
    uint64_t used = 0;
    uint64_t runStart = 0;  // the packet where that keystream began
    uint64_t posNeed = kNever;
    // Where the clear part of the current PES ends.
    Know walk = Know::Unknown;
    uint64_t walkNeed = kNever;
    ts::PesWalk w;
};

class TsEngine {
public:
    void StartOfPayload();
    void Blank();
    // From here on the keystream is made where the reading needs it (what was Opaque is
    // Unknown: the bytes it would follow from are behind).
    void MakeWet();

    // The plan for a packet of the walk. False when the hash library failed.
    bool Unit(const uint8_t* p, size_t size, uint64_t at, UnitPlan& plan, LazyKeystreams& keys);
    size_t Streams() const { return m_pids.Size(); }
    template <class F>
    void ForEachPosition(F&& f) const {
        for (const TsPid& s : m_pids.Items())
            if (s.slotKnown && s.slotValid && s.pos == Know::Exact) f(s.key, s.slotStreamId, s.slotBlock, s.used);
    }

private:
    void ClearPacket(const uint8_t* p, const ts::PacketHead& h, UnitPlan& plan);
    bool ScrambledPacket(const uint8_t* p, const ts::PacketHead& h, uint64_t at, UnitPlan& plan,
                         LazyKeystreams& keys);
    void FeedPat(const uint8_t* q, size_t n, bool start);
    void Pat(const uint8_t* s, size_t size);
    void FeedPmt(const uint8_t* p, const ts::PacketHead& h, UnitPlan& plan);
    bool MaybePmt(const uint8_t* p, const ts::PacketHead& h);
    void PatUnknown();
    void PmtUnknown();
    void Keys(const uint8_t* q, size_t n);
    void MaybeKeys(const uint8_t* q, size_t n);

    bool m_wet = false;
    bool m_pmtKnown = false;
    uint16_t m_pmtPid = ts::kNoPid;
    bool m_keyKnown = false;
    uint16_t m_keyPid = ts::kNoPid;
    bool m_patSectionsKnown = false;
    ts::SectionAssembler m_patSections;
    bool m_pmtSectionsKnown = false;
    ts::SectionAssembler m_pmtSections;
    SparseTable<TsPid> m_pids;
    uint64_t m_badSections = 0;
};

}  // namespace korvane::media::view
