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
            // Pieces are given back in the order they were taken, nearly always: the reader
            // waits for the next in turn.
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stopping || m_states[filling] == State::Free; });
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
        if (size) m_states[filling] = State::Read;
        m_ended = ended;
        m_changed.notify_all();
        if (ended) return;
    }
}

ReadAhead::Piece ReadAhead::Next() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_callerWaits = true;
    m_changed.wait(lock, [this] { return m_states[m_taking] == State::Read || m_ended; });
    m_callerWaits = false;
    if (m_states[m_taking] != State::Read) return {};
    const size_t index = m_taking;
    m_states[index] = State::Taken;
    m_taking = (m_taking + 1) % kPieces;
    return {m_pieces[index].Data(), m_sizes[index], index};
}

bool ReadAhead::WouldWait() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_states[m_taking] != State::Read && !m_ended;
}

void ReadAhead::Return(size_t index) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_states[index] = State::Free;
    m_changed.notify_all();
}

}  // namespace korvane::cli
