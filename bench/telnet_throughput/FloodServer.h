#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace vandrel::bench {

// A one-shot telnet-like server on 127.0.0.1: accepts one client, sends a prepared stream
// as fast as the client takes it while discarding what the client sends, then closes.
class FloodServer {
public:
    explicit FloodServer(const std::vector<std::uint8_t>& stream);
    ~FloodServer();
    FloodServer(const FloodServer&) = delete;
    FloodServer& operator=(const FloodServer&) = delete;

    std::uint16_t port() const { return m_port; }
    // Waits (bounded) until the stream is sent and the connection closed.
    bool wait(std::chrono::seconds limit);
    std::uint64_t bytesSent() const { return m_sent.load(); }
    std::uint64_t bytesReceived() const { return m_received.load(); }

private:
    void run();

    const std::vector<std::uint8_t>& m_stream;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_sent{0};
    std::atomic<std::uint64_t> m_received{0};
    std::thread m_thread;
};

// The benchmark's stream: a few option requests, then text lines of 78 bytes plus CR LF
// with an IAC IAC pair after every 1000 bytes. dataBytes is what a client shows.
std::vector<std::uint8_t> makeFloodStream(std::size_t totalBytes, std::size_t& dataBytes);

}  // namespace vandrel::bench
