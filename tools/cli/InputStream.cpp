#include "cli/InputStream.h"

#include <cerrno>

#include "cli/FileDescriptors.h"

namespace korvane::cli {

InputStream::~InputStream() {
    if (m_owned) fd::Close(m_descriptor);
}

bool InputStream::Open(const std::string& path, std::string* error) {
    if (path == "-") {
        m_descriptor = fd::kStandardInput;
        m_name = "standard input";
        fd::UseBinaryMode(m_descriptor);
        fd::EnlargePipe(m_descriptor);
        return true;
    }
    m_name = "\"" + path + "\"";
    errno = 0;
    m_descriptor = fd::OpenForReading(path);
    if (m_descriptor < 0) {
        *error = "Cannot open " + m_name + fd::Reason(errno) + ".";
        return false;
    }
    m_owned = true;
    fd::EnlargePipe(m_descriptor);  // a named pipe
    return true;
}

size_t InputStream::ReadSome(uint8_t* buffer, size_t size) {
    if (Failed() || size == 0) return 0;
    for (;;) {
        const long long n = fd::Read(m_descriptor, buffer, size);
        if (n >= 0) {
            m_bytesRead += static_cast<uint64_t>(n);
            return static_cast<size_t>(n);
        }
        if (errno == EINTR) continue;
        m_error = "Cannot read " + m_name + fd::Reason(errno) + ".";
        return 0;
    }
}

size_t InputStream::ReadFull(uint8_t* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const size_t n = ReadSome(buffer + done, size - done);
        if (n == 0) break;
        done += n;
    }
    return done;
}

}  // namespace korvane::cli
