// Cutting a program stream into its units (pack headers, end codes, PES and other
// length-prefixed packets) over chunks of any size, for the transforms that rewrite packets
// in place (decryptor, encryptor). Internal to media/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "media/Io.h"

namespace korvane::media::ps {

struct UnitProbe {
    enum Kind { NeedMore, Unit, NotAUnit } kind;
    size_t size;  // Unit: its whole size; NeedMore: bytes needed to tell more
};

// What the bytes at p start: a unit of a known size, too few bytes to say, or no unit.
inline UnitProbe ProbeUnit(const uint8_t* p, size_t avail) {
    if (avail >= 1 && p[0] != 0) return {UnitProbe::NotAUnit, 0};
    if (avail >= 2 && p[1] != 0) return {UnitProbe::NotAUnit, 0};
    if (avail >= 3 && p[2] != 1) return {UnitProbe::NotAUnit, 0};
    if (avail < 4) return {UnitProbe::NeedMore, 4};
    const uint8_t code = p[3];
    if (code < 0xB9) return {UnitProbe::NotAUnit, 0};
    if (code == 0xB9) return {UnitProbe::Unit, 4};
    if (code == 0xBA) {
        if (avail < 5) return {UnitProbe::NeedMore, 5};
        if ((p[4] & 0xC0) == 0x40) {
            if (avail < 14) return {UnitProbe::NeedMore, 14};
            return {UnitProbe::Unit, size_t(14) + (p[13] & 0x07)};
        }
        if ((p[4] & 0xF0) == 0x20) return {UnitProbe::Unit, 12};
        return {UnitProbe::NotAUnit, 0};
    }
    if (avail < 6) return {UnitProbe::NeedMore, 6};
    return {UnitProbe::Unit, size_t(6) + (size_t(p[4]) << 8 | p[5])};
}

// Where, after position 0, the next unit could start (the end when nowhere).
inline size_t NextCandidate(const uint8_t* p, size_t avail) {
    size_t i = 1;
    while (i < avail) {
        const void* zero = std::memchr(p + i, 0, avail - i);
        if (!zero) return avail;
        i = static_cast<size_t>(static_cast<const uint8_t*>(zero) - p);
        if (ProbeUnit(p + i, avail - i).kind != UnitProbe::NotAUnit) return i;
        ++i;
    }
    return avail;
}

// Collects output pieces and writes each contiguous run once, so units that stay in place
// in the caller's buffer leave in one write however many there are.
class OutputRun {
public:
    explicit OutputRun(ByteSink& sink) : m_sink(sink) {}
    bool Add(const uint8_t* data, size_t size) {
        if (size == 0) return true;
        if (data == m_start + m_size) {
            m_size += size;
            return true;
        }
        bool ok = Flush();
        m_start = data;
        m_size = size;
        return ok;
    }
    bool Flush() {
        bool ok = m_size == 0 || m_sink.Write(m_start, m_size);
        m_written += m_size;
        m_size = 0;
        m_start = nullptr;
        return ok;
    }
    uint64_t Written() const { return m_written; }

private:
    ByteSink& m_sink;
    const uint8_t* m_start = nullptr;
    size_t m_size = 0;
    uint64_t m_written = 0;
};

// Handler: bool OnUnit(uint8_t* unit, size_t size, OutputRun& out) — false stops the feed;
//          void OnSkipped(size_t bytes, bool newStretch);
//          bool OnTruncated(uint8_t* unit, size_t size, OutputRun& out).
// A unit that straddles chunks is completed in the carry, at most one unit (65541 bytes).
class UnitSplitter {
public:
    static constexpr size_t kMaxUnit = 6 + 65535;
    UnitSplitter() { m_carry.reserve(kMaxUnit); }

    template <class Handler>
    bool Feed(uint8_t* data, size_t size, Handler& handler, OutputRun& out) {
        size_t pos = 0;
        while (!m_carry.empty()) {
            UnitProbe u = ProbeUnit(m_carry.data(), m_carry.size());
            if (u.kind == UnitProbe::NotAUnit) {
                Skip(1, handler);
                m_carry.erase(m_carry.begin());
                continue;
            }
            if (m_carry.size() < u.size) {
                size_t take = u.size - m_carry.size() < size - pos ? u.size - m_carry.size() : size - pos;
                m_carry.insert(m_carry.end(), data + pos, data + pos + take);
                pos += take;
                if (m_carry.size() < u.size) return out.Flush();
                continue;
            }
            m_inDamage = false;
            bool ok = handler.OnUnit(m_carry.data(), u.size, out) && out.Flush();
            m_carry.clear();
            if (!ok) return false;
        }
        while (pos < size) {
            UnitProbe u = ProbeUnit(data + pos, size - pos);
            if (u.kind == UnitProbe::NotAUnit) {
                size_t skip = NextCandidate(data + pos, size - pos);
                Skip(skip, handler);
                pos += skip;
                continue;
            }
            if (u.kind == UnitProbe::NeedMore || u.size > size - pos) {
                m_carry.assign(data + pos, data + size);
                break;
            }
            m_inDamage = false;
            if (!handler.OnUnit(data + pos, u.size, out)) return false;
            pos += u.size;
        }
        return out.Flush();
    }

    template <class Handler>
    bool Finish(Handler& handler, OutputRun& out) {
        bool ok = true;
        if (!m_carry.empty()) {
            UnitProbe u = ProbeUnit(m_carry.data(), m_carry.size());
            if (u.kind == UnitProbe::Unit && m_carry.size() >= 6)
                ok = handler.OnTruncated(m_carry.data(), m_carry.size(), out);
            else
                Skip(m_carry.size(), handler);
            m_carry.clear();
        }
        return ok && out.Flush();
    }

    void Reset() {
        m_carry.clear();
        m_inDamage = false;
    }

private:
    template <class Handler>
    void Skip(size_t bytes, Handler& handler) {
        handler.OnSkipped(bytes, !m_inDamage);
        m_inDamage = true;
    }

    std::vector<uint8_t> m_carry;
    bool m_inDamage = false;
};

}  // namespace korvane::media::ps
