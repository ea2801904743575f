// The output of the front-end commands: a file, or standard output ("-"), written in large
// pieces by a thread of its own.
//
// A decryptor passes on one small piece per packet; a system call for each costs more than
// the decryption itself. The pieces are gathered into batches of about kChunkBytes, and a
// writer thread hands full batches to the system while the caller decrypts the next ones, so
// that the two kinds of work share the machine's cores instead of taking turns.
//
// The bytes a decryptor passes on mostly stand where it decrypted them, in the piece of input
// it was fed. While that piece is lent (Lend ... EndLend), bytes inside it are not copied: the
// writer thread writes them from there with one gathering write, and gives the piece back to
// its lender once they are out. Copying each mebibyte into a buffer of our own was a few
// percent of what piping a recording through korvane-tivodecode cost. Other bytes (a packet
// completed across two pieces, the recording's head) are copied. Windows has no gathering
// write: there every byte is copied and goes out in one write.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/FileDescriptors.h"
#include "media/Io.h"

namespace korvane::cli {

// Whoever lends bytes to an OutputStream gets them back through this, on the writer thread.
class Lender {
public:
    virtual void Return(size_t token) = 0;

protected:
    ~Lender() = default;
};

class OutputStream final : public media::ByteSink {
public:
    static constexpr size_t kChunkBytes = size_t(1) << 20;
    static constexpr size_t kBatches = 4;

    OutputStream() = default;
    ~OutputStream() override;
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // path "-": standard output (binary mode on Windows). A file is created or truncated.
    bool Open(const std::string& path, std::string* error);
    // False once any write has failed.
    bool Write(const uint8_t* data, size_t size) override;

    // Until EndLend, bytes written from [data, data + size) are written from there; the lender
    // must leave them as they are until it gets `token` back. One lent piece at a time.
    void Lend(const uint8_t* data, size_t size, Lender* lender, size_t token);
    // Sends what was written since Lend; the lender gets the piece back once it is written
    // (or at once after a failed write). False as Write.
    bool EndLend();
    // Waits until everything sent is written and every lent piece given back: before the
    // lender's memory goes.
    void Drain();

    // Sends what is gathered now, however small: a reader at the other end of a pipe then
    // sees the stream while the input is slow to come. Does not wait for the write. Not while
    // a piece is lent.
    bool Flush();
    // Writes everything, stops the writer and closes; false with *error naming the output
    // when any write or the close failed.
    bool Close(std::string* error);

private:
    struct Span {
        const uint8_t* lent;  // nullptr: `size` bytes of the batch's copy at `offset`
        size_t offset;
        size_t size;
    };
    struct Batch {
        std::vector<Span> spans;
        media::AlignedBuffer copy;  // kChunkBytes
        size_t copied = 0;          // bytes of copy in use
        size_t bytes = 0;           // of all spans
        Lender* lender = nullptr;   // gets `token` back once the batch is written
        size_t token = 0;
    };

    void WriteBatches();                  // the writer thread
    int WriteBatch(const Batch& batch);   // errno of a failed write, else 0
    bool Send();                          // queues m_batches[m_filling]; waits for a free one

    int m_descriptor = -1;
    bool m_owned = false;
    std::string m_name;
    Batch m_batches[kBatches];  // a ring: filled in turn by the caller, written in turn by the writer
    size_t m_filling = 0;       // caller only: the batch being gathered
    const uint8_t* m_lentBegin = nullptr;  // caller only: the piece lent now
    const uint8_t* m_lentEnd = nullptr;
    Lender* m_lender = nullptr;
    size_t m_token = 0;
    std::vector<fd::Bytes> m_gathered;  // writer only: the pieces of one write
    std::thread m_writer;

    std::mutex m_mutex;  // guards the fields below
    std::condition_variable m_changed;
    size_t m_queued = 0;     // caller adds, writer removes: batches waiting, after m_filling's turn
    size_t m_writing = 0;    // writer: the batch it writes next
    bool m_closing = false;  // caller: no batch will follow
    std::atomic<int> m_failure{0};  // writer: errno of the first failed write; then it writes no more
};

}  // namespace korvane::cli
