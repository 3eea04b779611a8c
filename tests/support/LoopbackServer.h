#pragma once

// A plain blocking peer on 127.0.0.1 that serves one connection in a thread of its own, and
// the blocking helpers its sessions use.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace vandrel::test {

// Listens on 127.0.0.1 with an ephemeral port; serve() accepts one connection (waiting at
// most 10 s) and runs the session on it in a thread.
class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const { return m_port; }
    std::string portText() const { return std::to_string(m_port); }
    void serve(std::function<void(int fd)> session);
    // Serves a session that reads and discards everything until the client ends.
    void serveSink();
    void join();
    // Set once the session has returned.
    bool done() const { return m_done.load(); }

private:
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
};

// Blocking helpers for sessions; all give up after the socket's timeouts.
void setTimeouts(int fd, int seconds);
bool writeAll(int fd, const void* data, std::size_t len);
// Reads until end of stream; returns the byte count and folds them into sum.
std::uint64_t readToEnd(int fd, std::uint64_t& sum);
// Makes the coming close a reset instead of a graceful end.
void resetClose(int fd);

// Order-sensitive checksum of a byte stream, fed in pieces.
std::uint64_t fold(std::uint64_t sum, const void* data, std::size_t len);
// The test pattern byte at stream position i.
inline std::uint8_t patternByte(std::uint64_t i) {
    return static_cast<std::uint8_t>((i * 2654435761u) >> 13);
}

}  // namespace vandrel::test
