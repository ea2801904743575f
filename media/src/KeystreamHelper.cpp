#include "KeystreamHelper.h"

#include <algorithm>
#include <cstring>

namespace korvane::media {
namespace {

// Made and published in pieces this size: the caller can start on a block the helper is
// still making, and a cancelled block stops soon.
constexpr size_t kPieceBytes = 16 << 10;

}  // namespace

KeystreamHelper::KeystreamHelper(const uint8_t* baseKey) {
    std::memcpy(m_baseKey, baseKey, sizeof m_baseKey);
    m_thread = std::thread(&KeystreamHelper::Run, this);
}

KeystreamHelper::~KeystreamHelper() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        for (const std::shared_ptr<PreparedKeystream>& prepared : m_queue)
            prepared->Cancel();
        m_wake.notify_all();
    }
    m_thread.join();
}

std::shared_ptr<PreparedKeystream> KeystreamHelper::Prepare(uint8_t streamId, uint32_t block, size_t bytes) {
    auto prepared = std::make_shared<PreparedKeystream>(streamId, block, bytes, m_buffers);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(prepared);
    m_wake.notify_all();
    return prepared;
}

void KeystreamHelper::Run() {
    for (;;) {
        std::shared_ptr<PreparedKeystream> prepared;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty()) return;
            prepared = std::move(m_queue.front());
            m_queue.pop_front();
        }
        TuringKeystream keystream;
        const bool ok = !prepared->Cancelled() &&
                        InitKeystream(keystream, m_baseKey, prepared->streamId, prepared->block);
        prepared->Started(ok);
        size_t made = 0;
        while (ok && made < prepared->capacity && !prepared->Cancelled()) {
            const size_t n = std::min(kPieceBytes, prepared->capacity - made);
            keystream.Generate(prepared->Data() + made, n);
            made += n;
            prepared->MadeUpTo(made);
        }
        prepared->Finished(keystream);
    }
}

}  // namespace korvane::media
