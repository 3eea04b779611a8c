#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace vandrel::test {

// A TCP echo server on 127.0.0.1 at a port the system picks, serving any
// number of connections on its own thread: every byte a client sends comes
// back to it. The target behind a SOCKS proxy in the proxy tests.
class EchoServer {
public:
    EchoServer();
    ~EchoServer();
    EchoServer(const EchoServer&) = delete;
    EchoServer& operator=(const EchoServer&) = delete;

    std::uint16_t port() const { return m_port; }
    std::string portText() const { return std::to_string(m_port); }
    int acceptedCount() const { return m_accepted.load(); }
    // Connections accepted and not yet closed.
    int openCount() const { return m_open.load(); }

private:
    void run();

    int m_listenFd = -1;
    int m_wake[2] = {-1, -1};
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::atomic<int> m_open{0};
    std::thread m_thread;
};

}  // namespace vandrel::test
