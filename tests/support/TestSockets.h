#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vandrel::test {

using std::chrono::milliseconds;

struct Datagram {
    std::string from;  // dotted sender address
    std::uint16_t port = 0;
    std::string bytes;
};

// A plain blocking-with-timeout UDP socket for test clients (no project code involved).
class UdpProbe {
public:
    // Binds address:port (port 0: any free one); broadcast is allowed on the socket.
    explicit UdpProbe(const std::string& address = "127.0.0.1", std::uint16_t port = 0);
    ~UdpProbe();
    UdpProbe(const UdpProbe&) = delete;
    UdpProbe& operator=(const UdpProbe&) = delete;

    bool ok() const { return m_fd >= 0; }
    std::uint16_t port() const { return m_port; }
    bool sendTo(const std::string& address, std::uint16_t port, const std::string& bytes);
    // Everything that arrives within `total`, ending early once `quiet` has passed
    // without a datagram after the first one (a slow first answer is still waited for).
    std::vector<Datagram> receiveAll(milliseconds quiet, milliseconds total);

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

// A raw TCP client: what it reads is exactly what the peer sent, telnet commands included.
class TcpClient {
public:
    TcpClient() = default;
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    // Connect result: 0 or the errno (ECONNREFUSED, ETIMEDOUT...).
    int connectTo(const std::string& address, std::uint16_t port, milliseconds timeout);
    bool send(const std::string& bytes);
    // Reads until `needle` shows up in everything received so far (true) or the time is up.
    bool readUntil(const std::string& needle, milliseconds timeout);
    // Reads until the peer closes (true) or the time is up.
    bool readUntilClosed(milliseconds timeout);
    // Reads whatever arrives within the time.
    void readFor(milliseconds time);
    void close();

    const std::string& received() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    bool peerClosed() const { return m_peerClosed; }
    // How the peer closed: 0 for an orderly end, else the errno (ECONNRESET for a reset).
    int closeError() const { return m_closeError; }

private:
    bool readSome(milliseconds timeout);

    int m_fd = -1;
    std::string m_received;
    bool m_peerClosed = false;
    int m_closeError = 0;
};

}  // namespace vandrel::test
