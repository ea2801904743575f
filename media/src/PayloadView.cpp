#include "media/PayloadView.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "ViewPlan.h"
#include "ViewPs.h"
#include "ViewTs.h"
#include "ViewWindow.h"

// How a read finds its way in. The decryptor's output at an offset depends on all that came
// before it; the view learns what it needs from as little of that as it can:
// - the walk over units (packets): the decryptor's walk, started anywhere, merges with the
//   walk from the payload's start within a unit or two; the walks from every place it might
//   stand near an offset are followed until they are one (ViewPs.h, ViewTs.h);
// - the state: an engine that knows nothing reads on from there and learns the tables, the
//   records, where each keystream block begins and where each clear part ends, saying for
//   each unit whether its output is known (ViewPlan.h). A first pass makes no keystream; when
//   every unit of the read is known, a second pass makes the keystream from where it must
//   (each block's start, or the read itself) and gives the read out. When something is still
//   unknown, the view starts twice as far back, at worst from the payload's start.
// Then it keeps what it learnt: the state after the read, with its keystreams, so that a read
// going on from there costs only its own bytes; and checkpoints (the state, and where each
// keystream stood) every so often, for a read that comes back.

namespace korvane::media {
namespace {

using view::Event;
using view::Know;
using view::LazyKeystreams;
using view::UnitPlan;
using view::Window;

struct PsFormat {
    using Walker = view::PsWalker;
    using Engine = view::PsEngine;
    static std::vector<Walker> Candidates(Window& w, uint64_t from, bool* fromStart) {
        return view::PsCandidates(w, from, fromStart);
    }
    static bool Unit(Engine& e, const Event& ev, UnitPlan& plan, LazyKeystreams&) {
        e.Unit(ev.data, ev.size, ev.start, plan);
        return true;
    }
};

struct TsFormat {
    using Walker = view::TsWalker;
    using Engine = view::TsEngine;
    static std::vector<Walker> Candidates(Window& w, uint64_t from, bool* fromStart) {
        return view::TsCandidates(w, from, fromStart);
    }
    static bool Unit(Engine& e, const Event& ev, UnitPlan& plan, LazyKeystreams& keys) {
        return e.Unit(ev.data, ev.size, ev.start, plan, keys);
    }
};

// Where a read's bytes go: out[0] is payload offset `origin`; [from, to) is still to be made.
struct Sink {
    uint8_t* out;
    uint64_t origin;
    uint64_t from;
    uint64_t to;
};

enum class RunStatus { Done, Unknown, Failed };

struct RunResult {
    RunStatus status;
    uint64_t madeTo;  // the bytes before this are in the sink
};

class ReaderBase {
public:
    virtual ~ReaderBase() = default;
    // False when the file could not be read or the hash library failed; *made says how many
    // bytes from the start of the read were made.
    virtual bool Read(uint64_t offset, uint8_t* out, size_t size, size_t* made) = 0;
};

template <class F>
class Reader final : public ReaderBase {
    using Walker = typename F::Walker;
    using Engine = typename F::Engine;

public:
    Reader(ByteSource& source, const TivoFile& file, const TivoKeys& keys, const PayloadViewOptions& options,
           PayloadViewStats& stats)
        : m_window(source, file.payloadOffset, file.payloadSize, std::max<size_t>(options.windowBytes, 1 << 17)),
          m_keys(keys.media, options.keystreamMaking),
          m_options(options),
          m_stats(stats) {}

    bool Read(uint64_t offset, uint8_t* out, size_t size, size_t* made) override {
        Sink sink{out, offset, offset, offset + size};
        const bool ok = ReadInto(sink);
        *made = static_cast<size_t>(sink.from - offset);
        m_stats.keystreamBytes = m_keys.made;
        m_stats.blocksMadeAhead = m_keys.handedOver;
        return ok;
    }

private:
    struct Checkpoint {
        Walker walker;
        Engine engine;
        std::vector<std::pair<LazyKeystreams::Kept, uint64_t>> keys;  // and the bytes used at the checkpoint
    };

    struct Dry {
        RunStatus status = RunStatus::Done;
        uint64_t wetFrom = view::kNever;  // where the keystream must be made from
        uint64_t readStart = view::kNever;
        uint64_t blockStart = view::kNever;  // the earliest block start the read's units need
        Walker walker;                       // at readStart, before its unit
        Engine engine;
    };

