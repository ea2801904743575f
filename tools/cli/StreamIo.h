// The input and output of the front-end commands: a named file, or standard input and
// output ("-"), used strictly in order. Nothing seeks, so a pipe, a download that is still
// growing and a file behave alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "media/Io.h"

namespace korvane::cli {

// Read with the system's own read call, not stdio: a read hands on what a pipe holds now
// instead of waiting to fill the caller's buffer (pyTivo writes its download in 512 KiB
// pieces, and a front end streaming to a player must not wait for the end).
class InputStream {
public:
    InputStream() = default;
    ~InputStream();
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;

    // path "-": standard input (switched to binary mode on Windows).
    bool Open(const std::string& path, std::string* error);
    // Waits until some bytes are there and returns up to size of them; 0 at the end of the
    // input or after a read error (then Failed() and ErrorText()).
    size_t ReadSome(uint8_t* buffer, size_t size);
    // Reads until size bytes or the end of the input.
    size_t ReadFull(uint8_t* buffer, size_t size);

    bool Failed() const { return !m_error.empty(); }
    const std::string& ErrorText() const { return m_error; }
    // The file name for messages ("standard input" for "-").
    const std::string& Name() const { return m_name; }
    uint64_t BytesRead() const { return m_bytesRead; }

private:
    int m_fd = -1;
    bool m_owned = false;
    std::string m_name;
    std::string m_error;
    uint64_t m_bytesRead = 0;
};

// Gathers the many small pieces a decryptor passes on (one per packet) into writes of
// kChunkBytes: one system call per packet costs more than the decryption itself.
class OutputStream final : public media::ByteSink {
public:
    static constexpr size_t kChunkBytes = size_t(1) << 20;

    OutputStream() = default;
    ~OutputStream() override;
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // path "-": standard output (binary mode on Windows). A file is created or truncated.
    bool Open(const std::string& path, std::string* error);
    bool Write(const uint8_t* data, size_t size) override;
    // Hands what is gathered to the system now: a reader at the other end of a pipe sees the
    // stream as the input arrives, not a chunk later.
    bool Flush();
    // Flushes and closes; false with *error naming the output when any write failed.
    bool Close(std::string* error);
    uint64_t BytesWritten() const { return m_bytesWritten; }

private:
    bool WriteOut(const uint8_t* data, size_t size);

    int m_fd = -1;
    bool m_owned = false;
    std::string m_name;
    media::AlignedBuffer m_buffer;
    size_t m_pending = 0;
    uint64_t m_bytesWritten = 0;
    int m_errno = 0;  // of the first failed write
};

}  // namespace korvane::cli
