#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "support/LoopbackServer.h"

namespace vandrel::test {

// A server stand-in (a telnet server, a SOCKS proxy) on the loopback server, serving one
// client at a time, for checking what a client puts on the wire without trusting any of its
// code. Each client first gets the script: for each step the peer waits until the client has
// sent the step's number of bytes, records them, and answers with the step's reply (in one
// send, or one byte per send with a pause between). Then the peer holds the connection
// (sending what the test queues and recording what the client sends), echoes, or closes.
class ScriptedPeer : public LoopbackServer {
public:
    using Bytes = std::vector<std::uint8_t>;
    struct Step {
        std::size_t expect = 0;  // request bytes to wait for (0: answer at once)
        Bytes reply;
        bool byteByByte = false;
    };
    enum class Then { Hold, Echo, Close };

    explicit ScriptedPeer(std::vector<Step> script = {}, Then then = Then::Hold);
    ~ScriptedPeer() override;

    // Bytes sent as soon as a client is held (at once when one is); each call is written with
    // its own send, so calls separated by a pause usually arrive as separate reads.
    void send(const Bytes& bytes);
    void send(const std::string& text) { send(Bytes(text.begin(), text.end())); }
    // Closes the held client's connection after everything queued has been sent.
    void closeClient();
    // Aborts the held client's connection with a reset (nothing queued is sent).
    void resetClient();

    Bytes received() const;
    void clearReceived();
    // When the byte at offset index of received() came in (each read stamps its bytes).
    std::chrono::steady_clock::time_point receivedAt(std::size_t index) const;
    // What the client sent for each step so far, and the steps fully played.
    std::vector<Bytes> requests() const;
    int stepsDone() const { return m_stepsDone.load(); }
    bool clientClosedByPeer() const { return m_clientGone.load(); }

private:
    void session(int fd);
    bool play(int fd, const Step& step);
    void hold(int fd);
    bool flush(int fd);

    const std::vector<Step> m_script;
    const Then m_then;
    std::atomic<int> m_stepsDone{0};
    std::atomic<bool> m_clientGone{false};
    mutable std::mutex m_mutex;
    std::deque<Bytes> m_outgoing;
    bool m_closeRequested = false;
    bool m_resetRequested = false;
    Bytes m_received;
    // For each read held: the offset of its first byte in m_received and its time.
    std::vector<std::pair<std::size_t, std::chrono::steady_clock::time_point>> m_reads;
    std::vector<Bytes> m_requests;
};

}  // namespace vandrel::test
