#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace vandrel::bench {

// A telnet peer for one client on ADDRESS:23 (a loopback address or one in the lab), on a
// thread of its own.
//   Flood: sends the stream as fast as the client takes it, then IAC DO TIMING-MARK; a client
//          answers that only after the bytes before it, so accept-to-answer is the time the
//          client took for the whole stream.
//   Echo:  says it echoes (WILL ECHO, WILL SUPPRESS-GO-AHEAD), then sends back every data
//          byte at once; the client's option traffic is dropped.
class TelnetPeer {
public:
    enum class Mode { Flood, Echo };
    TelnetPeer(const std::string& address, Mode mode, const std::vector<std::uint8_t>* stream);
    ~TelnetPeer();
    TelnetPeer(const TelnetPeer&) = delete;
    TelnetPeer& operator=(const TelnetPeer&) = delete;

    // Empty when listening, else why not.
    const std::string& Error() const { return m_error; }
    bool Accepted() const { return m_accepted; }
    // Flood: the client answered the timing mark; Seconds() is accept to answer.
    bool Answered() const { return m_answered; }
    double Seconds() const { return m_seconds; }
    std::uint64_t BytesSent() const { return m_sent; }

private:
    void Run();
    void Flood(int fd);
    void Echo(int fd);

    Mode m_mode;
    const std::vector<std::uint8_t>* m_stream;
    int m_listenFd = -1;
    std::string m_error;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_accepted{false};
    std::atomic<bool> m_answered{false};
    std::atomic<double> m_seconds{0};
    std::atomic<std::uint64_t> m_sent{0};
    std::chrono::steady_clock::time_point m_acceptTime;
    std::thread m_thread;
};

// 80-column lines (78 printable characters, CR LF) making up bytes bytes.
std::vector<std::uint8_t> makeTextLines(std::size_t bytes);

}  // namespace vandrel::bench
