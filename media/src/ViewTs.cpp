#include "ViewTs.h"

#include <algorithm>
#include <cstring>

#include "PesRecord.h"
#include "TsSync.h"

namespace korvane::media::view {
namespace {

constexpr size_t kPacket = kTsPacketSize;

// A clear PES start ends any clear part walked before it: nothing about the walk is left to know.
void WalkEnds(TsPid& s) {
    s.walk = Know::Exact;
    s.w.region = ts::Region::Encrypted;
}

bool WalkHasEnded(const TsPid& s) {
    return s.walk == Know::Exact && s.w.region == ts::Region::Encrypted;
}

}  // namespace

Event TsWalker::Step(Window& window) {
    const uint64_t size = window.Size();
    size_t got = 0;
    for (;;) {
        if (pos >= size) {
            locked = true;  // one end, whichever walk reached it
            return {Event::End, pos, 0, nullptr};
        }
        const uint64_t rest = size - pos;
        if (locked) {
            const uint8_t* d = window.Get(pos, static_cast<size_t>(std::min<uint64_t>(rest, kPacket + 1)), &got);
            if (!d) return {Event::ReadFailed, pos, 0, nullptr};
            if (rest < kPacket) {  // cut short by the end
                const Event e{Event::Raw, pos, static_cast<size_t>(rest), d};
                pos = size;
                return e;
            }
            if (d[0] == kTsSyncByte && (rest == kPacket || d[kPacket] == kTsSyncByte)) {
                const Event e{Event::Unit, pos, kPacket, d};
                pos += kPacket;
                return e;
            }
            locked = false;
        }
        const uint8_t* d = window.Get(pos, 2 * kPacket + 1, &got);
        if (!d) return {Event::ReadFailed, pos, 0, nullptr};
        bool needMore = false;
        const size_t i = ts::FindSync(d, 0, got, pos + got == size, &needMore);
        if (i == 0 && !needMore) {
            locked = true;
            continue;
        }
        // Damage up to where sync may be (or is) found; a candidate the window cuts is
        // judged from a window that begins there.
        const Event e{Event::Raw, pos, i, d};
        pos += i;
        locked = !needMore && i < got;
        return e;
    }
}

std::vector<TsWalker> TsCandidates(Window& window, uint64_t from, bool* fromStart) {
    std::vector<TsWalker> walkers;
    *fromStart = from <= kPacket;
    if (*fromStart) return walkers;
    const uint64_t low = from - kPacket, size = window.Size();
    size_t got = 0;
    const uint8_t* d = window.Get(low, 2 * kPacket + 1, &got);
    if (!d) return walkers;
    for (uint64_t j = low; j < from; ++j) {
        const uint8_t* p = d + (j - low);
        if (size - j < kPacket)
            walkers.push_back({size, true});  // cut short there: the walk ends
        else if (p[0] == kTsSyncByte && (size - j == kPacket || p[kPacket] == kTsSyncByte))
            walkers.push_back({j + kPacket, true});
    }
    walkers.push_back({from, false});
    return walkers;
}

void TsEngine::StartOfPayload() {
    m_wet = false;
    m_pmtKnown = m_keyKnown = m_patSectionsKnown = m_pmtSectionsKnown = true;
    m_pmtPid = m_keyPid = ts::kNoPid;
    m_patSections.Reset();
    m_pmtSections.Reset();
    m_pids.Clear();
    TsPid& f = m_pids.fallback;
    f = TsPid{};
    f.typeKnown = f.recordKnown = f.slotKnown = true;
    f.pos = Know::Exact;
    WalkEnds(f);
}

void TsEngine::Blank() {
    m_wet = false;
    m_pmtKnown = m_keyKnown = m_patSectionsKnown = m_pmtSectionsKnown = false;
    m_patSections.Reset();
    m_pmtSections.Reset();
    m_pids.Clear();
    m_pids.fallback = TsPid{};
}

void TsEngine::MakeWet() {
    m_wet = true;
    m_pids.ForEach([](TsPid& s) {
        if (s.pos == Know::Opaque) s.pos = Know::Unknown;
        if (s.walk == Know::Opaque) s.walk = Know::Unknown;
    });
}

bool TsEngine::Unit(const uint8_t* p, size_t, uint64_t at, UnitPlan& plan, LazyKeystreams& keys) {
    plan.Reset(at, kPacket);
    const ts::PacketHead h = ts::ReadHead(p);
    if (!h.payload) {
        if (h.scrambling && h.error) {
            plan.leftScrambled = true;  // its header cannot be trusted, its bytes may be scrambled
        } else if (h.scrambling) {
            plan.kind = UnitPlan::Decrypt;  // no payload: nothing is scrambled but the bits
            plan.bitsAt = 3;
            plan.bitsMask = 0x3F;
            plan.xorFrom = kPacket;
        }
        return true;
    }
    if (!h.scrambling) {
        ClearPacket(p, h, plan);
        return true;
    }
    return ScrambledPacket(p, h, at, plan, keys);
}

// What the decryptor does with a clear packet depends on its PID: the PAT's, the PMT's, the
// key PID's or another. Where the tables are not known yet, whatever it might be changes
// what it might change.
void TsEngine::ClearPacket(const uint8_t* p, const ts::PacketHead& h, UnitPlan& plan) {
    const uint8_t* q = p + h.payloadAt;
    const size_t n = kPacket - h.payloadAt;
    if (h.pid == 0) return FeedPat(q, n, h.start);
    if (m_pmtKnown && h.pid == m_pmtPid) return FeedPmt(p, h, plan);
    const bool pmtMaybe = !m_pmtKnown;
    const bool keyMaybe = !m_keyKnown || h.pid == m_keyPid;
    if (!pmtMaybe && m_keyKnown && keyMaybe) {
        Keys(q, n);
        plan.kind = UnitPlan::Replace;
        ts::MakeNullPacket(plan.bytes);
        return;
    }
    if (!pmtMaybe && !keyMaybe) {
        if (h.start) WalkEnds(m_pids.Get(h.pid));
        return;
    }
    const bool rewritten = pmtMaybe && MaybePmt(p, h);
    if (keyMaybe) MaybeKeys(q, n);
    if (h.start) {
        TsPid& s = m_pids.Get(h.pid);
        if (!WalkHasEnded(s)) s.walk = Know::Unknown;
    }
    if (keyMaybe || rewritten) plan.kind = UnitPlan::Unknown;
}

void TsEngine::FeedPat(const uint8_t* q, size_t n, bool start) {
    if (!m_patSectionsKnown) {
        // A section begun before the view started may end here (before the pointer field's
        // target), saying anything.
        if (!start) return PatUnknown();
        if (q[0] > 0) PatUnknown();
        m_patSections.Reset();
        m_patSectionsKnown = true;
    }
    m_patSections.Feed(q, n, start, &m_badSections, [&](const uint8_t* s, size_t size, bool) {
        Pat(s, size);
        return true;
    });
}

void TsEngine::Pat(const uint8_t* s, size_t size) {
    const int pmtPid = ts::PatPmtPid(s, size);
    if (pmtPid < 0) return;
    if (m_pmtKnown) {
        if (pmtPid != m_pmtPid) {
            m_pmtSections.Reset();
            m_pmtSectionsKnown = true;
        }
    } else if (!(m_pmtSectionsKnown && m_pmtSections.Idle())) {
        m_pmtSectionsKnown = false;  // reset or not, as the PID was another or the same
    }
    m_pmtPid = static_cast<uint16_t>(pmtPid);
    m_pmtKnown = true;
}

void TsEngine::PatUnknown() {
    m_pmtKnown = false;
    if (!(m_pmtSectionsKnown && m_pmtSections.Idle())) m_pmtSectionsKnown = false;
}

void TsEngine::PmtUnknown() {
    m_keyKnown = false;
    m_pids.ForEach([](TsPid& s) { s.typeKnown = false; });
}

// The PMT PID's packet, read (and rewritten) in a copy as the decryptor does in place.
void TsEngine::FeedPmt(const uint8_t* p, const ts::PacketHead& h, UnitPlan& plan) {
    std::memcpy(plan.bytes, p, kPacket);
    uint8_t* q = plan.bytes + h.payloadAt;
    const size_t n = kPacket - h.payloadAt;
    if (!m_pmtSectionsKnown) {
        if (!h.start) return PmtUnknown();
        if (q[0] > 0) PmtUnknown();
        m_pmtSections.Reset();
        m_pmtSectionsKnown = true;
    }
    bool rewritten = false;
    m_pmtSections.Feed(q, n, h.start, &m_badSections, [&](const uint8_t* s, size_t size, bool whole) {
        bool complete = false;
        uint16_t keyPid = ts::kNoPid;
        const bool read = ts::ReadPmt(s, size, &complete, [&](uint8_t type, uint16_t pid) {
            TsPid& e = m_pids.Get(pid);
            e.type = type;
            e.typeKnown = true;
            if (type == kTsTypeTivoKeys && keyPid == ts::kNoPid) keyPid = pid;
        });
        if (!read) return true;
        m_keyPid = keyPid;
        m_keyKnown = true;
        // A table inside this packet is rewritten; the decryptor sees the rewritten bytes as
        // it reads on (0xFF where the next section might have begun).
        if (whole && complete) rewritten |= ts::DropKeyEntries(q + (s - q), size, plan.bytes + kPacket);
        return true;
    });
    if (rewritten) plan.kind = UnitPlan::Replace;
}

// A packet that may be the PMT's (its PID is not known yet): what it would say is not known
// for sure, and whether its table would be rewritten. True when it would.
bool TsEngine::MaybePmt(const uint8_t* p, const ts::PacketHead& h) {
    m_pmtSectionsKnown = false;
    if (!h.start) {
        PmtUnknown();
        return false;
    }
    uint8_t copy[kPacket];
    std::memcpy(copy, p, kPacket);
    uint8_t* q = copy + h.payloadAt;
    if (q[0] > 0) PmtUnknown();
    ts::SectionAssembler fresh;
    bool rewritten = false;
    fresh.Feed(q, kPacket - h.payloadAt, true, &m_badSections, [&](const uint8_t* s, size_t size, bool whole) {
        bool complete = false;
        const bool read =
            ts::ReadPmt(s, size, &complete, [&](uint8_t, uint16_t pid) { m_pids.Get(pid).typeKnown = false; });
        if (!read) return true;
        m_keyKnown = false;
        if (whole && complete) rewritten |= ts::DropKeyEntries(q + (s - q), size, copy + kPacket);
        return true;
    });
    return rewritten;
}

void TsEngine::Keys(const uint8_t* q, size_t n) {
    ts::ReadKeyPacket(q, n, [&](uint16_t pid, uint8_t streamId, const uint8_t* record) {
        if (!pes::RecordValid(record)) return;
        TsPid& s = m_pids.Get(pid);
        s.recordKnown = s.hasRecord = true;
        s.streamId = streamId;
        s.block = pes::RecordBlock(record);
    });
}

void TsEngine::MaybeKeys(const uint8_t* q, size_t n) {
    ts::ReadKeyPacket(q, n, [&](uint16_t pid, uint8_t, const uint8_t* record) {
        if (pes::RecordValid(record)) m_pids.Get(pid).recordKnown = false;
    });
}

bool TsEngine::ScrambledPacket(const uint8_t* p, const ts::PacketHead& h, uint64_t at, UnitPlan& plan,
                               LazyKeystreams& keys) {
    TsPid& s = m_pids.Get(h.pid);
    const bool dropped = h.pid == 0 || (s.recordKnown && !s.hasRecord) || (m_keyKnown && h.pid == m_keyPid) ||
                         (m_pmtKnown && h.pid == m_pmtPid);
    if (dropped) {
        plan.leftScrambled = true;
        if (h.start) WalkEnds(s);
        return true;
    }
    if (!s.recordKnown || !m_keyKnown || !m_pmtKnown) {
        // Decrypted or dropped: either might be.
        plan.kind = UnitPlan::Unknown;
        s.slotKnown = false;
        s.pos = Know::Unknown;
        if (h.start || !WalkHasEnded(s)) s.walk = Know::Unknown;
        return true;
    }

    // The keystream: going on in the same block, or from byte 0 of a new one.
    if (!s.slotKnown) {
        s.pos = Know::Unknown;
    } else if (!s.slotValid || s.slotStreamId != s.streamId || s.slotBlock != s.block) {
        s.pos = Know::Exact;
        s.used = 0;
        s.runStart = at;
    }
    s.slotKnown = s.slotValid = true;
    s.slotStreamId = s.streamId;
    s.slotBlock = s.block;

    if (h.start) {
        s.walk = Know::Exact;
        s.w.StartPes();
    }
    if (s.typeKnown)
        s.w.mpeg2Video = ts::IsMpeg2VideoType(s.type);
    else if (!WalkHasEnded(s))
        s.walk = Know::Unknown;  // video headers kept clear or not

    const uint8_t* q = p + h.payloadAt;
    const size_t n = kPacket - h.payloadAt;
    Know clearKnow = s.walk;
    size_t clear = 0;
    uint64_t clearNeed = s.walk == Know::Opaque ? s.walkNeed : kNever;
    if (s.walk == Know::Exact) {
        bool ambiguous = false, failed = false, havePeek = false;
        uint8_t peek[5];
        clear = ts::ClearPrefix(s.w, q, n, [&](const uint8_t* b, size_t avail) -> int {
            if (ts::LooksLikeClearHeaderCode(b, avail)) return 1;
            if (s.pos == Know::Exact && m_wet) {
                if (!havePeek) failed = !keys.Peek(h.pid, s.streamId, s.block, s.used, peek);
                havePeek = true;
                return ts::JudgeScrambled(b, avail, peek);
            }
            // Where a header has ended, a byte other than 0 ends the clear part whatever the
            // bytes decrypt to. Elsewhere only the keystream tells: walk on as if they do not
            // decrypt to a start code, and remember that they might.
            if (s.w.walk == ts::Walk::AtCode && b[0] != 0) return -1;
            ambiguous = true;
            return 0;
        });
        if (failed) return false;
        if (ambiguous) {
            // Known once this block's keystream is made (Opaque), or not at all. If the walk
            // that went on ended too, the clear part has ended either way, where is not known.
            const Know know = s.pos == Know::Unknown ? Know::Unknown : Know::Opaque;
            clearKnow = know;
            clearNeed = s.pos == Know::Exact ? s.runStart : s.posNeed;
            if (s.w.region != ts::Region::Encrypted) {
                s.walk = know;
                s.walkNeed = clearNeed;
            }
        }
    }

    plan.runStart = s.runStart;
    if (s.pos == Know::Exact && clearKnow == Know::Exact) {
        plan.kind = UnitPlan::Decrypt;
        plan.bitsAt = 3;
        plan.bitsMask = 0x3F;
        plan.xorFrom = static_cast<uint32_t>(h.payloadAt + clear);
        plan.slot = h.pid;
        plan.streamId = s.streamId;
        plan.block = s.block;
        plan.keyIndex = s.used;
        s.used += n - clear;
    } else if (s.pos != Know::Unknown && clearKnow != Know::Unknown) {
        const uint64_t need = std::min(s.pos == Know::Opaque ? s.posNeed : kNever, clearNeed);
        plan.kind = UnitPlan::Opaque;
        plan.need = need;
        s.pos = Know::Opaque;
        s.posNeed = need;
    } else {
        plan.kind = UnitPlan::Unknown;
        s.pos = Know::Unknown;
    }
    return true;
}

}  // namespace korvane::media::view
