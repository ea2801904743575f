// Putting PSI sections (PAT, PMT) back together from the payloads of one PID's packets,
// shared by the reader and the decryptor so that both follow a table that spans packets.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/MpegStreams.h"

namespace korvane::media::ts {

constexpr size_t kMaxSection = 1024;  // 3 + section_length (at most 1021) for PAT and PMT

// PAT and PMT use the long form: at least 8 header bytes and the CRC.
inline bool LongSectionValid(const uint8_t* s, size_t size) {
    return size >= 12 && (s[1] & 0x80) && MpegCrc32(s, size) == 0;
}

class SectionAssembler {
public:
    void Reset() {
        m_collecting = false;
        m_section.clear();
    }
    // Holding no part of a section: what a Reset leaves.
    bool Idle() const { return !m_collecting && m_section.empty(); }

    // One packet's payload (start: payload_unit_start_indicator). Calls
    // onSection(section, size, inPayload) for each section completed, where inPayload says the
    // section lies whole inside this payload (section points into it) rather than in a copy;
    // onSection returns false to stop. A broken layout adds to *badSections.
    template <class OnSection>
    void Feed(const uint8_t* p, size_t size, bool start, uint64_t* badSections, OnSection&& onSection) {
        bool go = true;
        if (!start) {
            if (m_collecting) Append(p, size, badSections, onSection, &go);
            return;
        }
        const size_t pointer = p[0];
        if (1 + pointer > size) {
            ++*badSections;
            Reset();
            return;
        }
        if (m_collecting) {
            Append(p + 1, pointer, badSections, onSection, &go);
            if (m_collecting) {
                // The previous section should have ended where the pointer says the next begins.
                ++*badSections;
                Reset();
            }
        }
        // Several sections may follow one another; 0xFF fills the rest of the packet.
        for (size_t pos = 1 + pointer; go && pos < size && p[pos] != 0xFF;) {
            Reset();
            m_collecting = true;
            pos += Append(p + pos, size - pos, badSections, onSection, &go);
            if (m_collecting) break;
        }
    }

private:
    template <class OnSection>
    size_t Append(const uint8_t* p, size_t size, uint64_t* badSections, OnSection& onSection, bool* go) {
        const bool fresh = m_section.empty();
        size_t used = 0;
        if (m_section.size() < 3) {
            used = std::min(size, 3 - m_section.size());
            m_section.insert(m_section.end(), p, p + used);
            if (m_section.size() < 3) return used;
        }
        const size_t total = 3 + (size_t(m_section[1] & 0x0F) << 8 | m_section[2]);
        if (total > kMaxSection) {
            ++*badSections;
            Reset();
            return size;
        }
        const size_t take = std::min(size - used, total - m_section.size());
        m_section.insert(m_section.end(), p + used, p + used + take);
        used += take;
        if (m_section.size() == total) {
            m_collecting = false;
            *go = fresh ? onSection(p, total, true) : onSection(m_section.data(), total, false);
            m_section.clear();
        }
        return used;
    }

    bool m_collecting = false;
    std::vector<uint8_t> m_section;
};

}  // namespace korvane::media::ts
