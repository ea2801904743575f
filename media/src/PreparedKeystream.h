// A block's keystream made ahead by KeystreamSet's helper thread while the caller decrypts
// with another block's: the bytes made so far, then the cipher state after them. Internal to
// media/.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "media/Io.h"
#include "media/Turing.h"

namespace korvane::media {

// The buffers blocks are made into, used again and again: fresh memory costs a page fault
// for every 4 KiB written, which made the helper slower than making the block twice.
class KeystreamBuffers {
public:
    static constexpr size_t kBufferBytes = 2 << 20;  // the most a block is made ahead

    std::unique_ptr<AlignedBuffer> Take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_free.empty()) return std::unique_ptr<AlignedBuffer>(new AlignedBuffer(kBufferBytes));
        std::unique_ptr<AlignedBuffer> buffer = std::move(m_free.back());
        m_free.pop_back();
        return buffer;
    }
    void Give(std::unique_ptr<AlignedBuffer> buffer) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_free.push_back(std::move(buffer));
    }

private:
    std::mutex m_mutex;  // the helper takes, whichever thread drops a block gives back
    std::vector<std::unique_ptr<AlignedBuffer>> m_free;
};

struct PreparedKeystream {
    // Up to KeystreamBuffers::kBufferBytes of (stream id, block) are to be made.
    PreparedKeystream(uint8_t streamId, uint32_t block, size_t bytes,
                      std::shared_ptr<KeystreamBuffers> buffers)
        : streamId(streamId),
          block(block),
          capacity(bytes < KeystreamBuffers::kBufferBytes ? bytes : KeystreamBuffers::kBufferBytes),
          m_buffers(std::move(buffers)),
          m_buffer(m_buffers->Take()) {}
    ~PreparedKeystream() { m_buffers->Give(std::move(m_buffer)); }
    PreparedKeystream(const PreparedKeystream&) = delete;
    PreparedKeystream& operator=(const PreparedKeystream&) = delete;

    const uint8_t streamId;
    const uint32_t block;
    const size_t capacity;                        // how many bytes the helper makes at most
    uint8_t* Data() { return m_buffer->Data(); }  // [0, Made()) are the keystream's first bytes

    // Caller's side. Bytes made so far, without waiting.
    size_t Made() const { return m_made.load(std::memory_order_acquire); }
    // Waits until more than `used` bytes are made, or the helper has stopped; returns Made().
    size_t WaitBeyond(size_t used) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return Made() > used || m_finished; });
        return Made();
    }
    // Waits until the helper has set the cipher up; false when the hash library failed.
    bool WaitStarted() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_started; });
        return m_ok;
    }
    // No longer wanted: the helper stops at its next piece.
    void Cancel() { m_cancelled.store(true, std::memory_order_relaxed); }

    // Helper's side.
    bool Cancelled() const { return m_cancelled.load(std::memory_order_relaxed); }
    void Started(bool ok) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_started = true;
        m_ok = ok;
        m_changed.notify_all();
    }
    void MadeUpTo(size_t made) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_made.store(made, std::memory_order_release);
        m_changed.notify_all();
    }
    // `state` is the cipher after the last byte made; the caller goes on from it.
    void Finished(const TuringKeystream& state) {
        std::lock_guard<std::mutex> lock(m_mutex);
        after = state;
        m_finished = true;
        m_changed.notify_all();
    }

    TuringKeystream after;  // written once, before m_finished is set; read after it

private:
    std::shared_ptr<KeystreamBuffers> m_buffers;
    std::unique_ptr<AlignedBuffer> m_buffer;
    std::atomic<size_t> m_made{0};
    std::atomic<bool> m_cancelled{false};
    std::mutex m_mutex;  // guards the flags below and orders `after` before m_finished
    std::condition_variable m_changed;
    bool m_started = false;
    bool m_ok = false;
    bool m_finished = false;
};

}  // namespace korvane::media
