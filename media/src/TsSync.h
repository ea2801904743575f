// Finding a transport stream's packet boundary again after garbage (a lone 0x47 in garbage is
// common, so three sync bytes 188 apart are asked for), shared by the reader and
// the decryptor so that both lock on at the same byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "media/TransportStreamReader.h"

namespace korvane::media::ts {

// The first offset from `from` on where three sync bytes stand 188 apart (fewer, but each one
// there is, in the last packets of the input when atEnd). Returns size when there is none;
// sets *needMore (and returns that offset) when a candidate needs bytes that have not come yet.
inline size_t FindSync(const uint8_t* data, size_t from, size_t size, bool atEnd, bool* needMore) {
    constexpr int kRun = 3;
    constexpr size_t kWindow = (kRun - 1) * kTsPacketSize + 1;
    *needMore = false;
    for (size_t i = from; i < size; ++i) {
        const void* hit = std::memchr(data + i, kTsSyncByte, size - i);
        if (!hit) return size;
        i = static_cast<const uint8_t*>(hit) - data;
        const size_t avail = size - i;
        if (avail < kWindow) {
            if (!atEnd) {
                *needMore = true;
                return i;
            }
            bool whole = avail >= kTsPacketSize;
            for (size_t k = kTsPacketSize; whole && k < avail; k += kTsPacketSize)
                whole = data[i + k] == kTsSyncByte;
            if (whole) return i;
            continue;
        }
        bool run = true;
        for (int k = 1; run && k < kRun; ++k)
            run = data[i + k * kTsPacketSize] == kTsSyncByte;
        if (run) return i;
    }
    return size;
}

// FindSync from `from`, counting what it passes over in the stats (damageEvents, bytesSkipped):
// one damage event for each run of skipped bytes, however many calls it spans.
template <class Stats>
size_t SkipToSync(const uint8_t* data, size_t from, size_t size, bool atEnd, bool* inDamage, Stats* stats,
                  bool* needMore) {
    const size_t i = FindSync(data, from, size, atEnd, needMore);
    if (i > from) {
        if (!*inDamage) {
            *inDamage = true;
            ++stats->damageEvents;
        }
        stats->bytesSkipped += i - from;
    }
    return i;
}

}  // namespace korvane::media::ts
