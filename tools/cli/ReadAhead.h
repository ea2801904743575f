// The payload read on a thread of its own while the caller decrypts what came before: the
// system's copying of the input then runs beside the decryption instead of between its
// pieces.
//
// The reader hands over a piece when it is full, or as soon as the caller waits for one, so
// a slow input (a download, pyTivo's 512 KiB writes) is decrypted as it comes while a fast
// one still arrives in large pieces. A piece taken stays the taker's until it is given back
// (Return, from any thread): the output writes decrypted bytes from the piece they were
// decrypted in, and gives it back once they are out.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "cli/InputStream.h"
#include "cli/OutputStream.h"
#include "media/Io.h"

namespace korvane::cli {

class ReadAhead final : public Lender {
public:
    static constexpr size_t kPieceBytes = size_t(1) << 20;
    // One being read, one being decrypted, two being written or waiting to be.
    static constexpr size_t kPieces = 4;

    struct Piece {
        uint8_t* data = nullptr;
        size_t size = 0;  // 0: the input has ended (or failed: see the input's Failed())
        size_t index = 0;  // what to give back
    };

    // Starts reading the input, which the caller must not read itself meanwhile.
    explicit ReadAhead(InputStream& in);
    // Waits for the reader: at most the end of the read it is in. Every piece taken must have
    // been given back, or at least no longer be used.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next piece, the caller's to change until it gives it back.
    Piece Next();
    // Whether Next would have to wait for the input now.
    bool WouldWait();
    // The piece Next handed out with this index is free to be read into again.
    void Return(size_t index) override;

private:
    enum class State { Free, Read, Taken };

    void Read();  // the reader thread

    InputStream& m_in;
    media::AlignedBuffer m_pieces[kPieces];  // a ring: read into in turn, taken in turn
    size_t m_sizes[kPieces] = {};
    std::thread m_reader;

    std::mutex m_mutex;  // guards the fields below
    std::condition_variable m_changed;
    State m_states[kPieces] = {};
    size_t m_taking = 0;         // caller: the piece Next hands out next
    bool m_callerWaits = false;  // caller: in Next, with nothing read
    bool m_ended = false;        // reader: the input ended or failed
    bool m_stopping = false;     // caller: no more pieces are wanted
};

}  // namespace korvane::cli
