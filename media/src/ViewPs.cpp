#include "ViewPs.h"

#include "PesDecrypt.h"
#include "PsFraming.h"

namespace korvane::media::view {

Event PsWalker::Step(Window& window) {
    if (pos >= window.Size()) return {Event::End, pos, 0, nullptr};
    size_t got = 0;
    // The longest unit and the start code after it, which decides whether its length holds.
    const uint8_t* d = window.Get(pos, kPsMaxUnit + 3, &got);
    if (!d) return {Event::ReadFailed, pos, 0, nullptr};
    const bool atEnd = pos + got == window.Size();
    const ps::Frame f = ps::FrameUnit(d, got, atEnd);
    if (f.kind == ps::Frame::Unit) {
        const Event e{Event::Unit, pos, f.size, d};
        pos += f.size;
        return e;
    }
    size_t skip = ps::DamageBefore(d, got, atEnd);
    if (skip == 0) skip = got;  // cannot happen: the window holds more than a start code
    const Event e{Event::Raw, pos, skip, d};
    pos += skip;
    return e;
}

// Empty (and not from the start) when the file could not be read.
std::vector<PsWalker> PsCandidates(Window& window, uint64_t from, bool* fromStart) {
    *fromStart = from == 0;
    std::vector<PsWalker> walkers;
    if (*fromStart) return walkers;
    // The first system start code at or after `from`, or the end.
    uint64_t first = window.Size();
    for (uint64_t pos = from; pos + 4 <= window.Size();) {
        size_t got = 0;
        const uint8_t* d = window.Get(pos, 4, &got);
        if (!d) return walkers;
        const size_t at = ps::FindSystemStartCode(d, got, 0);
        if (at != std::string::npos) {
            first = pos + at;
            break;
        }
        if (pos + got >= window.Size()) break;
        pos += got - 3;
    }
    walkers.push_back({first});
    // The units that would jump over it, from each start code within the longest unit before it.
    const uint64_t low = first > kPsMaxUnit ? first - kPsMaxUnit : 0;
    for (uint64_t c = low; c < first;) {
        size_t got = 0;
        const uint8_t* d = window.Get(c, static_cast<size_t>(first - c) + 3, &got);
        if (!d) return {};
        const size_t at = ps::FindSystemStartCode(d, static_cast<size_t>(std::min<uint64_t>(got, first - c + 3)), 0);
        if (at == std::string::npos || c + at >= first) break;
        PsWalker unit{c + at};
        const Event e = unit.Step(window);
        if (e.kind == Event::ReadFailed) return {};
        if (e.kind == Event::Unit && unit.pos > first) walkers.push_back(unit);
        c += at + 1;
    }
    return walkers;
}

void PsEngine::StartOfPayload() {
    m_streams.Clear();
    m_streams.fallback = PsStream{};
    m_streams.fallback.slotKnown = true;  // no stream has a keystream yet
    m_streams.fallback.pos = Know::Exact;
}

void PsEngine::Blank() {
    m_streams.Clear();
    m_streams.fallback = PsStream{};
}

void PsEngine::Unit(const uint8_t* p, size_t size, uint64_t at, UnitPlan& plan) {
    plan.Reset(at, size);
    switch (pes::ClassifyUnit(p, size)) {
    case pes::UnitKind::Clear:
        return;
    case pes::UnitKind::NotDecryptable:
        plan.leftScrambled = true;
        return;
    case pes::UnitKind::Scrambled:
        break;
    }
    const pes::Examined e = pes::Examine(p, size);
    PsStream& s = m_streams.Get(p[3]);
    if (e.result != pes::PacketResult::Decrypted) {
        plan.leftScrambled = true;
        // The decryptor's current keystream skips what an unreadable record's packet used.
        const bool unreadable =
            e.result == pes::PacketResult::MissingRecord || e.result == pes::PacketResult::InvalidRecord;
        if (unreadable && s.slotKnown && s.slotValid && s.pos == Know::Exact) s.used += pes::KeystreamSpent(p, size);
        return;
    }
    if (!s.slotKnown) {
        s.pos = Know::Unknown;  // the same block as before it (going on) or another (from 0)
    } else if (!s.slotValid || s.block != e.block) {
        s.pos = Know::Exact;
        s.used = 0;
        s.runStart = at;
    }
    s.slotKnown = s.slotValid = true;
    s.block = e.block;
    if (s.pos != Know::Exact) {
        plan.kind = UnitPlan::Unknown;
        return;
    }
    plan.kind = UnitPlan::Decrypt;
    plan.bitsAt = 6;
    plan.bitsMask = static_cast<uint8_t>(~pes::kScramblingBits);
    plan.xorFrom = 9u + p[8];
    plan.slot = p[3];
    plan.streamId = p[3];
    plan.block = e.block;
    plan.keyIndex = s.used + 4;  // after the record's crypted word
    plan.runStart = s.runStart;
    s.used += pes::KeystreamSpent(p, size);
}

}  // namespace korvane::media::view
