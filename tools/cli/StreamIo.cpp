#include "cli/StreamIo.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace korvane::cli {
namespace {

#ifdef _WIN32
// The C runtime's descriptors translate line ends unless told otherwise.
void UseBinaryMode(int fd) {
    _setmode(fd, _O_BINARY);
}
int OpenForReading(const std::string& path) {
    return _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_SEQUENTIAL);
}
int OpenForWriting(const std::string& path) {
    return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}
long long ReadCall(int fd, uint8_t* buffer, size_t size) {
    return _read(fd, buffer, static_cast<unsigned>(size < (1u << 30) ? size : (1u << 30)));
}
long long WriteCall(int fd, const uint8_t* data, size_t size) {
    return _write(fd, data, static_cast<unsigned>(size < (1u << 30) ? size : (1u << 30)));
}
int CloseCall(int fd) {
    return _close(fd);
}
constexpr int kStandardInput = 0;
constexpr int kStandardOutput = 1;
#else
void UseBinaryMode(int) {}
int OpenForReading(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY);
}
int OpenForWriting(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
}
long long ReadCall(int fd, uint8_t* buffer, size_t size) {
    return ::read(fd, buffer, size);
}
long long WriteCall(int fd, const uint8_t* data, size_t size) {
    return ::write(fd, data, size);
}
int CloseCall(int fd) {
    return ::close(fd);
}
constexpr int kStandardInput = STDIN_FILENO;
constexpr int kStandardOutput = STDOUT_FILENO;
#endif

std::string Reason(int error) {
    return error ? std::string(": ") + std::strerror(error) : std::string();
}

}  // namespace

InputStream::~InputStream() {
    if (m_owned) CloseCall(m_fd);
}

bool InputStream::Open(const std::string& path, std::string* error) {
    if (path == "-") {
        m_fd = kStandardInput;
        m_name = "standard input";
        UseBinaryMode(m_fd);
        return true;
    }
    m_name = "\"" + path + "\"";
    errno = 0;
    m_fd = OpenForReading(path);
    if (m_fd < 0) {
        *error = "Cannot open " + m_name + Reason(errno) + ".";
        return false;
    }
    m_owned = true;
    return true;
}

size_t InputStream::ReadSome(uint8_t* buffer, size_t size) {
    if (Failed() || size == 0) return 0;
    for (;;) {
        long long n = ReadCall(m_fd, buffer, size);
        if (n >= 0) {
            m_bytesRead += static_cast<uint64_t>(n);
            return static_cast<size_t>(n);
        }
        if (errno == EINTR) continue;
        m_error = "Cannot read " + m_name + Reason(errno) + ".";
        return 0;
    }
}

size_t InputStream::ReadFull(uint8_t* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        size_t n = ReadSome(buffer + done, size - done);
        if (n == 0) break;
        done += n;
    }
    return done;
}

OutputStream::~OutputStream() {
    Close(nullptr);
}

bool OutputStream::Open(const std::string& path, std::string* error) {
    if (path == "-") {
        m_fd = kStandardOutput;
        m_name = "standard output";
        UseBinaryMode(m_fd);
    } else {
        m_name = "\"" + path + "\"";
        errno = 0;
        m_fd = OpenForWriting(path);
        if (m_fd < 0) {
            *error = "Cannot create " + m_name + Reason(errno) + ".";
            return false;
        }
        m_owned = true;
    }
    m_buffer.Resize(kChunkBytes);
    return true;
}

bool OutputStream::WriteOut(const uint8_t* data, size_t size) {
    while (size > 0 && m_errno == 0) {
        long long n = WriteCall(m_fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            m_errno = n < 0 && errno ? errno : EIO;
            break;
        }
        data += n;
        size -= static_cast<size_t>(n);
        m_bytesWritten += static_cast<uint64_t>(n);
    }
    return m_errno == 0;
}

bool OutputStream::Write(const uint8_t* data, size_t size) {
    if (m_fd < 0 || m_errno != 0) return false;
    if (m_pending + size > m_buffer.Size() && !Flush()) return false;
    if (size >= m_buffer.Size()) return WriteOut(data, size);
    std::memcpy(m_buffer.Data() + m_pending, data, size);
    m_pending += size;
    return true;
}

bool OutputStream::Flush() {
    const size_t pending = m_pending;
    m_pending = 0;
    return WriteOut(m_buffer.Data(), pending);
}

bool OutputStream::Close(std::string* error) {
    if (m_fd < 0) return true;
    bool ok = Flush();
    if (m_owned && CloseCall(m_fd) != 0 && ok) {
        m_errno = errno ? errno : EIO;
        ok = false;
    }
    m_fd = -1;
    m_owned = false;
    if (!ok && error) *error = "Cannot write " + m_name + Reason(m_errno) + ".";
    return ok;
}

}  // namespace korvane::cli
