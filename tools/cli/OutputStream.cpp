#include "cli/OutputStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "cli/FileDescriptors.h"

namespace korvane::cli {

namespace {

// Whether lent bytes are written from where they stand (a gathering write) or copied.
#ifdef _WIN32
constexpr bool kWritesFromLentBytes = false;
#else
constexpr bool kWritesFromLentBytes = true;
#endif

// A batch's spans, about two for each DVD-sized pack: allocated once.
constexpr size_t kSpansReserved = 4096;

}  // namespace

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
    for (Batch& batch : m_batches) {
        batch.copy.Resize(kChunkBytes);
        batch.spans.reserve(kSpansReserved);
    }
    m_gathered.reserve(kSpansReserved);
    m_writer = std::thread(&OutputStream::WriteBatches, this);
    return true;
}

void OutputStream::WriteBatches() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_queued > 0 || m_closing; });
        if (m_queued == 0) return;
        Batch& batch = m_batches[m_writing];
        const bool failed = m_failure != 0;
        lock.unlock();
        const int failure = failed ? 0 : WriteBatch(batch);
        // Given back after a failure too: the lender must not wait for a write never made.
        if (batch.lender) batch.lender->Return(batch.token);
        batch.spans.clear();
        batch.copied = 0;
        batch.bytes = 0;
        batch.lender = nullptr;
        lock.lock();
        if (failure && !m_failure) m_failure = failure;
        m_writing = (m_writing + 1) % kBatches;
        --m_queued;
        m_changed.notify_all();
    }
}

int OutputStream::WriteBatch(const Batch& batch) {
    std::vector<fd::Bytes>& pieces = m_gathered;
    pieces.clear();
    for (const Span& span : batch.spans) {
        const uint8_t* at = span.lent ? span.lent : batch.copy.Data() + span.offset;
        if (!pieces.empty() && static_cast<const uint8_t*>(pieces.back().data) + pieces.back().size == at)
            pieces.back().size += span.size;
        else
            pieces.push_back({at, span.size});
    }
    for (size_t next = 0; next < pieces.size();) {
        const long long n = fd::WriteGathered(m_descriptor, pieces.data() + next, pieces.size() - next);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 && errno ? errno : EIO;
        // Past what went out; a piece cut short goes on from where it stopped.
        for (size_t done = static_cast<size_t>(n); done > 0;) {
            const size_t step = std::min(done, pieces[next].size);
            pieces[next].data = static_cast<const uint8_t*>(pieces[next].data) + step;
            pieces[next].size -= step;
            done -= step;
            if (pieces[next].size == 0) ++next;
        }
    }
    return 0;
}

bool OutputStream::Write(const uint8_t* data, size_t size) {
    if (m_descriptor < 0) return false;
    const std::less_equal<const uint8_t*> notAfter;  // a total order even across objects
    if (kWritesFromLentBytes && size > 0 && notAfter(m_lentBegin, data) && notAfter(data + size, m_lentEnd)) {
        Batch& batch = m_batches[m_filling];
        if (!batch.spans.empty() && batch.spans.back().lent &&
            batch.spans.back().lent + batch.spans.back().size == data)
            batch.spans.back().size += size;
        else
            batch.spans.push_back({data, 0, size});
        batch.bytes += size;
        return m_failure == 0;  // no lock: a decryptor writes once per packet
    }
    while (size > 0) {
        Batch& batch = m_batches[m_filling];
        const size_t n = std::min(size, kChunkBytes - batch.copied);
        const size_t offset = batch.copied;
        std::memcpy(batch.copy.Data() + offset, data, n);
        batch.copied += n;
        if (!batch.spans.empty() && !batch.spans.back().lent &&
            batch.spans.back().offset + batch.spans.back().size == offset)
            batch.spans.back().size += n;
        else
            batch.spans.push_back({nullptr, offset, n});
        batch.bytes += n;
        data += n;
        size -= n;
        // Full: sent, also in the middle of a lent piece (the lender gets the piece back with
        // the batch EndLend sends, which is written after this one).
        if (batch.copied == kChunkBytes && !Send()) return false;
    }
    return m_failure == 0;
}

void OutputStream::Lend(const uint8_t* data, size_t size, Lender* lender, size_t token) {
    m_lentBegin = data;
    m_lentEnd = data + size;
    m_lender = lender;
    m_token = token;
}

bool OutputStream::EndLend() {
    Batch& batch = m_batches[m_filling];
    batch.lender = m_lender;
    batch.token = m_token;
    m_lentBegin = m_lentEnd = nullptr;
    m_lender = nullptr;
    // Sent even when empty: the writer gives the piece back in its turn.
    return Send();
}

bool OutputStream::Send() {
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_queued;
    m_changed.notify_all();
    m_filling = (m_filling + 1) % kBatches;
    // The next batch to fill must have been written: at most every other one is queued.
    m_changed.wait(lock, [this] { return m_queued < kBatches; });
    return m_failure == 0;
}

bool OutputStream::Flush() {
    if (m_descriptor < 0) return false;
    if (m_batches[m_filling].bytes > 0) return Send();
    return m_failure == 0;
}

void OutputStream::Drain() {
    if (m_descriptor < 0) return;
    Flush();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queued == 0; });
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
