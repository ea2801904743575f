// The input of the front-end commands: a named file, or standard input ("-"), read strictly
// in order. Nothing seeks, so a pipe, a download that is still growing and a file behave
// alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane::cli {

// A read hands on what a pipe holds now instead of waiting to fill the caller's buffer:
// pyTivo writes its download in 512 KiB pieces, and a front end streaming to a player must
// not wait for the end.
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
    // The file name in quotes for messages, or "standard input".
    const std::string& Name() const { return m_name; }
    uint64_t BytesRead() const { return m_bytesRead; }

private:
    int m_descriptor = -1;
    bool m_owned = false;
    std::string m_name;
    std::string m_error;
    uint64_t m_bytesRead = 0;
};

}  // namespace korvane::cli
