// The output of the front-end commands: a file, or standard output ("-"), written in large
// pieces by a thread of its own.
//
// A decryptor passes on one small piece per packet; a system call for each costs more than
// the decryption itself. The pieces are gathered into chunks of kChunkBytes, and a writer
// thread hands full chunks to the system while the caller decrypts the next ones, so that
// the two kinds of work share the machine's cores instead of taking turns.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "media/Io.h"

namespace korvane::cli {

class OutputStream final : public media::ByteSink {
public:
    static constexpr size_t kChunkBytes = size_t(1) << 20;
    static constexpr size_t kChunks = 4;

    OutputStream() = default;
    ~OutputStream() override;
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // path "-": standard output (binary mode on Windows). A file is created or truncated.
    bool Open(const std::string& path, std::string* error);
    // False once any write has failed.
    bool Write(const uint8_t* data, size_t size) override;
    // Sends the chunk being gathered now, however small: a reader at the other end of a pipe
    // then sees the stream while the input is slow to come. Does not wait for the write.
    bool Flush();
    // Writes everything, stops the writer and closes; false with *error naming the output
    // when any write or the close failed.
    bool Close(std::string* error);

private:
    struct Chunk {
        media::AlignedBuffer bytes;
        size_t size = 0;
    };

    void WriteChunks();  // the writer thread

    int m_descriptor = -1;
    bool m_owned = false;
    std::string m_name;
    Chunk m_chunks[kChunks];  // a ring: filled in turn by the caller, written in turn by the writer
    size_t m_filling = 0;     // caller only: the chunk being gathered
    std::thread m_writer;

    std::mutex m_mutex;  // guards the fields below
    std::condition_variable m_changed;
    size_t m_queued = 0;     // caller adds, writer removes: full chunks waiting, after m_filling's turn
    size_t m_writing = 0;    // writer: the chunk it writes next
    bool m_closing = false;  // caller: no chunk will follow
    std::atomic<int> m_failure{0};  // writer: errno of the first failed write; then it writes no more
};

}  // namespace korvane::cli
