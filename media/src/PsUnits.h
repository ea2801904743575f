// Cutting a program stream into its units (pack headers, end codes, PES and other
// length-prefixed packets) over chunks of any size, for the transforms that rewrite packets
// in place (decryptor, encryptor). Internal to media/.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "PsFraming.h"
#include "media/Io.h"

namespace korvane::media::ps {

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
//          bool OnSkipped(const uint8_t* bytes, size_t size, bool newStretch, OutputRun& out)
//            — bytes that are no unit, passed over; false stops the feed;
//          bool OnTruncated(size_t size) — a unit cut short by the end, skipped; false stops.
// Units are cut as the program stream reader cuts them (PsFraming.h). A unit that straddles
// chunks is completed in the carry: at most one unit and the start code prefix after it.
class UnitSplitter {
public:
    static constexpr size_t kMaxCarry = 6 + 65535 + 3;
    UnitSplitter() { m_carry.reserve(kMaxCarry); }

    template <class Handler>
    bool Feed(uint8_t* data, size_t size, Handler& handler, OutputRun& out) {
        size_t pos = 0;
        while (!m_carry.empty()) {
            const Frame f = FrameUnit(m_carry.data(), m_carry.size(), false);
            if (f.kind == Frame::NeedMore) {
                const size_t take = std::min(f.size - m_carry.size(), size - pos);
                m_carry.insert(m_carry.end(), data + pos, data + pos + take);
                pos += take;
                if (m_carry.size() < f.size) return out.Flush();
                continue;
            }
            size_t used = f.size;
            if (f.kind == Frame::Damaged) {
                used = DamageBefore(m_carry.data(), m_carry.size(), false);
                if (!Skip(m_carry.data(), used, handler, out) || !out.Flush()) return false;
            } else {
                m_inDamage = false;
                if (!handler.OnUnit(m_carry.data(), f.size, out) || !out.Flush()) return false;
            }
            m_carry.erase(m_carry.begin(), m_carry.begin() + static_cast<std::ptrdiff_t>(used));
            // Once what is left was all copied from data (to vouch for a length, or to judge a
            // start code), go on in data itself.
            if (m_carry.size() <= pos) {
                pos -= m_carry.size();
                m_carry.clear();
            }
        }
        while (pos < size) {
            const Frame f = FrameUnit(data + pos, size - pos, false);
            if (f.kind == Frame::NeedMore) {
                m_carry.assign(data + pos, data + size);
                break;
            }
            if (f.kind == Frame::Damaged) {
                const size_t skip = DamageBefore(data + pos, size - pos, false);
                if (!Skip(data + pos, skip, handler, out)) return false;
                pos += skip;
                continue;
            }
            m_inDamage = false;
            if (!handler.OnUnit(data + pos, f.size, out)) return false;
            pos += f.size;
        }
        return out.Flush();
    }

    template <class Handler>
    bool Finish(Handler& handler, OutputRun& out) {
        while (!m_carry.empty()) {
            const Frame f = FrameUnit(m_carry.data(), m_carry.size(), true);
            size_t used = f.size;
            if (f.kind == Frame::Unit) {
                m_inDamage = false;
                if (!handler.OnUnit(m_carry.data(), f.size, out) || !out.Flush()) return false;
            } else {
                if (f.truncated && !handler.OnTruncated(m_carry.size())) return false;
                used = DamageBefore(m_carry.data(), m_carry.size(), true);
                if (!Skip(m_carry.data(), used, handler, out) || !out.Flush()) return false;
            }
            m_carry.erase(m_carry.begin(), m_carry.begin() + static_cast<std::ptrdiff_t>(used));
        }
        return out.Flush();
    }

    void Reset() {
        m_carry.clear();
        m_inDamage = false;
    }

private:
    template <class Handler>
    bool Skip(const uint8_t* bytes, size_t size, Handler& handler, OutputRun& out) {
        const bool newStretch = !m_inDamage;
        m_inDamage = true;
        return handler.OnSkipped(bytes, size, newStretch, out);
    }

    std::vector<uint8_t> m_carry;
    bool m_inDamage = false;
};

}  // namespace korvane::media::ps