    bool ReadInto(Sink& sink) {
        // Blocks are made ahead only while the read goes on from the last one: elsewhere the
        // next block of a stream is not likely what comes next.
        m_keys.SetReadingOn(false);
        // The unit the last read ended in.
        if (m_live && m_hasPending && sink.from >= m_pending.start && sink.from < m_pending.start + m_pending.size) {
            m_keys.SetReadingOn(true);
            size_t got = 0;
            const uint8_t* raw = m_window.Get(m_pending.start, m_pending.size, &got);
            if (!raw || !Apply(m_pending, raw, sink)) return false;
            if (sink.from == sink.to) return true;
            m_hasPending = false;
        }
        if (m_live && m_walker.pos <= sink.from && sink.from - m_walker.pos <= m_options.continueBytes) {
            m_keys.SetReadingOn(true);
            const RunResult r = Run(m_walker, m_engine, sink);
            if (r.status != RunStatus::Unknown) return Finished(r);
        } else if (FromCheckpoint(sink.from)) {
            m_keys.SetReadingOn(false);
            const RunResult r = Run(m_walker, m_engine, sink);
            if (r.status != RunStatus::Unknown) return Finished(r);
        }
        m_keys.SetReadingOn(false);
        return Resolve(sink);
    }

    bool Finished(const RunResult& r) {
        if (r.status != RunStatus::Done) {
            m_live = false;
            return false;
        }
        m_live = true;
        Remember();
        return true;
    }

    // Bytes of the unit the plan is for (raw: the file's) that the sink still wants.
    bool Apply(const UnitPlan& plan, const uint8_t* raw, Sink& sink) {
        const uint64_t lo = std::max(plan.start, sink.from), hi = std::min(plan.start + plan.size, sink.to);
        if (lo >= hi) return true;
        const uint8_t* src = plan.kind == UnitPlan::Replace ? plan.bytes : raw;
        std::memcpy(sink.out + (lo - sink.origin), src + (lo - plan.start), static_cast<size_t>(hi - lo));
        if (plan.kind == UnitPlan::Decrypt) {
            const uint64_t bits = plan.start + plan.bitsAt;
            if (bits >= lo && bits < hi) sink.out[bits - sink.origin] &= plan.bitsMask;
            const uint64_t xorStart = plan.start + plan.xorFrom, a = std::max(xorStart, lo);
            if (a < hi && !m_keys.Xor(plan.slot, plan.streamId, plan.block, plan.keyIndex + (a - xorStart),
                                      sink.out + (a - sink.origin), static_cast<size_t>(hi - a)))
                return false;
        }
        if (plan.leftScrambled) ++m_stats.packetsLeftScrambled;
        sink.from = hi;
        return true;
    }

    // Goes on with the walk and the engine (made wet) over the units that reach into the sink,
    // giving them out. Unknown: a unit's output is not known (the sink is made up to madeTo).
    RunResult Run(Walker& walker, Engine& engine, Sink& sink) {
        m_hasPending = false;
        while (walker.pos < sink.to) {
            const Event ev = walker.Step(m_window);
            if (ev.kind == Event::End) break;
            if (ev.kind == Event::ReadFailed) return {RunStatus::Failed, sink.from};
            if (!Plan(engine, ev)) return {RunStatus::Failed, sink.from};
            if (ev.start + ev.size <= sink.from) continue;
            if (!m_plan.Known() || m_plan.kind == UnitPlan::Opaque) return {RunStatus::Unknown, sink.from};
            if (!Apply(m_plan, ev.data, sink)) return {RunStatus::Failed, sink.from};
            if (ev.start + ev.size > sink.to) {
                m_pending = m_plan;
                m_hasPending = true;
            }
        }
        // The units cover the payload to its end, and the read ends within it.
        return {sink.from == sink.to ? RunStatus::Done : RunStatus::Failed, sink.from};
    }

    bool Plan(Engine& engine, const Event& ev) {
        if (ev.kind == Event::Unit) return F::Unit(engine, ev, m_plan, m_keys);
        m_plan.Reset(ev.start, ev.size);
        return true;
    }

