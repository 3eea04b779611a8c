#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vandrel::test {

// A telnet server stand-in on 127.0.0.1 (port chosen by the system) that runs on its own
// thread with plain blocking-free POSIX calls: it accepts one client at a time, sends what the
// test queues, and records every byte the client sends. Used to check what the client puts
// on the wire without trusting any code of the client.
class ScriptedPeer {
public:
    using Bytes = std::vector<std::uint8_t>;

    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    std::uint16_t port() const { return m_port; }
    std::string portText() const { return std::to_string(m_port); }

    // Bytes sent as soon as a client is connected (at once when one already is); each call
    // is written with its own send, so calls separated by a pause usually arrive as
    // separate reads.
    void send(const Bytes& bytes);
    void send(const std::string& text) { send(Bytes(text.begin(), text.end())); }
    // Closes the current client's connection after everything queued has been sent.
    void closeClient();
    // Aborts the current client's connection with a reset (nothing queued is sent).
    void resetClient();

    Bytes received() const;
    void clearReceived();
    int acceptedCount() const { return m_accepted.load(); }
    bool clientClosedByPeer() const { return m_clientGone.load(); }

private:
    void run();
    void flushOutgoing();
    void dropClient();

    int m_listenFd = -1;
    int m_clientFd = -1;
    int m_wake[2] = {-1, -1};
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::atomic<bool> m_clientGone{false};

    mutable std::mutex m_mutex;
    std::deque<Bytes> m_outgoing;
    bool m_closeRequested = false;
    bool m_resetRequested = false;
    Bytes m_received;
    std::thread m_thread;
};

}  // namespace vandrel::test
