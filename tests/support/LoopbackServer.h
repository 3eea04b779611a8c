#pragma once

// The one loopback server of the tests and benchmarks: it listens on 127.0.0.1 at a port the
// system picks and runs a session function on each connection it accepts, plain blocking
// POSIX, on threads of its own. The peers with a behaviour of their own (echo, scripted,
// inetd-style) are sessions on it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace vandrel::test {

class LoopbackServer {
public:
    using Session = std::function<void(int fd)>;
    enum class Connections {
        One,  // the first connection only (waiting at most 10 s), served on the accept thread
        EachInTurn,  // every connection, the next accepted once the last session has returned
        EachAtOnce,  // every connection, each served on a thread of its own
    };

    LoopbackServer();
    // Ends every running session (its connection is shut down) and joins the threads.
    virtual ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const { return m_port; }
    std::string portText() const { return std::to_string(m_port); }
    // Starts accepting. The server closes each connection once its session returns.
    void serve(Session session, Connections which = Connections::One);
    // Serves a session that reads and discards everything until the client ends.
    void serveSink();
    // Waits until accepting has ended (with Connections::One: the session has returned).
    void join();
    bool done() const { return m_done.load(); }
    int acceptedCount() const { return m_accepted.load(); }

protected:
    // What the destructor does; a subclass whose sessions use its members calls it first.
    void stop();
    bool stopping() const { return m_stop.load(); }

private:
    void accept(const Session& session, Connections which);
    void run(const Session& session, int fd);

    struct Running {
        std::thread thread;
        std::atomic<bool> ended{false};
    };

    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<int> m_accepted{0};
    std::thread m_acceptor;
    std::list<Running> m_running;  // EachAtOnce sessions, touched by the accept thread only
    std::mutex m_mutex;
    std::set<int> m_open;  // connections of running sessions
};

// Echoes every byte back to its client, any number of connections at once; reads and writes
// at the same time, so a relaying proxy in between never waits on it.
class EchoServer : public LoopbackServer {
public:
    EchoServer();
};

// Echoes what arrives on fd until the client ends.
void echoBack(int fd);

// Blocking helpers for sessions; all give up after the socket's timeouts.
void setTimeouts(int fd, int seconds);
bool writeAll(int fd, const void* data, std::size_t len);
// Reads until end of stream; returns the byte count and folds them into sum.
std::uint64_t readToEnd(int fd, std::uint64_t& sum);
// Reads n bytes, or what arrives before the end of stream or the timeout.
std::string readBytes(int fd, std::size_t n);
// Makes the coming close a reset instead of a graceful end.
void resetClose(int fd);

// Order-sensitive checksum of a byte stream, fed in pieces.
std::uint64_t fold(std::uint64_t sum, const void* data, std::size_t len);
// The test pattern byte at stream position i, and the first n of them.
inline std::uint8_t patternByte(std::uint64_t i) {
    return static_cast<std::uint8_t>((i * 2654435761u) >> 13);
}
std::string patternText(std::size_t n);

}  // namespace vandrel::test
