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
    explicit OutputRun(ByteSink& sink) : sink_(sink) {}
    bool Add(const uint8_t* data, size_t size) {
        if (size == 0) return true;
        if (data == start_ + size_) {
            size_ += size;
            return true;
        }
        bool ok = Flush();
        start_ = data;
        size_ = size;
        return ok;
    }
    bool Flush() {
        bool ok = size_ == 0 || sink_.Write(start_, size_);
        written_ += size_;
        size_ = 0;
        start_ = nullptr;
        return ok;
    }
    uint64_t Written() const { return written_; }

private:
    ByteSink& sink_;
    const uint8_t* start_ = nullptr;
    size_t size_ = 0;
    uint64_t written_ = 0;
};

// Handler: bool OnUnit(uint8_t* unit, size_t size, OutputRun& out) — false stops the feed;
//          void OnSkipped(size_t bytes, bool newStretch);
//          bool OnTruncated(uint8_t* unit, size_t size, OutputRun& out).
// A unit that straddles chunks is completed in the carry, at most one unit (65541 bytes).
class UnitSplitter {
public:
    static constexpr size_t kMaxUnit = 6 + 65535;
    UnitSplitter() { carry_.reserve(kMaxUnit); }

    template <class Handler>
    bool Feed(uint8_t* data, size_t size, Handler& handler, OutputRun& out) {
        size_t pos = 0;
        while (!carry_.empty()) {
            UnitProbe u = ProbeUnit(carry_.data(), carry_.size());
            if (u.kind == UnitProbe::NotAUnit) {
                Skip(1, handler);
                carry_.erase(carry_.begin());
                continue;
            }
            if (carry_.size() < u.size) {
                size_t take = u.size - carry_.size() < size - pos ? u.size - carry_.size() : size - pos;
                carry_.insert(carry_.end(), data + pos, data + pos + take);
                pos += take;
                if (carry_.size() < u.size) return out.Flush();
                continue;
            }
            inDamage_ = false;
            bool ok = handler.OnUnit(carry_.data(), u.size, out) && out.Flush();
            carry_.clear();
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
                carry_.assign(data + pos, data + size);
                break;
            }
            inDamage_ = false;
            if (!handler.OnUnit(data + pos, u.size, out)) return false;
            pos += u.size;
        }
        return out.Flush();
    }

    template <class Handler>
    bool Finish(Handler& handler, OutputRun& out) {
        bool ok = true;
        if (!carry_.empty()) {
            UnitProbe u = ProbeUnit(carry_.data(), carry_.size());
            if (u.kind == UnitProbe::Unit && carry_.size() >= 6) ok = handler.OnTruncated(carry_.data(), carry_.size(), out);
            else Skip(carry_.size(), handler);
            carry_.clear();
        }
        return ok && out.Flush();
    }

    void Reset() {
        carry_.clear();
        inDamage_ = false;
    }

private:
    template <class Handler>
    void Skip(size_t bytes, Handler& handler) {
        handler.OnSkipped(bytes, !inDamage_);
        inDamage_ = true;
    }

    std::vector<uint8_t> carry_;
    bool inDamage_ = false;
};

}  // namespace korvane::media::ps