    // A first pass from where the walk is known, making no keystream: whether every unit of
    // the sink would be known, and from where the keystream must then be made.
    Dry DryRun(Walker walker, Engine& engine, const Sink& sink) {
        Dry dry;
        while (walker.pos < sink.to) {
            const Walker before = walker;
            const Event ev = walker.Step(m_window);
            if (ev.kind == Event::End) break;
            if (ev.kind == Event::ReadFailed) {
                dry.status = RunStatus::Failed;
                return dry;
            }
            m_stats.bytesScanned += ev.size;
            const bool inRead = ev.start + ev.size > sink.from;
            if (inRead && dry.readStart == view::kNever) {
                dry.readStart = ev.start;
                dry.walker = before;
                dry.engine = engine;
            }
            if (!Plan(engine, ev)) {
                dry.status = RunStatus::Failed;
                return dry;
            }
            if (!inRead) continue;
            if (!m_plan.Known()) {
                dry.status = RunStatus::Unknown;
                return dry;
            }
            if (m_plan.kind == UnitPlan::Opaque) dry.wetFrom = std::min(dry.wetFrom, m_plan.need);
            dry.blockStart = std::min(dry.blockStart, m_plan.runStart);
        }
        dry.wetFrom = std::min(dry.wetFrom, dry.readStart);
        return dry;
    }

    enum class Merged { Yes, No, ReadFailed };

    // The walk merged from every state the decryptor's walk may be in near an offset, at or
    // before `limit`. No: they do not merge there.
    Merged Merge(std::vector<Walker> walkers, uint64_t limit, Walker* out) {
        auto same = [&](size_t k) {
            for (size_t o = 0; o < walkers.size(); ++o)
                if (o != k && walkers[o] == walkers[k]) return true;
            return false;
        };
        while (walkers.size() > 1) {
            size_t m = 0;
            for (size_t k = 1; k < walkers.size(); ++k)
                if (walkers[k].pos < walkers[m].pos) m = k;
            if (same(m)) {
                walkers.erase(walkers.begin() + static_cast<std::ptrdiff_t>(m));
                continue;
            }
            if (walkers[m].pos > limit) return Merged::No;
            const Event ev = walkers[m].Step(m_window);
            if (ev.kind == Event::ReadFailed) return Merged::ReadFailed;
            m_stats.bytesScanned += ev.size;
        }
        if (walkers.empty()) return Merged::ReadFailed;  // the candidates could not be read
        if (walkers[0].pos > limit) return Merged::No;
        *out = walkers[0];
        return Merged::Yes;
    }

    // A read that cannot go on from what the view holds: from far enough back that every unit
    // of it is known.
    bool Resolve(Sink& sink) {
        ++m_stats.rescans;
        m_live = false;
        const uint64_t from = sink.from;
        uint64_t distance = std::max<uint64_t>(m_options.firstScanBytes, m_learnt);
        for (;;) {
            const uint64_t scanFrom = from > distance ? from - distance : 0;
            bool fromStart = scanFrom == 0;
            std::vector<Walker> walkers;
            if (!fromStart) walkers = F::Candidates(m_window, scanFrom, &fromStart);
            Walker start;
            Engine engine;
            if (fromStart) {
                engine.StartOfPayload();
            } else {
                const Merged merged = Merge(walkers, from, &start);
                if (merged == Merged::ReadFailed) return false;
                if (merged == Merged::No) {
                    distance *= 2;
                    continue;
                }
                engine.Blank();
            }
            Dry dry = DryRun(start, engine, sink);
            if (dry.status == RunStatus::Failed) return false;
            if (dry.status == RunStatus::Done && dry.readStart != view::kNever) {
                if (dry.wetFrom == dry.readStart) {
                    m_walker = dry.walker;
                    m_engine = std::move(dry.engine);
                } else {
                    // Again without keystream up to where it must be made.
                    m_walker = start;
                    if (fromStart)
                        m_engine.StartOfPayload();
                    else
                        m_engine.Blank();
                    if (!RunTo(dry.wetFrom)) return false;
                }
                m_engine.MakeWet();
                const uint64_t before = sink.from;
                const RunResult r = Run(m_walker, m_engine, sink);
                if (r.status == RunStatus::Done) {
                    if (dry.blockStart != view::kNever && dry.blockStart <= from) {
                        const uint64_t needed = from - dry.blockStart;
                        m_learnt = std::max(m_learnt, needed + needed / 8 + (uint64_t(64) << 10));
                    }
                    return Finished(r);
                }
                if (r.status == RunStatus::Failed) return false;
                sink.from = before;  // the units given out stay right; make them again from further back
            }
            if (fromStart) return false;  // from the start everything is known: cannot happen
            distance *= 2;
        }
    }

    // The live walk and engine, dry, up to the unit at `to`.
    bool RunTo(uint64_t to) {
        while (m_walker.pos < to) {
            const Event ev = m_walker.Step(m_window);
            if (ev.kind == Event::End) break;
            if (ev.kind == Event::ReadFailed || !Plan(m_engine, ev)) return false;
            m_stats.bytesScanned += ev.size;
        }
        return true;
    }

