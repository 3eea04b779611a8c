#pragma once

// Plain blocking loopback peers running in a thread of their own.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace vandrel::bench {

// Listens on 127.0.0.1 (ephemeral port) and serves one connection in a thread.
class BlockingPeer {
public:
    enum class Role { Source, Sink, Hold };

    // Source writes `bytes` then closes; Sink reads `bytes` (or to the end);
    // Hold accepts and waits until release().
    BlockingPeer(Role role, std::size_t bytes);
    ~BlockingPeer();

    std::uint16_t port() const { return m_port; }
    void release();
    // Waits for the session; returns the bytes moved.
    std::size_t join();
    // Set once the session has ended (or never came).
    bool finished() const { return m_finished.load(); }

private:
    void run();

    Role m_role;
    std::size_t m_bytes;
    int m_listenFd = -1;
    int m_wakeFd[2] = {-1, -1};
    std::uint16_t m_port = 0;
    std::size_t m_moved = 0;
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

// The limit: a blocking read() loop against a blocking writer; MB/s.
double plainReadLoopMBps(std::size_t bytes);

}  // namespace vandrel::bench
