#include "cli/OutputStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/FileDescriptors.h"

namespace korvane::cli {

OutputStream::~OutputStream() {
    Close(nullptr);
}

bool OutputStream::Open(const std::string& path, std::string* error) {
    if (path == "-") {
        m_descriptor = fd::kStandardOutput;
        m_name = "standard output";
        fd::UseBinaryMode(m_descriptor);
    } else {
        m_name = "\"" + path + "\"";
        errno = 0;
        m_descriptor = fd::OpenForWriting(path);
        if (m_descriptor < 0) {
            *error = "Cannot create " + m_name + fd::Reason(errno) + ".";
            return false;
        }
        m_owned = true;
    }
    fd::EnlargePipe(m_descriptor);
    for (Chunk& chunk : m_chunks)
        chunk.bytes.Resize(kChunkBytes);
    m_writer = std::thread(&OutputStream::WriteChunks, this);
    return true;
}

void OutputStream::WriteChunks() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_queued > 0 || m_closing; });
        if (m_queued == 0) return;
        Chunk& chunk = m_chunks[m_writing];
        const bool failed = m_failure != 0;
        lock.unlock();
        int failure = 0;
        for (size_t done = 0; !failed && done < chunk.size;) {
            const long long n = fd::Write(m_descriptor, chunk.bytes.Data() + done, chunk.size - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                failure = n < 0 && errno ? errno : EIO;
                break;
            }
            done += static_cast<size_t>(n);
        }
        lock.lock();
        if (failure && !m_failure) m_failure = failure;
        chunk.size = 0;
        m_writing = (m_writing + 1) % kChunks;
        --m_queued;
        m_changed.notify_all();
    }
}

bool OutputStream::Write(const uint8_t* data, size_t size) {
    if (m_descriptor < 0) return false;
    while (size > 0) {
        Chunk& chunk = m_chunks[m_filling];
        const size_t n = std::min(size, kChunkBytes - chunk.size);
        std::memcpy(chunk.bytes.Data() + chunk.size, data, n);
        chunk.size += n;
        data += n;
        size -= n;
        if (chunk.size == kChunkBytes && !Flush()) return false;
    }
    return m_failure == 0;  // no lock: a decryptor writes once per packet
}

bool OutputStream::Flush() {
    if (m_descriptor < 0) return false;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_chunks[m_filling].size > 0) {
        ++m_queued;
        m_changed.notify_all();
        m_filling = (m_filling + 1) % kChunks;
        // The next chunk to fill must have been written: at most every other one is queued.
        m_changed.wait(lock, [this] { return m_queued < kChunks; });
    }
    return m_failure == 0;
}

bool OutputStream::Close(std::string* error) {
    if (m_descriptor < 0) return true;
    Flush();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
        m_changed.notify_all();
    }
    m_writer.join();
    int failure = m_failure;
    errno = 0;
    if (m_owned && fd::Close(m_descriptor) != 0 && !failure) failure = errno ? errno : EIO;
    m_descriptor = -1;
    m_owned = false;
    if (failure && error) *error = "Cannot write " + m_name + fd::Reason(failure) + ".";
    return failure == 0;
}

}  // namespace korvane::cli
