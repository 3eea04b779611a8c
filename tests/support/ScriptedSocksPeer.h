#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vandrel::test {

// A SOCKS proxy stand-in on 127.0.0.1 (port chosen by the system) that plays
// a fixed script on its own thread, for replies no real proxy gives on
// demand: it accepts one client, and for each step waits until the client
// has sent the step's number of bytes, records them, and answers with the
// step's reply (in one send, or one byte per send with a pause between).
// After the script it echoes, closes, or holds the connection.
class ScriptedSocksPeer {
public:
    using Bytes = std::vector<std::uint8_t>;
    struct Step {
        std::size_t expect = 0;  // request bytes to wait for (0: answer at once)
        Bytes reply;
        bool byteByByte = false;
    };
    enum class Then { Echo, Close, Hold };

    explicit ScriptedSocksPeer(std::vector<Step> script, Then then = Then::Echo);
    ~ScriptedSocksPeer();
    ScriptedSocksPeer(const ScriptedSocksPeer&) = delete;
    ScriptedSocksPeer& operator=(const ScriptedSocksPeer&) = delete;

    std::uint16_t port() const { return m_port; }
    std::string portText() const { return std::to_string(m_port); }
    // What the client sent for each step so far.
    std::vector<Bytes> requests() const;
    // Steps fully played.
    int stepsDone() const { return m_stepsDone.load(); }
    bool accepted() const { return m_accepted.load(); }
    // Set once the client has closed (or the script gave up on it).
    bool clientGone() const { return m_clientGone.load(); }

private:
    void run();
    bool play(int fd, const Step& step);
    bool readExactly(int fd, std::size_t n, Bytes& out);
    void echo(int fd);

    std::vector<Step> m_script;
    Then m_then;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_accepted{false};
    std::atomic<bool> m_clientGone{false};
    std::atomic<int> m_stepsDone{0};
    mutable std::mutex m_mutex;
    std::vector<Bytes> m_requests;
    std::thread m_thread;
};

}  // namespace vandrel::test