    // A checkpoint where the live state was after a read, unless one is near.
    void Remember() {
        if (m_engine.Streams() > 64 || m_options.maxCheckpoints == 0) return;
        const uint64_t at = m_walker.pos;
        auto next = m_index.lower_bound(at);
        if (next != m_index.end() && next->first - at < m_options.checkpointSpacing) return;
        if (next != m_index.begin() && at - std::prev(next)->first < m_options.checkpointSpacing) return;
        Checkpoint c{m_walker, m_engine, {}};
        m_engine.ForEachPosition([&](uint16_t slot, uint8_t streamId, uint32_t block, uint64_t used) {
            LazyKeystreams::Kept kept;
            if (m_keys.Keep(slot, streamId, block, used, &kept)) c.keys.push_back({kept, used});
        });
        m_index.emplace(at, std::move(c));
        if (m_index.size() > m_options.maxCheckpoints) {
            // Keep them spread: drop the one closest to the one before it.
            auto drop = std::next(m_index.begin());
            uint64_t gap = UINT64_MAX;
            for (auto it = std::next(m_index.begin()); it != m_index.end(); ++it) {
                const uint64_t g = it->first - std::prev(it)->first;
                if (g < gap) {
                    gap = g;
                    drop = it;
                }
            }
            m_index.erase(drop);
        }
        m_stats.checkpoints = m_index.size();
    }

    bool FromCheckpoint(uint64_t from) {
        auto it = m_index.upper_bound(from);
        if (it == m_index.begin()) return false;
        --it;
        if (from - it->first > m_options.continueBytes) return false;
        m_walker = it->second.walker;
        m_engine = it->second.engine;
        for (const auto& k : it->second.keys)
            m_keys.Restore(k.first, k.second);
        m_hasPending = false;
        return true;
    }

    Window m_window;
    LazyKeystreams m_keys;
    const PayloadViewOptions m_options;
    PayloadViewStats& m_stats;
    UnitPlan m_plan;
    // The state after the last read: the walk and engine, and the unit it ended in.
    bool m_live = false;
    Walker m_walker;
    Engine m_engine;
    bool m_hasPending = false;
    UnitPlan m_pending;
    std::map<uint64_t, Checkpoint> m_index;
    uint64_t m_learnt = 0;  // how far back reads have had to look
};

}  // namespace

class PayloadView::Impl {
public:
    Impl(ByteSource& source, const TivoFile& file, const TivoKeys& keys, const PayloadViewOptions& options)
        : source(source), offset(file.payloadOffset), size(file.payloadSize) {
        if (!file.scrambled) return;
        if (file.payloadKind == PayloadKind::ProgramStream)
            reader.reset(new Reader<PsFormat>(source, file, keys, options, stats));
        else if (file.payloadKind == PayloadKind::TransportStream)
            reader.reset(new Reader<TsFormat>(source, file, keys, options, stats));
    }

    ByteSource& source;
    const uint64_t offset;
    const uint64_t size;
    std::unique_ptr<ReaderBase> reader;  // none: a clear recording, read as it is
    PayloadViewStats stats;
    bool failed = false;
};

PayloadView::PayloadView(ByteSource& source, const TivoFile& file, const TivoKeys& keys,
                         const PayloadViewOptions& options)
    : m_impl(new Impl(source, file, keys, options)) {}

PayloadView::~PayloadView() = default;

uint64_t PayloadView::Size() const {
    return m_impl->size;
}

size_t PayloadView::ReadAt(uint64_t offset, void* buffer, size_t size) {
    Impl& v = *m_impl;
    if (offset >= v.size || size == 0) return 0;
    size = static_cast<size_t>(std::min<uint64_t>(size, v.size - offset));
    ++v.stats.reads;
    size_t made = 0;
    if (!v.reader) {
        made = v.source.ReadAt(v.offset + offset, buffer, size);
        if (made < size) v.failed = true;
    } else if (!v.reader->Read(offset, static_cast<uint8_t*>(buffer), size, &made)) {
        v.failed = true;
    }
    v.stats.bytesRead += made;
    return made;
}

bool PayloadView::Failed() const {
    return m_impl->failed;
}

const PayloadViewStats& PayloadView::Stats() const {
    return m_impl->stats;
}

}  // namespace korvane::media
