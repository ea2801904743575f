#include "cli/ReadAhead.h"

namespace korvane::cli {

ReadAhead::ReadAhead(InputStream& in) : m_in(in) {
    for (media::AlignedBuffer& piece : m_pieces)
        piece.Resize(kPieceBytes);
    m_reader = std::thread(&ReadAhead::Read, this);
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_changed.notify_all();
    }
    m_reader.join();
}

void ReadAhead::Read() {
    for (size_t filling = 0;; filling = (filling + 1) % kPieces) {
        {
            // A piece is free when it is neither handed over nor still the caller's.
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stopping || m_ready + m_holding < kPieces; });
            if (m_stopping) return;
        }
        size_t size = 0;
        bool ended = false;
        for (;;) {
            const size_t n = m_in.ReadSome(m_pieces[filling].Data() + size, kPieceBytes - size);
            size += n;
            ended = n == 0;
            if (ended || size == kPieceBytes) break;
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_callerWaits) break;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sizes[filling] = size;
        if (size) ++m_ready;
        m_ended = ended;
        m_changed.notify_all();
        if (ended) return;
    }
}

ReadAhead::Piece ReadAhead::Next() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_holding) {
        m_holding = false;
        m_taking = (m_taking + 1) % kPieces;
        m_changed.notify_all();
    }
    m_callerWaits = true;
    m_changed.wait(lock, [this] { return m_ready > 0 || m_ended; });
    m_callerWaits = false;
    if (m_ready == 0) return {};
    --m_ready;
    m_holding = true;
    return {m_pieces[m_taking].Data(), m_sizes[m_taking]};
}

bool ReadAhead::WouldWait() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ready == 0 && !m_ended;
}

}  // namespace korvane::cli
