#pragma once

// Plain blocking peers on 127.0.0.1 for the socket tests, each running in a
// thread of its own, and helpers to pump the Qt event loop with a deadline.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace nettest {

// Listens on 127.0.0.1 with an ephemeral port; Serve() accepts one connection
// (waiting at most 10 s) and runs the session on it in a thread.
class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t Port() const { return m_port; }
    std::string PortText() const { return std::to_string(m_port); }
    void Serve(std::function<void(int fd)> session);
    // Serves a session that reads and discards everything until the client ends.
    void ServeSink();
    void Join();
    // Set once the session has returned.
    bool Done() const { return m_done.load(); }

private:
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
};

// A port on 127.0.0.1 that nobody listens on (bound, then released).
std::uint16_t UnusedPort();

// Blocking helpers for sessions; all give up after the socket's timeouts.
void SetTimeouts(int fd, int seconds);
bool WriteAll(int fd, const void* data, std::size_t len);
// Reads until end of stream; returns the byte count and folds them into sum.
std::uint64_t ReadToEnd(int fd, std::uint64_t& sum);
// Closes with a reset instead of a graceful end.
void ResetClose(int fd);

// Order-sensitive checksum of a byte stream, fed in pieces.
std::uint64_t Fold(std::uint64_t sum, const void* data, std::size_t len);
// The test pattern byte at stream position i.
inline std::uint8_t PatternByte(std::uint64_t i) {
    return static_cast<std::uint8_t>((i * 2654435761u) >> 13);
}

// Processes Qt events until done() holds or timeoutMs passes; returns done().
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);
// Processes Qt events for about ms milliseconds.
void PumpFor(int ms);

}  // namespace nettest
