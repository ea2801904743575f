// The helper thread of a KeystreamSet that makes keystreams ahead: blocks are queued and
// made one after another, each into its PreparedKeystream, in pieces the caller can use as
// they come. Internal to media/.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "PreparedKeystream.h"
#include "media/TivoKeys.h"

namespace korvane::media {

class KeystreamHelper {
public:
    explicit KeystreamHelper(const uint8_t* baseKey);
    ~KeystreamHelper();  // stops what is being made and joins the thread
    KeystreamHelper(const KeystreamHelper&) = delete;
    KeystreamHelper& operator=(const KeystreamHelper&) = delete;

    // Queues the first `bytes` keystream bytes of (stream id, block).
    std::shared_ptr<PreparedKeystream> Prepare(uint8_t streamId, uint32_t block, size_t bytes);

private:
    void Run();  // the helper thread: makes the queued blocks in turn

    uint8_t m_baseKey[kTivoKeySize];
    const std::shared_ptr<KeystreamBuffers> m_buffers = std::make_shared<KeystreamBuffers>();
    std::mutex m_mutex;  // guards m_queue and m_stopping
    std::condition_variable m_wake;
    std::deque<std::shared_ptr<PreparedKeystream>> m_queue;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace korvane::media
