// The payload view's window on the file: one buffer, refilled from the source where a reader
// needs bytes, and what a walk over the payload hands on (a unit, bytes between units, or the
// end). Internal to media/.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "media/Io.h"

namespace korvane::media::view {

class Window {
public:
    Window(ByteSource& source, uint64_t base, uint64_t size, size_t capacity)
        : m_source(source), m_base(base), m_size(size), m_buffer(capacity) {}

    uint64_t Size() const { return m_size; }
    uint64_t bytesRead = 0;

    // The bytes from payload offset pos on: at least min(need, Size() - pos) of them (*got
    // says how many the window holds from there). nullptr when the file could not be read.
    const uint8_t* Get(uint64_t pos, size_t need, size_t* got) {
        const uint64_t want = std::min<uint64_t>(need, m_size - pos);
        if (pos < m_begin || pos + want > m_end) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(m_buffer.Size(), m_size - pos));
            const size_t read = m_source.ReadAt(m_base + pos, m_buffer.Data(), n);
            bytesRead += read;
            m_begin = pos;
            m_end = pos + read;
            if (read < want) {
                m_end = m_begin;  // nothing kept that a later call might trust
                return nullptr;
            }
        }
        *got = static_cast<size_t>(m_end - pos);
        return m_buffer.Data() + (pos - m_begin);
    }

    // Forgets what it holds (the file may have been read short).
    void Drop() { m_begin = m_end = 0; }

private:
    ByteSource& m_source;
    const uint64_t m_base;
    const uint64_t m_size;
    AlignedBuffer m_buffer;
    uint64_t m_begin = 0, m_end = 0;
};

struct Event {
    enum Kind : uint8_t { Unit, Raw, End, ReadFailed } kind;
    uint64_t start;
    size_t size;
    const uint8_t* data;  // valid until the window is asked for other bytes
};

}  // namespace korvane::media::view
