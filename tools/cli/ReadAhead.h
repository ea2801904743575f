// The payload read on a thread of its own while the caller decrypts what came before: the
// system's copying of the input then runs beside the decryption instead of between its
// pieces.
//
// The reader hands over a piece when it is full, or as soon as the caller waits for one, so
// a slow input (a download, pyTivo's 512 KiB writes) is decrypted as it comes while a fast
// one still arrives in large pieces.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "cli/InputStream.h"
#include "media/Io.h"

namespace korvane::cli {

class ReadAhead {
public:
    static constexpr size_t kPieceBytes = size_t(1) << 20;
    static constexpr size_t kPieces = 3;

    struct Piece {
        uint8_t* data = nullptr;
        size_t size = 0;  // 0: the input has ended (or failed: see the input's Failed())
    };

    // Starts reading the input, which the caller must not read itself meanwhile.
    explicit ReadAhead(InputStream& in);
    // Waits for the reader: at most the end of the read it is in.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next piece, the caller's to change until the next call.
    Piece Next();
    // Whether Next would have to wait for the input now.
    bool WouldWait();

private:
    void Read();  // the reader thread

    InputStream& m_in;
    media::AlignedBuffer m_pieces[kPieces];  // a ring: filled in turn, taken in turn
    size_t m_sizes[kPieces] = {};
    std::thread m_reader;

    std::mutex m_mutex;  // guards the fields below
    std::condition_variable m_changed;
    size_t m_ready = 0;          // reader adds, caller takes: pieces handed over, not yet taken
    size_t m_taking = 0;         // caller: the piece Next hands out next
    bool m_holding = false;      // caller: it still works on the piece taken last
    bool m_callerWaits = false;  // caller: in Next, with nothing ready
    bool m_ended = false;        // reader: the input ended or failed
    bool m_stopping = false;     // caller: no more pieces are wanted
};

}  // namespace korvane::cli
